#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qiv::redact {

/// Bytes read front to back: a file, a pipe, or a decompressed stream.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    /// Fills buffer with up to capacity bytes; got = 0 at the end. False on a
    /// failure, with Error() saying what failed.
    virtual bool Read(char* buffer, std::size_t capacity, std::size_t& got) = 0;
    virtual const std::string& Error() const = 0;
    /// Bytes taken from the underlying file so far (compressed bytes for a
    /// compressed one); may be called from another thread.
    virtual std::uint64_t SourceBytes() const = 0;
};

/// Reads a text in memory (for tests), in pieces of at most piece bytes.
class TextSource : public ByteSource {
public:
    explicit TextSource(std::string_view text, std::size_t piece = 1 << 16)
        : text_(text), piece_(piece) {}
    bool Read(char* buffer, std::size_t capacity, std::size_t& got) override;
    const std::string& Error() const override { return error_; }
    std::uint64_t SourceBytes() const override { return at_; }

private:
    std::string_view text_;
    std::size_t piece_;
    std::size_t at_ = 0;
    std::string error_;
};

}  // namespace qiv::redact
