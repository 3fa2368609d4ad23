#include "CodecParts.h"

#include <bzlib.h>
#include <lzma.h>
#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <cstring>

namespace qiv::redact::codec {

namespace {

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

}  // namespace

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

}  // namespace qiv::redact::codec
