#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qiv::redact {

/// The one scanner of XML markup in the tool's own code: every place that
/// passes over comments, CDATA sections, PIs, the DOCTYPE's internal subset
/// and quoted attribute values goes through these. They read bytes in an
/// encoding that keeps ASCII as it is, and never decode.

inline constexpr std::size_t none = std::string_view::npos;

/// Just past the first close at or after at; none when text ends first.
std::size_t Past(std::string_view text, std::size_t at, std::string_view close);

/// The '>' that ends the tag opened at lt, outside quoted values; none when
/// text ends first.
std::size_t StartTagEnd(std::string_view text, std::size_t lt);

/// Where the DOCTYPE starting at at ("<!DOCTYPE") ends: just past its '>',
/// beyond an internal subset whose declarations may quote any character and
/// hold comments and PIs; the end of text when it has none.
std::size_t DoctypeEnd(std::string_view text, std::size_t at);

/// An internal general entity declared in a DOCTYPE's internal subset:
/// <!ENTITY name "value">. Offsets are into the text scanned.
struct EntityDeclaration {
    std::string name;
    std::size_t declaration = 0;  // its "<!ENTITY"
    std::size_t valueBegin = 0;   // just past the opening quote
    std::size_t valueEnd = 0;     // the closing quote
};

/// The internal general entities the DOCTYPE of text (a prolog, or a whole
/// document) declares, in order; parameter entities and external ones (SYSTEM,
/// PUBLIC) are left out. Empty without a DOCTYPE.
std::vector<EntityDeclaration> InternalEntities(std::string_view text);

/// Passes the blanks, comments and PIs (and with doctype a DOCTYPE) from at:
/// where something else starts; none when one of them is cut off by the end
/// of text.
std::size_t SkipMisc(std::string_view text, std::size_t at, bool doctype);

enum class Prolog {
    More,   // text ends before the document element's start tag is whole
    Found,  // end, name and empty are set
    Other,  // something else comes first (left for the parser to report)
};

/// Finds the document element's start tag past a byte order mark, the XML
/// declaration, DOCTYPE, comments and PIs: end is just past its '>'.
Prolog FindDocumentStart(std::string_view text, std::size_t& end, std::string& name, bool& empty);

enum class Scan {
    More,    // text ends inside a construct (or before a record boundary)
    Cut,     // at is a record boundary past cutFrom
    End,     // at is the document element's end tag
    BadEnd,  // at is just past an end tag at the top that names another element
};

/// Scans the document element's content from at, at depth (0: between the
/// element's children, the records), through whole constructs: text, tags,
/// comments, CDATA sections and PIs. name: the document element's; atEnd:
/// text holds the rest of the input. opaque, when given, gets the start and
/// end of every comment, CDATA section, PI and other "<!" construct passed,
/// in order: where an '&' is no reference of the markup's.
Scan ScanContent(std::string_view text, std::size_t& at, std::size_t& depth, std::size_t cutFrom,
                 std::string_view name, bool atEnd, std::vector<std::size_t>* opaque = nullptr);

/// The parser takes text, CDATA sections and further elements outside the
/// document element without a trace, but a splice would copy them: what is
/// there ("text after the document element", ...) and where it starts, or an
/// empty text.
std::string TopLevelExtra(std::string_view text, std::size_t& offset);

enum class Opening {
    Undecided,  // text holds nothing but a byte order mark and blanks (so far)
    Markup,     // the first character past them is '<'
    Other,      // it is something else: the input cannot be a document
};

/// Whether text can begin a document: past a byte order mark and blanks, a
/// document's first character is '<'. Read in the code units of UTF-16 or
/// UTF-32 where the first four bytes say so (as the parser reads them), else
/// byte by byte. at: the offset of that first character (for Markup and Other).
Opening DocumentOpening(std::string_view text, std::size_t& at);

/// Whether the '&' at at starts a reference: "&name;", "&#digits;" or
/// "&#xhex;" (a name: a letter, '_', ':' or a byte of a non-ASCII character
/// first, then also digits, '-' and '.').
bool StartsReference(std::string_view text, std::size_t at);

/// The '&' in text and attribute values that start no reference: a document
/// with one is not well-formed, though the parser takes it as a plain '&'.
struct BareAmpersands {
    std::uint64_t count = 0;
    std::size_t first = none;  // offset of the first one found
};

/// Adds to found the '&' that start no reference in [from, to) of text, where
/// from is between two constructs (the start of a document or of an element's
/// content): those in comments, CDATA sections, PIs and a DOCTYPE do not
/// count. A quick pass over the '&' alone settles most inputs; only when one
/// starts no reference is the markup scanned to tell where it stands.
void FindBareAmpersands(std::string_view text, std::size_t from, std::size_t to,
                        BareAmpersands& found);

/// The same for content the parser took without an error, whose comments,
/// CDATA sections and PIs are known (ScanContent's opaque): an '&' anywhere
/// else is in text or an attribute value, since the parser refuses one in a
/// tag's names, so no markup needs scanning.
void FindBareAmpersands(std::string_view text, std::size_t from, std::size_t to,
                        const std::vector<std::size_t>& opaque, BareAmpersands& found);

/// The parser reads a document only up to its first NUL character: where that
/// is in text, or none. unit: the size of the encoding's code unit (1 for
/// UTF-8 and 8-bit encodings, 2 for UTF-16, 4 for UTF-32).
std::size_t NulOffset(std::string_view text, std::size_t unit = 1);

}  // namespace qiv::redact
