#include "Tasks.h"

#include <sys/stat.h>

#include <filesystem>
#include <map>

namespace qiv::redact {

namespace {

const char* KindOfFile(mode_t mode) {
    if (S_ISDIR(mode)) {
        return "a directory";
    }
    if (S_ISFIFO(mode)) {
        return "a pipe";
    }
    if (S_ISCHR(mode)) {
        return "a character device";
    }
    if (S_ISBLK(mode)) {
        return "a block device";
    }
    if (S_ISSOCK(mode)) {
        return "a socket";
    }
    return "not a regular file";
}

// The path without ".", ".." or symbolic links, to tell two names of one
// file apart from two files; as given when it cannot be resolved.
std::string Canonical(const std::string& path) {
    std::error_code ignored;
    const std::filesystem::path canonical =
        std::filesystem::weakly_canonical(std::filesystem::absolute(path, ignored), ignored);
    return canonical.empty() ? path : canonical.string();
}

}  // namespace

bool MakeTasks(const std::vector<std::string>& inputs, const Options& options,
               std::vector<FileTask>& tasks, std::string& error) {
    if (!options.outputDir && !options.inPlace) {
        error = "several input files need --output-dir DIR or --in-place";
        return false;
    }
    std::map<std::string, std::string> written;  // output (or input in place) -> input
    for (const std::string& input : inputs) {
        FileTask task;
        task.input = input;
        task.inPlace = options.inPlace;
        if (options.inPlace && !options.backupSuffix.empty()) {
            task.backup = input + options.backupSuffix;
        }
        std::string key = input;
        if (options.outputDir) {
            const std::string name = std::filesystem::path(input).filename().string();
            if (name.empty() || name == "." || name == "..") {
                error =
                    "input " + input + " has no file name to write under in " + *options.outputDir;
                return false;
            }
            task.output = (std::filesystem::path(*options.outputDir) / name).string();
            key = *task.output;
        }
        key = Canonical(key);
        const auto [found, added] = written.emplace(key, input);
        if (!added) {
            error = options.outputDir ? "inputs " + found->second + " and " + input +
                                            " would both be written to " + *task.output
                                      : "input " + input + " is given more than once";
            return false;
        }
        tasks.push_back(std::move(task));
    }
    // A backup must not take the name of a file being redacted, nor of
    // another backup.
    std::map<std::string, std::string> backups;  // backup -> input
    for (const FileTask& task : tasks) {
        if (!task.backup) {
            continue;
        }
        const std::string key = Canonical(*task.backup);
        if (const auto found = written.find(key); found != written.end()) {
            error = "the backup of " + *task.input + " would replace input " + found->second;
            return false;
        }
        if (const auto [found, added] = backups.emplace(key, *task.input); !added) {
            error = "inputs " + found->second + " and " + *task.input +
                    " would both be backed up as " + *task.backup;
            return false;
        }
    }
    return true;
}

std::string InPlaceProblem(const std::vector<std::string>& inputs) {
    for (const std::string& input : inputs) {
        struct stat info {};
        if (::stat(input.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
            return "--in-place needs regular files: " + input + " is " + KindOfFile(info.st_mode) +
                   "; nothing written";
        }
    }
    return {};
}

}  // namespace qiv::redact
