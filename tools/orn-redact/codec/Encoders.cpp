#include "CodecParts.h"
#include "Processors.h"

#include <bzlib.h>
#include <lzma.h>
#include <zlib.h>
#include <zstd.h>

#include <algorithm>

namespace qiv::redact::codec {

namespace {

// Compression levels, chosen for speed: documents of gigabytes are written
// compressed, and the fastest levels of gzip and zstd lose little on XML.
// bzip2 and xz keep their tools' defaults: whoever picks them wants small
// output more than speed.
constexpr int gzipLevel = 1;
constexpr int zstdLevel = 1;
constexpr int bzip2Level = 9;
constexpr std::uint32_t xzPreset = LZMA_PRESET_DEFAULT;

// Threads that compress at once (blocks apart, or libzstd's and liblzma's
// workers): more would outrun the one thread that writes the content, and
// each xz thread takes about 100 MB.
constexpr unsigned int maximumThreads = 4;

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

}  // namespace

unsigned int Processors() { return std::clamp(AvailableProcessors(), 1u, maximumThreads); }

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

}  // namespace qiv::redact::codec
