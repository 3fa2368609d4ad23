#include "Encoding.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <initializer_list>
#include <iterator>
#include <utility>

#include "Characters.h"

namespace qiv::redact {

namespace {

// The characters of bytes 0x80 to 0xFF in an 8-bit charset (in Latin-1,
// byte and code point are equal). The five bytes windows-1252 leaves
// unassigned stand for the code points of the same value, so that any byte
// reads as a character and is written back as the same byte.
using HighHalf = std::array<char32_t, 128>;

HighHalf Latin1High() {
    HighHalf high{};
    for (std::size_t index = 0; index < high.size(); ++index) {
        high[index] = static_cast<char32_t>(0x80 + index);
    }
    return high;
}

const HighHalf& Windows1252High() {
    static const HighHalf high = [] {
        HighHalf table = Latin1High();
        const char32_t controls[32] = {
            0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
            0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
            0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
        std::copy(std::begin(controls), std::end(controls), table.begin());
        return table;
    }();
    return high;
}

const HighHalf& Latin9High() {
    static const HighHalf high = [] {
        HighHalf table = Latin1High();
        table[0xA4 - 0x80] = 0x20AC;
        table[0xA6 - 0x80] = 0x0160;
        table[0xA8 - 0x80] = 0x0161;
        table[0xB4 - 0x80] = 0x017D;
        table[0xB8 - 0x80] = 0x017E;
        table[0xBC - 0x80] = 0x0152;
        table[0xBD - 0x80] = 0x0153;
        table[0xBE - 0x80] = 0x0178;
        return table;
    }();
    return high;
}

// The byte that stands for character in charset, or -1 when it has none.
int ByteOf(char32_t character, Charset charset) {
    if (character < 0x80) {
        return static_cast<int>(character);
    }
    switch (charset) {
        case Charset::Utf8:
        case Charset::Ascii:
            return -1;
        case Charset::Latin1:
            return character <= 0xFF ? static_cast<int>(character) : -1;
        case Charset::Windows1252:
        case Charset::Latin9: {
            const HighHalf& high = charset == Charset::Latin9 ? Latin9High() : Windows1252High();
            // Most characters stand where Latin-1 has them.
            if (character <= 0xFF && high[character - 0x80] == character) {
                return static_cast<int>(character);
            }
            const auto found = std::find(high.begin(), high.end(), character);
            return found == high.end() ? -1 : static_cast<int>(0x80 + (found - high.begin()));
        }
    }
    return -1;
}

void AppendCodePoint(std::string& out, char32_t character) {
    if (character < 0x80) {
        out += static_cast<char>(character);
    } else if (character < 0x800) {
        out += static_cast<char>(0xC0 | (character >> 6));
        out += static_cast<char>(0x80 | (character & 0x3F));
    } else if (character < 0x10000) {
        out += static_cast<char>(0xE0 | (character >> 12));
        out += static_cast<char>(0x80 | ((character >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (character & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (character >> 18));
        out += static_cast<char>(0x80 | ((character >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((character >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (character & 0x3F));
    }
}

// The well-formed UTF-8 sequence at text[at]: its code point and length, or
// length 0 when there is none (overlong forms and surrogates are not).
std::pair<char32_t, std::size_t> DecodeAt(std::string_view text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t length = lead < 0x80   ? 1
                         : lead < 0xC2 ? 0
                         : lead < 0xE0 ? 2
                         : lead < 0xF0 ? 3
                         : lead < 0xF5 ? 4
                                       : 0;
    if (length == 0 || text.size() - at < length) {
        return {0, 0};
    }
    char32_t character = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t next = 1; next < length; ++next) {
        const auto byte = static_cast<unsigned char>(text[at + next]);
        if ((byte & 0xC0) != 0x80) {
            return {0, 0};
        }
        character = (character << 6) | (byte & 0x3F);
    }
    constexpr char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (character < least[length] || character > 0x10FFFF ||
        (character >= 0xD800 && character <= 0xDFFF)) {
        return {0, 0};
    }
    return {character, length};
}

bool NamedAmong(std::string_view name, std::initializer_list<std::string_view> names) {
    return std::any_of(names.begin(), names.end(),
                       [name](std::string_view lower) { return EqualsIgnoringCase(name, lower); });
}

}  // namespace

bool EqualsIgnoringCase(std::string_view text, std::string_view lower) {
    return text.size() == lower.size() &&
           std::equal(text.begin(), text.end(), lower.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) == b;
           });
}

// The encoding named in a leading XML declaration, found the way pugixml
// finds it when it guesses the input's encoding.
std::string_view DeclaredEncoding(std::string_view source) {
    if (source.size() < 6 || source.compare(0, 5, "<?xml") != 0 || !IsBlank(source[5])) {
        return {};
    }
    for (std::size_t index = 6; index + 1 < source.size(); ++index) {
        if (source[index] == '?') {
            return {};
        }
        if (source[index] != 'e' || source[index + 1] != 'n') {
            continue;
        }
        // The parser takes the first "en" for the start of "encoding", and
        // reads the document as UTF-8 when it is not.
        if (source.compare(index, 8, "encoding") != 0) {
            return {};
        }
        std::size_t at = index + 8;
        while (at < source.size() && IsBlank(source[at])) {
            ++at;
        }
        if (at >= source.size() || source[at] != '=') {
            return {};
        }
        ++at;
        while (at < source.size() && IsBlank(source[at])) {
            ++at;
        }
        if (at >= source.size() || (source[at] != '"' && source[at] != '\'')) {
            return {};
        }
        const char quote = source[at];
        const std::size_t begin = ++at;
        while (at < source.size() && IsNameCharacter(static_cast<unsigned char>(source[at]))) {
            ++at;
        }
        // pugixml takes the name only when its closing quote follows it;
        // otherwise it reads the document as UTF-8.
        if (at >= source.size() || source[at] != quote) {
            return {};
        }
        return source.substr(begin, at - begin);
    }
    return {};
}

std::string ConvertedEncoding(std::string_view source) {
    if (source.size() < 4) {
        return {};
    }
    const auto byte = [&source](std::size_t index) {
        return static_cast<unsigned char>(source[index]);
    };
    const unsigned char d0 = byte(0), d1 = byte(1), d2 = byte(2), d3 = byte(3);
    if ((d0 == 0 && d1 == 0 && d2 == 0xFE && d3 == 0xFF) ||
        (d0 == 0 && d1 == 0 && d2 == 0 && d3 == '<')) {
        return "UTF-32BE";
    }
    if ((d0 == 0xFF && d1 == 0xFE && d2 == 0 && d3 == 0) ||
        (d0 == '<' && d1 == 0 && d2 == 0 && d3 == 0)) {
        return "UTF-32LE";
    }
    if ((d0 == 0xFE && d1 == 0xFF) || (d0 == 0 && d1 == '<')) {
        return "UTF-16BE";
    }
    if ((d0 == 0xFF && d1 == 0xFE) || (d0 == '<' && d1 == 0)) {
        return "UTF-16LE";
    }
    if (d0 == 0xEF && d1 == 0xBB && d2 == 0xBF) {
        return {};
    }
    const std::string_view declared = DeclaredEncoding(source);
    if (EqualsIgnoringCase(declared, "iso-8859-1") || EqualsIgnoringCase(declared, "latin1")) {
        return "Latin-1";
    }
    return {};
}

DocumentCharsets CharsetsOf(std::string_view source) {
    const std::string converted = ConvertedEncoding(source);
    if (converted == "Latin-1") {
        return {Charset::Utf8, Charset::Latin1};
    }
    // UTF-16 and UTF-32 are written anew, in UTF-8.
    if (!converted.empty() || source.substr(0, 3) == "\xEF\xBB\xBF") {
        return {};
    }
    const std::string_view declared = DeclaredEncoding(source);
    if (NamedAmong(declared, {"windows-1252", "cp1252", "x-cp1252"})) {
        return {Charset::Windows1252, Charset::Windows1252};
    }
    if (NamedAmong(declared,
                   {"iso-8859-15", "iso_8859-15", "iso8859-15", "latin-9", "latin9", "l9"})) {
        return {Charset::Latin9, Charset::Latin9};
    }
    // Names of Latin-1 the parser does not convert: it reads the bytes as
    // they are.
    if (NamedAmong(declared, {"iso_8859-1", "iso8859-1", "iso-ir-100", "l1", "cp819", "ibm819",
                              "csisolatin1"})) {
        return {Charset::Latin1, Charset::Latin1};
    }
    if (NamedAmong(declared, {"us-ascii", "ascii", "iso646-us", "ansi_x3.4-1968"})) {
        return {Charset::Utf8, Charset::Ascii};
    }
    return {};
}

const char* CharsetName(Charset charset) {
    switch (charset) {
        case Charset::Utf8:
            return "UTF-8";
        case Charset::Ascii:
            return "US-ASCII";
        case Charset::Latin1:
            return "Latin-1";
        case Charset::Windows1252:
            return "windows-1252";
        case Charset::Latin9:
            return "ISO-8859-15";
    }
    return "UTF-8";
}

void AppendUtf8(std::string& out, std::string_view bytes, Charset charset) {
    if (charset == Charset::Utf8 || charset == Charset::Ascii) {
        out.append(bytes);
        return;
    }
    const HighHalf* high = charset == Charset::Windows1252 ? &Windows1252High()
                           : charset == Charset::Latin9    ? &Latin9High()
                                                           : nullptr;
    for (std::size_t at = 0; at < bytes.size();) {
        // Runs of ASCII are copied whole.
        std::size_t end = at;
        while (end < bytes.size() && static_cast<unsigned char>(bytes[end]) < 0x80) {
            ++end;
        }
        out.append(bytes.substr(at, end - at));
        if (end == bytes.size()) {
            break;
        }
        const auto value = static_cast<unsigned char>(bytes[end]);
        AppendCodePoint(out, high != nullptr ? (*high)[value - 0x80] : value);
        at = end + 1;
    }
}

void AppendInCharset(std::string& out, std::string_view utf8, Charset charset, bool cdata) {
    if (charset == Charset::Utf8) {
        out.append(utf8);
        return;
    }
    for (std::size_t at = 0; at < utf8.size();) {
        std::size_t end = at;
        while (end < utf8.size() && static_cast<unsigned char>(utf8[end]) < 0x80) {
            ++end;
        }
        out.append(utf8.substr(at, end - at));
        if (end == utf8.size()) {
            break;
        }
        at = end;
        const auto [character, length] = DecodeAt(utf8, at);
        if (length == 0) {
            out += utf8[at++];
            continue;
        }
        at += length;
        const int byte = ByteOf(character, charset);
        if (byte >= 0) {
            out += static_cast<char>(byte);
            continue;
        }
        const std::string reference = "&#" + std::to_string(character) + ";";
        out += cdata ? "]]>" + reference + "<![CDATA[" : reference;
    }
}

char32_t FirstUnheld(std::string_view utf8, Charset charset) {
    if (charset == Charset::Utf8) {
        return 0;
    }
    for (std::size_t at = 0; at < utf8.size();) {
        const auto [character, length] = DecodeAt(utf8, at);
        if (length != 0 && ByteOf(character, charset) < 0) {
            return character;
        }
        at += length == 0 ? 1 : length;
    }
    return 0;
}

std::size_t CodeUnit(std::string_view source) {
    const std::string encoding = ConvertedEncoding(source);
    return encoding.rfind("UTF-16", 0) == 0 ? 2 : encoding.rfind("UTF-32", 0) == 0 ? 4 : 1;
}

}  // namespace qiv::redact
