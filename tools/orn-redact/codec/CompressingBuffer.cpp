#include "CodecParts.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <system_error>
#include <utility>

namespace qiv::redact {

namespace {

using codec::MakeEncoder;
using codec::Processors;
using Block = CompressingBuffer::Block;

// Writing: the input is compressed in blocks of this size. A gzip block is
// compressed on its own, with the 32 KiB before it as the dictionary, so
// blocks can go to several threads at once and still form one gzip member.
// A bzip2 block becomes a bzip2 stream of its own, as bzip2's own blocks are
// no larger; the streams follow each other as concatenated files would.
constexpr std::size_t writeBlockSize = 1024 * 1024;
constexpr std::size_t bzip2BlockSize = 900 * 1000;
constexpr std::size_t deflateWindow = 32 * 1024;

void PutLittleEndian32(std::string& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        out += static_cast<char>((value >> shift) & 0xff);
    }
}

}  // namespace

CompressingBuffer::CompressingBuffer(std::streambuf& target, Compression format)
    : target_(target), format_(format) {
    const bool blocksApart = format == Compression::Gzip || format == Compression::Bzip2;
    blockSize_ = format == Compression::Bzip2 ? bzip2BlockSize : writeBlockSize;
    const std::size_t threads = blocksApart ? Processors() : 1;
    // Enough blocks for every thread to have one, and as many again waiting
    // or being written.
    maximumBlocks_ = 2 * threads + 1;
    std::string error;
    try {
        for (std::size_t index = 0; index < threads; ++index) {
            encoders_.push_back(MakeEncoder(format));
            if (!encoders_.back()) {
                failed_ = true;
                error_ = std::string(CompressionName(format)) + " compression cannot start";
                return;
            }
        }
        filling_ = std::make_unique<Block>();
        filling_->input.Reserve(blockSize_);
        blocks_ = 1;
        setp(filling_->input.data.get(), filling_->input.data.get() + blockSize_);
        for (std::size_t index = 0; index < threads; ++index) {
            threads_.emplace_back(&CompressingBuffer::Work, this, index);
        }
    } catch (const std::system_error& problem) {
        if (threads_.empty()) {
            failed_ = true;
            error_ = std::string("cannot start a thread: ") + problem.what();
            setp(nullptr, nullptr);
        }
    } catch (const std::bad_alloc&) {
        Stop();
        failed_ = true;
        error_ = "out of memory";
        setp(nullptr, nullptr);
    }
}

CompressingBuffer::~CompressingBuffer() { Stop(); }

void CompressingBuffer::Stop() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    for (std::thread& thread : threads_) {
        thread.join();
    }
    threads_.clear();
}

void CompressingBuffer::FailLocked(const std::string& message) {
    if (!failed_) {
        failed_ = true;
        error_ = message;
    }
    changed_.notify_all();
}

CompressingBuffer::int_type CompressingBuffer::overflow(int_type character) {
    if (pptr() == epptr() && !Submit(false)) {
        return traits_type::eof();
    }
    if (!traits_type::eq_int_type(character, traits_type::eof())) {
        *pptr() = traits_type::to_char_type(character);
        pbump(1);
    }
    return traits_type::not_eof(character);
}

std::streamsize CompressingBuffer::xsputn(const char* data, std::streamsize size) {
    std::streamsize written = 0;
    while (written < size) {
        if (pptr() == epptr() && !Submit(false)) {
            break;
        }
        const auto count = std::min<std::streamsize>(size - written, epptr() - pptr());
        std::memcpy(pptr(), data + written, static_cast<std::size_t>(count));
        pbump(static_cast<int>(count));
        written += count;
    }
    return written;
}

int CompressingBuffer::sync() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return failed_ ? -1 : 0;
}

