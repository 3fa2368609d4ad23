#include "RecordRoute.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "Descriptor.h"
#include "Markup.h"
#include "Outcomes.h"
#include "OutputChain.h"
#include "Progress.h"
#include "ReadInput.h"
#include "RecordMode.h"

namespace qiv::redact {

namespace {

// The input as the record route reads it: opened once, and whether (and
// from where) it can be read a second time.
struct OpenInput {
    std::string name;
    int descriptor = STDIN_FILENO;
    struct stat info {};
    bool regular = false;
    off_t start = 0;     // where standard input from a file was when the run began
    bool again = false;  // a file can be read again; standard input from a file, from start

    // The bytes it holds when they are known: a file's size.
    std::optional<std::uint64_t> Size() const {
        if (!regular) {
            return std::nullopt;
        }
        return static_cast<std::uint64_t>(info.st_size);
    }
};

// False when the whole-document route is to open the input and say what is
// wrong with it.
bool Open(const FileTask& task, OpenInput& input) {
    input.name = task.input ? *task.input : "standard input";
    if (task.input) {
        struct stat info {};
        if (::stat(task.input->c_str(), &info) != 0 || S_ISDIR(info.st_mode)) {
            return false;
        }
        input.descriptor = ::open(task.input->c_str(), O_RDONLY | O_CLOEXEC);
        if (input.descriptor < 0) {
            return false;
        }
    }
    input.regular = ::fstat(input.descriptor, &input.info) == 0 && S_ISREG(input.info.st_mode);
    input.start = input.regular && !task.input ? ::lseek(input.descriptor, 0, SEEK_CUR) : 0;
    input.again = input.regular && input.start >= 0;
    return true;
}

// Hands the input over to the whole-document route: read again from the
// start where it can be, else what was taken (consumed) and the rest.
std::optional<FileResult> HandOver(const OpenInput& open, ByteSource& source, Compression format,
                                   std::string consumed, bool consumedAll, bool readAll,
                                   InputDocument& input, InputDigest& digest,
                                   const MessageSink& message) {
    FileResult failed;
    failed.status = ExitFailure;
    if (open.again) {
        digest.Restart();  // read again from the start
        if (::lseek(open.descriptor, open.start, SEEK_SET) != open.start) {
            message("cannot read " + open.name + " again: " + std::string(std::strerror(errno)));
            return failed;
        }
        if (format == Compression::None) {
            return std::nullopt;  // parsed from the file itself
        }
        // Compressed: its content, read whole.
        ReaderSource again(open.descriptor, open.name, digest.Reading());
        input.preread = true;
        if (!ReadRest(again, open.name, input.text, message)) {
            return failed;
        }
        digest.ReadWhole(open.Size());
        return std::nullopt;
    }
    if (!consumedAll) {
        message("cannot redact " + open.name + " as a whole document: the records read so far " +
                "cannot be read a second time (use --whole); nothing written");
        return failed;
    }
    input.text = std::move(consumed);
    if (!readAll && !ReadRest(source, open.name, input.text, message)) {
        return failed;
    }
    digest.ReadWhole(open.Size());
    input.preread = true;
    return std::nullopt;
}

void PrintRecordTimings(const RecordRun& run, const MessageSink& message) {
    const RecordRun::Steps& steps = run.seconds;
    char line[256];
    std::snprintf(line, sizeof line,
                  "timings: %llu batches; read %.3f s, scan %.3f s, write %.3f s, "
                  "waiting for or helping the workers %.3f s; on the workers: parse "
                  "%.3f s, select "
                  "and redact %.3f s, splice %.3f s",
                  static_cast<unsigned long long>(run.batches), steps.read, steps.scan, steps.write,
                  steps.wait, steps.parse, steps.redact, steps.splice);
    message(line);
}

// The end of a run that wrote every record. streamed: the output went out
// as it was written (--stream).
FileResult Written(const RecordRun& run, bool matched, bool written, bool streamed,
                   const std::string& error, const Options& options, const RedactionPlan& plan,
                   std::string_view prolog, Sha256* digest, const MessageSink& message) {
    FileResult result;
    result.status = ExitFailure;
    result.bytes = run.bytes;
    result.outcomes = run.outcomes;
    // Without --stream, a run that matched too little has its output thrown
    // away, which is no failure to write.
    if (!written && (matched || streamed)) {
        message(streamed ? CutShort(error) : error);
        return result;
    }
    if (!matched) {
        AllMatched(run.outcomes, message, streamed);
        result.status = ExitNothingMatched;
        return result;
    }
    bool left = PrintOutcomes(run.outcomes, options, plan, message);
    left = NoteEntities(run.outcomes, prolog, false, message) || left;
    result.route = "records";
    if (digest != nullptr) {
        result.outputBytes = digest->Bytes();
        result.outputDigest = digest->HexDigest();
    }
    if (options.timings) {
        PrintRecordTimings(run, message);
    }
    NoteLayoutUnused(options, message);
    result.status = left ? ExitLeftReadable : ExitOk;
    result.redacted = Redacted(run.outcomes);
    return result;
}

// The record route did not apply: --records makes that a usage error.
std::optional<FileResult> NotByRecords(const std::string& name, const std::string& reason,
                                       const Options& options, const MessageSink& message) {
    if (options.records) {
        message(
            "cannot redact " + name + " record by record (--records): " +
            (reason.empty() ? std::string("it is not a document element with records") : reason) +
            "; nothing written");
        FileResult result;
        result.status = ExitUsage;
        return result;
    }
    if (!reason.empty()) {
        message("note: " + name + " is redacted as a whole document: " + reason);
    }
    return std::nullopt;
}

// A run that stopped before every record was written. streamed: what was
// written went out (--stream), so the whole-document route cannot take over.
std::optional<FileResult> Ended(RecordRun& run, bool streamed, const OpenInput& open,
                                ByteSource& source, Compression format, const Options& options,
                                const MessageSink& message, InputDocument& input,
                                std::string& wholeReason, InputDigest& digest) {
    FileResult failed;
    failed.status = ExitFailure;
    failed.bytes = run.bytes;
    failed.outcomes = run.outcomes;
    if (run.end == RecordEnd::Failed || run.end == RecordEnd::Usage) {
        message(streamed ? CutShort(run.message) : run.message);
        failed.status = run.end == RecordEnd::Usage && !streamed ? ExitUsage : ExitFailure;
        return failed;
    }
    if (streamed) {
        message(
            CutShort("cannot redact " + open.name + " record by record (--stream): " + run.reason));
        return failed;
    }
    // Found only as the batches ran: an item outside the records.
    wholeReason = run.reason;
    std::optional<FileResult> done = NotByRecords(open.name, run.reason, options, message);
    if (!done) {
        done = HandOver(open, source, format, std::move(run.consumed), run.consumedAll, run.readAll,
                        input, digest, message);
    }
    if (done) {
        done->bytes = failed.bytes;
        done->outcomes = failed.outcomes;
    }
    return done;
}

// The record route runs: the records are written through the output chain
// as they are redacted.
std::optional<FileResult> WriteRecords(const FileTask& task, const Options& options,
                                       const RedactionPlan& plan, const OpenInput& open,
                                       ReaderSource& source, RecordStart start, Compression format,
                                       const MessageSink& message, std::streambuf* standardOutput,
                                       InputDocument& input, std::string& wholeReason,
                                       InputDigest& digest, AuditTrail* audit) {
    RecordSettings settings;
    settings.audit = audit;
    settings.redaction = RedactionSettings{options.deep, options.attributes, 1};
    settings.redaction.plans = plan.plans;
    settings.redaction.queries = plan.queries;
    settings.redaction.names = plan.names;
    settings.redaction.namespaces = plan.namespaces;
    settings.namespaces = plan.namespaces;
    settings.strict = options.strict;
    // --stream: standard output takes each batch as it is written instead of
    // a spool that holds the document until it is complete.
    const bool streamed = options.stream && !task.output && !task.inPlace && !task.discard;
    settings.flushBatches = streamed;
    std::optional<ProgressLine> progress;
    if (task.progress && !options.quiet && ::isatty(STDERR_FILENO) == 1) {
        const off_t size = open.info.st_size - std::max<off_t>(open.start, 0);
        progress.emplace(open.name, open.regular ? static_cast<std::uint64_t>(size) : 0);
        settings.progress = [&progress](std::uint64_t done) { progress->Update(done); };
    }
    // Kept for the warnings about entities, when it declares any.
    const std::string_view prefix = std::string_view(start.head).substr(0, start.prologEnd);
    const std::string prolog =
        InternalEntities(prefix).empty() ? std::string() : std::string(prefix);
    RecordRun run;
    bool matched = true;
    bool ran = false;
    const ContentWriter write = [&](std::ostream& out) {
        ran = true;
        run = RedactRecords(source, std::move(start), open.name, plan.expressions, settings, out);
        if (run.end == RecordEnd::Done && options.requireMatch) {
            for (const ExpressionOutcome& outcome : run.outcomes) {
                matched = matched && outcome.selected > 0;
            }
        }
        if (run.end != RecordEnd::Done || (!matched && !streamed)) {
            out.setstate(std::ios::badbit);  // nothing of it may be kept
        }
    };
    std::optional<Sha256> outputDigest;
    if (task.digests) {
        outputDigest.emplace();
    }
    std::string error;
    const bool written =
        Deliver(task, write, OutputCompression(task, options, format),
                outputDigest ? &*outputDigest : nullptr, standardOutput, !streamed, error);
    progress.reset();
    if (!ran) {
        message(error);  // the output could not even be started
        FileResult failed;
        failed.status = ExitFailure;
        return failed;
    }
    if (run.end == RecordEnd::Done) {
        if (run.bareAmpersands > 0) {
            WarnBareAmpersands(open.name, run.bareAmpersands, run.bareWhere, message);
        }
        digest.ReadWhole(open.Size());
        return Written(run, matched, written, streamed, error, options, plan, prolog,
                       outputDigest ? &*outputDigest : nullptr, message);
    }
    return Ended(run, streamed, open, source, format, options, message, input, wholeReason, digest);
}

}  // namespace

std::optional<FileResult> RedactByRecords(const FileTask& task, const Options& options,
                                          const RedactionPlan& plan, const MessageSink& message,
                                          std::streambuf* standardOutput, InputDocument& input,
                                          Compression& format, std::string& wholeReason,
                                          InputDigest& digest, AuditTrail* audit) {
    OpenInput open;
    if (!Open(task, open)) {
        return std::nullopt;  // the whole-document route says what is wrong
    }
    const OwnedDescriptor owned(open.descriptor);
    ReaderSource source(open.descriptor, open.name, digest.Reading());
    format = source.Format();
    RecordStart start;
    std::string error;
    if (!source.Error().empty() ||
        !ReadRecordStart(source, open.name, plan.expressions, start, error, plan.namespaces)) {
        message(!source.Error().empty() ? source.Error() : error);
        FileResult failed;
        failed.status = ExitFailure;
        return failed;
    }
    // The prolog is written before the records, but which entities' values
    // --entities replaces is known only after the last one.
    if (start.applies && options.entities &&
        !InternalEntities(std::string_view(start.head).substr(0, start.prologEnd)).empty()) {
        start.applies = false;
        start.reason = "--entities may change its DOCTYPE, which comes before the records";
    }
    // The route is chosen here, before any output exists.
    if (!start.applies) {
        wholeReason = start.reason;
        const std::uint64_t bytes = start.head.size();
        std::optional<FileResult> done = NotByRecords(open.name, start.reason, options, message);
        if (!done) {
            const bool readAll = start.end;
            done = HandOver(open, source, format, std::move(start.head), true, readAll, input,
                            digest, message);
        }
        if (done) {
            done->bytes = bytes;
        }
        return done;
    }
    return WriteRecords(task, options, plan, open, source, std::move(start), format, message,
                        standardOutput, input, wholeReason, digest, audit);
}

}  // namespace qiv::redact
