#include "Compression.h"
#include "Processors.h"

#include <bzlib.h>
#include <fcntl.h>
#include <lzma.h>
#include <poll.h>
#include <unistd.h>
#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <new>
#include <system_error>
#include <utility>

// The four formats' own libraries are used directly rather than one library
// over all of them: each is then driven in the way that is fastest for it
// (gzip compressed in blocks on several threads, zstd and xz with their own
// worker threads, no extra copy between layers), and zlib, libbz2 and liblzma
// are on every Debian system already.

namespace qiv::redact {

namespace {

// Compression levels, chosen for speed: documents of gigabytes are written
// compressed, and the fastest levels of gzip and zstd lose little on XML.
// bzip2 and xz keep their tools' defaults: whoever picks them wants small
// output more than speed.
constexpr int gzipLevel = 1;
constexpr int zstdLevel = 1;
constexpr int bzip2Level = 9;
constexpr std::uint32_t xzPreset = LZMA_PRESET_DEFAULT;

// Reading: decompressed blocks of this size, at most this many in existence
// (one being handed out, the others filled ahead of the reader).
constexpr std::size_t readBlockSize = 256 * 1024;
constexpr std::size_t readBlocks = 16;
constexpr std::size_t sourceChunk = 256 * 1024;

// Writing: the input is compressed in blocks of this size. A gzip block is
// compressed on its own, with the 32 KiB before it as the dictionary, so
// blocks can go to several threads at once and still form one gzip member.
// A bzip2 block becomes a bzip2 stream of its own, as bzip2's own blocks are
// no larger; the streams follow each other as concatenated files would.
constexpr std::size_t writeBlockSize = 1024 * 1024;
constexpr std::size_t bzip2BlockSize = 900 * 1000;
constexpr std::size_t deflateWindow = 32 * 1024;

// Threads that compress at once (blocks apart, or libzstd's and liblzma's
// workers): more would outrun the one thread that writes the content, and
// each xz thread takes about 100 MB.
constexpr unsigned int maximumThreads = 4;

unsigned int Processors() { return std::clamp(AvailableProcessors(), 1u, maximumThreads); }

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

// One of the formats' decoders, driven a step at a time by the thread that
// feeds it input and takes its output.
class Decoder {
public:
    enum class Step {
        Continue,   // progress was made (or the output is full): call again
        NeedInput,  // all input was used and more is needed
        End,        // the stream is complete and the input ended
        Error       // error holds what is wrong, after "FORMAT data is "
    };
    virtual ~Decoder() = default;
    /// One step over the input [in, in + inSize) into the room at out (room
    /// > 0); both are advanced by what was used. ended: no input follows.
    virtual Step Run(const char*& in, std::size_t& inSize, char*& out, std::size_t& room,
                     bool ended, std::string& error) = 0;
};

// zlib's counters are 32 bits; blocks here are far smaller, but stay safe.
uInt Clamp(std::size_t size) { return static_cast<uInt>(std::min<std::size_t>(size, UINT_MAX)); }

// gzip members follow each other as `cat a.gz b.gz` leaves them and read as
// one content, as gzip -dc reads them. Anything else after a member is an
// error, not ignored: the content would end in bytes nobody can account for.
class GzipDecoder : public Decoder {
public:
    GzipDecoder() { ready_ = inflateInit2(&stream_, MAX_WBITS + 16) == Z_OK; }
    ~GzipDecoder() override {
        if (ready_) {
            inflateEnd(&stream_);
        }
    }
    Step Run(const char*& in, std::size_t& inSize, char*& out, std::size_t& room, bool ended,
             std::string& error) override {
        if (!ready_) {
            error = "too large for the memory available";
            return Step::Error;
        }
        if (betweenMembers_) {
            if (inSize == 0) {
                return ended ? Step::End : Step::NeedInput;
            }
            inflateReset(&stream_);
            betweenMembers_ = false;
        }
        stream_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in));
        stream_.avail_in = Clamp(inSize);
        stream_.next_out = reinterpret_cast<Bytef*>(out);
        stream_.avail_out = Clamp(room);
        const uInt inBefore = stream_.avail_in, outBefore = stream_.avail_out;
        const int result = inflate(&stream_, Z_NO_FLUSH);
        in += inBefore - stream_.avail_in;
        inSize -= inBefore - stream_.avail_in;
        out += outBefore - stream_.avail_out;
        room -= outBefore - stream_.avail_out;
        switch (result) {
            case Z_OK:
                return Step::Continue;
            case Z_STREAM_END:
                betweenMembers_ = true;
                return Step::Continue;
            case Z_BUF_ERROR:  // no progress: the input is used up
                if (ended) {
                    error = "truncated";
                    return Step::Error;
                }
                return Step::NeedInput;
            case Z_MEM_ERROR:
                error = "too large for the memory available";
                return Step::Error;
            default:
                error = std::string("corrupt (") + (stream_.msg ? stream_.msg : "bad data") + ")";
                return Step::Error;
        }
    }

private:
    z_stream stream_{};
    bool ready_ = false;
    bool betweenMembers_ = false;
};

