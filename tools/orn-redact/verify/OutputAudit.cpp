#include "OutputAudit.h"

#include <cstring>
#include <string_view>

#include "Characters.h"
#include "Encoding.h"
#include "Markup.h"

namespace qiv::redact {

namespace {

constexpr std::size_t readSize = 1 << 20;
// Values this short are looked for only as the whole of a text or value:
// as words they would turn up by chance.
constexpr std::size_t shortestWord = 4;

bool IsNameStart(char character) {
    const auto byte = static_cast<unsigned char>(character);
    return (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || byte == '_' ||
           byte == ':' || byte >= 0x80;
}

bool IsNameCharacter(char character) {
    return IsNameStart(character) || (character >= '0' && character <= '9') || character == '-' ||
           character == '.';
}

bool IsName(std::string_view text) {
    if (text.empty() || !IsNameStart(text[0])) {
        return false;
    }
    for (const char character : text) {
        if (!IsNameCharacter(character)) {
            return false;
        }
    }
    return true;
}

bool HasHighBytes(std::string_view text) {
    for (const char character : text) {
        if (static_cast<unsigned char>(character) >= 0x80) {
            return true;
        }
    }
    return false;
}

void Latin1ToUtf8(std::string_view text, std::string& out) {
    out.clear();
    for (const char character : text) {
        const auto byte = static_cast<unsigned char>(character);
        if (byte < 0x80) {
            out += character;
        } else {
            out += static_cast<char>(0xC0 | byte >> 6);
            out += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
}

void AppendUtf8(std::uint32_t code, std::string& out) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | code >> 6);
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | code >> 12);
        out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | code >> 18);
        out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// The length of the character reference "#..." or "#x..." that starts
// reference (after its '&'), up to its ';'; 0 when it is not one. code is
// its character.
std::size_t CharacterReference(std::string_view reference, std::uint32_t& code) {
    std::size_t at = 1;
    const bool hex = reference.size() > 1 && reference[1] == 'x';
    at += hex ? 1 : 0;
    const std::size_t digits = at;
    code = 0;
    for (; at < reference.size() && reference[at] != ';'; ++at) {
        const char character = reference[at];
        std::uint32_t digit;
        if (character >= '0' && character <= '9') {
            digit = static_cast<std::uint32_t>(character - '0');
        } else if (hex && ((character | 0x20) >= 'a' && (character | 0x20) <= 'f')) {
            digit = static_cast<std::uint32_t>((character | 0x20) - 'a' + 10);
        } else {
            return 0;
        }
        code = code * (hex ? 16 : 10) + digit;
        if (code > 0x10FFFF) {
            return 0;
        }
    }
    return at > digits && at < reference.size() && code != 0 ? at : 0;
}

// text with its references resolved: the five the language defines and
// character references; others (declared entities) stay as they are.
void ResolveReferences(std::string_view text, std::string& out) {
    out.clear();
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t amp = text.find('&', at);
        out.append(text.substr(at, amp == none ? none : amp - at));
        if (amp == none) {
            break;
        }
        const std::size_t semicolon = text.find(';', amp);
        const std::string_view name =
            text.substr(amp + 1, semicolon == none ? 0 : semicolon - amp - 1);
        std::uint32_t code = 0;
        if (name == "lt") {
            out += '<';
        } else if (name == "gt") {
            out += '>';
        } else if (name == "amp") {
            out += '&';
        } else if (name == "apos") {
            out += '\'';
        } else if (name == "quot") {
            out += '"';
        } else if (!name.empty() && name[0] == '#' &&
                   CharacterReference(text.substr(amp + 1), code) != 0) {
            AppendUtf8(code, out);
        } else {
            out += '&';
            at = amp + 1;
            continue;
        }
        at = semicolon + 1;
    }
}

enum class Phase { Prolog, Inside, After };
enum class Step { Ok, More, Stop };

// One pass over the output, a buffer at a time.
class Auditor {
public:
    Auditor(ByteSource& source, const AuditTrail& trail) : source_(source), trail_(trail) {}
    OutputAuditResult Run();

private:
    bool ReadMore();
    Step Next();
    Step Markup();
    bool TextRun(std::size_t from, std::size_t to);
    bool StartTag(std::size_t lt, std::size_t gt);
    bool EndTag(std::size_t lt, std::size_t gt);
    bool Attributes(std::size_t from, std::size_t to);
    bool Comment(std::size_t lt, std::size_t close);
    bool Instruction(std::size_t lt, std::size_t close);
    bool Doctype(std::size_t lt, std::size_t close);
    bool References(std::string_view text, std::size_t at);
    void Look(const char* kind, std::string_view raw, std::size_t at, bool references);
    void Found(const char* kind, std::size_t at, bool whole, std::uint32_t expression);
    bool Fail(const std::string& what, std::size_t at);
    TextPosition PositionAt(std::size_t at) const { return Advance(basePosition_, buffer_, at); }

