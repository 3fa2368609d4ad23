#include "Markup.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "Characters.h"
#include "Encoding.h"

namespace qiv::redact {

namespace {

bool StartsWithBom(std::string_view text) { return text.compare(0, 3, "\xEF\xBB\xBF") == 0; }

std::size_t OrEnd(std::string_view text, std::size_t at) { return at == none ? text.size() : at; }

// The name of the tag whose name starts at from and whose tag ends at close.
std::string_view TagName(std::string_view text, std::size_t from, std::size_t close) {
    std::size_t end = from;
    while (end < close && !IsBlank(text[end]) && text[end] != '/') {
        ++end;
    }
    return text.substr(from, end - from);
}

}  // namespace

std::size_t Past(std::string_view text, std::size_t at, std::string_view close) {
    const std::size_t end = text.find(close, at);
    return end == none ? none : end + close.size();
}

std::size_t StartTagEnd(std::string_view text, std::size_t lt) {
    for (std::size_t at = lt + 1; at < text.size(); ++at) {
        const char character = text[at];
        if (character == '>') {
            return at;
        }
        if (character == '"' || character == '\'') {
            at = text.find(character, at + 1);
            if (at == none) {
                return none;
            }
        }
    }
    return none;
}

namespace {

// Walks the DOCTYPE starting at at ("<!DOCTYPE") up to its closing '>':
// quoted literals, and in the internal subset comments and PIs, are passed
// whole. At any other place in the subset, declaration(at) may take over:
// it returns where to go on, or none to pass one character. Returns where
// the walk stopped: the '>' or the end of text.
template <typename Declaration>
std::size_t WalkDoctype(std::string_view text, std::size_t at, Declaration declaration) {
    bool subset = false;
    for (at += 9; at < text.size() && (subset || text[at] != '>');) {
        const char character = text[at];
        if (character == '"' || character == '\'') {
            at = OrEnd(text, Past(text, at + 1, std::string_view(&text[at], 1)));
        } else if (subset && text.compare(at, 4, "<!--") == 0) {
            at = OrEnd(text, Past(text, at + 4, "-->"));
        } else if (subset && text.compare(at, 2, "<?") == 0) {
            at = OrEnd(text, Past(text, at + 2, "?>"));
        } else if (const std::size_t next = subset ? declaration(at) : none; next != none) {
            at = next;
        } else {
            subset = character == '[' || (subset && character != ']');
            ++at;
        }
    }
    return at;
}

}  // namespace

std::size_t DoctypeEnd(std::string_view text, std::size_t at) {
    at = WalkDoctype(text, at, [](std::size_t) { return none; });
    return at < text.size() ? at + 1 : at;
}

std::vector<EntityDeclaration> InternalEntities(std::string_view text) {
    std::vector<EntityDeclaration> found;
    const std::size_t start = SkipMisc(text, StartsWithBom(text) ? 3 : 0, false);
    if (start == none || text.compare(start, 9, "<!DOCTYPE") != 0) {
        return found;
    }
    text = text.substr(0, DoctypeEnd(text, start));
    const std::size_t end = text.size();
    WalkDoctype(text, start, [&](std::size_t at) {
        if (text.compare(at, 8, "<!ENTITY") != 0 || at + 8 >= end || !IsBlank(text[at + 8])) {
            return none;
        }
        // <!ENTITY name "value">: a '%' instead of the name declares a
        // parameter entity, a SYSTEM or PUBLIC instead of the quote an
        // external one. The quoted value is passed by the walk.
        const std::size_t declaration = at;
        std::size_t name = at + 8;
        while (name < end && IsBlank(text[name])) {
            ++name;
        }
        std::size_t nameEnd = name;
        while (nameEnd < end && !IsBlank(text[nameEnd]) && text[nameEnd] != '>' &&
               text[nameEnd] != '"' && text[nameEnd] != '\'') {
            ++nameEnd;
        }
        at = nameEnd;
        while (at < end && IsBlank(text[at])) {
            ++at;
        }
        const bool quoted = at < end && (text[at] == '"' || text[at] == '\'');
        if (quoted && nameEnd > name && text[name] != '%') {
            const std::size_t close = text.find(text[at], at + 1);
            if (close != none) {
                found.push_back(
                    {std::string(text.substr(name, nameEnd - name)), declaration, at + 1, close});
            }
        }
        return at;
    });
    return found;
}

std::size_t SkipMisc(std::string_view text, std::size_t at, bool doctype) {
    for (;;) {
        while (at < text.size() && IsBlank(text[at])) {
            ++at;
        }
        if (text.compare(at, 4, "<!--") == 0) {
            at = Past(text, at + 4, "-->");
        } else if (text.compare(at, 2, "<?") == 0) {
            at = Past(text, at + 2, "?>");
        } else if (doctype && text.compare(at, 9, "<!DOCTYPE") == 0) {
            at = DoctypeEnd(text, at);
            at = at >= text.size() ? none : at;
        } else {
            return at;
        }
        if (at == none) {
            return none;
        }
    }
}

Prolog FindDocumentStart(std::string_view text, std::size_t& end, std::string& name, bool& empty) {
    const std::size_t at = SkipMisc(text, StartsWithBom(text) ? 3 : 0, true);
    // Nine bytes tell "<!DOCTYPE" from the others.
    if (at == none || text.size() - at < 9) {
        return Prolog::More;
    }
    if (text[at] != '<' || text[at + 1] == '!' || text[at + 1] == '/') {
        return Prolog::Other;
    }
    const std::size_t close = StartTagEnd(text, at);
    if (close == none) {
        return Prolog::More;
    }
    name.assign(TagName(text, at + 1, close));
    empty = text[close - 1] == '/';
    end = close + 1;
    return name.empty() ? Prolog::Other : Prolog::Found;
}

Scan ScanContent(std::string_view text, std::size_t& at, std::size_t& depth, std::size_t cutFrom,
                 std::string_view name, bool atEnd, std::vector<std::size_t>* opaque) {
    for (;;) {
        const std::size_t lt = text.find('<', at);
        if (lt == none) {
            at = text.size();
            return Scan::More;
        }
        at = lt;
        if ((text.size() - lt < 9 && !atEnd) || lt + 2 > text.size()) {
            return Scan::More;  // too short to tell "<![CDATA[" from the others
        }
        std::size_t end;
        bool opens = false;
        const char kind = text[lt + 1];
        if (kind == '/') {
            end = text.find('>', lt + 2);
            if (end == none) {
                return Scan::More;
            }
            if (depth == 0) {
                std::size_t nameEnd = lt + 2;
                while (nameEnd < end && !IsBlank(text[nameEnd])) {
                    ++nameEnd;
                }
                if (text.substr(lt + 2, nameEnd - lt - 2) == name) {
                    return Scan::End;
                }
                at = end + 1;
                return Scan::BadEnd;
            }
            --depth;
            ++end;
        } else if (kind == '!') {
            end = text.compare(lt, 4, "<!--") == 0        ? Past(text, lt + 4, "-->")
                  : text.compare(lt, 9, "<![CDATA[") == 0 ? Past(text, lt + 9, "]]>")
                                                          : Past(text, lt + 2, ">");
        } else if (kind == '?') {
            end = Past(text, lt + 2, "?>");
        } else {
            end = StartTagEnd(text, lt);
            if (end != none) {
                opens = text[end - 1] != '/';
                ++end;
            }
        }
        if (end == none) {
            return Scan::More;
        }
        if (opaque != nullptr && (kind == '!' || kind == '?')) {
            opaque->push_back(lt);
            opaque->push_back(end);
        }
        at = end;
        if (opens) {
            ++depth;
        } else if (depth == 0 && at >= cutFrom) {
            return Scan::Cut;
        }
    }
}

namespace {

// Where the document element that starts with the tag [lt, tagEnd] really
// ends, by depth; none when text ends first.
std::size_t DocumentElementEnd(std::string_view text, std::size_t lt, std::size_t tagEnd) {
    const std::string_view name = TagName(text, lt + 1, tagEnd);
    std::size_t at = tagEnd + 1;
    std::size_t depth = 0;
    switch (ScanContent(text, at, depth, none, name, true)) {
        case Scan::End:
            return OrEnd(text, Past(text, at + 2, ">"));
        case Scan::BadEnd:
            return at;
        default:
            return none;
    }
}

// Where the document element's end tag starts when it is the last markup
// once the blanks, comments and PIs after it are passed: found from the end,
// without a scan of the content; none when something else is there.
std::size_t EndTagFromTheBack(std::string_view text, std::string_view name) {
    std::size_t back = text.size();
    for (;;) {
        while (back > 0 && IsBlank(text[back - 1])) {
            --back;
        }
        const std::string_view head = text.substr(0, back);
        const std::size_t open =
            head.size() >= 3 && head.substr(head.size() - 3) == "-->"  ? head.rfind("<!--")
            : head.size() >= 2 && head.substr(head.size() - 2) == "?>" ? head.rfind("<?")
                                                                       : none;
        if (open == none) {
            break;
        }
        back = open;
    }
    const std::size_t lt = back > 0 && text[back - 1] == '>' ? text.rfind('<', back - 1) : none;
    if (lt == none || text.compare(lt, 2, "</") != 0 ||
        text.compare(lt + 2, name.size(), name) != 0) {
        return none;
    }
    std::size_t after = lt + 2 + name.size();
    while (after < back && IsBlank(text[after])) {
        ++after;
    }
    return after + 1 == back ? back : none;
}

}  // namespace

std::string TopLevelExtra(std::string_view text, std::size_t& offset) {
    std::size_t at = OrEnd(text, SkipMisc(text, StartsWithBom(text) ? 3 : 0, true));
    if (at >= text.size() || text[at] != '<' || text.compare(at, 2, "<!") == 0) {
        offset = at;
        return at >= text.size() ? std::string() : "text before the document element";
    }
    const std::size_t rootTagEnd = OrEnd(text, StartTagEnd(text, at));
    if (rootTagEnd >= text.size()) {
        return {};  // cut short: the parser has said so already
    }
    const bool empty = text[rootTagEnd - 1] == '/';
    std::size_t end =
        empty ? rootTagEnd + 1 : EndTagFromTheBack(text, TagName(text, at + 1, rootTagEnd));
    if (end != none && OrEnd(text, SkipMisc(text, end, false)) >= text.size()) {
        return {};
    }
    if (!empty) {
        // Something other than blanks, comments and PIs after the end tag,
        // or no end tag last: through the content to where it really ends.
        end = DocumentElementEnd(text, at, rootTagEnd);
        if (end == none) {
            return {};
        }
    }
    at = OrEnd(text, SkipMisc(text, end, false));
    if (at >= text.size()) {
        return {};
    }
    offset = at;
    if (text.compare(at, 9, "<![CDATA[") == 0) {
        return "a CDATA section after the document element";
    }
    return text[at] == '<' ? "markup after the document element"
                           : "text after the document element";
}

Opening DocumentOpening(std::string_view text, std::size_t& at) {
    // The encoding is told by the first four bytes; fewer decide nothing yet.
    if (text.size() < 4) {
        return Opening::Undecided;
    }
    const std::string encoding = ConvertedEncoding(text.substr(0, 4));
    const std::size_t unit = CodeUnit(text.substr(0, 4));
    const bool bigEndian =
        encoding.size() > 2 && encoding.compare(encoding.size() - 2, 2, "BE") == 0;
    const auto unitAt = [&](std::size_t offset) {
        std::uint32_t value = 0;
        for (std::size_t index = 0; index < unit; ++index) {
            const auto byte =
                static_cast<unsigned char>(text[offset + (bigEndian ? index : unit - 1 - index)]);
            value = value << 8 | byte;
        }
        return value;
    };
    at = unit == 1 && StartsWithBom(text) ? 3 : 0;
    if (unit > 1 && unitAt(0) == 0xFEFF) {
        at = unit;
    }
    for (; at + unit <= text.size(); at += unit) {
        const std::uint32_t value = unitAt(at);
        if (value == '<') {
            return Opening::Markup;
        }
        if (value > 0x7F || !IsBlank(static_cast<char>(value))) {
            return Opening::Other;
        }
    }
    return Opening::Undecided;
}

bool StartsReference(std::string_view text, std::size_t at) {
    const auto isIn = [&text](std::size_t index, auto test) {
        return index < text.size() && test(static_cast<unsigned char>(text[index]));
    };
    const auto digit = [](unsigned char c) { return c >= '0' && c <= '9'; };
    const auto hexDigit = [&digit](unsigned char c) {
        return digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    };
    const auto nameStart = [](unsigned char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' ||
               c >= 0x80;
    };
    const auto nameCharacter = [&](unsigned char c) {
        return nameStart(c) || digit(c) || c == '-' || c == '.';
    };
    std::size_t index = at + 1;
    const auto run = [&](auto test) {
        const std::size_t begin = index;
        while (isIn(index, test)) {
            ++index;
        }
        return index > begin;
    };
    bool body = false;
    if (isIn(index, [](unsigned char c) { return c == '#'; })) {
        ++index;
        if (isIn(index, [](unsigned char c) { return c == 'x'; })) {
            ++index;
            body = run(hexDigit);
        } else {
            body = run(digit);
        }
    } else if (isIn(index, nameStart)) {
        body = run(nameCharacter);
    }
    return body && isIn(index, [](unsigned char c) { return c == ';'; });
}

namespace {

// The first '&' in [from, to), or none; the search stops at to.
std::size_t AmpersandIn(std::string_view text, std::size_t from, std::size_t to) {
    if (from >= to) {
        return none;
    }
    const void* found = std::memchr(text.data() + from, '&', to - from);
    return found == nullptr
               ? none
               : static_cast<std::size_t>(static_cast<const char*>(found) - text.data());
}

// The '&' that start no reference, counted in text ranges from front to
// back. next: the first '&' at or after the ranges' start, so that the
// ranges without one (most of them) cost no search.
struct AmpersandCheck {
    std::string_view text;
    std::size_t end;  // where the search for '&' stops
    BareAmpersands& found;
    std::size_t next;