// Concatenated bzip2 streams (as parallel bzip2 tools write them) read as one.
class Bzip2Decoder : public Decoder {
public:
    Bzip2Decoder() { ready_ = BZ2_bzDecompressInit(&stream_, 0, 0) == BZ_OK; }
    ~Bzip2Decoder() override {
        if (ready_) {
            BZ2_bzDecompressEnd(&stream_);
        }
    }
    Step Run(const char*& in, std::size_t& inSize, char*& out, std::size_t& room, bool ended,
             std::string& error) override {
        if (betweenStreams_) {
            if (inSize == 0) {
                return ended ? Step::End : Step::NeedInput;
            }
            BZ2_bzDecompressEnd(&stream_);
            stream_ = {};
            ready_ = BZ2_bzDecompressInit(&stream_, 0, 0) == BZ_OK;
            betweenStreams_ = false;
        }
        if (!ready_) {
            error = "too large for the memory available";
            return Step::Error;
        }
        stream_.next_in = const_cast<char*>(in);
        stream_.avail_in = Clamp(inSize);
        stream_.next_out = out;
        stream_.avail_out = Clamp(room);
        const unsigned int inBefore = stream_.avail_in, outBefore = stream_.avail_out;
        const int result = BZ2_bzDecompress(&stream_);
        const std::size_t used = inBefore - stream_.avail_in;
        const std::size_t made = outBefore - stream_.avail_out;
        in += used;
        inSize -= used;
        out += made;
        room -= made;
        switch (result) {
            case BZ_OK:
                if (used == 0 && made == 0) {
                    if (ended) {
                        error = "truncated";
                        return Step::Error;
                    }
                    return Step::NeedInput;
                }
                return Step::Continue;
            case BZ_STREAM_END:
                betweenStreams_ = true;
                return Step::Continue;
            case BZ_MEM_ERROR:
                error = "too large for the memory available";
                return Step::Error;
            case BZ_DATA_ERROR_MAGIC:
                error = "corrupt (not bzip2 data)";
                return Step::Error;
            default:
                error = "corrupt (data integrity error)";
                return Step::Error;
        }
    }

private:
    bz_stream stream_{};
    bool ready_ = false;
    bool betweenStreams_ = false;
};

// Concatenated xz streams read as one (liblzma's own option for it).
class XzDecoder : public Decoder {
public:
    XzDecoder() {
        ready_ = lzma_stream_decoder(&stream_, UINT64_MAX, LZMA_CONCATENATED) == LZMA_OK;
    }
    ~XzDecoder() override { lzma_end(&stream_); }
    Step Run(const char*& in, std::size_t& inSize, char*& out, std::size_t& room, bool ended,
             std::string& error) override {
        if (!ready_) {
            error = "too large for the memory available";
            return Step::Error;
        }
        stream_.next_in = reinterpret_cast<const std::uint8_t*>(in);
        stream_.avail_in = inSize;
        stream_.next_out = reinterpret_cast<std::uint8_t*>(out);
        stream_.avail_out = room;
        const lzma_ret result = lzma_code(&stream_, ended ? LZMA_FINISH : LZMA_RUN);
        const std::size_t used = inSize - stream_.avail_in;
        const std::size_t made = room - stream_.avail_out;
        in += used;
        inSize -= used;
        out += made;
        room -= made;
        switch (result) {
            case LZMA_OK:
                if (!ended && used == 0 && made == 0 && inSize == 0) {
                    return Step::NeedInput;
                }
                return Step::Continue;
            case LZMA_STREAM_END:
                return Step::End;
            case LZMA_BUF_ERROR:  // no progress twice over
                if (ended) {
                    error = "truncated";
                    return Step::Error;
                }
                return Step::NeedInput;
            case LZMA_MEM_ERROR:
            case LZMA_MEMLIMIT_ERROR:
                error = "too large for the memory available";
                return Step::Error;
            case LZMA_OPTIONS_ERROR:
                error = "corrupt (unsupported options)";
                return Step::Error;
            default:
                error = "corrupt (data integrity error)";
                return Step::Error;
        }
    }

private:
    lzma_stream stream_ = LZMA_STREAM_INIT;
    bool ready_ = false;
};

