#include "Namespaces.h"

#include <algorithm>

#include "Lexer.h"

namespace qiv::redact {

namespace {

using xpath::Kind;
using xpath::Token;

const NamespaceBinding* Find(const NamespaceMap& bindings, std::string_view prefix) {
    for (const NamespaceBinding& binding : bindings) {
        if (binding.prefix == prefix) {
            return &binding;
        }
    }
    return nullptr;
}

// An XPath literal holding text, in whichever quote it does not contain.
std::string Quoted(std::string_view text) {
    const char quote = text.find('\'') == std::string_view::npos ? '\'' : '"';
    return quote + std::string(text) + quote;
}

bool IsNCName(std::string_view name) {
    if (name.empty() || !xpath::IsNameStart(static_cast<unsigned char>(name[0]))) {
        return false;
    }
    return std::all_of(name.begin(), name.end(), [](char character) {
        return xpath::IsNameCharacter(static_cast<unsigned char>(character));
    });
}

// Whether the name test at index tests attributes: it follows '@' or
// "attribute::".
bool TestsAttributes(const std::vector<Token>& tokens, std::size_t index) {
    if (index >= 1 && tokens[index - 1].kind == Kind::At) {
        return true;
    }
    return index >= 2 && tokens[index - 1].kind == Kind::ColonColon &&
           tokens[index - 2].text == "attribute";
}

// The name test as a plain name under the document's one prefix for the
// namespace; empty when the names in it are not all written one way.
std::string PlainName(std::string_view local, const std::string& uri, bool attribute,
                      const NamespaceMap& declared) {
    const NamespaceBinding* only = nullptr;
    bool defaultDeclared = false;
    for (const NamespaceBinding& declaration : declared) {
        defaultDeclared =
            defaultDeclared || (declaration.prefix.empty() && !declaration.uri.empty());
        if (declaration.uri != uri || (attribute && declaration.prefix.empty())) {
            continue;
        }
        if (only != nullptr) {
            return {};
        }
        only = &declaration;
    }
    if (local == "*" && (uri.empty() || only == nullptr || only->prefix.empty())) {
        return {};  // "*" alone would take prefixed names too
    }
    if (uri.empty()) {
        // No namespace: attributes without a prefix, and elements without
        // one unless a default namespace is declared.
        return attribute || !defaultDeclared ? std::string(local) : std::string();
    }
    if (only == nullptr) {
        return {};
    }
    return only->prefix.empty() ? std::string(local) : only->prefix + ":" + std::string(local);
}

}  // namespace

std::string_view PrefixOf(std::string_view name) {
    const std::size_t colon = name.find(':');
    return colon == std::string_view::npos ? std::string_view() : name.substr(0, colon);
}

std::string_view LocalPartOf(std::string_view name) {
    const std::size_t colon = name.find(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

std::string ReadBinding(std::string_view text, NamespaceBinding& binding) {
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos) {
        return "expected PREFIX=URI";
    }
    binding.prefix = std::string(text.substr(0, equals));
    binding.uri = std::string(text.substr(equals + 1));
    return {};
}

std::string AddBinding(NamespaceMap& bindings, NamespaceBinding binding) {
    if (!IsNCName(binding.prefix) || binding.prefix.find(':') != std::string::npos) {
        return "'" + binding.prefix + "' is not a namespace prefix";
    }
    if (binding.prefix == "xml" || binding.prefix == "xmlns") {
        return "the prefix '" + binding.prefix + "' is reserved";
    }
    if (binding.uri.find('\'') != std::string::npos && binding.uri.find('"') != std::string::npos) {
        return "a namespace URI cannot hold both kinds of quote";
    }
    if (const NamespaceBinding* known = Find(bindings, binding.prefix)) {
        if (known->uri == binding.uri) {
            return {};
        }
        return "the prefix '" + binding.prefix + "' is bound to '" + known->uri + "' already" +
               (known->origin.empty() ? "" : " (" + known->origin + ")");
    }
    bindings.push_back(std::move(binding));
    return {};
}

std::string ResolvePrefixes(std::string_view expression, const NamespaceMap& bindings,
                            const NamespaceMap* declared) {
    if (bindings.empty()) {
        return std::string(expression);
    }
    std::vector<Token> tokens;
    try {
        tokens = xpath::Tokenize(expression);
    } catch (const xpath::Rejected&) {
        return std::string(expression);
    }
    std::string resolved;
    std::size_t copied = 0;
    for (std::size_t index = 0; index < tokens.size(); ++index) {
        const Token& token = tokens[index];
        if (token.kind != Kind::Name) {
            continue;
        }
        const NamespaceBinding* binding = Find(bindings, PrefixOf(token.text));
        if (binding == nullptr) {
            continue;
        }
        const auto at = static_cast<std::size_t>(token.text.data() - expression.data());
        resolved.append(expression.substr(copied, at - copied));
        copied = at + token.text.size();
        const std::string_view local = LocalPartOf(token.text);
        if (declared != nullptr) {
            const std::string plain =
                PlainName(local, binding->uri, TestsAttributes(tokens, index), *declared);
            if (!plain.empty()) {
                resolved += plain;
                continue;
            }
        }
        resolved += "*[";
        if (local != "*") {
            resolved += "local-name()=" + Quoted(local) + " and ";
        }
        resolved += "namespace-uri()=" + Quoted(binding->uri) + "]";
    }
    resolved.append(expression.substr(copied));
    return resolved;
}

std::vector<NameTest> NameTests(std::string_view expression, const NamespaceMap& bindings) {
    std::vector<Token> tokens;
    try {
        tokens = xpath::Tokenize(expression);
    } catch (const xpath::Rejected&) {
        return {};
    }
    std::vector<NameTest> tests;
    for (std::size_t index = 0; index < tokens.size(); ++index) {
        const Token& token = tokens[index];
        if (token.kind != Kind::Name || LocalPartOf(token.text) == "*") {
            continue;
        }
        NameTest test;
        test.attribute = TestsAttributes(tokens, index);
        test.name = std::string(token.text);
        test.local = std::string(LocalPartOf(token.text));
        if (const NamespaceBinding* binding = Find(bindings, PrefixOf(token.text))) {
            test.bound = true;
            test.uri = binding->uri;
        }
        const bool known = std::any_of(tests.begin(), tests.end(), [&test](const NameTest& seen) {
            return seen.attribute == test.attribute && seen.name == test.name;
        });
        if (!known) {
            tests.push_back(std::move(test));
        }
    }
    return tests;
}

}  // namespace qiv::redact
