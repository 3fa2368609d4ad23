#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qiv::redact::xpath {

// Tokens of an XPath 1.0 expression. The lexer decides, as the grammar says,
// whether '*' and the names and, or, div, mod are operators or name tests
// from the token before them.
enum class Kind {
    Name,      // a name test: QName, "*" or "prefix:*"
    Function,  // a name followed by '('
    Axis,      // a name followed by "::"
    NodeType,  // comment, text, processing-instruction or node, followed by '('
    Operator,  // and or mod div * + - = != < <= > >= |
    Slash,     // "/"
    Slashes,   // "//"
    Literal,
    Number,
    Variable,
    Open,   // (
    Close,  // )
    OpenBracket,
    CloseBracket,
    Dot,
    DotDot,
    At,
    Comma,
    ColonColon,
    End,
};

struct Token {
    Kind kind;
    std::string_view text;
};

struct Rejected {
    std::string reason;
};

/// Why an expression is not taken; thrown while it is read.
inline const Rejected unreadable{"it could not be analysed"};

/// XPath's name characters, as the tool reads them.
bool IsNameStart(unsigned char character);
bool IsNameCharacter(unsigned char character);

/// The tokens of an expression, ending with End; throws `unreadable` at a
/// character no token can start with, or at an unterminated literal.
std::vector<Token> Tokenize(std::string_view text);

}  // namespace qiv::redact::xpath
