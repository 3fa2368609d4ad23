#include "Encoding.h"

#include <algorithm>
#include <cctype>

#include "Characters.h"

namespace qiv::redact {

namespace {

// Characters pugixml allows in an encoding name.
bool IsNameCharacter(unsigned char character) {
    return std::isalnum(character) != 0 || character == '_' || character == ':' ||
           character == '-' || character == '.' || character >= 0x80;
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

std::size_t CodeUnit(std::string_view source) {
    const std::string encoding = ConvertedEncoding(source);
    return encoding.rfind("UTF-16", 0) == 0 ? 2 : encoding.rfind("UTF-32", 0) == 0 ? 4 : 1;
}

}  // namespace qiv::redact