    // Counts the '&' in [from, to).
    void Range(std::size_t from, std::size_t to) {
        if (next < from) {
            next = AmpersandIn(text, from, end);
        }
        for (; next < to; next = AmpersandIn(text, next + 1, end)) {
            if (!StartsReference(text, next)) {
                found.first = std::min(found.first, next);
                ++found.count;
            }
        }
    }
};

// The markup from the start tag at lt: its quoted values are checked; where
// it ends (none when text ends first).
std::size_t CheckStartTag(std::string_view text, std::size_t lt, std::size_t to,
                          AmpersandCheck& check) {
    for (std::size_t at = lt + 1; at < to; ++at) {
        const char character = text[at];
        if (character == '>') {
            return at + 1;
        }
        if (character == '"' || character == '\'') {
            const std::size_t close = text.find(character, at + 1);
            if (close == none || close >= to) {
                return none;
            }
            check.Range(at + 1, close);
            at = close;
        }
    }
    return none;
}

}  // namespace

void FindBareAmpersands(std::string_view text, std::size_t from, std::size_t to,
                        BareAmpersands& found) {
    to = std::min(to, text.size());
    // The quick pass: no '&' that starts no reference, nothing to place.
    std::size_t candidate = text.find('&', from);
    while (candidate < to && StartsReference(text, candidate)) {
        candidate = text.find('&', candidate + 1);
    }
    if (candidate >= to) {
        return;
    }
    // Through the markup from the last point known to lie between constructs.
    AmpersandCheck check{text, to, found, AmpersandIn(text, from, to)};
    for (std::size_t at = from; at < to;) {
        const std::size_t lt = std::min(text.find('<', at), to);
        check.Range(at, lt);
        if (lt >= to) {
            break;
        }
        // Tags first: they are most of the markup.
        const char kind = lt + 1 < to ? text[lt + 1] : '\0';
        std::size_t end;
        if (kind == '/') {
            end = text.find('>', lt + 2);
            end = end == none ? none : end + 1;
        } else if (kind == '?') {
            end = Past(text, lt + 2, "?>");
        } else if (kind != '!') {
            end = CheckStartTag(text, lt, to, check);
        } else if (text.compare(lt, 4, "<!--") == 0) {
            end = Past(text, lt + 4, "-->");
        } else if (text.compare(lt, 9, "<![CDATA[") == 0) {
            end = Past(text, lt + 9, "]]>");
        } else if (text.compare(lt, 9, "<!DOCTYPE") == 0) {
            end = DoctypeEnd(text, lt);
        } else {
            end = Past(text, lt + 2, ">");
        }
        if (end == none) {
            break;  // cut short: the parser says so
        }
        at = end;
    }
}

void FindBareAmpersands(std::string_view text, std::size_t from, std::size_t to,
                        const std::vector<std::size_t>& opaque, BareAmpersands& found) {
    to = std::min(to, text.size());
    std::size_t range = 0;  // the first opaque construct that may hold what comes next
    for (std::size_t candidate = AmpersandIn(text, from, to); candidate != none;
         candidate = AmpersandIn(text, candidate + 1, to)) {
        while (range + 1 < opaque.size() && opaque[range + 1] <= candidate) {
            range += 2;
        }
        if (range + 1 < opaque.size() && opaque[range] <= candidate) {
            candidate = opaque[range + 1] - 1;  // on to the construct's end
            continue;
        }
        if (!StartsReference(text, candidate)) {
            found.first = std::min(found.first, candidate);
            ++found.count;
        }
    }
}

std::size_t NulOffset(std::string_view text, std::size_t unit) {
    for (std::size_t from = 0; from < text.size();) {
        const void* found = std::memchr(text.data() + from, 0, text.size() - from);
        if (found == nullptr) {
            break;
        }
        const auto at = static_cast<std::size_t>(static_cast<const char*>(found) - text.data());
        const std::size_t start = at - at % unit;  // the code unit holding it
        if (start + unit <= text.size() && text.find_first_not_of('\0', start) >= start + unit) {
            return start;
        }
        from = start + unit;
    }
    return none;
}

}  // namespace qiv::redact
