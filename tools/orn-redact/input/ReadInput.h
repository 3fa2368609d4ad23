#pragma once

#include <cstdint>
#include <string>

#include "ByteSource.h"
#include "Compression.h"
#include "DocumentInput.h"
#include "Plan.h"

namespace qiv::redact {

// Reads the input through a ByteReader: decompressed when it is compressed.
class ReaderSource : public ByteSource {
public:
    ReaderSource(int descriptor, const std::string& name) : reader_(descriptor, name) {}
    bool Read(char* buffer, std::size_t capacity, std::size_t& got) override {
        return reader_.Read(buffer, capacity, got);
    }
    const std::string& Error() const override { return reader_.Error(); }
    std::uint64_t SourceBytes() const override { return reader_.SourceBytes(); }
    Compression Format() { return reader_.Format(); }

private:
    ByteReader reader_;
};

/// Appends the rest of source to text; false with a message on failure.
bool ReadRest(ByteSource& source, std::string& text, const MessageSink& message);

/// A compressed input for the whole-document route: its content is read (and
/// decompressed) whole, as the parser cannot read the compressed bytes.
/// Nothing is done to an uncompressed one. False with a message on failure.
bool Decompress(const std::optional<std::string>& path, InputDocument& input, Compression& format,
                const MessageSink& message);

/// The SHA-256 and size of a file's bytes as they are on disk.
bool DigestFile(const std::string& path, std::string& digest, std::uint64_t& bytes);

/// Parses the kept bytes again, after the document was freed.
bool LoadAgain(DataParserIF& parser, InputDocument& input, std::string& error);

}  // namespace qiv::redact
