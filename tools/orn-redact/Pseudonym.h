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
/// the environment variable ORN_REDACT_KEY. False with an error when there is
/// none, it is empty, or the file cannot be read. warning is set when the
/// file can be read by users other than its owner. The key is never put into
/// error or warning.
bool ReadKey(const std::optional<std::string>& keyFile, std::string& key, std::string& warning,
             std::string& error);

/// Writes keyed pseudonyms: HMAC-SHA-256 of a value under a secret key, as a
/// prefix and the first characters of the hash in lower-case base32 or hex.
/// The same key and value give the same token on every thread and run.
class Pseudonymizer {
public:
    Pseudonymizer(std::string_view key, PseudonymSettings settings);
    ~Pseudonymizer();
    Pseudonymizer(const Pseudonymizer&) = delete;
    Pseudonymizer& operator=(const Pseudonymizer&) = delete;

    /// HMAC-SHA-256 of value under the key.
    std::array<unsigned char, 32> Mac(std::string_view value) const;
    /// prefix + length characters of the encoded Mac(value).
    std::string Token(std::string_view value) const;

private:
    struct Impl;
    Impl* impl_;
    PseudonymSettings settings_;
};

/// The most characters a pseudonym of this alphabet can have (52 for base32,
/// 64 for hex).
std::size_t MaxPseudonymLength(Alphabet alphabet);

}  // namespace qiv::redact
