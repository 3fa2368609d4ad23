#include "ParseFailure.h"

#include <sstream>

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

std::string DescribeMisplaced(const std::string& source, const std::string& what,
                              const std::string& where) {
    return "cannot parse " + source + ": it holds " + what + where + "; nothing written";
}

}  // namespace qiv::redact
