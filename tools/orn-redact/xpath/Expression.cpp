#include "Expression.h"

#include <algorithm>
#include <cctype>
#include <new>

#include <pugixml.hpp>

#include "Characters.h"
#include "Lexer.h"

namespace qiv::redact {

namespace {

const char* XPathTypeName(pugi::xpath_value_type type) {
    switch (type) {
        case pugi::xpath_type_number:
            return "a number";
        case pugi::xpath_type_string:
            return "a string";
        case pugi::xpath_type_boolean:
            return "a boolean";
        case pugi::xpath_type_node_set:
            return "a node set";
        case pugi::xpath_type_none:
            break;
    }
    return "no value";
}

}  // namespace

bool SelectsByNamesOnly(const std::string& expression) {
    // Element and attribute name tests ("*" and "@*" too) along the child,
    // descendant and attribute axes written as "/", "//" and "@". From an
    // added text node these lead nowhere. Other axes do not: an added text
    // node has a parent and siblings, so "//parent::*" or
    // "//preceding-sibling::*" would select more after it is added. A name
    // may hold '.', but a '.' that starts a step is self::node() or
    // parent::node().
    const auto nameCharacter = [](unsigned char character) {
        return std::isalnum(character) != 0 || character == '_' || character == '-' ||
               character == '.' || character >= 0x80;
    };
    if (expression.empty() || expression.find("::") != std::string::npos) {
        return false;
    }
    for (std::size_t index = 0; index < expression.size(); ++index) {
        const auto character = static_cast<unsigned char>(expression[index]);
        if (character == '.') {
            if (index == 0 || !nameCharacter(static_cast<unsigned char>(expression[index - 1]))) {
                return false;
            }
        } else if (!nameCharacter(character) && character != '/' && character != '*' &&
                   character != '@' && character != ':' && character != ' ' && character != '\t') {
            return false;
        }
    }
    return true;
}

std::string ExpressionProblem(const std::string& expression) {
    // Compiled as a C string, the expression would end there.
    if (const std::size_t nul = expression.find('\0'); nul != std::string::npos) {
        return "it holds a NUL byte at offset " + std::to_string(nul);
    }
    try {
        const pugi::xpath_query query(expression.c_str());
        if (!query) {
            // Reached only when pugixml is built without exceptions.
            return std::string(query.result().description()) + " at offset " +
                   std::to_string(query.result().offset);
        }
        if (query.return_type() != pugi::xpath_type_node_set) {
            return std::string("it yields ") + XPathTypeName(query.return_type()) +
                   ", not a node set";
        }
    } catch (const pugi::xpath_exception& failure) {
        return std::string(failure.what()) + " at offset " +
               std::to_string(failure.result().offset);
    } catch (const std::bad_alloc&) {
        return "out of memory while compiling it";
    }
    return {};
}

std::string UnreadNodesProblem(const std::string& expression) {
    std::vector<xpath::Token> tokens;
    try {
        tokens = xpath::Tokenize(expression);
    } catch (const xpath::Rejected&) {
        return {};
    }
    bool comments = false;
    bool instructions = false;
    for (const xpath::Token& token : tokens) {
        if (token.kind == xpath::Kind::NodeType) {
            comments = comments || token.text == "comment";
            instructions = instructions || token.text == "processing-instruction";
        }
    }
    if (comments) {
        return "comments are not read into the document, so comment() selects nothing; to "
               "replace comments, select the element that holds them with --deep (in a rules "
               "file: 'deep: true'), which also replaces the comments inside it";
    }
    if (instructions) {
        return "processing instructions are not read into the document, so "
               "processing-instruction() selects nothing; they are always written as they "
               "are and cannot be selected";
    }
    return {};
}

namespace {

bool IsName(std::string_view name) {
    if (name.empty() || name.front() == '.' || name.front() == '-' || name.front() == ':' ||
        (name.front() >= '0' && name.front() <= '9')) {
        return false;
    }
    return std::all_of(name.begin(), name.end(), [](char character) {
        return IsNameCharacter(static_cast<unsigned char>(character));
    });
}

}  // namespace

std::optional<NamePath> PlainNamePath(std::string_view query) {
    if (query.substr(0, 2) != "//" || query.find("::") != std::string_view::npos) {
        return std::nullopt;
    }
    query.remove_prefix(2);
    NamePath path;
    const std::size_t slash = query.find('/');
    if (slash != std::string_view::npos) {
        path.parent = std::string(query.substr(0, slash));
        query.remove_prefix(slash + 1);
        if (!IsName(path.parent)) {
            return std::nullopt;
        }
    }
    if (!IsName(query)) {
        return std::nullopt;
    }
    path.name = std::string(query);
    return path;
}

}  // namespace qiv::redact
