#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "ByteSource.h"
#include "Compression.h"
#include "Digest.h"
#include "DocumentInput.h"
#include "Plan.h"

namespace qiv::redact {

class InputDigest;

// Reads the input through a ByteReader: decompressed when it is compressed.
class ReaderSource : public ByteSource {
public:
    /// digest, when given, is fed with the descriptor's bytes as they are read.
    ReaderSource(int descriptor, const std::string& name, Sha256* digest = nullptr)
        : reader_(descriptor, name) {
        reader_.DigestInto(digest);
    }
    bool Read(char* buffer, std::size_t capacity, std::size_t& got) override {
        return reader_.Read(buffer, capacity, got);
    }
    const std::string& Error() const override { return reader_.Error(); }
    std::uint64_t SourceBytes() const override { return reader_.SourceBytes(); }
    Compression Format() { return reader_.Format(); }

private:
    ByteReader reader_;
};

/// Appends the rest of source (named name in messages) to text; false with a
/// message on failure, or when text and what follows cannot begin a
/// document (found within the first few KiB).
bool ReadRest(ByteSource& source, const std::string& name, std::string& text,
              const MessageSink& message);

/// A compressed input for the whole-document route: its content is read (and
/// decompressed) whole, as the parser cannot read the compressed bytes.
/// Nothing is done to an uncompressed one. False with a message on failure.
bool Decompress(const std::optional<std::string>& path, InputDocument& input, Compression& format,
                InputDigest& digest, const MessageSink& message);

/// The SHA-256 and size of a file's bytes as they are on disk.
bool DigestFile(const std::string& path, std::string& digest, std::uint64_t& bytes);

/// The SHA-256 of an input file's bytes (for the JSON report), taken from the
/// bytes as a route reads them where it can, so that the file is read once;
/// read from the file only where no route read it whole as it is on disk.
class InputDigest {
public:
    InputDigest(bool wanted, const std::optional<std::string>& path);
    /// To be fed with the file's bytes as they are read from its start; null
    /// when no digest is wanted or it is taken already.
    Sha256* Reading() { return reading_ ? &*reading_ : nullptr; }
    /// What was fed so far is not all of the file from its start.
    void Restart();
    /// Everything was read: the digest is what was fed, when that was size
    /// bytes (a file's size; none for a pipe or device, whose bytes are what
    /// was read).
    void ReadWhole(std::optional<std::uint64_t> size);
    /// source holds the file's bytes as they are on disk.
    void FromBytes(std::string_view source);
    /// Reads the file for its digest when it was not taken yet; call it
    /// before the file can be replaced.
    void Ensure();
    bool Taken() const { return taken_; }
    const std::string& Hex() const { return hex_; }
    std::uint64_t Bytes() const { return bytes_; }

private:
    std::optional<std::string> path_;  // none: nothing wanted
    std::optional<Sha256> reading_;
    bool taken_ = false;
    std::string hex_;
    std::uint64_t bytes_ = 0;
};

/// Parses the kept bytes again, after the document was freed.
bool LoadAgain(DataParserIF& parser, InputDocument& input, std::string& error);

}  // namespace qiv::redact