// Frames follow each other in one zstd stream; libzstd reads on past the end
// of a frame by itself. Only a frame cut short is an error.
class ZstdDecoder : public Decoder {
public:
    ZstdDecoder() : stream_(ZSTD_createDStream()) {}
    ~ZstdDecoder() override { ZSTD_freeDStream(stream_); }
    Step Run(const char*& in, std::size_t& inSize, char*& out, std::size_t& room, bool ended,
             std::string& error) override {
        if (stream_ == nullptr) {
            error = "too large for the memory available";
            return Step::Error;
        }
        if (inSize == 0 && ended && frameEnded_) {
            return Step::End;
        }
        ZSTD_inBuffer input{in, inSize, 0};
        ZSTD_outBuffer output{out, room, 0};
        const std::size_t result = ZSTD_decompressStream(stream_, &output, &input);
        in += input.pos;
        inSize -= input.pos;
        out += output.pos;
        room -= output.pos;
        if (ZSTD_isError(result)) {
            error = std::string("corrupt (") + ZSTD_getErrorName(result) + ")";
            return Step::Error;
        }
        if (input.pos == 0 && output.pos == 0) {
            if (!ended) {
                return Step::NeedInput;
            }
            if (!frameEnded_) {
                error = "truncated";
                return Step::Error;
            }
            return Step::End;
        }
        // 0 once a frame is complete and all its content handed out; called
        // again with no input it would ask for the next frame's header.
        frameEnded_ = result == 0;
        return Step::Continue;
    }

private:
    ZSTD_DStream* stream_;
    bool frameEnded_ = false;
};

std::unique_ptr<Decoder> MakeDecoder(Compression format) {
    switch (format) {
        case Compression::Gzip:
            return std::make_unique<GzipDecoder>();
        case Compression::Bzip2:
            return std::make_unique<Bzip2Decoder>();
        case Compression::Xz:
            return std::make_unique<XzDecoder>();
        case Compression::Zstd:
            return std::make_unique<ZstdDecoder>();
        case Compression::None:
            break;
    }
    return nullptr;
}

}  // namespace

std::string_view CompressionName(Compression format) {
    switch (format) {
        case Compression::None:
            return "none";
        case Compression::Gzip:
            return "gzip";
        case Compression::Bzip2:
            return "bzip2";
        case Compression::Xz:
            return "xz";
        case Compression::Zstd:
            return "zstd";
    }
    return "none";
}

std::optional<Compression> CompressionFromName(std::string_view name) {
    for (const Compression format : {Compression::None, Compression::Gzip, Compression::Bzip2,
                                     Compression::Xz, Compression::Zstd}) {
        if (name == CompressionName(format)) {
            return format;
        }
    }
    return std::nullopt;
}

Compression CompressionOfContent(std::string_view head) {
    const auto startsWith = [head](std::string_view magic) {
        return head.substr(0, magic.size()) == magic;
    };
    if (startsWith("\x1f\x8b")) {
        return Compression::Gzip;
    }
    if (startsWith("BZh") && head.size() > 3 && head[3] >= '1' && head[3] <= '9') {
        return Compression::Bzip2;
    }
    if (startsWith(std::string_view("\xfd"
                                    "7zXZ\0",
                                    6))) {
        return Compression::Xz;
    }
    if (startsWith("\x28\xb5\x2f\xfd")) {
        return Compression::Zstd;
    }
    return Compression::None;
}

Compression CompressionOfPath(std::string_view path) {
    const auto endsWith = [path](std::string_view suffix) {
        return path.size() > suffix.size() && path.substr(path.size() - suffix.size()) == suffix;
    };
    if (endsWith(".gz")) {
        return Compression::Gzip;
    }
    if (endsWith(".bz2")) {
        return Compression::Bzip2;
    }
    if (endsWith(".xz")) {
        return Compression::Xz;
    }
    if (endsWith(".zst")) {
        return Compression::Zstd;
    }
    return Compression::None;
}

ByteBlock::ByteBlock(ByteBlock&& other) noexcept
    : data(std::move(other.data)),
      size(std::exchange(other.size, 0)),
      capacity(std::exchange(other.capacity, 0)) {}

