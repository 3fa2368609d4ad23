#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace qiv {

/// Outcome of a load. The numbers equal those of pugixml's parse status;
/// Unmapped is reported for a status the library does not know.
enum class DataParserStatus : std::int32_t {
    Ok = 0,
    FileNotFound = 1,
    IoError = 2,
    OutOfMemory = 3,
    InternalError = 4,
    UnrecognizedTag = 5,
    BadPi = 6,
    BadComment = 7,
    BadCData = 8,
    BadDoctype = 9,
    BadPCData = 10,
    BadStartElement = 11,
    BadAttribute = 12,
    BadEndElement = 13,
    EndElementMismatch = 14,
    AppendInvalidRoot = 15,
    NoDocumentElement = 16,
    Unmapped = 17,
};

/// A value written to a node or an attribute. Text alternatives are copied
/// into the document up to their first NUL character.
using DataValue =
    std::variant<const char*, std::string_view, int, unsigned int, double, float, bool>;

/// Description text of the parse outcome and the translated status.
using LoadResult = std::pair<std::string, DataParserStatus>;

}  // namespace qiv
