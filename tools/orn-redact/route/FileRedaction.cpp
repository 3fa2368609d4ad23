#include "FileRedaction.h"

#include <sys/stat.h>

#include "Outcomes.h"
#include "ReadInput.h"
#include "RecordRoute.h"
#include "Timings.h"
#include "VerifyWritten.h"
#include "WholeRoute.h"

namespace qiv::redact {

namespace {

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

}  // namespace

FileResult RedactFile(const FileTask& task, const Options& options, const RedactionPlan& plan,
                      unsigned int threads, const MessageSink& message,
                      std::streambuf* standardOutput) {
    FileResult result;
    result.status = ExitFailure;
    if (task.inPlace && !CheckLinks(*task.input, options.breakLinks, message)) {
        return result;
    }
    InputDigest digest(task.digests, task.input);
    Timings timings(options.timings, message);
    InputDocument input;
    input.path = task.input;
    WholeStart start{input, Compression::None, {}, digest};
    // --verify reads back only a file: standard output cannot be read again.
    const auto& target = task.inPlace ? task.input : task.output;
    std::optional<AuditTrail> trail;
    if (options.verify && target && !task.discard) {
        trail.emplace();
    }
    std::optional<FileResult> done;
    if (!options.reformat && !options.whole) {
        done = RedactByRecords(task, options, plan, message, standardOutput, input, start.format,
                               start.reason, digest, trail ? &*trail : nullptr);
        if (done) {
            timings.Lap("records");
        }
    } else if (!Decompress(task.input, input, start.format, digest, message)) {
        done = result;
    }
    if (!done) {
        if (trail) {
            trail.emplace();  // what the record route gathered before it handed over
        }
        start.audit = trail ? &*trail : nullptr;
        done = RedactWhole(task, options, plan, threads, start, timings, message, standardOutput);
    }
    // A file written in place was replaced only after its digest was taken;
    // any other is as it was.
    const bool written = done->status == ExitOk || done->status == ExitLeftReadable;
    if (!(task.inPlace && written)) {
        digest.Ensure();
    }
    done->inputDigest = digest.Hex();
    done->inputBytes = digest.Bytes();
    if (task.inPlace && task.backup && written) {
        struct stat info {};
        if (::stat(task.backup->c_str(), &info) == 0) {
            WarnReadableBackup(*task.backup, info.st_mode, message);
        }
    }
    if (trail && written) {
        trail->changed.Seal();
        VerifyWritten(*target, *trail, plan.expressions, message, *done);
        timings.Lap("verify");
    }
    return *done;
}

}  // namespace qiv::redact
