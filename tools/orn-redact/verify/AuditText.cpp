#include "AuditText.h"

#include "Markup.h"

namespace qiv::redact::audit {

bool IsName(std::string_view text) {
    if (text.empty() || !classes.Is(text[0], nameStart)) {
        return false;
    }
    for (const char character : text) {
        if (!classes.Is(character, nameCharacter)) {
            return false;
        }
    }
    return true;
}

bool HasHighBytes(std::string_view text) {
    for (const char character : text) {
        if (static_cast<unsigned char>(character) >= 0x80) {
            return true;
        }
    }
    return false;
}

void Latin1ToUtf8(std::string_view text, std::string& out) {
    out.clear();
    for (const char character : text) {
        const auto byte = static_cast<unsigned char>(character);
        if (byte < 0x80) {
            out += character;
        } else {
            out += static_cast<char>(0xC0 | byte >> 6);
            out += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
}

namespace {

void AppendUtf8(std::uint32_t code, std::string& out) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | code >> 6);
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | code >> 12);
        out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | code >> 18);
        out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

}  // namespace

std::size_t CharacterReference(std::string_view reference, std::uint32_t& code) {
    std::size_t at = 1;
    const bool hex = reference.size() > 1 && reference[1] == 'x';
    at += hex ? 1 : 0;
    const std::size_t digits = at;
    code = 0;
    for (; at < reference.size() && reference[at] != ';'; ++at) {
        const char character = reference[at];
        std::uint32_t digit;
        if (character >= '0' && character <= '9') {
            digit = static_cast<std::uint32_t>(character - '0');
        } else if (hex && ((character | 0x20) >= 'a' && (character | 0x20) <= 'f')) {
            digit = static_cast<std::uint32_t>((character | 0x20) - 'a' + 10);
        } else {
            return 0;
        }
        code = code * (hex ? 16 : 10) + digit;
        if (code > 0x10FFFF) {
            return 0;
        }
    }
    return at > digits && at < reference.size() && code != 0 ? at : 0;
}

void ResolveReferences(std::string_view text, std::string& out) {
    out.clear();
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t amp = text.find('&', at);
        out.append(text.substr(at, amp == none ? none : amp - at));
        if (amp == none) {
            break;
        }
        const std::size_t semicolon = text.find(';', amp);
        const std::string_view name =
            text.substr(amp + 1, semicolon == none ? 0 : semicolon - amp - 1);
        std::uint32_t code = 0;
        if (name == "lt") {
            out += '<';
        } else if (name == "gt") {
            out += '>';
        } else if (name == "amp") {
            out += '&';
        } else if (name == "apos") {
            out += '\'';
        } else if (name == "quot") {
            out += '"';
        } else if (!name.empty() && name[0] == '#' &&
                   CharacterReference(text.substr(amp + 1), code) != 0) {
            AppendUtf8(code, out);
        } else {
            out += '&';
            at = amp + 1;
            continue;
        }
        at = semicolon + 1;
    }
}

}  // namespace qiv::redact::audit
