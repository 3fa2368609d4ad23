// orn-redact: replaces the text selected by XPath expressions in an XML
// document with "redacted".
//
// The output is the input's own bytes with only the selected values replaced.
// Standard output carries nothing but the document. The library announces
// loads and reports parse errors on std::cout, so std::cout is pointed at
// standard error for the whole run and the document is written through the
// original buffer. Nothing is written until every step has succeeded.
#include <malloc.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <pugixml.hpp>

#include "DataParserIF.h"
#include "DocumentInput.h"
#include "InterfaceFactory.h"
#include "Options.h"
#include "OutputFile.h"
#include "Redaction.h"
#include "SourceSplice.h"

namespace {

using namespace qiv::redact;

constexpr const char* programName = "orn-redact";

void Message(const std::string& text) { std::cerr << programName << ": " << text << '\n'; }

int UsageError(const std::string& reason) {
    Message(reason);
    std::cerr << UsageText();
    return ExitUsage;
}

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

void PrintOutcomes(const std::vector<ExpressionOutcome>& outcomes, const Options& options) {
    for (const ExpressionOutcome& outcome : outcomes) {
        const std::string quoted = "'" + outcome.expression + "'";
        if (options.report) {
            std::ostringstream line;
            line << quoted << ": selected " << outcome.selected << ", redacted "
                 << outcome.redacted;
            if (outcome.attributes > 0) {
                line << " (" << outcome.attributes << " of the selected are attributes)";
            }
            Message(line.str());
        }
        if (outcome.attributes > 0 && !options.attributes) {
            Message("warning: " + quoted + " selected " + std::to_string(outcome.attributes) +
                    (outcome.attributes == 1 ? " attribute" : " attributes") +
                    "; attribute values are not redacted (use --attributes)");
        }
        if (outcome.elementsWithOtherText > 0) {
            Message("warning: " + quoted + ": " + std::to_string(outcome.elementsWithOtherText) +
                    " of " + std::to_string(outcome.elements) +
                    " selected elements still hold text other than \"redacted\" in further "
                    "text runs, child elements or comments (use --deep)");
        }
    }
}

// With --timings, how long each step took, on standard error at the end.
class Timings {
public:
    explicit Timings(bool enabled) : enabled_(enabled), last_(Clock::now()) {}
    ~Timings() {
        if (enabled_ && !line_.empty()) {
            Message("timings:" + line_);
        }
    }
    Timings(const Timings&) = delete;
    Timings& operator=(const Timings&) = delete;

    /// Ends the step called name (none: restarts the clock).
    void Lap(const char* name) {
        const Clock::time_point now = Clock::now();
        if (name != nullptr) {
            char seconds[32];
            std::snprintf(seconds, sizeof seconds, " %.3f s",
                          std::chrono::duration<double>(now - last_).count());
            line_ += std::string(line_.empty() ? " " : ", ") + name + seconds;
        }
        last_ = now;
    }

private:
    using Clock = std::chrono::steady_clock;
    bool enabled_;
    Clock::time_point last_;
    std::string line_;
};

// Hands the freed document's memory back to the system, so that the input
// read next does not add to the peak.
void ReleaseFreedMemory() {
#if defined(__GLIBC__)
    ::malloc_trim(0);
#endif
}

// Parses the kept bytes again, after the document was freed.
bool LoadAgain(qiv::DataParserIF& parser, InputDocument& input, std::string& error) {
    std::istringstream stream{std::string(input.source)};
    if (parser.LoadStream(stream).second != qiv::DataParserStatus::Ok) {
        error = "cannot parse the input again";
        return false;
    }
    return true;
}

// Rewriting a file in place gives its name a new file; further hard links
// would keep the unredacted original, so that needs --break-links.
bool CheckLinks(const std::string& path, bool breakLinks) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink <= 1) {
        return true;  // reading it reports any other problem
    }
    const std::string links = std::to_string(info.st_nlink) + " hard links";
    if (!breakLinks) {
        Message("refusing to rewrite " + path + " in place: it has " + links +
                ", and the other names would keep the unredacted original (use --break-links "
                "to replace only this name); nothing written");
        return false;
    }
    Message("note: " + path + " has " + links +
            "; only this name gets the redacted document (--break-links)");
    return true;
}

