#include "CodecParts.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <new>
#include <system_error>
#include <utility>

namespace qiv::redact {

namespace {

using codec::Decoder;
using codec::MakeDecoder;

// Reading: decompressed blocks of this size, at most this many in existence
// (one being handed out, the others filled ahead of the reader).
constexpr std::size_t readBlockSize = 256 * 1024;
constexpr std::size_t readBlocks = 16;
constexpr std::size_t sourceChunk = 256 * 1024;

std::string ErrorText(int number) { return std::strerror(number); }

// read(2) that retries when interrupted and waits when the descriptor is
// non-blocking and has nothing yet. Returns the byte count, 0 at the end,
// -1 with errno on failure.
ssize_t ReadSome(int descriptor, char* buffer, std::size_t capacity) {
    for (;;) {
        const ssize_t count = ::read(descriptor, buffer, capacity);
        if (count >= 0) {
            return count;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            pollfd wait{descriptor, POLLIN, 0};
            ::poll(&wait, 1, -1);
        } else if (errno != EINTR) {
            return -1;
        }
    }
}

}  // namespace

ByteReader::ByteReader(int descriptor, std::string name)
    : descriptor_(descriptor), name_(std::move(name)) {}

ByteReader::~ByteReader() {
    if (thread_.joinable()) {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        const char wake = 0;
        [[maybe_unused]] const ssize_t ignored = ::write(wake_[1], &wake, 1);
        thread_.join();
    }
    for (const int end : wake_) {
        if (end >= 0) {
            ::close(end);
        }
    }
}

bool ByteReader::Fail(const std::string& what) {
    failed_ = true;
    error_ = "cannot read " + name_ + ": " + what;
    return false;
}

bool ByteReader::Start() {
    if (started_) {
        return !failed_;
    }
    started_ = true;
    // Enough of the start to hold the longest magic number (xz's six bytes).
    head_.Reserve(64 * 1024);
    while (head_.size < 6) {
        const ssize_t count =
            ReadSome(descriptor_, head_.data.get() + head_.size, head_.capacity - head_.size);
        if (count < 0) {
            return Fail(ErrorText(errno));
        }
        if (count == 0) {
            break;
        }
        if (digest_ != nullptr) {
            digest_->Update(head_.data.get() + head_.size, static_cast<std::size_t>(count));
        }
        head_.size += static_cast<std::size_t>(count);
        sourceBytes_.fetch_add(static_cast<std::uint64_t>(count), std::memory_order_relaxed);
    }
    format_ = CompressionOfContent(std::string_view(head_.data.get(), head_.size));
    if (format_ == Compression::None) {
        return true;
    }
    if (std::string why; !LoadCodec(format_, why)) {
        return Fail(why);
    }
    if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
        return Fail(ErrorText(errno));
    }
    try {
        thread_ = std::thread(&ByteReader::Decompress, this);
    } catch (const std::system_error& error) {
        return Fail(std::string("cannot start a thread: ") + error.what());
    }
    return true;
}

Compression ByteReader::Format() {
    Start();
    return format_;
}

bool ByteReader::Read(char* buffer, std::size_t capacity, std::size_t& got) {
    got = 0;
    if (failed_ || !Start()) {
        return false;
    }
    if (capacity == 0) {
        return true;
    }
    return format_ == Compression::None ? ReadDirect(buffer, capacity, got)
                                        : ReadDecompressed(buffer, capacity, got);
}

bool ByteReader::ReadDirect(char* buffer, std::size_t capacity, std::size_t& got) {
    if (headOffset_ < head_.size) {
        got = std::min(capacity, head_.size - headOffset_);
        std::memcpy(buffer, head_.data.get() + headOffset_, got);
        headOffset_ += got;
        return true;
    }
    const ssize_t count = ReadSome(descriptor_, buffer, capacity);
    if (count < 0) {
        return Fail(ErrorText(errno));
    }
    got = static_cast<std::size_t>(count);
    if (digest_ != nullptr) {
        digest_->Update(buffer, got);
    }
    sourceBytes_.fetch_add(got, std::memory_order_relaxed);
    return true;
}

