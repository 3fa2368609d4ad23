#include "FileRedaction.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <ostream>
#include <sstream>

#include <pugixml.hpp>

#include "Actions.h"
#include "AnewWriter.h"
#include "Compression.h"
#include "DataParserIF.h"
#include "Digest.h"
#include "DocumentInput.h"
#include "InterfaceFactory.h"
#include "OutputFile.h"
#include "Progress.h"
#include "RecordMode.h"
#include "Redaction.h"
#include "SourceSplice.h"
#include "Workers.h"

namespace qiv::redact {

namespace {

// What the expression at index does, for messages.
const RuleAction* ActionOf(const RedactionPlan& plan, std::size_t index) {
    return index < plan.plans.size() ? plan.plans[index].action : nullptr;
}

void PrintOutcomes(const std::vector<ExpressionOutcome>& outcomes, const Options& options,
                   const RedactionPlan& plan, const MessageSink& message) {
    for (std::size_t index = 0; index < outcomes.size(); ++index) {
        const ExpressionOutcome& outcome = outcomes[index];
        const RuleAction* given = ActionOf(plan, index);
        const Action kind = given != nullptr ? given->Kind() : Action::Redact;
        // Plain redaction is reported the same way whether it came from a rule or not.
        const RuleAction* action = kind == Action::Redact ? nullptr : given;
        const bool hintRule = given != nullptr && given->Source().inRulesFile;
        const bool attributes =
            index < plan.plans.size() ? plan.plans[index].attributes : options.attributes;
        const std::string quoted = "'" + outcome.expression + "'";
        if (options.report) {
            std::ostringstream line;
            line << quoted << ": selected " << outcome.selected;
            if (action == nullptr) {
                line << ", redacted " << outcome.redacted;
            } else if (kind == Action::Keep) {
                line << ", kept " << outcome.selected - outcome.skipped;
            } else {
                line << ", " << (kind == Action::Drop ? "dropped " : "changed ") << outcome.redacted
                     << " (" << ActionName(kind) << ")";
            }
            if (outcome.skipped > 0) {
                line << ", " << outcome.skipped << " left alone as kept or dropped before";
            }
            if (outcome.attributes > 0) {
                line << " (" << outcome.attributes << " of the selected are attributes)";
            }
            message(line.str());
        }
        if (outcome.attributes > 0 && !attributes && kind != Action::Keep && kind != Action::Drop) {
            message("warning: " + quoted + " selected " + std::to_string(outcome.attributes) +
                    (outcome.attributes == 1 ? " attribute" : " attributes") +
                    (!hintRule ? "; attribute values are not redacted (use --attributes)"
                               : "; attribute values are left as they are (give the rule "
                                 "'attributes: true')"));
        }
        if (outcome.elementsWithOtherText > 0) {
            message("warning: " + quoted + ": " + std::to_string(outcome.elementsWithOtherText) +
                    " of " + std::to_string(outcome.elements) +
                    (!hintRule
                         ? " selected elements still hold text other than \"redacted\" in "
                           "further text runs, child elements or comments (use --deep)"
                         : " selected elements still hold text no rule changed in further text "
                           "runs, child elements or comments (give the rule 'deep: true')"));
        }
    }
}

// Passes bytes on to another buffer and takes their SHA-256 on the way.
class DigestBuffer : public std::streambuf {
public:
    DigestBuffer(std::streambuf* to, Sha256& digest) : to_(to), digest_(digest) {}

protected:
    int_type overflow(int_type character) override {
        if (traits_type::eq_int_type(character, traits_type::eof())) {
            return traits_type::not_eof(character);
        }
        const char byte = traits_type::to_char_type(character);
        return xsputn(&byte, 1) == 1 ? character : traits_type::eof();
    }
    std::streamsize xsputn(const char* data, std::streamsize size) override {
        const std::streamsize written = to_ != nullptr ? to_->sputn(data, size) : 0;
        if (written > 0) {
            digest_.Update(data, static_cast<std::size_t>(written));
        }
        return written;
    }
    int sync() override { return to_ != nullptr ? to_->pubsync() : -1; }

private:
    std::streambuf* to_;
    Sha256& digest_;
};

// Takes in everything and keeps nothing (--check).
class NullBuffer : public std::streambuf {
protected:
    int_type overflow(int_type character) override { return traits_type::not_eof(character); }
    std::streamsize xsputn(const char*, std::streamsize size) override { return size; }
};

// content, with the SHA-256 of what it writes taken into digest when there is one.
ContentWriter Digesting(ContentWriter content, Sha256* digest) {
    if (digest == nullptr) {
        return content;
    }
    return [content = std::move(content), digest](std::ostream& out) {
        DigestBuffer buffer(out.rdbuf(), *digest);
        std::ostream through(&buffer);
        content(through);
        through.flush();
        if (!through) {
            out.setstate(std::ios::badbit);
        }
    };
}

// The SHA-256 and size of a file's bytes as they are on disk.
bool DigestFile(const std::string& path, std::string& digest, std::uint64_t& bytes) {
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        return false;
    }
    Sha256 sha;
    std::vector<char> buffer(1 << 20);
    bool ok = true;
    for (;;) {
        const ssize_t got = ::read(descriptor, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            ok = got == 0;
            break;
        }
        sha.Update(buffer.data(), static_cast<std::size_t>(got));
    }
    ::close(descriptor);
    if (ok) {
        bytes = sha.Bytes();
        digest = sha.HexDigest();
    }
    return ok;
}

// Writes the document to where the task says: its file (atomically), or
// standard output through a spool when spool is set, or nowhere (discard).
bool Deliver(const FileTask& task, const ContentWriter& content, std::streambuf* standardOutput,
             bool spool, std::string& error) {
    if (task.discard) {
        NullBuffer nothing;
        std::ostream out(&nothing);
        content(out);
        return !out.bad();
    }
    const auto& target = task.inPlace ? task.input : task.output;
    if (target) {
        return WriteFileAtomically(*target, content, error);
    }
    if (spool) {
        return WriteThroughSpool(standardOutput, content, error);
    }
    std::ostream out(standardOutput);
    content(out);
    out.flush();
    if (!out || std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        error =
            std::string("cannot write the document to standard output: ") + std::strerror(errno);
        return false;
    }
    return true;
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

// Closes a descriptor the tool opened when it goes out of scope.
class OwnedDescriptor {
public:
    explicit OwnedDescriptor(int descriptor) : descriptor_(descriptor) {}
    ~OwnedDescriptor() {
        if (descriptor_ > STDERR_FILENO) {
            ::close(descriptor_);
        }
    }
    OwnedDescriptor(const OwnedDescriptor&) = delete;
    OwnedDescriptor& operator=(const OwnedDescriptor&) = delete;

private:
    int descriptor_;
};

// Reads the input through a ByteReader: decompressed when it is compressed.
class ReaderSource : public ByteSource {
public:
    ReaderSource(int descriptor, const std::string& name) : reader_(descriptor, name) {}
    bool Read(char* buffer, std::size_t capacity, std::size_t& got) override {
        return reader_.Read(buffer, capacity, got);
    }
    const std::string& Error() const override { return reader_.Error(); }
    std::uint64_t SourceBytes() const override { return reader_.SourceBytes(); }
    Compression Format() { return reader_.Format(); }

private:
    ByteReader reader_;
};

// Appends the rest of source to text; false with a message on failure.
bool ReadRest(ByteSource& source, std::string& text, const MessageSink& message) {
    std::string more(1 << 20, '\0');
    for (;;) {
        std::size_t got = 0;
        if (!source.Read(more.data(), more.size(), got)) {
            message(source.Error());
            return false;
        }
        if (got == 0) {
            return true;
        }
        text.append(more, 0, got);
    }
}

// The output's format: --compress, else an output file's name, else (standard
// output, in place) the input's.
Compression OutputCompression(const FileTask& task, const Options& options, Compression input) {
    if (options.compress) {
        return CompressionFromName(*options.compress).value_or(Compression::None);
    }
    if (task.output && !task.inPlace) {
        return CompressionOfPath(*task.output);
    }
    return input;
}

// Writes what write streams, compressed as format; a failure of the
// compression sets the stream's badbit and is told in failure.
ContentWriter Compressing(const ContentWriter& write, Compression format, std::string& failure) {
    if (format == Compression::None) {
        return write;
    }
    return [&write, format, &failure](std::ostream& out) {
        CompressingBuffer buffer(*out.rdbuf(), format);
        std::ostream compressed(&buffer);
        write(compressed);
        if (!compressed) {
            out.setstate(std::ios::badbit);
        } else if (!buffer.Finish(failure)) {
            out.setstate(std::ios::badbit);
        }
    };
}

// A compressed input for the whole-document path: its content is read (and
// decompressed) whole, as the parser cannot read the compressed bytes.
// Nothing is done to an uncompressed one. False with a message on failure.
bool Decompress(const FileTask& task, InputDocument& input, Compression& format,
                const MessageSink& message) {
    struct stat info {};
    if (task.input && (::stat(task.input->c_str(), &info) != 0 || !S_ISREG(info.st_mode))) {
        return true;  // the whole-document path says what is wrong, or reads it as it is
    }
    const int descriptor =
        task.input ? ::open(task.input->c_str(), O_RDONLY | O_CLOEXEC) : STDIN_FILENO;
    if (descriptor < 0) {
        return true;
    }
    const OwnedDescriptor owned(descriptor);
    if (!task.input && (::fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode))) {
        // A pipe: read it through the reader, which passes plain bytes on.
        ReaderSource source(descriptor, "standard input");
        format = source.Format();
        input.preread = true;
        return ReadRest(source, input.text, message);
    }
    const off_t start = ::lseek(descriptor, 0, SEEK_CUR);
    ReaderSource source(descriptor, task.input.value_or("standard input"));
    format = source.Format();
    if (format == Compression::None) {
        ::lseek(descriptor, start, SEEK_SET);
        return true;
    }
    input.preread = true;
    return ReadRest(source, input.text, message);
}

// Redacts the document record by record where the expressions allow it.
// Returns the outcome when it ran to an end; nothing when the whole-document
// path is to run instead, with input.text holding the whole input when it was
// taken from a source that cannot be read again.
std::optional<FileResult> RedactByRecords(const FileTask& task, const Options& options,
                                          const RedactionPlan& plan, const MessageSink& message,
                                          std::streambuf* standardOutput, InputDocument& input,
                                          Compression& format, std::string& wholeReason) {
    const std::string name = task.input ? *task.input : "standard input";
    int descriptor = STDIN_FILENO;
    if (task.input) {
        struct stat info {};
        if (::stat(task.input->c_str(), &info) != 0 || S_ISDIR(info.st_mode)) {
            return std::nullopt;  // the whole-document path says what is wrong
        }
        descriptor = ::open(task.input->c_str(), O_RDONLY | O_CLOEXEC);
        if (descriptor < 0) {
            return std::nullopt;
        }
    }
    const OwnedDescriptor owned(descriptor);
    struct stat info {};
    const bool regular = ::fstat(descriptor, &info) == 0 && S_ISREG(info.st_mode);
    // A file can be read again; standard input from a file, from where it was.
    const off_t start = regular && !task.input ? ::lseek(descriptor, 0, SEEK_CUR) : 0;
    const bool again = regular && start >= 0;

    ReaderSource source(descriptor, name);
    format = source.Format();
    if (!source.Error().empty()) {
        FileResult result;
        result.status = ExitFailure;
        message(source.Error());
        return result;
    }
    RecordSettings settings;
    settings.redaction = RedactionSettings{options.deep, options.attributes, 1};
    settings.redaction.plans = plan.plans;
    std::optional<ProgressLine> progress;
    if (task.progress && !options.quiet && ::isatty(STDERR_FILENO) == 1) {
        progress.emplace(
            name,
            regular ? static_cast<std::uint64_t>(info.st_size - std::max<off_t>(start, 0)) : 0);
        settings.progress = [&progress](std::uint64_t done) { progress->Update(done); };
    }
    RecordRun run;
    bool matched = true;
    bool ran = false;
    const ContentWriter write = [&](std::ostream& out) {
        ran = true;
        run = RedactRecords(source, name, plan.expressions, settings, out);
        if (run.end == RecordEnd::Done && options.requireMatch) {
            for (const ExpressionOutcome& outcome : run.outcomes) {
                matched = matched && outcome.selected > 0;
            }
        }
        if (run.end != RecordEnd::Done || !matched) {
            out.setstate(std::ios::badbit);  // nothing of it may be kept
        }
    };
    std::string error, compressionFailure;
    std::optional<Sha256> digest;
    if (task.digests) {
        digest.emplace();
    }
    const ContentWriter compressed =
        Digesting(Compressing(write, OutputCompression(task, options, format), compressionFailure),
                  digest ? &*digest : nullptr);
    const auto& target = task.inPlace ? task.input : task.output;
    const bool written = Deliver(task, compressed, standardOutput, true, error);
    if (!compressionFailure.empty()) {
        error = "cannot write " + target.value_or("standard output") + ": " + compressionFailure;
    }
    progress.reset();
    FileResult result;
    result.status = ExitFailure;
    result.bytes = run.bytes;
    result.outcomes = run.outcomes;
    if (!ran) {
        message(error);  // the output could not even be started
        return result;
    }
    switch (run.end) {
        case RecordEnd::Done:
            if (!matched) {
                for (const ExpressionOutcome& outcome : run.outcomes) {
                    if (outcome.selected == 0) {
                        message("'" + outcome.expression + "' selected nothing (--require-match)");
                    }
                }
                message("nothing written");
                result.status = ExitNothingMatched;
                return result;
            }
            if (!written) {
                message(error);
                return result;
            }
            PrintOutcomes(run.outcomes, options, plan, message);
            result.route = "records";
            if (digest) {
                result.outputBytes = digest->Bytes();
                result.outputDigest = digest->HexDigest();
            }
            if (options.timings) {
                const RecordRun::Steps& steps = run.seconds;
                char line[256];
                std::snprintf(line, sizeof line,
                              "timings: %llu batches; read %.3f s, scan %.3f s, write %.3f s, "
                              "waiting for or helping the workers %.3f s; on the workers: parse "
                              "%.3f s, select "
                              "and redact %.3f s, splice %.3f s",
                              static_cast<unsigned long long>(run.batches), steps.read, steps.scan,
                              steps.write, steps.wait, steps.parse, steps.redact, steps.splice);
                message(line);
            }
            if (options.layoutGiven) {
                message(std::string("note: ") + (options.raw ? "--raw" : "--indent") +
                        " applies only when the document is written anew (--reformat)");
            }
            result.status = ExitOk;
            result.redacted = Redacted(run.outcomes);
            return result;
        case RecordEnd::Failed:
            message(run.message);
            return result;
        case RecordEnd::Usage:
            message(run.message);
            result.status = ExitUsage;
            return result;
        case RecordEnd::Whole:
            break;
    }
    if (options.records) {
        message("cannot redact " + name + " record by record (--records): " +
                (run.reason.empty() ? std::string("it is not a document element with records")
                                    : run.reason) +
                "; nothing written");
        result.status = ExitUsage;
        return result;
    }
    if (!run.reason.empty()) {
        message("note: " + name + " is redacted as a whole document: " + run.reason);
    }
    wholeReason = run.reason;
    if (again) {
        if (::lseek(descriptor, start, SEEK_SET) != start) {
            message("cannot read " + name + " again: " + std::string(std::strerror(errno)));
            return result;
        }
        if (format == Compression::None) {
            return std::nullopt;  // parsed from the file itself
        }
        // Compressed: its content, read whole.
        ReaderSource again(descriptor, name);
        input.preread = true;
        if (!ReadRest(again, input.text, message)) {
            return result;
        }
        return std::nullopt;
    }
    if (!run.consumedAll) {
        message("cannot redact " + name + " as a whole document: the records read so far " +
                "cannot be read a second time (use --whole); nothing written");
        return result;
    }
    // What was taken, and the rest.
    input.text = std::move(run.consumed);
    if (!run.readAll && !ReadRest(source, input.text, message)) {
        return result;
    }
    input.preread = true;
    return std::nullopt;
}

}  // namespace

