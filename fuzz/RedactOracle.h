#pragma once

// What a redacted document must look like, judged from the input bytes, the
// output bytes and what was asked, without the tool's own code: the output is
// the input with only the selected values replaced, and it is one well-formed
// document in an encoding it declares truthfully.
//
// Values are compared as "tokens": runs of at least four ASCII letters and
// digits. Such a run reads the same in UTF-8, Latin-1 and the other 8-bit
// encodings, cannot hide inside markup and is rarely made up by accident.

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <pugixml.hpp>

namespace qiv::fuzz {

/// What was asked of the tool.
struct RedactRequest {
    std::vector<std::string> expressions;
    bool deep = false;
    bool attributes = false;
    bool reformat = false;  // written anew, which drops the DOCTYPE
    // The output's top level must be one document's even where the input's
    // is not (text, a second element or a DOCTYPE after its element).
    bool strictTopLevel = false;
};

/// How a parser reads a text's bytes.
struct Sniffed {
    bool wide = false;     // UTF-16 or UTF-32 (by byte order mark or by the bytes of "<")
    bool utf8Bom = false;  // starts with EF BB BF
    std::string declared;  // the encoding named in the XML declaration, if any
};

inline bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

/// The encoding name of a leading "<?xml ...?>", read the way pugixml reads it
/// to choose the encoding: the first "en" in the declaration starts it, and a
/// '?' before that ends the search.
inline std::string DeclaredEncoding(std::string_view text) {
    const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    if (text.size() < 6 || text.compare(0, 5, "<?xml") != 0 || !space(text[5])) {
        return {};
    }
    for (std::size_t at = 6; at + 1 < text.size(); ++at) {
        if (text[at] == '?') {
            return {};
        }
        if (text.compare(at, 8, "encoding") != 0) {
            if (text[at] == 'e' && text[at + 1] == 'n') {
                return {};
            }
            continue;
        }
        std::size_t offset = at + 8;
        while (offset < text.size() && space(text[offset])) {
            ++offset;
        }
        if (offset >= text.size() || text[offset] != '=') {
            return {};
        }
        ++offset;
        while (offset < text.size() && space(text[offset])) {
            ++offset;
        }
        if (offset >= text.size() || (text[offset] != '"' && text[offset] != '\'')) {
            return {};
        }
        const char quote = text[offset++];
        const std::size_t end = text.find(quote, offset);
        return end == std::string_view::npos ? std::string()
                                             : std::string(text.substr(offset, end - offset));
    }
    return {};
}

inline Sniffed Sniff(std::string_view text) {
    Sniffed sniffed;
    const auto at = [&text](std::size_t index) {
        return index < text.size() ? static_cast<unsigned char>(text[index]) : 0x100u;
    };
    sniffed.wide = (at(0) == 0xFF && at(1) == 0xFE) || (at(0) == 0xFE && at(1) == 0xFF) ||
                   (at(0) == 0 && at(1) == 0 && at(2) == 0xFE && at(3) == 0xFF) ||
                   (at(0) == '<' && at(1) == 0) || (at(0) == 0 && at(1) == '<') ||
                   (at(0) == 0 && at(1) == 0 && at(2) == 0 && at(3) == '<');
    sniffed.utf8Bom = at(0) == 0xEF && at(1) == 0xBB && at(2) == 0xBF;
    if (!sniffed.wide && !sniffed.utf8Bom) {
        sniffed.declared = DeclaredEncoding(text);
    }
    return sniffed;
}

inline bool IsUtf8Name(std::string_view name) {
    return EqualsIgnoringCase(name, "utf-8") || EqualsIgnoringCase(name, "utf8");
}

/// Names pugixml converts from Latin-1.
inline bool IsLatin1Name(std::string_view name) {
    return EqualsIgnoringCase(name, "iso-8859-1") || EqualsIgnoringCase(name, "latin1");
}

inline bool IsWideName(std::string_view name) {
    std::string lower(name);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower.rfind("utf-16", 0) == 0 || lower.rfind("utf-32", 0) == 0 ||
           lower.rfind("ucs", 0) == 0 || lower.rfind("utf16", 0) == 0 ||
           lower.rfind("utf32", 0) == 0;
}

/// An 8-bit encoding that the parser does not convert: its bytes are taken
/// as they are, so only the declaration tells a reader how to decode them.
inline bool IsPassThrough8Bit(const Sniffed& sniffed) {
    return !sniffed.wide && !sniffed.utf8Bom && !sniffed.declared.empty() &&
           !IsUtf8Name(sniffed.declared) && !IsLatin1Name(sniffed.declared) &&
           !IsWideName(sniffed.declared);
}

inline bool ValidUtf8(std::string_view text) {
    std::size_t at = 0;
    while (at < text.size()) {
        const auto lead = static_cast<unsigned char>(text[at]);
        std::size_t length = 1;
        unsigned int point = lead;
        if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            point = lead & 0x07;
        } else if (lead >= 0xE0) {
            length = lead <= 0xEF ? 3 : 0;
            point = lead & 0x0F;
        } else if (lead >= 0xC2) {
            length = 2;
            point = lead & 0x1F;
        } else if (lead >= 0x80) {
            length = 0;
        }
        if (length == 0 || at + length > text.size()) {
            return false;
        }
        for (std::size_t index = 1; index < length; ++index) {
            const auto next = static_cast<unsigned char>(text[at + index]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            point = (point << 6) | (next & 0x3F);
        }
        const bool overlong = (length == 3 && point < 0x800) || (length == 4 && point < 0x10000);
        if (overlong || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) {
            return false;
        }
        at += length;
    }
    return true;
}

inline bool IsTokenCharacter(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }

/// Each run of at least four ASCII letters and digits, with how often it
/// occurs. A run is as long as it goes: "abcdef" holds no run "abcd".
using Tokens = std::unordered_map<std::string, std::size_t>;

inline void AddTokens(std::string_view text, Tokens& tokens) {
    std::size_t at = 0;
    while (at < text.size()) {
        if (!IsTokenCharacter(text[at])) {
            ++at;
            continue;
        }
        std::size_t end = at;
        while (end < text.size() && IsTokenCharacter(text[end])) {
            ++end;
        }
        if (end - at >= 4) {
            ++tokens[std::string(text.substr(at, end - at))];
        }
        at = end;
    }
}

inline Tokens TokensOf(std::string_view text) {
    Tokens tokens;
    AddTokens(text, tokens);
    return tokens;
}

/// How often part occurs in the text the tokens were taken from, overlaps
/// included. Letters and digits occur only inside runs, so for such a part
/// the runs tell it exactly.
inline std::size_t Occurrences(const Tokens& tokens, std::string_view part) {
    std::size_t count = 0;
    for (const auto& [run, times] : tokens) {
        for (std::size_t at = run.find(part); at != std::string::npos;
             at = run.find(part, at + 1)) {
            count += times;
        }
    }
    return count;
}

/// Text a writer may add on its own: a declaration, "redacted", encoding names.
inline bool Boilerplate(std::string_view token) {
    static const std::string_view written =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>redacted "
        "UTF-16 UTF-32 UTF8 ISO-8859-1 latin1 windows-1252 ISO-8859-15 ISO-8859-2 ISO_8859-1 "
        "US-ASCII";
    const auto lower = [](char c) { return static_cast<char>(std::tolower(c)); };
    return std::search(written.begin(), written.end(), token.begin(), token.end(),
                       [&lower](char a, char b) { return lower(a) == lower(b); }) != written.end();
}

/// How many times each "&amp;NAME;" occurs: an entity reference the writer
/// turned into literal text.
inline std::unordered_map<std::string, std::size_t> EscapedReferences(std::string_view text) {
    std::unordered_map<std::string, std::size_t> counts;
    constexpr std::string_view amp = "&amp;";
    for (std::size_t at = text.find(amp); at != std::string_view::npos;
         at = text.find(amp, at + 1)) {
        std::size_t end = at + amp.size();
        while (end < text.size() &&
               (std::isalnum(static_cast<unsigned char>(text[end])) != 0 || text[end] == '_' ||
                text[end] == '-' || text[end] == '.' || text[end] == ':')) {
            ++end;
        }
        if (end > at + amp.size() && end < text.size() && text[end] == ';') {
            ++counts[std::string(text.substr(at + amp.size(), end - at - amp.size()))];
        }
    }
    return counts;
}

/// Whether the output's top level is that of one document: exactly one
/// element, no character data or CDATA beside it, no DOCTYPE after it.
/// Empty when it is; else what is wrong.
inline std::string TopLevelProblem(std::string_view output) {
    pugi::xml_document document;
    const pugi::xml_parse_result parsed =
        document.load_buffer(output.data(), output.size(),
                             pugi::parse_default | pugi::parse_fragment | pugi::parse_comments |
                                 pugi::parse_pi | pugi::parse_declaration | pugi::parse_doctype,
                             pugi::encoding_auto);
    if (!parsed) {
        return std::string("the output does not parse: ") + parsed.description() + " at offset " +
               std::to_string(parsed.offset);
    }
    std::size_t elements = 0;
    for (pugi::xml_node node = document.first_child(); node; node = node.next_sibling()) {
        switch (node.type()) {
            case pugi::node_element:
                if (++elements > 1) {
                    return std::string("the output has a second top-level element <") +
                           node.name() + ">";
                }
                break;
            case pugi::node_pcdata: {
                const std::string_view text = node.value();
                if (text.find_first_not_of(" \t\r\n") != std::string_view::npos) {
                    return "the output has text beside the document element: " +
                           std::string(text.substr(0, 80));
                }
                break;
            }
            case pugi::node_cdata:
                return "the output has a CDATA section beside the document element";
            case pugi::node_doctype:
                if (elements > 0) {
                    return "the output has a DOCTYPE after the document element";
                }
                break;
            default:
                break;
        }
    }
    return elements == 0 ? "the output has no document element" : std::string();
}

namespace detail {

inline bool IsText(const pugi::xml_node& node) {
    return node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata;
}

// The text that gets the new value when elements are selected: each one's
// first text or CDATA child, or with deep every text and CDATA below it. One
// walk serves all of them, however they nest.
inline void MarkText(const pugi::xml_document& document,
                     const std::unordered_map<const void*, pugi::xml_node>& elements, bool deep,
                     std::unordered_set<const void*>& redacted) {
    if (!deep) {
        for (const auto& [item, element] : elements) {
            pugi::xml_node child = element.first_child();
            while (child && !IsText(child)) {
                child = child.next_sibling();
            }
            if (child) {
                redacted.insert(child.internal_object());
            }
        }
        return;
    }
    std::size_t inside = 0;  // selected elements above the current node
    pugi::xml_node current = document.first_child();
    while (current) {
        if (inside > 0 && IsText(current)) {
            redacted.insert(current.internal_object());
        }
        if (current.first_child()) {
            inside += elements.count(current.internal_object());
            current = current.first_child();
            continue;
        }
        while (!current.next_sibling()) {
            current = current.parent();
            if (current == document) {
                return;
            }
            inside -= elements.count(current.internal_object());
        }
        current = current.next_sibling();
    }
}

// Visits node and everything below it, without recursion.
template <typename Visit>
void ForEachNode(const pugi::xml_node& top, Visit visit) {
    pugi::xml_node current = top;
    while (current) {
        visit(current);
        if (current.first_child()) {
            current = current.first_child();
            continue;
        }
        while (current && current != top && !current.next_sibling()) {
            current = current.parent();
        }
        if (!current || current == top) {
            break;
        }
        current = current.next_sibling();
    }
}

// Whether an expression selects by element and attribute names only, so
// that it selects the same items before and after any value is replaced.
inline bool ByNamesOnly(std::string_view expression) {
    if (expression.empty() || expression.find("::") != std::string_view::npos) {
        return false;
    }
    for (std::size_t at = 0; at < expression.size(); ++at) {
        const auto c = static_cast<unsigned char>(expression[at]);
        const bool name = std::isalnum(c) != 0 || c == '_' || c == '-' || c >= 0x80;
        if (c == '.') {
            if (at == 0) {
                return false;
            }
            const auto before = static_cast<unsigned char>(expression[at - 1]);
            if (!(std::isalnum(before) != 0 || before == '_' || before == '-' || before == '.' ||
                  before >= 0x80)) {
                return false;
            }
        } else if (!name && c != '/' && c != '*' && c != '@' && c != ':' && c != ' ' && c != '\t') {
            return false;
        }
    }
    return true;
}

}  // namespace detail

/// Everything wrong with output as the redaction of source; empty when the
/// output is what the request allows.
inline std::string OutputProblem(std::string_view source, std::string_view output,
                                 const RedactRequest& request) {
    const Sniffed in = Sniff(source);
    const Sniffed out = Sniff(output);
    const std::size_t sourceNul = in.wide ? std::string_view::npos : source.find('\0');
    const std::string_view parsedSource = source.substr(0, sourceNul);
    // Letters and digits are ASCII in every encoding but the wide ones.
    const Tokens sourceTokens = in.wide ? Tokens() : TokensOf(parsedSource);
    const Tokens outputTokens = out.wide ? Tokens() : TokensOf(output);

    // The parser tolerates more at the top level than XML allows (text, more
    // elements); unless strictTopLevel, an input that has such things is not
    // held to it.
    if (std::string problem = TopLevelProblem(output); !problem.empty()) {
        const std::string inputProblem = TopLevelProblem(in.wide ? source : parsedSource);
        const auto noElement = [](const std::string& text) {
            return text.find("no document element") != std::string::npos;
        };
        if (request.strictTopLevel || inputProblem.empty() ||
            (noElement(problem) && !noElement(inputProblem))) {
            return problem;
        }
    }

    // Nothing after a NUL of the input: the parser stops there.
    if (sourceNul != std::string_view::npos && !out.wide) {
        if (output.find('\0') != std::string_view::npos) {
            return "the output holds a NUL byte";
        }
        for (const auto& [token, times] : TokensOf(source.substr(sourceNul + 1))) {
            if (outputTokens.count(token) != 0 && Occurrences(sourceTokens, token) == 0 &&
                !Boilerplate(token)) {
                return "the output holds \"" + token + "\", which only follows a NUL of the input";
            }
        }
    }

    // Encoding: the output must say how to read its bytes.
    const bool outputUtf8 = !out.wide && (out.declared.empty() || IsUtf8Name(out.declared));
    if (IsPassThrough8Bit(in) &&
        (out.declared.empty() || IsUtf8Name(out.declared) || IsWideName(out.declared))) {
        return "the input is declared " + in.declared + ", but the output declares " +
               (out.declared.empty() ? std::string("no encoding") : out.declared);
    }
    const bool sourceValid = !in.wide && !IsPassThrough8Bit(in) &&
                             (IsLatin1Name(in.declared) || ValidUtf8(parsedSource));
    if (sourceValid && outputUtf8 && !ValidUtf8(output)) {
        return "the output is read as UTF-8 but is not valid UTF-8";
    }

    if (in.wide || out.wide) {
        return {};  // the byte-wise checks below need ASCII-compatible text
    }

    // An entity reference must stay a reference, not become literal text,
    // unless the document was asked to be written anew: without its DOCTYPE,
    // the entities it declares would be undefined.
    const bool characterReferences = parsedSource.find("&#") != std::string_view::npos;
    if (!characterReferences && !request.reformat) {
        const auto before = EscapedReferences(parsedSource);
        for (const auto& [name, count] : EscapedReferences(output)) {
            const auto found = before.find(name);
            if (count > (found == before.end() ? 0 : found->second)) {
                return "the reference &" + name + "; became the text \"&amp;" + name + ";\"";
            }
        }
    }

    // The values that the expressions selecting by names select, read from
    // the document as the parser builds it, must be gone; when those are all
    // the expressions, every other value of the document element must remain.
    pugi::xml_document document;
    if (!document.load_buffer(source.data(), source.size(), pugi::parse_default,
                              pugi::encoding_auto)) {
        return {};
    }
    std::unordered_map<const void*, pugi::xml_node> elements;  // selected ones
    std::unordered_set<const void*> redacted;
    bool allByName = true;
    for (const std::string& expression : request.expressions) {
        if (!detail::ByNamesOnly(expression)) {
            allByName = false;
            continue;
        }
        pugi::xpath_node_set selected;
        try {
            selected = document.select_nodes(expression.c_str());
        } catch (const pugi::xpath_exception&) {
            return {};
        }
        for (const pugi::xpath_node& item : selected) {
            if (const pugi::xml_attribute attribute = item.attribute()) {
                if (request.attributes) {
                    redacted.insert(attribute.internal_object());
                }
                continue;
            }
            const pugi::xml_node node = item.node();
            if (node.type() == pugi::node_element) {
                elements.emplace(node.internal_object(), node);
            } else if (node.type() == pugi::node_document) {
                // Selecting the document selects its top-level elements: the
                // parser takes more than one.
                for (const pugi::xml_node& top : node.children()) {
                    if (top.type() == pugi::node_element) {
                        elements.emplace(top.internal_object(), top);
                    }
                }
            }
        }
    }
    detail::MarkText(document, elements, request.deep, redacted);
    Tokens secret;  // in redacted values
    Tokens kept;    // in names and the other values
    for (pugi::xml_node top = document.first_child(); top; top = top.next_sibling()) {
        const bool documentElement = top == document.document_element();
        detail::ForEachNode(top, [&](const pugi::xml_node& node) {
            // Other top-level elements need not survive: the output is one document.
            Tokens none;
            Tokens& other = documentElement ? kept : none;
            AddTokens(node.name(), other);
            for (const pugi::xml_attribute& attribute : node.attributes()) {
                AddTokens(attribute.name(), other);
                AddTokens(attribute.value(),
                          redacted.count(attribute.internal_object()) != 0 ? secret : other);
            }
            if (detail::IsText(node)) {
                AddTokens(node.value(),
                          redacted.count(node.internal_object()) != 0 ? secret : other);
            }
        });
    }
    // A token is surely secret when every occurrence in the input lies in a
    // redacted value; character references could spell a value in other
    // bytes, so then none is.
    std::size_t checked = 0;
    for (const auto& [token, times] : secret) {
        if (characterReferences || ++checked > 512) {
            break;
        }
        if (outputTokens.count(token) != 0 && kept.count(token) == 0 && !Boilerplate(token) &&
            Occurrences(sourceTokens, token) == Occurrences(secret, token)) {
            return "the selected value \"" + token + "\" is still in the output";
        }
    }
    if (!allByName) {
        return {};  // the other expressions may have replaced more
    }
    pugi::xml_document result;
    if (!result.load_buffer(output.data(), output.size(), pugi::parse_default,
                            pugi::encoding_auto)) {
        return "the output does not load as a document";
    }
    std::string everything;
    detail::ForEachNode(result, [&everything](const pugi::xml_node& node) {
        everything.append(node.name()).append("\n").append(node.value()).append("\n");
        for (const pugi::xml_attribute& attribute : node.attributes()) {
            everything.append(attribute.name()).append("\n").append(attribute.value()).append("\n");
        }
    });
    const Tokens present = TokensOf(everything);
    for (const auto& [token, times] : kept) {
        if (present.count(token) == 0 && everything.find(token) == std::string::npos) {
            return "the value \"" + token + "\", which nothing selected, is gone from the output";
        }
    }
    return {};
}

}  // namespace qiv::fuzz
