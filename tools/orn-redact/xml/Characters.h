#pragma once

#include <cstddef>
#include <string_view>

namespace qiv::redact {

/// XML's white space: space, tab, carriage return and line feed.
constexpr bool IsBlank(char character) {
    return character == ' ' || character == '\t' || character == '\r' || character == '\n';
}

/// A byte that may stand in an XML name as pugixml reads names: ASCII
/// letters and digits, '_', ':', '-', '.', and any byte of a multi-byte
/// UTF-8 character.
constexpr bool IsNameCharacter(unsigned char character) {
    return (character >= 'a' && character <= 'z') || (character >= 'A' && character <= 'Z') ||
           (character >= '0' && character <= '9') || character == '_' || character == ':' ||
           character == '-' || character == '.' || character >= 0x80;
}

/// Where text starts and ends once its leading and trailing blanks are left
/// out: [begin, end).
struct BlankTrim {
    std::size_t begin;
    std::size_t end;
};
constexpr BlankTrim TrimBlanks(std::string_view text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && IsBlank(text[begin])) {
        ++begin;
    }
    while (end > begin && IsBlank(text[end - 1])) {
        --end;
    }
    return {begin, end};
}

}  // namespace qiv::redact
