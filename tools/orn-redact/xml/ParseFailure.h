#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "DataParserIF.h"
#include "Position.h"

namespace qiv::redact {

/// Where the parser stopped in text it could not parse: parsed again with the
/// same options, as the library does not say.
std::size_t FailureOffset(std::string_view text);

/// Where the parser stopped in source, as a place in source itself. For a
/// document the parser converts to UTF-8 first (UTF-16, UTF-32, Latin-1), the
/// offset it reports lies in the converted text; the place is then that
/// character's: its line and column, and its byte offset in source.
struct FailurePlace {
    TextPosition position;
    std::size_t offset = 0;
};
FailurePlace FailurePlaceOf(std::string_view source);

/// "cannot parse SOURCE: DESCRIPTION (status NAME, N)", with " at line L,
/// column C (offset O)" when position is given and the status has a place.
std::string DescribeParseFailure(const std::string& source, const LoadResult& result,
                                 const TextPosition* position, std::size_t offset);

/// A document that holds a NUL byte at offset: the parser reads nothing after
/// it, so nothing after it may be written either.
std::string DescribeNul(const std::string& source, const TextPosition& position,
                        std::uint64_t offset);
std::string DescribeNul(const std::string& source, std::string_view text, std::size_t offset);

/// Input whose first character past a byte order mark and blanks, at offset
/// at of text, is not '<' (DocumentOpening says Other): it cannot be a
/// document, and is refused before more of it is read.
std::string DescribeNotDocument(const std::string& source, std::string_view text, std::size_t at);

/// "'&' that starts no reference" + where (At(...) of the first) + how many
/// in all: what a document holds whose '&' the parser takes as a plain '&'
/// though it is not well-formed.
std::string DescribeBareAmpersands(std::uint64_t count, const std::string& where);

/// The same input refused (--strict): "cannot parse SOURCE: it holds ...;
/// nothing written".
std::string DescribeBareAmpersandsRefused(const std::string& source, std::uint64_t count,
                                          const std::string& where);

/// "cannot parse SOURCE: it holds WHAT" + where + "; nothing written", for
/// what the parser takes but a document may not hold ("text after the
/// document element", ...); where is At(...) or empty.
std::string DescribeMisplaced(const std::string& source, const std::string& what,
                              const std::string& where);

}  // namespace qiv::redact
