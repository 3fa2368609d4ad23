#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "Rules.h"

namespace qiv::redact {

/// The environment variable that may hold the pseudonym key.
constexpr const char* keyVariable = "ORN_REDACT_KEY";

/// Reads the secret key for pseudonyms: from keyFile when given, else from
/// the environment variable ORN_REDACT_KEY. The file's bytes are the key, less
/// one line end ("\n" or "\r\n") at the end, so that a key written by
/// `openssl rand -hex 32 > FILE` or an editor is the same key as the text
/// alone; the variable is taken as it is. False with an error when there is
/// none, it is empty, the file cannot be read or is larger than 64 KiB (then
/// it is no key file). warning is set when the file can be read by users other
/// than its owner, else cleared; key is empty after a failure. The key is
/// never put into error or warning.
bool ReadKey(const std::optional<std::string>& keyFile, std::string& key, std::string& warning,
             std::string& error);

/// Writes keyed pseudonyms: HMAC-SHA-256 of a value under a secret key, as a
/// prefix and the first characters of the hash in lower-case base32 or hex.
/// The same key and value give the same token on every thread and run; Mac and
/// Token may be called from many threads at once. A length above
/// MaxPseudonymLength(alphabet) is taken as that maximum. Throws
/// std::runtime_error when OpenSSL cannot set up HMAC-SHA-256.
class Pseudonymizer {
public:
    Pseudonymizer(std::string_view key, PseudonymSettings settings);
    ~Pseudonymizer();
    Pseudonymizer(const Pseudonymizer&) = delete;
    Pseudonymizer& operator=(const Pseudonymizer&) = delete;

    /// HMAC-SHA-256 of value under the key.
    std::array<unsigned char, 32> Mac(std::string_view value) const;
    /// prefix + length characters of the encoded Mac(value); value is taken
    /// byte for byte, with no trimming.
    std::string Token(std::string_view value) const;
    /// Token(value), appended to out.
    void AppendToken(std::string_view value, std::string& out) const;

private:
    struct Impl;
    Impl* impl_;
    PseudonymSettings settings_;
};

/// The most characters a pseudonym of this alphabet can have (52 for base32,
/// 64 for hex).
std::size_t MaxPseudonymLength(Alphabet alphabet);

}  // namespace qiv::redact
