#include "SourceSplice.h"
#include "SpliceParts.h"

#include <algorithm>
#include <string>

#include "Markup.h"

namespace qiv::redact {

namespace splice {

namespace {

void AppendEscapedCharacter(std::string& out, char character, char quote) {
    switch (character) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += quote == '"' ? "&quot;" : "\"";
            break;
        case '\'':
            out += quote == '\'' ? "&apos;" : "'";
            break;
        case '\t':
        case '\n':
        case '\r':
            // Attribute values would read these back as spaces.
            if (quote != 0) {
                out += "&#" + std::to_string(static_cast<int>(character)) + ";";
            } else {
                out += character;
            }
            break;
        default:
            out += character;
    }
}

}  // namespace

void AppendEscaped(std::string& out, std::string_view value, char quote) {
    // Runs that need no escape are copied whole.
    const auto special = [quote](char character) {
        return character == '&' || character == '<' || character == '>' || character == '"' ||
               character == '\'' ||
               (quote != 0 && (character == '\t' || character == '\n' || character == '\r'));
    };
    for (std::size_t at = 0; at < value.size();) {
        std::size_t next = at;
        while (next < value.size() && !special(value[next])) {
            ++next;
        }
        out.append(value.substr(at, next - at));
        if (next == value.size()) {
            break;
        }
        AppendEscapedCharacter(out, value[next], quote);
        at = next + 1;
    }
}

std::string CDataReplacement(std::string_view value) {
    std::string out;
    for (std::size_t at = 0;;) {
        const std::size_t end = value.find("]]>", at);
        if (end == none) {
            out.append(value.substr(at));
            return out;
        }
        out.append(value.substr(at, end - at)).append("]]]]><![CDATA[>");
        at = end + 3;
    }
}

}  // namespace splice

using splice::AppendEscaped;
using splice::CDataReplacement;

// New values are UTF-8; the output may be an 8-bit charset.
void SourceSplicer::InOutputCharset(std::string& escaped, char context) const {
    if (charsets_.output == Charset::Utf8 ||
        std::all_of(escaped.begin(), escaped.end(),
                    [](char byte) { return static_cast<unsigned char>(byte) < 0x80; })) {
        return;
    }
    std::string converted;
    converted.reserve(escaped.size());
    AppendInCharset(converted, escaped, charsets_.output, context == 'C');
    escaped.swap(converted);
}

// A value as written in one context: text (0), an attribute in either quote,
// or CDATA ('C'). Values repeat, so each is escaped once.
std::string SourceSplicer::Escaped(std::uint32_t text, char context) {
    if ((text & valueFlag) != 0) {
        // Mostly written once: only the last one is kept, for a constant.
        if (text != lastValue_ || context != lastContext_) {
            const std::string_view value = TextOf(text);
            lastEscaped_.clear();
            if (context == 'C') {
                lastEscaped_ = CDataReplacement(value);
            } else {
                AppendEscaped(lastEscaped_, value, context);
            }
            InOutputCharset(lastEscaped_, context);
            lastValue_ = text;
            lastContext_ = context;
        }
        return lastEscaped_;
    }
    const std::size_t slot = text * 4 + (context == 0      ? 0
                                         : context == '"'  ? 1
                                         : context == '\'' ? 2
                                                           : 3);
    if (slot >= escaped_.size()) {
        escaped_.resize(slot + 1);
        escapedReady_.resize(slot + 1, false);
    }
    if (!escapedReady_[slot]) {
        escaped_[slot] = context == 'C' ? CDataReplacement(texts_[text]) : std::string();
        if (context != 'C') {
            AppendEscaped(escaped_[slot], texts_[text], context);
        }
        InOutputCharset(escaped_[slot], context);
        escapedReady_[slot] = true;
    }
    return escaped_[slot];
}

}  // namespace qiv::redact
