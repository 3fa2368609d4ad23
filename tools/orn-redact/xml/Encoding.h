#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qiv::redact {

/// The encoding pugixml converts the input from ("UTF-16LE", "Latin-1", ...),
/// or empty when it parses the bytes as they are, so that positions in the
/// parsed document are positions in the input.
std::string ConvertedEncoding(std::string_view source);

/// Whether text equals lower (written in lower case) but for the case of ASCII
/// letters.
bool EqualsIgnoringCase(std::string_view text, std::string_view lower);

/// The encoding named in source's leading XML declaration, as written there
/// (empty without one).
std::string_view DeclaredEncoding(std::string_view source);

/// The size of the code unit of the encoding the parser reads source in: 2
/// for UTF-16, 4 for UTF-32, else 1.
std::size_t CodeUnit(std::string_view source);

}  // namespace qiv::redact
