#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace qiv::redact {

/// SHA-256 of a stream of bytes, fed in pieces.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void Update(const void* data, std::size_t size);
    /// The digest in lower-case hex; the object cannot be fed afterwards
    /// (Update throws std::logic_error), and the same digest is returned again.
    std::string HexDigest();
    /// How many bytes were fed.
    std::size_t Bytes() const { return bytes_; }

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::size_t bytes_ = 0;
};

}  // namespace qiv::redact
