#include "Lexer.h"

#include <cctype>

#include "Characters.h"

namespace qiv::redact::xpath {

bool IsNameStart(unsigned char character) {
    return std::isalpha(character) != 0 || character == '_' || character >= 0x80;
}

bool IsNameCharacter(unsigned char character) {
    return IsNameStart(character) || std::isdigit(character) != 0 || character == '-' ||
           character == '.';
}

namespace {

// Splits an expression into tokens; throws `unreadable` at a character no
// token can start with, or at an unterminated literal.
class Lexer {
public:
    explicit Lexer(std::string_view text) : text_(text) {}

    std::vector<Token> Run() {
        while (true) {
            while (at_ < text_.size() && IsBlank(text_[at_])) {
                ++at_;
            }
            if (at_ >= text_.size()) {
                break;
            }
            const char character = text_[at_];
            const char next = at_ + 1 < text_.size() ? text_[at_ + 1] : '\0';
            const bool number =
                character == '.' || std::isdigit(static_cast<unsigned char>(character)) != 0;
            if (character == '"' || character == '\'') {
                Literal(character);
            } else if (character == '$') {
                Variable();
            } else if (number) {
                NumberOrDot(character, next);
            } else if (!Symbol(character, next)) {
                Name(character);
            }
        }
        tokens_.push_back({Kind::End, {}});
        return std::move(tokens_);
    }

private:
    // Whether a '*' or a name here is an operator: it is one when it follows
    // an operand, that is any token but @ :: ( [ , an operator, / or //.
    bool OperatorContext() const {
        if (tokens_.empty()) {
            return false;
        }
        switch (tokens_.back().kind) {
            case Kind::At:
            case Kind::ColonColon:
            case Kind::Open:
            case Kind::OpenBracket:
            case Kind::Comma:
            case Kind::Operator:
            case Kind::Slash:
            case Kind::Slashes:
                return false;
            default:
                return true;
        }
    }

    void Add(Kind kind, std::size_t length) {
        tokens_.push_back({kind, text_.substr(at_, length)});
        at_ += length;
    }

    std::size_t NameEnd(std::size_t from) const {
        while (from < text_.size() && IsNameCharacter(static_cast<unsigned char>(text_[from]))) {
            ++from;
        }
        return from;
    }

    // Punctuation and the operators spelt with symbols; false when the
    // character starts none of them.
    bool Symbol(char character, char next) {
        switch (character) {
            case '(':
                Add(Kind::Open, 1);
                return true;
            case ')':
                Add(Kind::Close, 1);
                return true;
            case '[':
                Add(Kind::OpenBracket, 1);
                return true;
            case ']':
                Add(Kind::CloseBracket, 1);
                return true;
            case ',':
                Add(Kind::Comma, 1);
                return true;
            case '@':
                Add(Kind::At, 1);
                return true;
            case '|':
            case '+':
            case '-':
            case '=':
                Add(Kind::Operator, 1);
                return true;
            case '!':
                if (next != '=') {
                    throw unreadable;
                }
                Add(Kind::Operator, 2);
                return true;
            case '<':
            case '>':
                Add(Kind::Operator, next == '=' ? 2 : 1);
                return true;
            case '/':
                Add(next == '/' ? Kind::Slashes : Kind::Slash, next == '/' ? 2 : 1);
                return true;
            case ':':
                if (next != ':') {
                    throw unreadable;
                }
                Add(Kind::ColonColon, 2);
                return true;
            case '*':
                Add(OperatorContext() ? Kind::Operator : Kind::Name, 1);
                return true;
            default:
                return false;
        }
    }

    void Literal(char quote) {
        const std::size_t end = text_.find(quote, at_ + 1);
        if (end == std::string_view::npos) {
            throw unreadable;
        }
        Add(Kind::Literal, end + 1 - at_);
    }

    void Variable() {
        std::size_t end = at_ + 1;
        while (end < text_.size() &&
               (IsNameCharacter(static_cast<unsigned char>(text_[end])) || text_[end] == ':')) {
            ++end;
        }
        Add(Kind::Variable, end - at_);
    }

    // ".", ".." or a number (digits and dots: "1.5", ".5", "1.").
    void NumberOrDot(char character, char next) {
        if (character == '.' && next == '.') {
            Add(Kind::DotDot, 2);
            return;
        }
        if (character == '.' && std::isdigit(static_cast<unsigned char>(next)) == 0) {
            Add(Kind::Dot, 1);
            return;
        }
        std::size_t end = at_;
        while (end < text_.size() &&
               (std::isdigit(static_cast<unsigned char>(text_[end])) != 0 || text_[end] == '.')) {
            ++end;
        }
        Add(Kind::Number, end - at_);
    }

    // A name: an operator (and, or, div, mod) where one is due, else a name
    // test, function, node type or axis, told apart by what follows it.
    void Name(char character) {
        if (!IsNameStart(static_cast<unsigned char>(character))) {
            throw unreadable;
        }
        std::size_t end = NameEnd(at_);
        if (OperatorContext()) {
            const std::string_view name = text_.substr(at_, end - at_);
            if (name != "and" && name != "or" && name != "div" && name != "mod") {
                throw unreadable;
            }
            Add(Kind::Operator, end - at_);
            return;
        }
        // prefix:local or prefix:*, but not axis::
        if (end + 1 < text_.size() && text_[end] == ':' && text_[end + 1] != ':') {
            if (text_[end + 1] == '*') {
                end += 2;
            } else if (IsNameStart(static_cast<unsigned char>(text_[end + 1]))) {
                end = NameEnd(end + 2);
            }
        }
        std::size_t after = end;
        while (after < text_.size() && IsBlank(text_[after])) {
            ++after;
        }
        const std::string_view name = text_.substr(at_, end - at_);
        Kind kind = Kind::Name;
        if (after < text_.size() && text_[after] == '(') {
            kind = name == "comment" || name == "text" || name == "processing-instruction" ||
                           name == "node"
                       ? Kind::NodeType
                       : Kind::Function;
        } else if (after + 1 < text_.size() && text_[after] == ':' && text_[after + 1] == ':') {
            kind = Kind::Axis;
        }
        Add(kind, end - at_);
    }

    std::string_view text_;
    std::size_t at_ = 0;
    std::vector<Token> tokens_;
};

}  // namespace

std::vector<Token> Tokenize(std::string_view text) { return Lexer(text).Run(); }

}  // namespace qiv::redact::xpath
