#pragma once

// The bytes of names and values as the audit of the output reads them.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "Characters.h"

namespace qiv::redact::audit {

// What each byte can be, looked up once per byte of every name and value.
enum : unsigned char { blank = 1, nameStart = 2, nameCharacter = 4 };
struct ByteClasses {
    unsigned char of[256] = {};
    constexpr ByteClasses() {
        for (int byte = 0; byte < 256; ++byte) {
            const bool start = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
                               byte == '_' || byte == ':' || byte >= 0x80;
            const bool inside = start || (byte >= '0' && byte <= '9') || byte == '-' || byte == '.';
            of[byte] =
                static_cast<unsigned char>((IsBlank(static_cast<char>(byte)) ? blank : 0) |
                                           (start ? nameStart : 0) | (inside ? nameCharacter : 0));
        }
    }
    bool Is(char character, unsigned char what) const {
        return (of[static_cast<unsigned char>(character)] & what) != 0;
    }
};
inline constexpr ByteClasses classes;

inline bool IsSpace(char character) { return classes.Is(character, blank); }

/// Whether text is an XML name (ASCII rules; any byte from 0x80 counts as a
/// name character).
bool IsName(std::string_view text);

bool HasHighBytes(std::string_view text);

/// Latin-1 bytes in UTF-8.
void Latin1ToUtf8(std::string_view text, std::string& out);

/// The length of the character reference "#..." or "#x..." that starts
/// reference (after its '&'), up to its ';'; 0 when it is not one. code is
/// its character.
std::size_t CharacterReference(std::string_view reference, std::uint32_t& code);

/// text with its references resolved: the five the language defines and
/// character references; others (declared entities) stay as they are.
void ResolveReferences(std::string_view text, std::string& out);

}  // namespace qiv::redact::audit
