#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <streambuf>
#include <string>
#include <string_view>

#include "DataParserIF.h"

namespace qiv::redact {

/// Line and column (both from 1) of a character offset into a text; the
/// column counts UTF-8 characters, not bytes.
struct TextPosition {
    std::size_t line = 1;
    std::size_t column = 1;
};
TextPosition PositionOf(std::string_view text, std::size_t offset);

/// A read-only, seekable stream buffer over text, so that the parser can load
/// kept bytes without a copy of them.
class TextBuffer : public std::streambuf {
public:
    explicit TextBuffer(std::string& text) {
        setg(text.data(), text.data(), text.data() + text.size());
    }

protected:
    pos_type seekoff(off_type offset, std::ios_base::seekdir direction,
                     std::ios_base::openmode /*which*/) override {
        char* const target = (direction == std::ios_base::beg   ? eback()
                              : direction == std::ios_base::cur ? gptr()
                                                                : egptr()) +
                             offset;
        if (target < eback() || target > egptr()) {
            return pos_type(off_type(-1));
        }
        setg(eback(), target, egptr());
        return pos_type(target - eback());
    }
    pos_type seekpos(pos_type position, std::ios_base::openmode which) override {
        return seekoff(off_type(position), std::ios_base::beg, which);
    }
};

/// Where the parser stopped in text it could not parse: parsed again with the
/// same options, as the library does not say.
std::size_t FailureOffset(std::string_view text);

/// "cannot parse SOURCE: DESCRIPTION (status NAME, N)", with " at line L,
/// column C (offset O)" when position is given and the status has a place.
std::string DescribeParseFailure(const std::string& source, const LoadResult& result,
                                 const TextPosition* position, std::size_t offset);

/// The document's input: where it comes from and the bytes it was parsed from.
struct InputDocument {
    std::optional<std::string> path;  // standard input when empty
    std::string_view source;          // the bytes parsed, once read
    bool preread = false;             // text holds the whole input already
    bool haveSource = false;
    std::string text;             // source, when it was read before parsing
    std::shared_ptr<char> pages;  // source, when a file was read after parsing
    std::size_t size = 0;         // number of bytes parsed
    // The first bytes, up to the end of a leading XML declaration however
    // long it is, so that the encoding the parser reads it in is known.
    std::string head;
    // A regular file is parsed by the library from its path; what it was then,
    // so that reading it again can tell whether it is still the same.
    struct Identity {
        unsigned long long device = 0, inode = 0, size = 0;
        long long seconds = 0, nanoseconds = 0;
        bool operator==(const Identity& other) const;
    } identity;
};

/// Loads the document from input.path, or from standard input when there is
/// none. A regular file is parsed by the library from its path and not kept;
/// other inputs are read into input.source first. On failure returns false
/// and a message for the user: a plain one for a file that cannot be read, or
/// the parse status, its description and the line and column where parsing
/// stopped.
bool LoadDocument(DataParserIF& parser, InputDocument& input, std::string& error);

/// Makes input.source hold the bytes the document was parsed from: a regular
/// file is read into memory, and must not have changed since it was parsed.
/// It is read, not mapped: a mapped file that shrinks under the tool would
/// kill the whole process.
bool ReadSource(InputDocument& input, std::string& error);

/// The parser takes more than XML allows outside the document element: text,
/// CDATA sections and further elements. Copied through, they would make the
/// output something other than one document. Returns false with a message
/// (with the line and column where the bytes are at hand) when the loaded
/// document has any of them.
bool CheckTopLevel(DataParserIF& parser, InputDocument& input, std::string& error);

/// Where the DOCTYPE starting at at ("<!DOCTYPE") ends: just past its '>',
/// beyond an internal subset whose declarations may quote any character and
/// hold comments; the end of text when it has none.
std::size_t DoctypeEnd(std::string_view text, std::size_t at);

/// The same, on the bytes (in an encoding that keeps ASCII as it is): the
/// parser drops text outside the document element without a trace, but the
/// splice would copy it. Returns what is there ("text after the document
/// element", ...) and where it starts, or an empty text.
std::string TopLevelExtra(std::string_view text, std::size_t& offset);

/// The parser reads a document only up to its first NUL character: where that
/// is in text, or npos. unit: the size of the encoding's code unit (1 for
/// UTF-8 and 8-bit encodings, 2 for UTF-16, 4 for UTF-32).
std::size_t NulOffset(std::string_view text, std::size_t unit = 1);

/// A message for a document that holds a NUL byte at offset (the parser reads
/// nothing after it, so nothing after it may be written either).
std::string DescribeNul(const std::string& source, std::string_view text, std::size_t offset);

}  // namespace qiv::redact