int Run(const std::vector<std::string>& arguments, std::streambuf* standardOutput) {
    const ParsedOptions parsed = ParseOptions(arguments);
    if (!parsed.error.empty()) {
        return UsageError(parsed.error);
    }
    const Options& options = parsed.options;
    if (options.help) {
        std::ostream(standardOutput) << HelpText() << std::flush;
        return ExitOk;
    }
    if (options.version) {
        std::ostream(standardOutput) << programName << ' ' << ORN_REDACT_VERSION << '\n'
                                     << std::flush;
        return ExitOk;
    }

    // Expressions: the command line's first, then each file's in order.
    std::vector<SourcedExpression> sourced;
    for (const std::string& expression : options.expressions) {
        sourced.push_back({expression, {}});
    }
    for (const std::string& file : options.expressionFiles) {
        std::string error;
        if (!ReadExpressionFile(file, sourced, error)) {
            return UsageError("cannot read expressions from " + file + ": " + error);
        }
    }
    if (sourced.empty()) {
        return UsageError("no XPath expression given (the expression files hold none)");
    }
    std::vector<std::string> expressions;
    bool allUsable = true;
    for (const SourcedExpression& expression : sourced) {
        const std::string problem = ExpressionProblem(expression.text);
        if (!problem.empty()) {
            const std::string where =
                expression.origin.empty() ? "" : " (" + expression.origin + ")";
            Message("rejected expression '" + expression.text + "'" + where + ": " + problem);
            allUsable = false;
        }
        expressions.push_back(expression.text);
    }
    if (!allUsable) {
        Message("nothing written");
        return ExitUsage;
    }

    if (options.inPlace && !CheckLinks(*options.inputPath, options.breakLinks)) {
        return ExitFailure;
    }

    Timings timings(options.timings);
    std::unique_ptr<qiv::DataParserIF> parser =
        qiv::InterfaceFactory::Create<qiv::DataParserIF>("XML");
    InputDocument input;
    input.path = options.inputPath;
    std::string error;
    if (!LoadDocument(*parser, input, error)) {
        Message(error);
        return ExitFailure;
    }
    timings.Lap("load");

    // The input's own bytes are written back with only the changed spans
    // replaced, unless the positions the parser reports cannot map to them.
    std::string rewriteReason;
    if (!options.reformat) {
        if (const std::string encoding = ConvertedEncoding(input.head); !encoding.empty()) {
            rewriteReason = "the input is " + encoding + ", which the parser converts";
        }
    }
    std::optional<SourceSplicer> splicer;
    if (!options.reformat && rewriteReason.empty()) {
        splicer.emplace(options.deep, input.size);
    }
    const RedactionSettings settings{options.deep, options.attributes,
                                     std::max(1u, std::thread::hardware_concurrency())};
    std::vector<ExpressionOutcome> outcomes;
    if (!Redact(*parser, expressions, settings, outcomes, error, splicer ? &*splicer : nullptr)) {
        Message(error + "; nothing written");
        return ExitUsage;
    }
    timings.Lap("select and redact");

    bool freed = false;
    if (splicer && splicer->Problem().empty()) {
        // Only the edits are needed now: free the document before the input is
        // read again, so that the two are never in memory at once.
        parser->Reset();
        freed = true;
        ReleaseFreedMemory();
        timings.Lap("free");
        if (!ReadSource(input, error)) {
            Message(error);
            return ExitFailure;
        }
        timings.Lap("read");
        if (const std::string encoding = ConvertedEncoding(input.source); !encoding.empty()) {
            splicer.reset();
            rewriteReason = "the input is " + encoding + ", which the parser converts";
        } else if (splicer->Resolve(input.source)) {
            AddCommentLeftovers(*splicer, outcomes);
        }
        timings.Lap("splice");
    }
    if (splicer && !splicer->Problem().empty()) {
        if (rewriteReason.empty()) {
            rewriteReason = splicer->Problem();
        }
        splicer.reset();
        if (freed) {
            // The document was freed for the splice: load and redact it again.
            if (!ReadSource(input, error) || !LoadAgain(*parser, input, error) ||
                !Redact(*parser, expressions, settings, outcomes, error)) {
                Message(error + "; nothing written");
                return ExitFailure;
            }
        }
    }
    if (options.requireMatch) {
        bool allMatched = true;
        for (const ExpressionOutcome& outcome : outcomes) {
            if (outcome.selected == 0) {
                Message("'" + outcome.expression + "' selected nothing (--require-match)");
                allMatched = false;
            }
        }
        if (!allMatched) {
            Message("nothing written");
            return ExitNothingMatched;
        }
    }
    PrintOutcomes(outcomes, options);
    if (!rewriteReason.empty()) {
        Message("note: " + rewriteReason +
                "; writing the document anew, without its comments, DOCTYPE and layout "
                "(as with --reformat)");
    } else if (splicer && options.layoutGiven) {
        Message(std::string("note: ") + (options.raw ? "--raw" : "--indent") +
                " applies only when the document is written anew (--reformat)");
    }

    // The document is streamed straight to its destination: a further copy of
    // a large document in memory would cost as much as the document itself.
    const unsigned int format = options.raw ? pugi::format_raw : pugi::format_indent;
    const ContentWriter save = [&](std::ostream& out) {
        timings.Lap(nullptr);
        if (splicer) {
            splicer->Write(out);
        } else {
            parser->SaveToStream(out, format);
        }
    };

    const auto& target = options.inPlace ? options.inputPath : options.outputPath;
    if (target) {
        if (!WriteFileAtomically(*target, save, error)) {
            Message(error);
            return ExitFailure;
        }
        timings.Lap("write");
        return ExitOk;
    }
    std::ostream out(standardOutput);
    save(out);
    out.flush();
    if (!out || std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        Message(std::string("cannot write the document to standard output: ") +
                std::strerror(errno));
        return ExitFailure;
    }
    timings.Lap("write");
    return ExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    // A file-size limit then makes the write fail with a message instead of
    // killing the tool halfway; the temporary file is removed either way.
    std::signal(SIGXFSZ, SIG_IGN);

    StandardOutputGuard standardOutput;
    try {
        return Run(std::vector<std::string>(argv + 1, argv + argc), standardOutput.Original());
    } catch (const std::exception& failure) {
        Message(std::string("failed: ") + failure.what() + "; nothing written");
    }
    return ExitFailure;
}