bool ByteReader::ReadDecompressed(char* buffer, std::size_t capacity, std::size_t& got) {
    if (currentOffset_ == current_.size) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (current_.data) {
            current_.size = 0;
            spare_.push_back(std::move(current_));
            changed_.notify_all();
        }
        changed_.wait(lock, [this] { return !ready_.empty() || ended_; });
        if (ready_.empty()) {
            if (!threadError_.empty()) {
                return Fail(threadError_);
            }
            return true;
        }
        current_ = std::move(ready_.front());
        ready_.pop_front();
        currentOffset_ = 0;
        changed_.notify_all();
    }
    got = std::min(capacity, current_.size - currentOffset_);
    std::memcpy(buffer, current_.data.get() + currentOffset_, got);
    currentOffset_ += got;
    return true;
}

bool ByteReader::Deliver(ByteBlock& output) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (stop_) {
        return false;
    }
    ready_.push_back(std::move(output));
    changed_.notify_all();
    return true;
}

bool ByteReader::TakeSpare(ByteBlock& output) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return stop_ || !spare_.empty() || blocks_ < readBlocks; });
    if (stop_) {
        return false;
    }
    if (!spare_.empty()) {
        output = std::move(spare_.back());
        spare_.pop_back();
        return true;
    }
    ++blocks_;
    lock.unlock();
    output.Reserve(readBlockSize);
    return true;
}

ByteReader::Input ByteReader::ReadInput(ByteBlock& input, bool wait, std::string& error) {
    if (input.size == input.capacity) {
        input.Reserve(input.capacity * 2);
    }
    std::array<pollfd, 2> watched{{{descriptor_, POLLIN, 0}, {wake_[0], POLLIN, 0}}};
    for (;;) {
        const int ready = ::poll(watched.data(), watched.size(), wait ? -1 : 0);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            error = ErrorText(errno);
            return Input::Failed;
        }
        if (watched[1].revents != 0) {
            return Input::Stopped;
        }
        if (ready == 0) {
            return Input::Pending;
        }
        const ssize_t count =
            ::read(descriptor_, input.data.get() + input.size, input.capacity - input.size);
        if (count > 0) {
            if (digest_ != nullptr) {
                digest_->Update(input.data.get() + input.size, static_cast<std::size_t>(count));
            }
            input.size += static_cast<std::size_t>(count);
            sourceBytes_.fetch_add(static_cast<std::uint64_t>(count), std::memory_order_relaxed);
            return Input::Data;
        }
        if (count == 0) {
            return Input::End;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (!wait) {
                return Input::Pending;
            }
        } else if (errno != EINTR) {
            error = ErrorText(errno);
            return Input::Failed;
        }
    }
}

void ByteReader::Decompress() {
    std::string error;
    try {
        const std::unique_ptr<Decoder> decoder = MakeDecoder(format_);
        ByteBlock input;
        input.Reserve(std::max(sourceChunk, head_.size));
        std::memcpy(input.data.get(), head_.data.get(), head_.size);
        input.size = head_.size;
        std::size_t inputOffset = 0;
        bool inputEnded = false;
        ByteBlock output;
        for (;;) {
            if (output.size == output.capacity) {
                if (output.size > 0 && !Deliver(output)) {
                    return;
                }
                if (!TakeSpare(output)) {
                    return;
                }
            }
            const char* in = input.data.get() + inputOffset;
            std::size_t inSize = input.size - inputOffset;
            char* out = output.data.get() + output.size;
            std::size_t room = output.capacity - output.size;
            const Decoder::Step step = decoder->Run(in, inSize, out, room, inputEnded, error);
            inputOffset = static_cast<std::size_t>(in - input.data.get());
            output.size = static_cast<std::size_t>(out - output.data.get());
            if (step == Decoder::Step::Continue) {
                continue;
            }
            if (step != Decoder::Step::NeedInput) {
                if (step == Decoder::Step::Error) {
                    error = std::string(CompressionName(format_)) + " data is " + error;
                }
                if (output.size > 0 && !Deliver(output)) {
                    return;
                }
                break;
            }
            // What is left of the input moves to the front, and more follows it.
            std::memmove(input.data.get(), in, inSize);
            input.size = inSize;
            inputOffset = 0;
            Input got = ReadInput(input, false, error);
            if (got == Input::Pending) {
                // The source has nothing more just now (a pipe): what is
                // decompressed goes to the reader instead of waiting with it.
                if (output.size > 0 && !Deliver(output)) {
                    return;
                }
                got = ReadInput(input, true, error);
            }
            if (got == Input::Stopped) {
                return;
            }
            if (got == Input::Failed) {
                break;
            }
            inputEnded = got == Input::End;
        }
    } catch (const std::bad_alloc&) {
        error = "out of memory";
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    ended_ = true;
    threadError_ = error;
    changed_.notify_all();
}

}  // namespace qiv::redact
