#include "FileRedaction.h"

#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <ostream>
#include <sstream>

#include <pugixml.hpp>

#include "AnewWriter.h"
#include "DataParserIF.h"
#include "DocumentInput.h"
#include "InterfaceFactory.h"
#include "OutputFile.h"
#include "Redaction.h"
#include "SourceSplice.h"

namespace qiv::redact {

namespace {

void PrintOutcomes(const std::vector<ExpressionOutcome>& outcomes, const Options& options,
                   const MessageSink& message) {
    for (const ExpressionOutcome& outcome : outcomes) {
        const std::string quoted = "'" + outcome.expression + "'";
        if (options.report) {
            std::ostringstream line;
            line << quoted << ": selected " << outcome.selected << ", redacted "
                 << outcome.redacted;
            if (outcome.attributes > 0) {
                line << " (" << outcome.attributes << " of the selected are attributes)";
            }
            message(line.str());
        }
        if (outcome.attributes > 0 && !options.attributes) {
            message("warning: " + quoted + " selected " + std::to_string(outcome.attributes) +
                    (outcome.attributes == 1 ? " attribute" : " attributes") +
                    "; attribute values are not redacted (use --attributes)");
        }
        if (outcome.elementsWithOtherText > 0) {
            message("warning: " + quoted + ": " + std::to_string(outcome.elementsWithOtherText) +
                    " of " + std::to_string(outcome.elements) +
                    " selected elements still hold text other than \"redacted\" in further "
                    "text runs, child elements or comments (use --deep)");
        }
    }
}

// With --timings, how long each step took, as one message at the end.
class Timings {
public:
    Timings(bool enabled, const MessageSink& message)
        : enabled_(enabled), message_(message), last_(Clock::now()) {}
    ~Timings() {
        if (enabled_ && !line_.empty()) {
            message_("timings:" + line_);
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
    const MessageSink& message_;
    Clock::time_point last_;
    std::string line_;
};

// Parses the kept bytes again, after the document was freed.
bool LoadAgain(DataParserIF& parser, InputDocument& input, std::string& error) {
    std::istringstream stream{std::string(input.source)};
    if (parser.LoadStream(stream).second != DataParserStatus::Ok) {
        error = "cannot parse the input again";
        return false;
    }
    return true;
}

// Rewriting a file in place gives its name a new file; further hard links
// would keep the unredacted original, so that needs --break-links.
bool CheckLinks(const std::string& path, bool breakLinks, const MessageSink& message) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink <= 1) {
        return true;  // reading it reports any other problem
    }
    const std::string links = std::to_string(info.st_nlink) + " hard links";
    if (!breakLinks) {
        message("refusing to rewrite " + path + " in place: it has " + links +
                ", and the other names would keep the unredacted original (use --break-links "
                "to replace only this name); nothing written");
        return false;
    }
    message("note: " + path + " has " + links +
            "; only this name gets the redacted document (--break-links)");
    return true;
}

std::size_t Redacted(const std::vector<ExpressionOutcome>& outcomes) {
    std::size_t total = 0;
    for (const ExpressionOutcome& outcome : outcomes) {
        total += outcome.redacted;
    }
    return total;
}

}  // namespace

FileResult RedactFile(const FileTask& task, const Options& options,
                      const std::vector<std::string>& expressions, unsigned int threads,
                      const MessageSink& message, std::streambuf* standardOutput) {
    FileResult result;
    result.status = ExitFailure;
    if (task.inPlace && !CheckLinks(*task.input, options.breakLinks, message)) {
        return result;
    }

    Timings timings(options.timings, message);
    std::unique_ptr<DataParserIF> parser = InterfaceFactory::Create<DataParserIF>("XML");
    InputDocument input;
    input.path = task.input;
    std::string error;
    const std::string sourceName = task.input ? *task.input : "standard input";
    // Input read whole before parsing is checked for a NUL right away; a file
    // the library parsed from its path is checked once its bytes are read.
    const auto holdsNul = [&]() {
        const std::string encoding = ConvertedEncoding(input.head);
        const std::size_t unit = encoding.rfind("UTF-16", 0) == 0   ? 2
                                 : encoding.rfind("UTF-32", 0) == 0 ? 4
                                                                    : 1;
        const std::size_t nul = NulOffset(input.source, unit);
        if (nul != std::string_view::npos) {
            message(DescribeNul(sourceName, input.source, nul));
            return true;
        }
        std::size_t offset = 0;
        const std::string extra = unit == 1 ? TopLevelExtra(input.source, offset) : std::string();
        if (!extra.empty()) {
            const TextPosition position = PositionOf(input.source, offset);
            message("cannot parse " + sourceName + ": it holds " + extra + " at line " +
                    std::to_string(position.line) + ", column " + std::to_string(position.column) +
                    " (offset " + std::to_string(offset) + "); nothing written");
            return true;
        }
        return false;
    };
    const bool loaded = LoadDocument(*parser, input, error);
    if (input.haveSource && holdsNul()) {
        return result;
    }
    if (!loaded || !CheckTopLevel(*parser, input, error)) {
        message(error);
        return result;
    }
    result.bytes = input.size;
    timings.Lap("load");

    // The input's own bytes are written back with only the changed spans
    // replaced, unless the positions the parser reports cannot map to them.
    // The head reaches to the end of the XML declaration, so the encoding
    // decided here is the one the parser read.
    const std::string encoding = ConvertedEncoding(input.head);
    const bool latin1 = encoding == "Latin-1";
    std::string rewriteReason;
    if (!options.reformat && !encoding.empty() && !latin1) {
        rewriteReason = "the input is " + encoding + ", which the parser converts";
    }
    std::optional<SourceSplicer> splicer;
    if (!options.reformat && rewriteReason.empty()) {
        // Latin-1 is parsed in its UTF-8 form, up to twice as long.
        splicer.emplace(options.deep, latin1 ? 2 * input.size : input.size);
    }
    const RedactionSettings settings{options.deep, options.attributes, threads};
    StepDone stepDone;
    if (options.timings) {
        stepDone = [&timings](const char* step) { timings.Lap(step); };
    }
    std::vector<ExpressionOutcome> outcomes;
    if (!Redact(*parser, expressions, settings, outcomes, error, splicer ? &*splicer : nullptr,
                stepDone)) {
        message(error + "; nothing written");
        result.status = ExitUsage;
        return result;
    }

    bool freed = false;
    if (splicer && splicer->Problem().empty()) {
        // Only the edits are needed now: the document is freed before the
        // input is read, so that the two are not in memory at once.
        parser->Reset();
        timings.Lap("free");
        const bool read = ReadSource(input, error);
        timings.Lap("read");
        const bool nul = read && holdsNul();
        if (read && !nul) {
            if (ConvertedEncoding(input.source) != encoding) {
                rewriteReason = "the input's encoding could not be told from its start";
            } else if (latin1 ? splicer->ResolveLatin1(input.source)
                              : splicer->Resolve(input.source)) {
                AddCommentLeftovers(*splicer, outcomes);
            }
        }
        timings.Lap("splice");
        freed = true;
        if (!read) {
            message(error);
        }
        if (!read || nul) {
            return result;
        }
        if (!rewriteReason.empty()) {
            splicer.reset();
        }
    }
    if (splicer && !splicer->Problem().empty()) {
        rewriteReason = splicer->Problem();
        splicer.reset();
    }
    if (!splicer) {
        // Written anew. The bytes are read all the same: to refuse what the
        // parser did not read and to say what the new document leaves out.
        if (!ReadSource(input, error)) {
            message(error);
            return result;
        }
        if (holdsNul()) {
            return result;
        }
        // Never write a document other than the one redacted: a document
        // freed for the splice is loaded and redacted again, from the bytes
        // just checked.
        if (freed && (!LoadAgain(*parser, input, error) ||
                      !Redact(*parser, expressions, settings, outcomes, error))) {
            message(error + "; nothing written");
            return result;
        }
    }
    if (options.requireMatch) {
        bool allMatched = true;
        for (const ExpressionOutcome& outcome : outcomes) {
            if (outcome.selected == 0) {
                message("'" + outcome.expression + "' selected nothing (--require-match)");
                allMatched = false;
            }
        }
        if (!allMatched) {
            message("nothing written");
            result.status = ExitNothingMatched;
            return result;
        }
    }
    PrintOutcomes(outcomes, options, message);
    std::optional<AnewWriter> anew;
    if (!splicer) {
        anew.emplace(input.source, *parser, options.raw);
        std::vector<std::string> lost = anew->Lost();
        if (!rewriteReason.empty()) {
            lost.emplace_back("its layout");
            message("note: " + rewriteReason + "; writing the document anew, without " +
                    JoinedList(lost) + " (as with --reformat)");
        } else if (!lost.empty()) {
            message("note: written anew (--reformat), without " + JoinedList(lost));
        }
        if (!anew->CheckSize(input.source.size(), error)) {
            message(error + "; nothing written");
            return result;
        }
        input.text = std::string();  // not needed any more
        input.pages.reset();
        input.source = {};
    } else if (options.layoutGiven) {
        message(std::string("note: ") + (options.raw ? "--raw" : "--indent") +
                " applies only when the document is written anew (--reformat)");
    }

    // The document is streamed straight to its destination: a further copy of
    // a large document in memory would cost as much as the document itself.
    const ContentWriter save = [&](std::ostream& out) {
        timings.Lap(nullptr);
        if (splicer) {
            splicer->Write(out);
        } else {
            anew->Write(out);
        }
    };

    const auto& target = task.inPlace ? task.input : task.output;
    if (target) {
        if (!WriteFileAtomically(*target, save, error)) {
            message(error);
            return result;
        }
    } else {
        std::ostream out(standardOutput);
        save(out);
        out.flush();
        if (!out || std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
            message(std::string("cannot write the document to standard output: ") +
                    std::strerror(errno));
            return result;
        }
    }
    timings.Lap("write");
    result.status = ExitOk;
    result.redacted = Redacted(outcomes);
    return result;
}

}  // namespace qiv::redact