    ByteSource& source_;
    const AuditTrail& trail_;
    OutputAuditResult result_;
    std::string buffer_;
    std::size_t at_ = 0;             // in buffer_, where the next construct starts
    std::uint64_t base_ = 0;         // the output's offset of buffer_[0]
    TextPosition basePosition_;      // and its position
    bool end_ = false;               // the output is read to its end
    std::size_t declarationAt_ = 0;  // where an XML declaration may be (past a BOM)
    bool latin1_ = false;
    Phase phase_ = Phase::Prolog;
    bool doctype_ = false;
    std::vector<std::string> open_;  // names of the open elements (open_[0, depth_))
    std::size_t depth_ = 0;
    ElementShape shape_;
    std::vector<std::string_view> attributeNames_;
    std::string converted_, resolved_, normal_, name_;
};

OutputAuditResult Auditor::Run() {
    // The XML declaration says how the rest is encoded.
    while (!end_ && buffer_.size() < 4096) {
        if (!ReadMore()) {
            return result_;
        }
    }
    const std::string encoding = ConvertedEncoding(buffer_);
    if (encoding == "Latin-1") {
        latin1_ = true;
    } else if (!encoding.empty()) {
        result_.error = "it is " + encoding + ", which is not read back";
        return result_;
    }
    if (buffer_.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        at_ = declarationAt_ = 3;
    }
    for (;;) {
        const Step step = Next();
        if (step == Step::Stop) {
            break;
        }
        if (step == Step::More) {
            if (end_) {
                Fail(phase_ == Phase::Inside
                         ? "the output ends before the end tag of its document element"
                         : "the output ends inside markup",
                     buffer_.size());
                break;
            }
            if (!ReadMore()) {
                return result_;
            }
        }
    }
    if (result_.problem.empty() && shape_ != trail_.shape) {
        result_.problem = "its elements are not those of the redacted document (" +
                          std::to_string(shape_.Count()) + " written, " +
                          std::to_string(trail_.shape.Count()) +
                          " expected, or other names or nesting)";
    }
    return result_;
}

// Drops the bytes already passed and reads more. False on a failure.
bool Auditor::ReadMore() {
    if (at_ > 0) {
        basePosition_ = Advance(basePosition_, EndOf(std::string_view(buffer_).substr(0, at_)));
        buffer_.erase(0, at_);
        base_ += at_;
        declarationAt_ =
            declarationAt_ != none && declarationAt_ >= at_ ? declarationAt_ - at_ : none;
        at_ = 0;
    }
    const std::size_t used = buffer_.size();
    buffer_.resize(used + readSize);
    std::size_t got = 0;
    const bool read = source_.Read(buffer_.data() + used, readSize, got);
    buffer_.resize(used + got);
    if (!read) {
        result_.error = source_.Error();
        return false;
    }
    end_ = got == 0;
    return true;
}

Step Auditor::Next() {
    const std::string_view text = buffer_;
    if (phase_ != Phase::Inside) {
        while (at_ < text.size() && IsBlank(text[at_])) {
            ++at_;
        }
        if (at_ == text.size()) {
            if (!end_) {
                return Step::More;
            }
            if (phase_ == Phase::Prolog) {
                Fail("the output holds no document element", at_);
            }
            return Step::Stop;
        }
        if (text[at_] != '<') {
            Fail("text outside the document element", at_);
            return Step::Stop;
        }
    } else if (at_ == text.size()) {
        return Step::More;
    } else if (text[at_] != '<') {
        const std::size_t lt = text.find('<', at_);
        if (lt == none) {
            return Step::More;
        }
        if (!TextRun(at_, lt)) {
            return Step::Stop;
        }
        at_ = lt;
        return Step::Ok;
    }
    return Markup();
}

Step Auditor::Markup() {
    const std::string_view text = buffer_;
    const std::size_t lt = at_;
    if (text.size() - lt < 9 && !end_) {
        return Step::More;  // too short to tell "<![CDATA[" from the others
    }
    if (lt + 1 >= text.size()) {
        return Step::More;
    }
    std::size_t close = none;
    bool fine = true;
    if (text.compare(lt, 4, "<!--") == 0) {
        close = Past(text, lt + 4, "-->");
        fine = close == none || Comment(lt, close);
    } else if (text.compare(lt, 9, "<![CDATA[") == 0) {
        if (phase_ != Phase::Inside) {
            Fail("a CDATA section outside the document element", lt);
            return Step::Stop;
        }
        close = Past(text, lt + 9, "]]>");
        if (close != none) {
            Look("a CDATA section", text.substr(lt + 9, close - 3 - (lt + 9)), lt + 9, false);
        }
    } else if (text[lt + 1] == '?') {
        close = Past(text, lt + 2, "?>");
        fine = close == none || Instruction(lt, close);
    } else if (text.compare(lt, 9, "<!DOCTYPE") == 0) {
        close = DoctypeEnd(text, lt);
        if (close >= text.size() && (!end_ || text.back() != '>')) {
            close = none;
        }
        fine = close == none || Doctype(lt, close);
    } else if (text[lt + 1] == '!') {
        fine = Fail("markup that XML does not have", lt);
    } else if (text[lt + 1] == '/') {
        close = text.find('>', lt + 2);
        fine = close == none || EndTag(lt, close++);
    } else {
        close = StartTagEnd(text, lt);
        fine = close == none || StartTag(lt, close++);
    }
    if (!fine) {
        return Step::Stop;
    }
    if (close == none) {
        return Step::More;
    }
    at_ = close;
    return Step::Ok;
}

bool Auditor::TextRun(std::size_t from, std::size_t to) {
    const std::string_view text = std::string_view(buffer_).substr(from, to - from);
    if (const std::size_t bad = text.find("]]>"); bad != none) {
        return Fail("\"]]>\" in a text", from + bad);
    }
    if (!References(text, from)) {
        return false;
    }
    Look("a text", text, from, true);
    return true;
}

bool Auditor::StartTag(std::size_t lt, std::size_t gt) {
    const std::string_view text = buffer_;
    const bool empty = text[gt - 1] == '/';
    const std::size_t end = empty ? gt - 1 : gt;
    std::size_t nameEnd = lt + 1;
    while (nameEnd < end && !IsBlank(text[nameEnd])) {
        ++nameEnd;
    }
    const std::string_view name = text.substr(lt + 1, nameEnd - lt - 1);
    if (!IsName(name)) {
        return Fail("a start tag without a proper name", lt);
    }
    if (phase_ == Phase::After) {
        return Fail("a second element after the document element", lt);
    }
    if (!Attributes(nameEnd, end)) {
        return false;
    }
    if (latin1_ && HasHighBytes(name)) {
        Latin1ToUtf8(name, name_);
        shape_.Add(depth_, name_);
    } else {
        shape_.Add(depth_, name);
    }
    if (empty) {
        phase_ = depth_ == 0 ? Phase::After : phase_;
        return true;
    }
    if (open_.size() == depth_) {
        open_.emplace_back();
    }
    open_[depth_++].assign(name);
    phase_ = Phase::Inside;
    return true;
}

bool Auditor::EndTag(std::size_t lt, std::size_t gt) {
    const std::string_view text = buffer_;
    std::size_t nameEnd = lt + 2;
    while (nameEnd < gt && !IsBlank(text[nameEnd])) {
        ++nameEnd;
    }
    const std::string_view name = text.substr(lt + 2, nameEnd - lt - 2);
    std::size_t after = nameEnd;
    while (after < gt && IsBlank(text[after])) {
        ++after;
    }
    if (!IsName(name) || after != gt) {
        return Fail("an end tag that is not a name alone", lt);
    }
    if (depth_ == 0) {
        return Fail("an end tag without its start tag", lt);
    }
    if (name != open_[depth_ - 1]) {
        return Fail(
            "the end tag </" + std::string(name) + "> where </" + open_[depth_ - 1] + "> is due",
            lt);
    }
    if (--depth_ == 0) {
        phase_ = Phase::After;
    }
    return true;
}

bool Auditor::Attributes(std::size_t from, std::size_t to) {
    const std::string_view text = buffer_;
    attributeNames_.clear();
    std::size_t at = from;
    for (;;) {
        std::size_t next = at;
        while (next < to && IsBlank(text[next])) {
            ++next;
        }
        if (next == to) {
            return true;
        }
        if (next == at) {
            return Fail("an attribute not set off by a blank", next);
        }
        const std::size_t nameAt = next;
        while (next < to && !IsBlank(text[next]) && text[next] != '=') {
            ++next;
        }
        const std::string_view name = text.substr(nameAt, next - nameAt);
        if (!IsName(name)) {
            return Fail("an attribute without a proper name", nameAt);
        }
        while (next < to && IsBlank(text[next])) {
            ++next;
        }
        if (next == to || text[next] != '=') {
            return Fail("an attribute without a value", nameAt);
        }
        ++next;
        while (next < to && IsBlank(text[next])) {
            ++next;
        }
        if (next == to || (text[next] != '"' && text[next] != '\'')) {
            return Fail("an attribute value without quotes", next);
        }
        const std::size_t close = text.find(text[next], next + 1);
        if (close == none || close >= to) {
            return Fail("an attribute value without its closing quote", next);
        }
        const std::string_view value = text.substr(next + 1, close - next - 1);
        if (const std::size_t lt = value.find('<'); lt != none) {
            return Fail("a '<' in an attribute value", next + 1 + lt);
        }
        for (const std::string_view seen : attributeNames_) {
            if (seen == name) {
                return Fail("the attribute " + std::string(name) + " twice in one tag", nameAt);
            }
        }
        attributeNames_.push_back(name);
        if (!References(value, next + 1)) {
            return false;
        }
        Look("an attribute value", value, next + 1, true);
        at = close + 1;
    }
}

bool Auditor::Comment(std::size_t lt, std::size_t close) {
    const std::string_view body = std::string_view(buffer_).substr(lt + 4, close - 3 - (lt + 4));
    if (const std::size_t dashes = body.find("--");
        dashes != none || (!body.empty() && body.back() == '-')) {
        return Fail("\"--\" inside a comment", lt + 4 + (dashes != none ? dashes : body.size()));
    }
    Look("a comment", body, lt + 4, false);
    return true;
}

bool Auditor::Instruction(std::size_t lt, std::size_t close) {
    const std::string_view text = buffer_;
    const std::size_t end = close - 2;
    std::size_t targetEnd = lt + 2;
    while (targetEnd < end && !IsBlank(text[targetEnd])) {
        ++targetEnd;
    }
    const std::string_view target = text.substr(lt + 2, targetEnd - lt - 2);
    if (!IsName(target)) {
        return Fail("a processing instruction without a proper target", lt);
    }
    if (EqualsIgnoringCase(target, "xml")) {
        return lt == declarationAt_ ? true
                                    : Fail("an XML declaration that is not at the start", lt);
    }
    Look("a processing instruction", text.substr(targetEnd, end - targetEnd), targetEnd, false);
    return true;
}

// The literals of the internal subset's declarations (entity values, and
// the identifiers beside them) are looked at; the rest is left to the
// parser that reads the document.
bool Auditor::Doctype(std::size_t lt, std::size_t close) {
    if (phase_ != Phase::Prolog || doctype_) {
        return Fail("a DOCTYPE that is not in the prolog", lt);
    }
    doctype_ = true;
    const std::string_view text = std::string_view(buffer_).substr(0, close);
    for (std::size_t at = text.find("<!ENTITY", lt); at != none; at = text.find("<!ENTITY", at)) {
        at += 8;
        while (at < text.size() && text[at] != '>') {
            if (text[at] != '"' && text[at] != '\'') {
                ++at;
                continue;
            }
            const std::size_t quote = text.find(text[at], at + 1);
            if (quote == none) {
                break;
            }
            Look("an entity declaration", text.substr(at + 1, quote - at - 1), at + 1, true);
            at = quote + 1;
        }
    }
    return true;
}

// Every '&' starts a reference that ends with ';'.
bool Auditor::References(std::string_view text, std::size_t at) {
    for (std::size_t amp = text.find('&'); amp != none; amp = text.find('&', amp + 1)) {
        const std::string_view rest = text.substr(amp + 1);
        const std::size_t semicolon = rest.find(';');
        std::uint32_t code = 0;
        const bool whole =
            semicolon != none && (rest[0] == '#' ? CharacterReference(rest, code) == semicolon
                                                 : IsName(rest.substr(0, semicolon)));
        if (!whole) {
            return Fail("a '&' that starts no reference", at + amp);
        }
    }
    return true;
}

void Auditor::Look(const char* kind, std::string_view raw, std::size_t at, bool references) {
    const ChangedValues& changed = trail_.changed;
    if (changed.Empty()) {
        return;
    }
    std::string_view value = raw;
    bool moved = false;  // value is not raw: its offsets are not the output's
    if (latin1_ && HasHighBytes(value)) {
        Latin1ToUtf8(value, converted_);
        value = converted_;
        moved = true;
    }
    if (references && value.find('&') != none) {
        ResolveReferences(value, resolved_);
        value = resolved_;
        moved = true;
    }
    const std::string_view whole = NormalValue(value, normal_);
    if (whole.empty()) {
        return;
    }
    const auto offsetOf = [&](const char* in) {
        return moved ? at : at + static_cast<std::size_t>(in - raw.data());
    };
    if (const std::uint32_t expression = changed.Find(whole);
        expression != ChangedValues::notFound) {
        Found(kind, offsetOf(value.data() + value.find(whole[0])), true, expression);
        return;
    }
    if (whole.find(' ') == none) {
        return;  // one word: looked up whole already
    }
    for (std::size_t from = 0; from < value.size();) {
        while (from < value.size() && IsBlank(value[from])) {
            ++from;
        }
        std::size_t to = from;
        while (to < value.size() && !IsBlank(value[to])) {
            ++to;
        }
        if (to - from >= shortestWord) {
            const std::uint32_t expression = changed.Find(value.substr(from, to - from));
            if (expression != ChangedValues::notFound) {
                Found(kind, offsetOf(value.data() + from), false, expression);
            }
        }
        from = to;
    }
}

void Auditor::Found(const char* kind, std::size_t at, bool whole, std::uint32_t expression) {
    ++result_.leftovers;
    if (result_.shown.size() < shownLeftovers) {
        result_.shown.push_back({base_ + at, PositionAt(at), kind, whole, expression});
    }
}

// Says what is wrong and where; false, to end the pass.
bool Auditor::Fail(const std::string& what, std::size_t at) {
    result_.problem = what + At(PositionAt(at), base_ + at);
    return false;
}

}  // namespace

OutputAuditResult AuditOutput(ByteSource& source, const AuditTrail& trail) {
    return Auditor(source, trail).Run();
}

}  // namespace qiv::redact
