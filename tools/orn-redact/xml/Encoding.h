#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qiv::redact {

/// The encoding pugixml converts the input from ("UTF-16LE", "Latin-1", ...),
/// or empty when it parses the bytes as they are, so that positions in the
/// parsed document are positions in the input.
std::string ConvertedEncoding(std::string_view source);

/// Whether text equals lower (written in lower case) but for the case of ASCII
/// letters.
bool EqualsIgnoringCase(std::string_view text, std::string_view lower);

/// The encoding named in source's leading XML declaration, as written there
/// (empty without one).
std::string_view DeclaredEncoding(std::string_view source);

/// The character sets the tool reads values from and writes new values
/// into. Utf8 stands for every encoding whose values need no conversion:
/// UTF-8 itself, what the parser converts to UTF-8, and 8-bit encodings the
/// tool does not know (their bytes go through as they are).
enum class Charset : unsigned char { Utf8, Ascii, Latin1, Windows1252, Latin9 };

/// How a document's values are read and its new values written.
struct DocumentCharsets {
    /// The bytes of the parsed values: UTF-8, or an 8-bit encoding the parser
    /// reads as it is (windows-1252, ISO-8859-15, Latin-1 under a name the
    /// parser does not convert).
    Charset values = Charset::Utf8;
    /// The encoding of the bytes the document is written back in.
    Charset output = Charset::Utf8;
};

/// The charsets of the document source starts with (its head, up to the end
/// of the XML declaration, is enough).
DocumentCharsets CharsetsOf(std::string_view source);

/// The charset's usual name ("windows-1252", ...).
const char* CharsetName(Charset charset);

/// Appends bytes, in charset, converted to UTF-8.
void AppendUtf8(std::string& out, std::string_view bytes, Charset charset);

/// Appends the UTF-8 text utf8 in charset. A character charset cannot hold
/// becomes a character reference ("&#8364;"), closed and reopened around
/// it inside CDATA (cdata: out is inside a CDATA section). A byte that is
/// not part of a well-formed UTF-8 sequence is copied as it is.
void AppendInCharset(std::string& out, std::string_view utf8, Charset charset, bool cdata);

/// The first character of utf8 that charset cannot hold, or 0 when it holds
/// them all.
char32_t FirstUnheld(std::string_view utf8, Charset charset);

/// The size of the code unit of the encoding the parser reads source in: 2
/// for UTF-16, 4 for UTF-32, else 1.
std::size_t CodeUnit(std::string_view source);

}  // namespace qiv::redact
