// orn-redact: replaces the values selected by XPath expressions in XML
// documents, and changes nothing else.
//
// The output is the input's own bytes with only the selected values replaced.
// Standard output carries nothing but the document. The library announces
// loads and reports parse errors on std::cout, so std::cout is pointed at
// standard error for the whole run and the document is written through the
// original buffer. Nothing is written until every step has succeeded.
// The run itself is cli/Run.h; how a document travels is in the README.
#include <csignal>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "Options.h"
#include "OutputFile.h"
#include "Run.h"

namespace {

// Restores std::cout's own buffer when the run ends, however it ends.
class StandardOutputGuard {
public:
    StandardOutputGuard() : original_(std::cout.rdbuf(std::cerr.rdbuf())) {}
    ~StandardOutputGuard() { std::cout.rdbuf(original_); }
    StandardOutputGuard(const StandardOutputGuard&) = delete;
    StandardOutputGuard& operator=(const StandardOutputGuard&) = delete;

    std::streambuf* Original() const { return original_; }

private:
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

    StandardOutputGuard standardOutput;
    try {
        return Run(std::vector<std::string>(argv + 1, argv + argc), standardOutput.Original(),
                   ORN_REDACT_VERSION);
    } catch (const std::exception& failure) {
        Message(std::string("failed: ") + failure.what() + "; nothing written");
    }
    return ExitFailure;
}
