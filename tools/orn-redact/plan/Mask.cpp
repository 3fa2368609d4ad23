#include "Mask.h"

#include <algorithm>

namespace qiv::redact {

namespace {

bool IsContinuation(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

// Bytes in the character that starts at text[at]: 1 to 4 for a well-formed
// UTF-8 sequence, else 1. A lead byte without its continuation bytes, a stray
// continuation byte, an overlong form, a surrogate and a code point above
// U+10FFFF are each taken a byte at a time, so that every byte belongs to
// exactly one character and nothing is read past the end.
std::size_t SequenceLength(std::string_view text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80) {
        return 1;
    }
    // The second byte's range is narrower than a continuation byte's after
    // the lead bytes that could otherwise start an overlong form, a surrogate
    // or a code point past U+10FFFF.
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : low;
        high = lead == 0xED ? 0x9F : high;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : low;
        high = lead == 0xF4 ? 0x8F : high;
    } else {
        return 1;
    }
    if (text.size() - at < length) {
        return 1;
    }
    const auto second = static_cast<unsigned char>(text[at + 1]);
    if (second < low || second > high) {
        return 1;
    }
    for (std::size_t next = 2; next < length; ++next) {
        if (!IsContinuation(text[at + next])) {
            return 1;
        }
    }
    return length;
}

bool IsSeparator(char byte) { return byte == '-' || byte == ' ' || byte == '@' || byte == '.'; }

}  // namespace

std::string Masked(std::string_view value, const MaskSettings& settings) {
    // ASCII values (the usual ids, numbers and addresses): a character is a
    // byte, and without separators to keep the masked run is written at once.
    bool ascii = true;
    for (const char byte : value) {
        ascii = ascii && static_cast<unsigned char>(byte) < 0x80;
    }
    if (ascii && !settings.keepSeparators && settings.character.size() == 1) {
        const std::size_t count = value.size();
        if (settings.keepFirst >= count || settings.keepLast >= count - settings.keepFirst) {
            return std::string(value);
        }
        std::string out(value);
        std::fill(out.begin() + static_cast<std::ptrdiff_t>(settings.keepFirst),
                  out.end() - static_cast<std::ptrdiff_t>(settings.keepLast),
                  settings.character[0]);
        return out;
    }
    // The characters are counted first: which ones are the last keepLast is
    // known only at the end. Where the first keepFirst end is noted on the way.
    std::size_t count = 0;
    std::size_t keptStart = 0;
    for (std::size_t at = 0; at < value.size(); at += SequenceLength(value, at)) {
        if (count == settings.keepFirst) {
            keptStart = at;
        }
        ++count;
    }
    // Written so that huge counts from a rules file cannot overflow.
    if (settings.keepFirst >= count || settings.keepLast >= count - settings.keepFirst) {
        return std::string(value);
    }
    const std::size_t masked = count - settings.keepFirst - settings.keepLast;

    std::string out;
    // Enough for the kept bytes and one mask character per masked character.
    out.reserve(value.size() + masked * settings.character.size());
    out.append(value.substr(0, keptStart));
    std::size_t at = keptStart;
    // A one-byte mask character (the usual '*') is written without a call.
    const bool oneByte = settings.character.size() == 1;
    const char byte = oneByte ? settings.character[0] : '\0';
    for (std::size_t index = 0; index < masked; ++index) {
        if (settings.keepSeparators && IsSeparator(value[at])) {
            out.push_back(value[at]);
            ++at;
            continue;
        }
        if (oneByte) {
            out.push_back(byte);
        } else {
            out.append(settings.character);
        }
        at += static_cast<unsigned char>(value[at]) < 0x80 ? 1 : SequenceLength(value, at);
    }
    out.append(value.substr(at));
    return out;
}

bool IsOneCharacter(std::string_view text) {
    if (text.size() == 1) {
        return static_cast<unsigned char>(text[0]) < 0x80;
    }
    // Longer than one byte: exactly one well-formed multi-byte sequence.
    return !text.empty() && SequenceLength(text, 0) == text.size();
}

}  // namespace qiv::redact
