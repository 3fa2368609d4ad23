#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qiv::bench {

/// Builds a well-formed XML document of about targetBytes bytes: a root
/// element holding <record> elements with names, e-mail addresses, identity
/// numbers, postal addresses, mixed-content notes, CDATA, comments and
/// attributes. The output depends only on targetBytes and seed, on every
/// platform, and never contains the word "redacted".
std::string GenerateDocument(std::size_t targetBytes, std::uint32_t seed = 1);

/// Number of <record> elements in a document made by GenerateDocument.
std::size_t CountRecords(const std::string& document);

}  // namespace qiv::bench
