#include "ManyFiles.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <thread>

#include "Processors.h"
#include "Progress.h"
#include "Workers.h"

namespace qiv::redact {

namespace {

using Clock = std::chrono::steady_clock;

// Standard error shared by the workers: every message is one whole line, and
// the progress line, when shown, is cleared before a message and drawn again
// after it.
class Console {
public:
    Console(bool progress, std::size_t files, std::uint64_t bytes)
        : progress_(progress), files_(files), bytes_(bytes), start_(Clock::now()) {
        if (progress_) {
            ticker_ = std::thread([this] { Tick(); });
        }
    }
    ~Console() { Finish(); }
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    void Line(const std::string& text) {
        const std::lock_guard<std::mutex> lock(mutex_);
        std::string out = status_.Clear();
        out += "orn-redact: " + text + "\n";
        Put(out);
        Draw();
    }

    void FileDone(std::uint64_t bytes) {
        const std::lock_guard<std::mutex> lock(mutex_);
        ++filesDone_;
        bytesDone_ += bytes;
        // Thousands of small files: a terminal needs no more than ten lines a second.
        if (filesDone_ == files_ || Clock::now() - drawn_ >= std::chrono::milliseconds(100)) {
            Draw();
        }
    }

    void Finish() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            if (finished_) {
                return;
            }
            finished_ = true;
            Put(status_.Clear());
        }
        wake_.notify_all();
        if (ticker_.joinable()) {
            ticker_.join();
        }
    }

    double Elapsed() const { return std::chrono::duration<double>(Clock::now() - start_).count(); }

private:
    static void Put(const std::string& text) {
        std::fwrite(text.data(), 1, text.size(), stderr);
        std::fflush(stderr);
    }

    // Redraws the progress line; the caller holds the lock.
    void Draw() {
        if (!progress_ || finished_) {
            return;
        }
        const double elapsed = Elapsed();
        std::string counts = std::to_string(filesDone_) + "/" + std::to_string(files_) +
                             (files_ == 1 ? " file, " : " files, ") +
                             Megabytes(static_cast<double>(bytesDone_)) + " of " +
                             Megabytes(static_cast<double>(bytes_)) + " MB, " + Duration(elapsed) +
                             " elapsed";
        if (bytesDone_ > 0 && bytesDone_ < bytes_) {
            counts += ", about " +
                      Duration(elapsed * static_cast<double>(bytes_ - bytesDone_) /
                               static_cast<double>(bytesDone_)) +
                      " left";
        }
        Put(status_.Redraw(FitLine("", counts, TerminalColumns())));
        drawn_ = Clock::now();
    }

    // Keeps the elapsed time current while large files take their time.
    void Tick() {
        std::unique_lock<std::mutex> lock(mutex_);
        Draw();
        while (
            !wake_.wait_for(lock, std::chrono::milliseconds(500), [this] { return finished_; })) {
            Draw();
        }
    }

    const bool progress_;
    const std::size_t files_;
    const std::uint64_t bytes_;
    const Clock::time_point start_;
    Clock::time_point drawn_;
    std::mutex mutex_;
    std::condition_variable wake_;
    StatusLine status_;  // the progress line shown, if any
    std::size_t filesDone_ = 0;
    std::uint64_t bytesDone_ = 0;
    bool finished_ = false;
    std::thread ticker_;
};

std::uint64_t SizeOf(const std::optional<std::string>& path) {
    struct stat info {};
    return path && ::stat(path->c_str(), &info) == 0 && S_ISREG(info.st_mode)
               ? static_cast<std::uint64_t>(info.st_size)
               : 0;
}

}  // namespace

int RedactMany(const std::vector<FileTask>& tasks, const Options& options,
               const RedactionPlan& plan, std::vector<ReportedFile>* reported) {
    const unsigned int processors = AvailableProcessors();
    const unsigned int jobs = static_cast<unsigned int>(
        std::min<std::size_t>(options.jobs == 0 ? processors : options.jobs, tasks.size()));
    // Workers share the processors; a single worker selects in parallel.
    const unsigned int threads = std::max(1u, processors / std::max(1u, jobs));

    std::vector<std::uint64_t> sizes;
    std::uint64_t total = 0;
    for (const FileTask& task : tasks) {
        sizes.push_back(SizeOf(task.input));
        total += sizes.back();
    }
    Console console(!options.quiet && ::isatty(STDERR_FILENO) == 1, tasks.size(), total);

    std::vector<FileResult> results(tasks.size());
    std::vector<std::vector<std::string>> said(tasks.size());
    ForEachOnThreads(tasks.size(), jobs, [&](std::size_t index) {
        const std::string name = tasks[index].input.value_or("standard input");
        const MessageSink message = [&console, &name, &said, index,
                                     keep = reported != nullptr](const std::string& text) {
            if (keep && text.rfind("timings:", 0) != 0) {
                said[index].push_back(text);
            }
            console.Line(name + ": " + text);
        };
        try {
            results[index] = RedactFile(tasks[index], options, plan, threads, message, nullptr);
        } catch (const std::exception& failure) {
            message(std::string("failed: ") + failure.what() + "; nothing written");
            results[index].status = ExitFailure;
        }
        console.FileDone(std::max(results[index].bytes, sizes[index]));
    });
    console.Finish();
    if (reported != nullptr) {
        for (std::size_t index = 0; index < tasks.size(); ++index) {
            reported->push_back({tasks[index].input, tasks[index].output, tasks[index].inPlace,
                                 results[index], std::move(said[index])});
        }
    }

    std::size_t done = 0, failed = 0, unmatched = 0, left = 0, redacted = 0;
    for (const FileResult& result : results) {
        // A file with something left readable has been written: it counts as done.
        done += result.status == ExitOk || result.status == ExitLeftReadable ? 1 : 0;
        unmatched += result.status == ExitNothingMatched ? 1 : 0;
        left += result.status == ExitLeftReadable ? 1 : 0;
        failed += result.status == ExitFailure || result.status == ExitUsage ? 1 : 0;
        redacted += result.redacted;
    }
    if (!options.quiet) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.1f s", console.Elapsed());
        std::string summary = std::to_string(tasks.size()) +
                              (tasks.size() == 1 ? " file: " : " files: ") + std::to_string(done) +
                              " done, " + std::to_string(failed) + " failed";
        if (unmatched > 0) {
            summary += ", " + std::to_string(unmatched) +
                       " with an expression that matched "
                       "nothing";
        }
        summary += ", " + std::to_string(redacted) + (redacted == 1 ? " item" : " items") +
                   " redacted, " + seconds;
        if (left > 0) {
            summary += "; " + std::to_string(left) + (left == 1 ? " file holds" : " files hold") +
                       " something selected that is still readable (see the warnings)";
        }
        console.Line(summary);
    }
    return failed > 0      ? ExitFailure
           : left > 0      ? ExitLeftReadable
           : unmatched > 0 ? ExitNothingMatched
                           : ExitOk;
}

}  // namespace qiv::redact
