#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qiv::redact {

/// Line and column (both from 1) of a character offset into a text; the
/// column counts UTF-8 characters, not bytes.
struct TextPosition {
    std::size_t line = 1;
    std::size_t column = 1;
};
TextPosition PositionOf(std::string_view text, std::size_t offset);

/// PositionOf(text, text.size()), a word at a time: for long texts whose
/// end may be needed in a message later.
TextPosition EndOf(std::string_view text);

/// Where a place lies that is at within from a text that starts at start.
TextPosition Advance(TextPosition start, const TextPosition& within);

/// Where offset into text lies, given the position at which text starts.
TextPosition Advance(TextPosition start, std::string_view text, std::size_t offset);

/// " at line L, column C (offset O)": every message that names a place in a
/// document says it this way.
std::string At(const TextPosition& position, std::uint64_t offset);

/// The same, with the position counted in text up to offset.
std::string At(std::string_view text, std::size_t offset);

}  // namespace qiv::redact