namespace {
FileResult RedactDocument(const FileTask& task, const Options& options, const RedactionPlan& plan,
                          unsigned int threads, const MessageSink& message,
                          std::streambuf* standardOutput);
}  // namespace

FileResult RedactFile(const FileTask& task, const Options& options, const RedactionPlan& plan,
                      unsigned int threads, const MessageSink& message,
                      std::streambuf* standardOutput) {
    FileResult result;
    result.status = ExitFailure;
    if (task.inPlace && !CheckLinks(*task.input, options.breakLinks, message)) {
        return result;
    }
    std::string inputDigest;
    std::uint64_t inputBytes = 0;
    if (task.digests && task.input) {
        // Before anything is written: in place, the file is about to change.
        DigestFile(*task.input, inputDigest, inputBytes);
    }
    FileResult done = RedactDocument(task, options, plan, threads, message, standardOutput);
    done.inputDigest = std::move(inputDigest);
    done.inputBytes = inputBytes;
    return done;
}

namespace {

FileResult RedactDocument(const FileTask& task, const Options& options, const RedactionPlan& plan,
                          unsigned int threads, const MessageSink& message,
                          std::streambuf* standardOutput) {
    FileResult result;
    result.status = ExitFailure;
    const std::vector<std::string>& expressions = plan.expressions;

    Timings timings(options.timings, message);
    InputDocument input;
    input.path = task.input;
    Compression format = Compression::None;
    std::string wholeReason;
    if (!options.reformat && !options.whole) {
        if (std::optional<FileResult> done = RedactByRecords(
                task, options, plan, message, standardOutput, input, format, wholeReason)) {
            timings.Lap("records");
            return *done;
        }
    } else if (!Decompress(task, input, format, message)) {
        return result;
    }
    std::unique_ptr<DataParserIF> parser = InterfaceFactory::Create<DataParserIF>("XML");
    std::string error;
    const std::string sourceName = task.input ? *task.input : "standard input";
    // Input read whole before parsing is checked for a NUL right away; a file
    // the library parsed from its path is checked once its bytes are read.
    const auto refusedBytes = [&]() {
        const std::size_t unit = CodeUnit(input.head);
        const std::size_t nul = NulOffset(input.source, unit);
        if (nul != none) {
            message(DescribeNul(sourceName, input.source, nul));
            return true;
        }
        std::size_t offset = 0;
        const std::string extra = unit == 1 ? TopLevelExtra(input.source, offset) : std::string();
        if (!extra.empty()) {
            message(DescribeMisplaced(sourceName, extra, At(input.source, offset)));
            return true;
        }
        return false;
    };
    const bool loaded = LoadDocument(*parser, input, error);
    if (input.haveSource && refusedBytes()) {
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
    // A small document is selected and freed on this thread alone: handing
    // work to a sleeping worker would cost more than it saves.
    constexpr std::size_t workersFrom = 4 << 20;
    const bool large = input.size >= workersFrom;
    RedactionSettings settings{options.deep, options.attributes, large ? threads : 1};
    settings.plans = plan.plans;
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
    result.outcomes = outcomes;

    bool freed = false;
    if (splicer && splicer->Problem().empty()) {
        // Only the edits are needed now. The document is freed by a worker
        // while this thread reads the input: freeing takes a fraction of the
        // read's time, so the two are hardly ever in memory at once.
        WorkerPool& pool = WorkerPool::Shared();
        std::atomic<bool> documentFreed{!large};
        if (!large) {
            parser->Reset();
        } else {
            pool.Submit(
                [&parser, &documentFreed, &pool]() {
                    parser->Reset();
                    documentFreed = true;
                    pool.Notify();
                },
                true);
        }
        const bool read = ReadSource(input, error);
        timings.Lap("read");
        const bool nul = read && refusedBytes();
        if (read && !nul) {
            if (ConvertedEncoding(input.source) != encoding) {
                rewriteReason = "the input's encoding could not be told from its start";
            } else if (latin1 ? splicer->ResolveLatin1(input.source)
                              : splicer->Resolve(input.source)) {
                AddCommentLeftovers(*splicer, outcomes);
            }
        }
        timings.Lap("splice");
        pool.HelpUntil([&documentFreed]() { return documentFreed.load(); });
        timings.Lap("free");
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
        if (refusedBytes()) {
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
        result.outcomes = outcomes;
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
    PrintOutcomes(outcomes, options, plan, message);
    if (splicer) {
        result.route = "whole document";
        result.reason = !wholeReason.empty() ? wholeReason : options.whole ? "--whole" : "";
    } else {
        result.route = "written anew";
        result.reason = !rewriteReason.empty() ? rewriteReason : "--reformat";
    }
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

    std::string compressionFailure;
    std::optional<Sha256> digest;
    if (task.digests) {
        digest.emplace();
    }
    const ContentWriter compressed =
        Digesting(Compressing(save, OutputCompression(task, options, format), compressionFailure),
                  digest ? &*digest : nullptr);
    const auto& target = task.inPlace ? task.input : task.output;
    if (!Deliver(task, compressed, standardOutput, false, error)) {
        message(compressionFailure.empty() || !target
                    ? error
                    : "cannot write " + *target + ": " + compressionFailure);
        return result;
    }
    if (digest) {
        result.outputBytes = digest->Bytes();
        result.outputDigest = digest->HexDigest();
    }
    timings.Lap("write");
    result.status = ExitOk;
    result.redacted = Redacted(outcomes);
    return result;
}

}  // namespace

}  // namespace qiv::redact
