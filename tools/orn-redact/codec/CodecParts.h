#pragma once

// What the decompressing reader, the compressing writer and the formats'
// decoders and encoders share inside this folder.
//
// The four formats' own libraries are used directly rather than one library
// over all of them: each is then driven in the way that is fastest for it
// (gzip compressed in blocks on several threads, zstd and xz with their own
// worker threads, no extra copy between layers), and zlib, libbz2 and liblzma
// are on every Debian system already.

#include "Compression.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace qiv::redact {

namespace codec {

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

/// The decoder for format, or nothing for Compression::None.
std::unique_ptr<Decoder> MakeDecoder(Compression format);

// zlib's and libbz2's counters are 32 bits; blocks here are far smaller, but
// stay safe.
inline unsigned int Clamp(std::size_t size) {
    return static_cast<unsigned int>(std::min<std::size_t>(size, UINT_MAX));
}

/// Threads that compress at once: the processors available, at least one and
/// at most a few.
unsigned int Processors();

}  // namespace codec

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

namespace codec {

/// The encoder for format (CopyEncoder for Compression::None), or nothing
/// when its library cannot start.
std::unique_ptr<CompressingBuffer::Encoder> MakeEncoder(Compression format);

}  // namespace codec

}  // namespace qiv::redact
