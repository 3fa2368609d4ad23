#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "DataParserIF.h"

namespace qiv::redact {

/// Line and column (both from 1) of a character offset into a text; the
/// column counts UTF-8 characters, not bytes.
struct TextPosition {
    std::size_t line = 1;
    std::size_t column = 1;
};
TextPosition PositionOf(std::string_view text, std::size_t offset);

/// Loads the document from the file at path, or from standard input when
/// there is none, and keeps the bytes that were parsed in source. On failure
/// returns false and a message for the user: a plain one for a file that
/// cannot be read, or the parse status, its description and the line and
/// column where parsing stopped.
bool LoadDocument(DataParserIF& parser, const std::optional<std::string>& path, std::string& source,
                  std::string& error);

}  // namespace qiv::redact
