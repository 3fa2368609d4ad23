#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <streambuf>
#include <string>
#include <string_view>

#include "DataParserIF.h"
#include "Markup.h"
#include "ParseFailure.h"
#include "Position.h"
#include "Seam.h"

namespace qiv::redact {

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

}  // namespace qiv::redact