ByteBlock& ByteBlock::operator=(ByteBlock&& other) noexcept {
    data = std::move(other.data);
    size = std::exchange(other.size, 0);
    capacity = std::exchange(other.capacity, 0);
    return *this;
}

void ByteBlock::Reserve(std::size_t wanted) {
    if (wanted <= capacity) {
        return;
    }
    std::unique_ptr<char[]> larger(new char[wanted]);
    if (size > 0) {
        std::memcpy(larger.get(), data.get(), size);
    }
    data = std::move(larger);
    capacity = wanted;
}

// ---------------------------------------------------------------------------
// Reading

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
        head_.size += static_cast<std::size_t>(count);
        sourceBytes_.fetch_add(static_cast<std::uint64_t>(count), std::memory_order_relaxed);
    }
    format_ = CompressionOfContent(std::string_view(head_.data.get(), head_.size));
    if (format_ == Compression::None) {
        return true;
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

// ---------------------------------------------------------------------------
// Writing

struct CompressingBuffer::Block {
    ByteBlock input;
    ByteBlock output;
    std::string dictionary;  // gzip: the input just before this block's
    std::uint64_t sequence = 0;
    std::uint32_t crc = 0;  // gzip: the check value of input
    bool last = false;
    bool done = false;
};

/// Compresses blocks; one per compression thread.
class CompressingBuffer::Encoder {
public:
    virtual ~Encoder() = default;
    /// Compresses block.input into block.output (empty on the call); the
    /// last block ends the stream. False with a message on failure.
    virtual bool Encode(Block& block, std::string& error) = 0;
};

namespace {

using Block = CompressingBuffer::Block;
using Encoder = CompressingBuffer::Encoder;

// Makes room for more output when the block's output is full.
void MakeRoom(ByteBlock& output) {
    if (output.size == output.capacity) {
        output.Reserve(std::max<std::size_t>(64 * 1024, output.capacity * 2));
    }
}

class CopyEncoder : public Encoder {
public:
    bool Encode(Block& block, std::string&) override {
        std::swap(block.input, block.output);
        return true;
    }
};

// Raw deflate of one block, starting from the previous block's last 32 KiB,
// ended by a sync flush so that the next block's data follows on a byte
// boundary. The gzip header and trailer are written around the blocks.
class GzipBlockEncoder : public Encoder {
public:
    explicit GzipBlockEncoder(bool& ready) {
        ready = deflateInit2(&stream_, gzipLevel, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) ==
                Z_OK;
        ready_ = ready;
    }
    ~GzipBlockEncoder() override {
        if (ready_) {
            deflateEnd(&stream_);
        }
    }
    bool Encode(Block& block, std::string& error) override {
        deflateReset(&stream_);
        if (!block.dictionary.empty()) {
            deflateSetDictionary(&stream_, reinterpret_cast<const Bytef*>(block.dictionary.data()),
                                 Clamp(block.dictionary.size()));
        }
        const uInt size = Clamp(block.input.size);
        const auto* input = reinterpret_cast<const Bytef*>(block.input.data.get());
        block.crc = static_cast<std::uint32_t>(crc32(crc32(0, nullptr, 0), input, size));
        block.output.Reserve(deflateBound(&stream_, size) + 16);
        stream_.next_in = const_cast<Bytef*>(input);
        stream_.avail_in = size;
        const int flush = block.last ? Z_FINISH : Z_SYNC_FLUSH;
        for (;;) {
            MakeRoom(block.output);
            stream_.next_out =
                reinterpret_cast<Bytef*>(block.output.data.get() + block.output.size);
            stream_.avail_out = Clamp(block.output.capacity - block.output.size);
            const uInt room = stream_.avail_out;
            const int result = deflate(&stream_, flush);
            block.output.size += room - stream_.avail_out;
            if (result == Z_STREAM_END) {
                return true;
            }
            if (result != Z_OK && result != Z_BUF_ERROR) {
                error = stream_.msg ? stream_.msg : "deflate failed";
                return false;
            }
            if (flush == Z_SYNC_FLUSH && stream_.avail_in == 0 && stream_.avail_out > 0) {
                return true;
            }
        }
    }

private:
    z_stream stream_{};
    bool ready_ = false;
};

// Each block a bzip2 stream of its own.
class Bzip2BlockEncoder : public Encoder {
public:
    bool Encode(Block& block, std::string& error) override {
        const std::size_t bound = block.input.size + block.input.size / 100 + 600;
        block.output.Reserve(bound);
        auto length = Clamp(bound);
        const int result =
            BZ2_bzBuffToBuffCompress(block.output.data.get(), &length, block.input.data.get(),
                                     Clamp(block.input.size), bzip2Level, 0, 0);
        if (result != BZ_OK) {
            error = result == BZ_MEM_ERROR ? "out of memory" : "libbz2 error";
            return false;
        }
        block.output.size = length;
        return true;
    }
};

// One zstd frame over the whole stream, compressed by libzstd's own worker
// threads where there is more than one processor.
class ZstdEncoder : public Encoder {
public:
    explicit ZstdEncoder(bool& ready) : context_(ZSTD_createCCtx()) {
        ready =
            context_ != nullptr &&
            !ZSTD_isError(ZSTD_CCtx_setParameter(context_, ZSTD_c_compressionLevel, zstdLevel)) &&
            !ZSTD_isError(ZSTD_CCtx_setParameter(context_, ZSTD_c_checksumFlag, 1));
        if (ready && Processors() > 1) {
            // Fails harmlessly where libzstd was built without threads.
            ZSTD_CCtx_setParameter(context_, ZSTD_c_nbWorkers, static_cast<int>(Processors()));
        }
    }
    ~ZstdEncoder() override { ZSTD_freeCCtx(context_); }
    bool Encode(Block& block, std::string& error) override {
        ZSTD_inBuffer input{block.input.data.get(), block.input.size, 0};
        const ZSTD_EndDirective mode = block.last ? ZSTD_e_end : ZSTD_e_continue;
        block.output.Reserve(ZSTD_CStreamOutSize());
        for (;;) {
            MakeRoom(block.output);
            ZSTD_outBuffer output{block.output.data.get() + block.output.size,
                                  block.output.capacity - block.output.size, 0};
            const std::size_t result = ZSTD_compressStream2(context_, &output, &input, mode);
            block.output.size += output.pos;
            if (ZSTD_isError(result)) {
                error = ZSTD_getErrorName(result);
                return false;
            }
            if (block.last ? result == 0 : input.pos == input.size) {
                return true;
            }
        }
    }

private:
    ZSTD_CCtx* context_;
};

// One xz stream, with liblzma's multi-threaded encoder where there is more
// than one processor.
class XzEncoder : public Encoder {
public:
    explicit XzEncoder(bool& ready) {
        lzma_mt options{};
        options.threads = Processors();
        options.preset = xzPreset;
        options.check = LZMA_CHECK_CRC64;
        ready = (options.threads > 1
                     ? lzma_stream_encoder_mt(&stream_, &options)
                     : lzma_easy_encoder(&stream_, xzPreset, LZMA_CHECK_CRC64)) == LZMA_OK;
    }
    ~XzEncoder() override { lzma_end(&stream_); }
    bool Encode(Block& block, std::string& error) override {
        stream_.next_in = reinterpret_cast<const std::uint8_t*>(block.input.data.get());
        stream_.avail_in = block.input.size;
        const lzma_action action = block.last ? LZMA_FINISH : LZMA_RUN;
        for (;;) {
            MakeRoom(block.output);
            stream_.next_out =
                reinterpret_cast<std::uint8_t*>(block.output.data.get() + block.output.size);
            stream_.avail_out = block.output.capacity - block.output.size;
            const std::size_t room = stream_.avail_out;
            const lzma_ret result = lzma_code(&stream_, action);
            block.output.size += room - stream_.avail_out;
            if (result == LZMA_STREAM_END) {
                return true;
            }
            if (result != LZMA_OK) {
                error = result == LZMA_MEM_ERROR ? "out of memory" : "liblzma error";
                return false;
            }
            if (!block.last && stream_.avail_in == 0) {
                return true;
            }
        }
    }

private:
    lzma_stream stream_ = LZMA_STREAM_INIT;
};

std::unique_ptr<Encoder> MakeEncoder(Compression format) {
    bool ready = true;
    std::unique_ptr<Encoder> encoder;
    switch (format) {
        case Compression::None:
            encoder = std::make_unique<CopyEncoder>();
            break;
        case Compression::Gzip:
            encoder = std::make_unique<GzipBlockEncoder>(ready);
            break;
        case Compression::Bzip2:
            encoder = std::make_unique<Bzip2BlockEncoder>();
            break;
        case Compression::Xz:
            encoder = std::make_unique<XzEncoder>(ready);
            break;
        case Compression::Zstd:
            encoder = std::make_unique<ZstdEncoder>(ready);
            break;
    }
    return ready ? std::move(encoder) : nullptr;
}

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
