#include "ParseFailure.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "Encoding.h"

#include <pugixml.hpp>

namespace qiv::redact {

namespace {

const char* StatusName(DataParserStatus status) {
    switch (status) {
        case DataParserStatus::Ok:
            return "Ok";
        case DataParserStatus::FileNotFound:
            return "FileNotFound";
        case DataParserStatus::IoError:
            return "IoError";
        case DataParserStatus::OutOfMemory:
            return "OutOfMemory";
        case DataParserStatus::InternalError:
            return "InternalError";
        case DataParserStatus::UnrecognizedTag:
            return "UnrecognizedTag";
        case DataParserStatus::BadPi:
            return "BadPi";
        case DataParserStatus::BadComment:
            return "BadComment";
        case DataParserStatus::BadCData:
            return "BadCData";
        case DataParserStatus::BadDoctype:
            return "BadDoctype";
        case DataParserStatus::BadPCData:
            return "BadPCData";
        case DataParserStatus::BadStartElement:
            return "BadStartElement";
        case DataParserStatus::BadAttribute:
            return "BadAttribute";
        case DataParserStatus::BadEndElement:
            return "BadEndElement";
        case DataParserStatus::EndElementMismatch:
            return "EndElementMismatch";
        case DataParserStatus::AppendInvalidRoot:
            return "AppendInvalidRoot";
        case DataParserStatus::NoDocumentElement:
            return "NoDocumentElement";
        case DataParserStatus::Unmapped:
            return "Unmapped";
    }
    return "Unmapped";
}

// Statuses that say where in the text parsing stopped; the others (missing
// file, read error, memory) have no meaningful position.
bool HasPosition(DataParserStatus status) {
    return static_cast<int>(status) >= static_cast<int>(DataParserStatus::UnrecognizedTag) &&
           status != DataParserStatus::Unmapped;
}

}  // namespace

// The library reports the outcome without the offset; parsing the same bytes
// again with the same options finds where it stopped.
std::size_t FailureOffset(std::string_view text) {
    pugi::xml_document document;
    const pugi::xml_parse_result result =
        document.load_buffer(text.data(), text.size(), pugi::parse_default, pugi::encoding_auto);
    return result.offset < 0 ? 0 : static_cast<std::size_t>(result.offset);
}

namespace {

// How many bytes the character costs in UTF-8.
std::size_t Utf8Length(std::uint32_t code) {
    return code < 0x80 ? 1 : code < 0x800 ? 2 : code < 0x10000 ? 3 : 4;
}

}  // namespace

FailurePlace FailurePlaceOf(std::string_view source) {
    const std::size_t converted = FailureOffset(source);
    const std::string encoding = ConvertedEncoding(source);
    if (encoding.empty()) {
        return {PositionOf(source, converted), std::min(converted, source.size())};
    }
    const std::size_t unit = encoding == "Latin-1" ? 1 : CodeUnit(source);
    const bool big = encoding == "UTF-16BE" || encoding == "UTF-32BE";
    const auto unitAt = [&](std::size_t at) {
        std::uint32_t code = 0;
        for (std::size_t index = 0; index < unit; ++index) {
            const auto byte = static_cast<unsigned char>(source[at + index]);
            code |= static_cast<std::uint32_t>(byte) << (8 * (big ? unit - 1 - index : index));
        }
        return code;
    };
    // Walk the characters of source, adding up their length in UTF-8, up to
    // the one that starts at the converted offset.
    FailurePlace place;
    std::size_t at = 0;
    for (std::size_t length = 0; length < converted && at + unit <= source.size();) {
        std::uint32_t code = unitAt(at);
        std::size_t units = 1;
        if (unit == 2 && code >= 0xD800 && code < 0xDC00 && at + 2 * unit <= source.size()) {
            const std::uint32_t low = unitAt(at + unit);
            if (low >= 0xDC00 && low < 0xE000) {
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                units = 2;
            }
        }
        length += Utf8Length(code);
        at += units * unit;
        if (code == '\n') {
            ++place.position.line;
            place.position.column = 1;
        } else {
            ++place.position.column;
        }
    }
    place.offset = at;
    return place;
}

std::string DescribeParseFailure(const std::string& source, const LoadResult& result,
                                 const TextPosition* position, std::size_t offset) {
    std::ostringstream message;
    message << "cannot parse " << source << ": " << result.first << " (status "
            << StatusName(result.second) << ", " << static_cast<int>(result.second) << ")";
    if (position != nullptr && HasPosition(result.second)) {
        message << At(*position, offset);
    }
    return message.str();
}

std::string DescribeNul(const std::string& source, const TextPosition& position,
                        std::uint64_t offset) {
    return "cannot parse " + source + ": it holds a NUL byte" + At(position, offset) +
           ", and the parser reads nothing after one; nothing written";
}

std::string DescribeNul(const std::string& source, std::string_view text, std::size_t offset) {
    return DescribeNul(source, PositionOf(text, offset), offset);
}

std::string DescribeNotDocument(const std::string& source, std::string_view text, std::size_t at) {
    // Only a byte order mark and blanks come before at: in UTF-16 and UTF-32
    // each code unit is one column, and a line feed unit starts a line.
    const std::size_t unit = CodeUnit(text);
    TextPosition position;
    if (unit == 1) {
        position = PositionOf(text, at);
    } else {
        for (std::size_t offset = 0; offset < at; offset += unit) {
            const std::string_view code = text.substr(offset, unit);
            const bool newline =
                std::count(code.begin(), code.end(), '\n') == 1 &&
                static_cast<std::size_t>(std::count(code.begin(), code.end(), '\0')) + 1 == unit;
            position.line += newline ? 1 : 0;
            position.column = newline ? 1 : position.column + 1;
        }
    }
    std::string shown = unit == 1 ? "byte" : "code unit";
    for (std::size_t index = at; index < at + unit && index < text.size(); ++index) {
        char hex[8];
        std::snprintf(hex, sizeof hex, " %s%02X", index == at ? "0x" : "",
                      static_cast<unsigned char>(text[index]));
        shown += hex;
    }
    const auto first = static_cast<unsigned char>(text[at]);
    if (unit == 1 && first > 0x20 && first < 0x7F) {
        shown = std::string("'") + static_cast<char>(first) + "'";
    }
    return "cannot parse " + source + ": it is not an XML document: it begins with " + shown +
           At(position, at) + " where a document begins with '<'; nothing written";
}

std::string DescribeBareAmpersands(std::uint64_t count, const std::string& where) {
    return "'&' that starts no reference" + where + " (" + std::to_string(count) + " in all)";
}

std::string DescribeBareAmpersandsRefused(const std::string& source, std::uint64_t count,
                                          const std::string& where) {
    return "cannot parse " + source + ": it holds " + DescribeBareAmpersands(count, where) +
           ", which XML does not allow (--strict); nothing written";
}

std::string DescribeMisplaced(const std::string& source, const std::string& what,
                              const std::string& where) {
    return "cannot parse " + source + ": it holds " + what + where + "; nothing written";
}

}  // namespace qiv::redact
