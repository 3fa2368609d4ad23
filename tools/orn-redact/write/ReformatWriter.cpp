#include "ReformatWriter.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <memory>

#include <pugixml.hpp>

#include "DocumentInput.h"
#include "Encoding.h"
#include "Redaction.h"
#include "SourceSplice.h"

namespace qiv::redact {

namespace {

constexpr std::size_t none = std::string_view::npos;

std::string Counted(std::size_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// The markup the parser does not keep: a light scan that skips CDATA
// sections, so that markup quoted in them is not counted.
struct DroppedMarkup {
    bool doctype = false;
    std::size_t entities = 0;  // declared in the DOCTYPE's internal subset
    std::size_t comments = 0;
    std::size_t instructions = 0;  // the XML declaration aside
    bool standalone = false;       // the declaration says standalone=...
};

DroppedMarkup ScanDroppedMarkup(std::string_view text) {
    DroppedMarkup found;
    std::size_t at = text.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
    if (text.compare(at, 5, "<?xml") == 0 && at + 5 < text.size() &&
        std::isspace(static_cast<unsigned char>(text[at + 5])) != 0) {
        const std::size_t end = text.find("?>", at);
        found.standalone = text.substr(at, end - at).find("standalone") != none;
        at = end == none ? text.size() : end + 2;
    }
    const auto skipTo = [&text](std::size_t from, std::string_view close) {
        const std::size_t end = text.find(close, from);
        return end == none ? text.size() : end + close.size();
    };
    for (std::size_t lt = text.find('<', at); lt != none; lt = text.find('<', at)) {
        const std::string_view rest = text.substr(lt);
        if (rest.substr(0, 4) == "<!--") {
            ++found.comments;
            at = skipTo(lt + 4, "-->");
        } else if (rest.substr(0, 9) == "<![CDATA[") {
            at = skipTo(lt + 9, "]]>");
        } else if (rest.substr(0, 2) == "<?") {
            ++found.instructions;
            at = skipTo(lt + 2, "?>");
        } else if (rest.substr(0, 9) == "<!DOCTYPE") {
            found.doctype = true;
            at = DoctypeEnd(text, lt);
            const std::string_view doctype = text.substr(lt, at - lt);
            for (std::size_t entity = doctype.find("<!ENTITY"); entity != none;
                 entity = doctype.find("<!ENTITY", entity + 1)) {
                ++found.entities;
            }
        } else {
            at = lt + 1;
        }
    }
    return found;
}

// Input in UTF-16 or UTF-32 as one byte per code unit, for the scan above:
// ASCII as it is and every other unit as a byte that is not markup, so that
// markup is found where the parser found it. A byte order mark is left out.
std::string Narrowed(std::string_view source, const std::string& encoding, std::size_t unit) {
    const bool bigEndian =
        encoding.size() >= 2 && encoding.compare(encoding.size() - 2, 2, "BE") == 0;
    std::string narrow;
    narrow.reserve(source.size() / unit);
    for (std::size_t at = 0; at + unit <= source.size(); at += unit) {
        std::uint32_t value = 0;
        for (std::size_t byte = 0; byte < unit; ++byte) {
            const auto next =
                static_cast<unsigned char>(source[at + (bigEndian ? byte : unit - 1 - byte)]);
            value = value << 8 | next;
        }
        if (at == 0 && value == 0xFEFF) {
            continue;
        }
        narrow += value < 0x80 ? static_cast<char>(value) : '\x80';
    }
    return narrow;
}

}  // namespace

std::string JoinedList(const std::vector<std::string>& items) {
    std::string joined;
    for (std::size_t index = 0; index < items.size(); ++index) {
        if (index > 0) {
            joined += index + 1 == items.size() ? " and " : ", ";
        }
        joined += items[index];
    }
    return joined;
}

ReformatWriter::ReformatWriter(std::string_view source, DataParserIF& parser, bool raw)
    : parser_(parser), raw_(raw) {
    // The parser writes UTF-8. Input it converted from UTF-16 or UTF-32 is
    // UTF-8 now, and so is input with a UTF-8 byte order mark; the bytes of
    // an 8-bit encoding it does not know went through unchanged, and Latin-1
    // can be written back as Latin-1: those get a declaration naming it.
    const std::string converted = ConvertedEncoding(source);
    const std::string_view declared = DeclaredEncoding(source);
    const bool utf8 = declared.empty() || EqualsIgnoringCase(declared, "utf-8") ||
                      EqualsIgnoringCase(declared, "utf8") || source.substr(0, 3) == "\xEF\xBB\xBF";
    if (!utf8 && (converted.empty() || converted == "Latin-1")) {
        declaredEncoding_ = std::string(declared);
        latin1_ = converted == "Latin-1";
    }

    const std::size_t unit = CodeUnit(source);
    const std::string narrow = unit == 1 ? std::string() : Narrowed(source, converted, unit);
    const DroppedMarkup dropped = ScanDroppedMarkup(unit == 1 ? source : std::string_view(narrow));
    if (dropped.doctype) {
        std::string doctype = "its DOCTYPE";
        if (dropped.entities > 0) {
            doctype += " (with " + Counted(dropped.entities, "entity", "entities") +
                       " declared in it: a reference to one, such as &name;, is written as "
                       "the text &amp;name;)";
        }
        lost_.push_back(doctype);
    }
    if (dropped.comments > 0) {
        lost_.push_back(Counted(dropped.comments, "comment", "comments"));
    }
    if (dropped.instructions > 0) {
        lost_.push_back(
            Counted(dropped.instructions, "processing instruction", "processing instructions"));
    }
    if (dropped.standalone) {
        lost_.push_back("the standalone setting of its XML declaration");
    }
}

bool ReformatWriter::CheckSize(std::size_t inputSize, std::string& error) const {
    if (raw_) {
        return true;
    }
    // Each node on a line of its own is indented by its depth.
    const pugi::xml_node document = DocumentNode(parser_);
    unsigned long long tabs = 0;
    std::size_t depth = 0;
    for (pugi::xml_node current = document.first_child(); current;) {
        tabs += depth;
        if (current.first_child()) {
            current = current.first_child();
            ++depth;
            continue;
        }
        while (!current.next_sibling() && current.parent() != document) {
            current = current.parent();
            --depth;
        }
        current = current.next_sibling();
    }
    constexpr unsigned long long allowedGrowth = 16;
    constexpr unsigned long long alwaysAllowed = 64ULL << 20;
    const unsigned long long limit = std::max(alwaysAllowed, allowedGrowth * inputSize);
    if (tabs <= limit) {
        return true;
    }
    error = "the indented document would take over " + std::to_string(tabs >> 20) +
            " MiB of TABs alone (the input is " + std::to_string(inputSize) +
            " bytes): each level of nesting indents every line inside it, so deep nesting grows "
            "it with the square of the depth (use --raw)";
    return false;
}

void ReformatWriter::Write(std::ostream& out) const {
    const unsigned int format = raw_ ? pugi::format_raw : pugi::format_indent;
    if (declaredEncoding_.empty()) {
        parser_.SaveToStream(out, format);
        return;
    }
    out << "<?xml version=\"1.0\" encoding=\"" << declaredEncoding_ << "\"?>";
    if (!raw_) {
        out << '\n';
    }
    DocumentNode(parser_).print(out, "\t", format | pugi::format_no_declaration,
                                latin1_ ? pugi::encoding_latin1 : pugi::encoding_utf8);
}

}  // namespace qiv::redact