bool CompressingBuffer::Submit(bool last) {
    if (!filling_) {
        return false;
    }
    std::unique_ptr<Block> block = std::move(filling_);
    block->input.size = static_cast<std::size_t>(pptr() - pbase());
    setp(nullptr, nullptr);
    block->last = last;
    block->sequence = submitted_++;
    if (format_ == Compression::Gzip) {
        block->dictionary.swap(carry_);
        const std::size_t kept = std::min(block->input.size, deflateWindow);
        carry_.assign(block->input.data.get() + block->input.size - kept, kept);
    }
    std::unique_lock<std::mutex> lock(mutex_);
    if (failed_) {
        return false;
    }
    queue_.push_back(std::move(block));
    changed_.notify_all();
    if (last) {
        return true;
    }
    changed_.wait(lock, [this] { return failed_ || !spare_.empty() || blocks_ < maximumBlocks_; });
    if (failed_) {
        return false;
    }
    if (!spare_.empty()) {
        filling_ = std::move(spare_.back());
        spare_.pop_back();
        lock.unlock();
    } else {
        ++blocks_;
        lock.unlock();
        filling_ = std::make_unique<Block>();
    }
    filling_->input.size = 0;
    filling_->input.Reserve(blockSize_);
    setp(filling_->input.data.get(), filling_->input.data.get() + blockSize_);
    return true;
}

void CompressingBuffer::Work(std::size_t worker) {
    Encoder& encoder = *encoders_[worker];
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        Block* block = nullptr;
        changed_.wait(lock, [&] {
            if (stop_ || failed_ || ended_) {
                return true;
            }
            // The next block to compress, once it is submitted: blocks are
            // taken in order, so that a single thread's encoder sees the
            // stream in order.
            if (!queue_.empty() && nextToEncode_ - queue_.front()->sequence < queue_.size()) {
                block = queue_[nextToEncode_ - queue_.front()->sequence].get();
            }
            return block != nullptr;
        });
        if (block == nullptr) {
            return;
        }
        ++nextToEncode_;
        lock.unlock();
        block->output.size = 0;
        std::string error;
        bool encoded = false;
        try {
            encoded = encoder.Encode(*block, error);
        } catch (const std::bad_alloc&) {
            error = "out of memory";
        }
        lock.lock();
        if (!encoded) {
            FailLocked(std::string(CompressionName(format_)) + " compression failed: " + error);
            return;
        }
        block->done = true;
        WriteFinished(lock);
    }
}

void CompressingBuffer::WriteFinished(std::unique_lock<std::mutex>& lock) {
    // One thread writes at a time; the one writing now also writes the
    // blocks that are finished while it does.
    if (writing_) {
        return;
    }
    writing_ = true;
    while (!failed_ && !stop_ && !queue_.empty() && queue_.front()->done) {
        std::unique_ptr<Block> block = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        std::string before, after;
        if (format_ == Compression::Gzip) {
            if (block->sequence == 0) {
                // No name, no time; "fastest" compression; made on Unix.
                before.assign("\x1f\x8b\x08\x00\x00\x00\x00\x00\x04\x03", 10);
            }
            crc_ = static_cast<std::uint32_t>(
                crc32_combine(crc_, block->crc, static_cast<z_off_t>(block->input.size)));
            length_ += block->input.size;
            if (block->last) {
                PutLittleEndian32(after, crc_);
                PutLittleEndian32(after, static_cast<std::uint32_t>(length_));
            }
        }
        const auto put = [this](const char* data, std::size_t size) {
            return target_.sputn(data, static_cast<std::streamsize>(size)) ==
                   static_cast<std::streamsize>(size);
        };
        const bool written = put(before.data(), before.size()) &&
                             put(block->output.data.get(), block->output.size) &&
                             put(after.data(), after.size());
        lock.lock();
        if (!written) {
            FailLocked("cannot write the compressed data");
            break;
        }
        if (block->last) {
            ended_ = true;
        }
        block->done = false;
        spare_.push_back(std::move(block));
        changed_.notify_all();
    }
    writing_ = false;
}

bool CompressingBuffer::Finish(std::string& error) {
    if (!finished_) {
        finished_ = true;
        if (Submit(true)) {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [this] { return ended_ || failed_; });
        }
        Stop();
        if (!failed_ && target_.pubsync() != 0) {
            failed_ = true;
            error_ = "cannot write the compressed data";
        }
    }
    if (failed_) {
        error = error_;
    }
    return !failed_;
}

}  // namespace qiv::redact
