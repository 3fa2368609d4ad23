#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <streambuf>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "Digest.h"

namespace qiv::redact {

/// The compressed formats the tool reads and writes.
enum class Compression { None, Gzip, Bzip2, Xz, Zstd };

/// "none", "gzip", "bzip2", "xz" or "zstd".
std::string_view CompressionName(Compression format);
/// The format with that name (as CompressionName gives it), or nothing.
std::optional<Compression> CompressionFromName(std::string_view name);
/// The format whose magic bytes start head (for bzip2 with the block size
/// digit after them); None when there are none or head is too short.
Compression CompressionOfContent(std::string_view head);
/// The format that a file name's suffix (.gz, .bz2, .xz, .zst) stands for;
/// None for any other name.
Compression CompressionOfPath(std::string_view path);
/// Loads the library that reads and writes format (None needs none): false
/// with a message that names it when it cannot be loaded.
bool LoadCodec(Compression format, std::string& error);

/// A run of bytes handed between threads.
struct ByteBlock {
    ByteBlock() = default;
    ByteBlock(ByteBlock&& other) noexcept;  // leaves other empty
    ByteBlock& operator=(ByteBlock&& other) noexcept;
    std::unique_ptr<char[]> data;
    std::size_t size = 0;
    std::size_t capacity = 0;
    /// Makes room for at least wanted bytes, keeping the first size.
    void Reserve(std::size_t wanted);
};

/// Reads a file descriptor's bytes, decompressed when its content is
/// compressed (recognised by content, not name). Decompression runs on a
/// thread of its own, a few buffers ahead of the reader, while the reader
/// works on what came before. Uncompressed input is passed straight through
/// from read(2) without that thread.
class ByteReader {
public:
    /// Borrows descriptor; name is for messages. Nothing is read yet.
    ByteReader(int descriptor, std::string name);
    /// Stops and joins the thread, even in the middle of the stream or while
    /// it waits for input that has not come.
    ~ByteReader();
    ByteReader(const ByteReader&) = delete;
    ByteReader& operator=(const ByteReader&) = delete;

    /// Fills buffer with up to capacity bytes; got = 0 at the end. False on a
    /// read or decompression error (a truncated or corrupt stream is one),
    /// with Error() saying what went wrong; every later call fails alike.
    bool Read(char* buffer, std::size_t capacity, std::size_t& got);
    /// The format of the content; reads its first bytes if nothing was read
    /// yet. None when they cannot be read (Error() says why).
    Compression Format();
    /// Feeds digest with the descriptor's bytes as they are read (compressed
    /// ones when the content is compressed); call it before anything is read.
    void DigestInto(Sha256* digest) { digest_ = digest; }
    /// "cannot read NAME: ..." after a failure, empty before.
    const std::string& Error() const { return error_; }
    /// Bytes taken from the descriptor so far (compressed ones when the
    /// content is compressed). Safe to call from any thread.
    std::uint64_t SourceBytes() const { return sourceBytes_.load(std::memory_order_relaxed); }

private:
    bool Start();
    bool Fail(const std::string& what);
    bool ReadDirect(char* buffer, std::size_t capacity, std::size_t& got);
    bool ReadDecompressed(char* buffer, std::size_t capacity, std::size_t& got);
    // The decompression thread: the source's bytes and the decoder.
    void Decompress();
    enum class Input { Data, Pending, End, Stopped, Failed };
    Input ReadInput(ByteBlock& input, bool wait, std::string& error);
    bool Deliver(ByteBlock& output);
    bool TakeSpare(ByteBlock& output);

    int descriptor_;
    std::string name_;
    bool started_ = false;
    bool failed_ = false;
    Compression format_ = Compression::None;
    std::string error_;
    std::atomic<std::uint64_t> sourceBytes_{0};
    Sha256* digest_ = nullptr;  // fed by whichever thread reads the descriptor
    ByteBlock head_;            // the first bytes, read to learn the format
    std::size_t headOffset_ = 0;

    // Between the reader and the decompression thread: decompressed blocks in
    // order, spare ones for the thread to fill, and how the stream ended.
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<ByteBlock> ready_;
    std::vector<ByteBlock> spare_;
    std::size_t blocks_ = 0;  // blocks in existence, ready, spare or being filled
    bool stop_ = false;
    bool ended_ = false;
    std::string threadError_;
    ByteBlock current_;  // the block being handed out
    std::size_t currentOffset_ = 0;
    int wake_[2] = {-1, -1};  // written to wake the thread out of a wait for input
    std::thread thread_;
};

/// A stream buffer that compresses what is written to it into target. The
/// written bytes go in blocks to compression threads of its own (several
/// where the format allows blocks to be compressed apart without losing much,
/// one otherwise), and the compressed blocks go to target in order from the
/// thread that finished them. Finish() must be called at the end. Flushing a
/// stream over it (sync) does not flush the compressor: that would cost
/// compression for nothing, as the output is only whole once finished.
class CompressingBuffer : public std::streambuf {
public:
    CompressingBuffer(std::streambuf& target, Compression format);
    /// Stops the threads without finishing the stream if Finish() was not
    /// called; waits for a write to target under way.
    ~CompressingBuffer() override;
    CompressingBuffer(const CompressingBuffer&) = delete;
    CompressingBuffer& operator=(const CompressingBuffer&) = delete;

    /// Compresses the rest, ends the compressed stream and flushes target.
    /// False with a message when compression or writing to target failed.
    bool Finish(std::string& error);

    // Defined with the formats' code: a block of the stream on its way to
    // target, and what compresses blocks for one thread.
    struct Block;
    class Encoder;

protected:
    int_type overflow(int_type character) override;
    std::streamsize xsputn(const char* data, std::streamsize size) override;
    int sync() override;

private:
    bool Submit(bool last);
    void Work(std::size_t worker);
    void WriteFinished(std::unique_lock<std::mutex>& lock);
    void Stop();
    void FailLocked(const std::string& message);

    std::streambuf& target_;
    Compression format_;
    std::size_t blockSize_;
    std::size_t maximumBlocks_ = 0;
    std::vector<std::unique_ptr<Encoder>> encoders_;  // one per thread
    std::vector<std::thread> threads_;
    std::unique_ptr<Block> filling_;
    std::string carry_;  // the end of the previous block, for encoders that continue from it
    std::uint64_t submitted_ = 0;
    bool finished_ = false;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::unique_ptr<Block>> queue_;  // submitted and not yet written, in order
    std::vector<std::unique_ptr<Block>> spare_;
    std::size_t blocks_ = 0;
    std::uint64_t nextToEncode_ = 0;
    bool writing_ = false;
    bool stop_ = false;
    bool failed_ = false;
    bool ended_ = false;  // the last block was written
    std::string error_;
    // What the gzip trailer needs: the check value and length of all input.
    std::uint32_t crc_ = 0;
    std::uint64_t length_ = 0;
};

}  // namespace qiv::redact
