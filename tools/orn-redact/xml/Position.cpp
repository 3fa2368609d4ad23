#include "Position.h"

#include <cstring>

namespace qiv::redact {

TextPosition PositionOf(std::string_view text, std::size_t offset) {
    TextPosition position;
    const std::size_t end = offset < text.size() ? offset : text.size();
    for (std::size_t index = 0; index < end; ++index) {
        const auto byte = static_cast<unsigned char>(text[index]);
        if (byte == '\n') {
            ++position.line;
            position.column = 1;
        } else if ((byte & 0xC0) != 0x80) {
            ++position.column;  // continuation bytes belong to the character before
        }
    }
    return position;
}

namespace {

constexpr std::uint64_t Ones = 0x0101010101010101ull;
constexpr std::uint64_t High = 0x8080808080808080ull;

std::uint64_t Word(const char* at) {
    std::uint64_t word;
    std::memcpy(&word, at, sizeof word);
    return word;
}

// How many bytes of a word with bits only at the bytes' high bits have it
// set: the bytes become 0 or 1, and one multiplication adds them up (without
// a population count instruction, which not every target has).
unsigned int CountHighBits(std::uint64_t marks) {
    return static_cast<unsigned int>(((marks >> 7) * Ones) >> 56);
}

// Bytes of the word equal to byte (exactly: no carries between bytes).
unsigned int CountEqual(std::uint64_t word, unsigned char byte) {
    const std::uint64_t x = word ^ (Ones * byte);
    const std::uint64_t nonzero = ((x & ~High) + ~High) | x;
    return CountHighBits(~nonzero & High);
}

// UTF-8 continuation bytes (10xxxxxx) in the word.
unsigned int CountContinuations(std::uint64_t word) {
    return CountHighBits(word & ~(word << 1) & High);
}

}  // namespace

TextPosition EndOf(std::string_view text) {
    const char* const data = text.data();
    std::size_t lineStart = 0;
    std::size_t lines = 0;
    std::size_t index = 0;
    for (; index + 8 <= text.size(); index += 8) {
        lines += CountEqual(Word(data + index), '\n');
    }
    for (; index < text.size(); ++index) {
        lines += data[index] == '\n' ? 1 : 0;
    }
    if (lines > 0) {
        lineStart = text.rfind('\n') + 1;
    }
    std::size_t continuations = 0;
    for (index = lineStart; index + 8 <= text.size(); index += 8) {
        continuations += CountContinuations(Word(data + index));
    }
    for (; index < text.size(); ++index) {
        continuations += (static_cast<unsigned char>(data[index]) & 0xC0) == 0x80 ? 1 : 0;
    }
    return {1 + lines, 1 + (text.size() - lineStart) - continuations};
}

TextPosition Advance(TextPosition start, std::string_view text, std::size_t offset) {
    return Advance(start, PositionOf(text, offset));
}

TextPosition Advance(TextPosition start, const TextPosition& within) {
    if (within.line == 1) {
        start.column += within.column - 1;
        return start;
    }
    return {start.line + within.line - 1, within.column};
}

std::string At(const TextPosition& position, std::uint64_t offset) {
    return " at line " + std::to_string(position.line) + ", column " +
           std::to_string(position.column) + " (offset " + std::to_string(offset) + ")";
}

std::string At(std::string_view text, std::size_t offset) {
    return At(PositionOf(text, offset), offset);
}

}  // namespace qiv::redact
