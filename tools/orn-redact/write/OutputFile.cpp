#include "OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <streambuf>
#include <string_view>
#include <vector>

namespace qiv::redact {

namespace {

std::string ErrorText() { return std::strerror(errno); }

bool WriteAll(int descriptor, std::string_view content) {
    while (!content.empty()) {
        const ssize_t written = ::write(descriptor, content.data(), content.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        content.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// Output buffer over a file descriptor. A failed write is remembered with its
// errno; everything after it is dropped and the stream goes bad. With
// writeBehind, every few megabytes written, the system is asked to start
// writing them to disk, so that a final fsync waits only for the last of them.
class DescriptorBuffer : public std::streambuf {
public:
    DescriptorBuffer(int descriptor, bool writeBehind)
        : descriptor_(descriptor), writeBehind_(writeBehind), buffer_(64 * 1024) {
        setp(buffer_.data(), buffer_.data() + buffer_.size());
    }
    bool Failed() const { return failedErrno_ != 0; }
    int FailedErrno() const { return failedErrno_; }

protected:
    int_type overflow(int_type character) override {
        if (!Drain()) {
            return traits_type::eof();
        }
        if (!traits_type::eq_int_type(character, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(character);
            pbump(1);
        }
        return traits_type::not_eof(character);
    }
    int sync() override { return Drain() ? 0 : -1; }
    // Large pieces (the kept spans of a document) go straight to the file
    // instead of through the buffer.
    std::streamsize xsputn(const char* data, std::streamsize count) override {
        if (count < static_cast<std::streamsize>(buffer_.size())) {
            return std::streambuf::xsputn(data, count);
        }
        if (!Drain()) {
            return 0;
        }
        if (!Write(std::string_view(data, static_cast<std::size_t>(count)))) {
            return 0;
        }
        return count;
    }

private:
    bool Drain() {
        if (failedErrno_ != 0) {
            return false;
        }
        const std::string_view pending(pbase(), static_cast<std::size_t>(pptr() - pbase()));
        if (!Write(pending)) {
            return false;
        }
        setp(buffer_.data(), buffer_.data() + buffer_.size());
        return true;
    }

    bool Write(std::string_view content) {
        if (!WriteAll(descriptor_, content)) {
            failedErrno_ = errno != 0 ? errno : EIO;
            return false;
        }
        written_ += content.size();
#if defined(__linux__)
        constexpr off_t writeBehind = 8 * 1024 * 1024;
        if (writeBehind_ && written_ - syncedTo_ >= writeBehind) {
            // Only a hint: pipes and devices refuse it, and nothing depends on it.
            ::sync_file_range(descriptor_, syncedTo_, written_ - syncedTo_, SYNC_FILE_RANGE_WRITE);
            syncedTo_ = written_;
        }
#endif
        return true;
    }

    int descriptor_;
    bool writeBehind_;
    off_t written_ = 0;
    off_t syncedTo_ = 0;
    std::vector<char> buffer_;
    int failedErrno_ = 0;
};

// Streams the content into the descriptor; false (errno set) when a write
// failed. writeBehind: the content is to be flushed to disk at the end.
bool StreamTo(int descriptor, const ContentWriter& write, bool writeBehind) {
    DescriptorBuffer buffer(descriptor, writeBehind);
    std::ostream out(&buffer);
    write(out);
    out.flush();
    if (buffer.Failed() || !out) {
        errno = buffer.Failed() ? buffer.FailedErrno() : EIO;
        return false;
    }
    return true;
}

std::string FolderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseNameOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Follows symbolic links the way open() does when it creates a file: to the
// path the last link names, whether that exists or not. False with errno
// ELOOP for a loop.
bool ResolveTarget(const std::string& path, std::string& target) {
    target = path;
    constexpr int maximumLinks = 40;
    for (int links = 0; links < maximumLinks; ++links) {
        struct stat info {};
        if (::lstat(target.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
            return true;
        }
        std::vector<char> named(PATH_MAX + 1, '\0');
        const ssize_t length = ::readlink(target.c_str(), named.data(), PATH_MAX);
        if (length <= 0) {
            return true;  // not readable as a link after all: open() decides
        }
        const std::string link(named.data(), static_cast<std::size_t>(length));
        target = link.front() == '/' ? link : FolderOf(target) + "/" + link;
    }
    errno = ELOOP;
    return false;
}

// The temporary files being written, for the signal handler: fixed slots of
// plain memory, since a handler may neither allocate nor take locks.
struct TemporarySlot {
    std::atomic<bool> taken{false};
    std::atomic<bool> ready{false};
    char path[PATH_MAX + 1] = {};
};
constexpr std::size_t temporarySlots = 256;
TemporarySlot temporaries[temporarySlots];

// Registers a temporary file for removal on a signal while it exists. With
// more files at once than slots, the further ones are not registered.
class TemporaryRegistration {
public:
    explicit TemporaryRegistration(const std::string& path) {
        if (path.empty() || path.size() > PATH_MAX) {
            return;
        }
        for (TemporarySlot& slot : temporaries) {
            bool expected = false;
            if (slot.taken.compare_exchange_strong(expected, true)) {
                path.copy(slot.path, path.size());
                slot.path[path.size()] = '\0';
                slot.ready.store(true);
                slot_ = &slot;
                return;
            }
        }
    }
    ~TemporaryRegistration() {
        if (slot_ != nullptr) {
            slot_->ready.store(false);
            slot_->taken.store(false);
        }
    }
    TemporaryRegistration(const TemporaryRegistration&) = delete;
    TemporaryRegistration& operator=(const TemporaryRegistration&) = delete;

private:
    TemporarySlot* slot_ = nullptr;
};

extern "C" void RemoveTemporariesAndExit(int signal) {
    for (TemporarySlot& slot : temporaries) {
        if (slot.ready.load()) {
            ::unlink(slot.path);
        }
    }
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

mode_t NewFileMode() {
    static const mode_t mode = [] {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        return 0666 & ~mask;
    }();
    return mode;
}

bool WriteDirectly(const std::string& path, const ContentWriter& write, std::string& error) {
    const int descriptor = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (descriptor < 0) {
        error = "cannot write " + path + ": " + ErrorText();
        return false;
    }
    bool written = StreamTo(descriptor, write, true);
    // Devices such as /dev/null and pipes cannot be synced; that is no failure.
    if (written && ::fsync(descriptor) != 0 && errno != EINVAL && errno != EROFS &&
        errno != ENOTSUP) {
        written = false;
    }
    if (!written) {
        error = "cannot write " + path + ": " + ErrorText();
    }
    if (::close(descriptor) != 0 && written) {
        error = "cannot write " + path + ": " + ErrorText();
        written = false;
    }
    return written;
}

void SyncFolder(const std::string& folder) {
    const int descriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor >= 0) {
        ::fsync(descriptor);  // best effort: the rename is done either way
        ::close(descriptor);
    }
}

// Keeps the file target also under the name backup, replacing any file of
// that name, without touching target: a hard link is made under a temporary
// name beside backup and then renamed to it, so that an old backup is
// replaced in one step and a failure leaves both names as they were.
// False with errno set.
bool KeepBackup(const std::string& target, const std::string& backup) {
    const std::string pattern = FolderOf(backup) + "/." + BaseNameOf(backup) + ".XXXXXX";
    constexpr int attempts = 100;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        // mkstemp finds a free name; the link then takes it (another process
        // taking it first is an EEXIST, and another name is tried).
        std::string name = pattern;
        const int descriptor = ::mkstemp(name.data());
        if (descriptor < 0) {
            return false;
        }
        ::close(descriptor);
        ::unlink(name.c_str());
        if (::link(target.c_str(), name.c_str()) != 0) {
            if (errno == EEXIST) {
                continue;
            }
            return false;
        }
        const TemporaryRegistration registration(name);
        const bool renamed = ::rename(name.c_str(), backup.c_str()) == 0;
        const int savedErrno = errno;
        // When backup already was a link to target, rename leaves both names.
        ::unlink(name.c_str());
        errno = savedErrno;
        return renamed;
    }
    errno = EEXIST;
    return false;
}

}  // namespace

void ReadCreationMask() { NewFileMode(); }

bool WriteThroughSpool(std::streambuf* out, const ContentWriter& write, std::string& error) {
    const char* folder = std::getenv("TMPDIR");
    const std::string where = folder != nullptr && *folder != '\0' ? folder : "/tmp";
    int descriptor = -1;
#if defined(O_TMPFILE)
    descriptor = ::open(where.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
#endif
    if (descriptor < 0) {
        std::string name = where + "/.orn-redact.XXXXXX";
        descriptor = ::mkstemp(name.data());
        if (descriptor >= 0) {
            ::unlink(name.c_str());  // unnamed from now on: nothing is left behind
        }
    }
    if (descriptor < 0) {
        error = "cannot write standard output: cannot create a temporary file in " + where + ": " +
                ErrorText();
        return false;
    }
    bool written = StreamTo(descriptor, write, false);
    if (!written) {
        error = "cannot write standard output: cannot write a temporary file in " + where + ": " +
                ErrorText();
    } else if (::lseek(descriptor, 0, SEEK_SET) != 0) {
        error = "cannot write standard output: " + ErrorText();
        written = false;
    }
    // Not zeroed: read() fills it, and a small document then touches only the
    // pages it needs (zeroing a megabyte cost a short run more than its work).
    constexpr std::size_t bufferSize = 1 << 20;
    const std::unique_ptr<char[]> buffer(written ? new char[bufferSize] : nullptr);
    while (written) {
        const ssize_t got = ::read(descriptor, buffer.get(), bufferSize);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            error = "cannot write standard output: cannot read the temporary file: " + ErrorText();
            written = false;
        } else if (got == 0) {
            break;
        } else if (out->sputn(buffer.get(), got) != got) {
            error = "cannot write the document to standard output: " + ErrorText();
            written = false;
        }
    }
    ::close(descriptor);
    if (written && (out->pubsync() != 0 || std::fflush(stdout) != 0 || std::ferror(stdout) != 0)) {
        error = "cannot write the document to standard output: " + ErrorText();
        written = false;
    }
    return written;
}

void RemoveTemporaryFilesOnSignals() {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
        struct sigaction current {};
        if (::sigaction(signal, nullptr, &current) == 0 && current.sa_handler != SIG_IGN) {
            struct sigaction handler {};
            handler.sa_handler = RemoveTemporariesAndExit;
            sigemptyset(&handler.sa_mask);
            ::sigaction(signal, &handler, nullptr);
        }
    }
}

bool WriteFileAtomically(const std::string& path, const ContentWriter& write, std::string& error,
                         const std::string& backup) {
    std::string target;
    if (!ResolveTarget(path, target)) {
        error = "cannot write " + path + ": " + ErrorText();
        return false;
    }

    struct stat existing {};
    const bool exists = ::stat(target.c_str(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode)) {
        error = "cannot write " + path + ": it is a directory";
        return false;
    }
    if (exists && !S_ISREG(existing.st_mode)) {
        return WriteDirectly(target, write, error);
    }
    const std::string unchanged = exists ? "; the existing file is unchanged" : "";

    const std::string folder = FolderOf(target);
    std::string temporary = folder + "/." + BaseNameOf(target) + ".XXXXXX";
    const int descriptor = ::mkstemp(temporary.data());
    const TemporaryRegistration registration(descriptor >= 0 ? temporary : std::string());
    if (descriptor < 0) {
        error = "cannot write " + path + ": cannot create a temporary file in " + folder + ": " +
                ErrorText() + unchanged;
        return false;
    }

    mode_t mode = 0;
    if (exists) {
        // Owner first: changing it clears set-user-ID bits that chmod then restores.
        if (::fchown(descriptor, existing.st_uid, existing.st_gid) != 0) {
            // Only a privileged user may give a file away; the new file then
            // belongs to whoever runs the tool, as any rewritten file would.
        }
        mode = existing.st_mode & 07777;
    } else {
        mode = NewFileMode();
    }

    // A file that exists is replaced only once the new content is on disk,
    // so that a crash cannot leave it empty or cut short. A new file is not
    // forced to disk: nothing is lost if a crash takes it away.
    const bool flush = exists;
    const char* failedStep = nullptr;
    if (::fchmod(descriptor, mode) != 0) {
        failedStep = "cannot set permissions";
    } else if (!StreamTo(descriptor, write, flush)) {
        failedStep = "cannot write";
    } else if (flush && ::fsync(descriptor) != 0) {
        failedStep = "cannot flush";
    }
    const int savedErrno = errno;
    if (::close(descriptor) != 0 && failedStep == nullptr) {
        failedStep = "cannot write";
    } else {
        errno = savedErrno;
    }
    if (failedStep == nullptr && exists && !backup.empty() && !KeepBackup(target, backup)) {
        error = "cannot keep the original of " + path + " as " + backup + ": " + ErrorText() +
                unchanged;
        ::unlink(temporary.c_str());
        return false;
    }
    if (failedStep == nullptr && ::rename(temporary.c_str(), target.c_str()) != 0) {
        failedStep = "cannot replace";
    }
    if (failedStep != nullptr) {
        error = std::string(failedStep) + " " + path + ": " + ErrorText() + unchanged;
        ::unlink(temporary.c_str());
        return false;
    }
    if (flush) {
        SyncFolder(folder);
    }
    if (exists && !backup.empty() && FolderOf(backup) != folder) {
        SyncFolder(FolderOf(backup));
    }
    return true;
}

}  // namespace qiv::redact
