// orn-redact: replaces the values selected by XPath expressions in XML
// documents, and changes nothing else.
//
// The output is the input's own bytes with only the selected values replaced.
// Standard output carries nothing but the document, and standard error only
// the tool's own messages. The library announces loads and reports parse
// errors on std::cout, in words and positions of its own, before the tool says
// the same with the line and column; so std::cout drops everything for the
// whole run and the document is written through its original buffer. Nothing
// is written until every step has succeeded, unless --stream asks for the
// records as they are done.
// The run itself is cli/Run.h; how a document travels is in the README.
#include <csignal>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "Options.h"
#include "OutputFile.h"
#include "ParseMemory.h"
#include "Run.h"

namespace {

// A stream buffer that drops what it is given. It keeps no state, so the
// parses on the workers may all write to it at once.
class Discard : public std::streambuf {
protected:
    int_type overflow(int_type character) override { return traits_type::not_eof(character); }
    std::streamsize xsputn(const char* /*text*/, std::streamsize count) override { return count; }
};

// Points std::cout at a Discard for the run and restores its own buffer when
// the run ends, however it ends.
class StandardOutputGuard {
public:
    StandardOutputGuard() : original_(std::cout.rdbuf(&discard_)) {}
    ~StandardOutputGuard() { std::cout.rdbuf(original_); }
    StandardOutputGuard(const StandardOutputGuard&) = delete;
    StandardOutputGuard& operator=(const StandardOutputGuard&) = delete;

    std::streambuf* Original() const { return original_; }

private:
    Discard discard_;
    std::streambuf* original_;
};

}  // namespace

int main(int argc, char** argv) {
    using namespace qiv::redact;
    // Process-wide settings, made before any other thread starts.
    // A file-size limit then makes the write fail with a message instead of
    // killing the tool halfway; the temporary file is removed either way.
    std::signal(SIGXFSZ, SIG_IGN);
    RemoveTemporaryFilesOnSignals();
    ReadCreationMask();
    // Parse trees of whole documents go to arenas of their own (ParseInto);
    // everything else pugixml allocates still comes from malloc.
    RouteParseMemory();

    StandardOutputGuard standardOutput;
    try {
        return Run(std::vector<std::string>(argv + 1, argv + argc), standardOutput.Original(),
                   ORN_REDACT_VERSION);
    } catch (const std::exception& failure) {
        Message(std::string("failed: ") + failure.what() + "; nothing written");
    }
    return ExitFailure;
}
