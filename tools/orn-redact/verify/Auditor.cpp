#include "Auditor.h"

#include <algorithm>
#include <cstring>

#include "AuditText.h"
#include "Characters.h"
#include "Encoding.h"
#include "Markup.h"

namespace qiv::redact::audit {

namespace {

constexpr std::size_t readSize = 1 << 20;
// Values this short are looked for only as the whole of a text or value:
// as words they would turn up by chance.
constexpr std::size_t shortestWord = 4;

}  // namespace

bool Auditor::Run() {
    if (!fragment_) {
        // The XML declaration says how the rest is encoded.
        while (!end_ && size_ < 4096) {
            if (!ReadMore()) {
                return false;
            }
        }
        const std::string encoding = ConvertedEncoding(Text());
        if (encoding == "Latin-1") {
            latin1_ = true;
        } else if (!encoding.empty()) {
            result_.error = "it is " + encoding + ", which is not read back";
            return false;
        }
        if (Text().compare(0, 3, "\xEF\xBB\xBF") == 0) {
            at_ = declarationAt_ = 3;
        }
    }
    for (;;) {
        if (base_ + at_ >= limit_) {
            if (base_ + at_ == limit_ && phase_ == Phase::Inside) {
                cut_ = true;
                return true;
            }
            limit_ = UINT64_MAX;  // the fragment started inside a construct: go on alone
        }
        const Step step = Next();
        if (step == Step::Stop) {
            break;
        }
        if (step == Step::More) {
            if (end_) {
                if (!fragment_) {
                    Fail(phase_ == Phase::Inside
                             ? "the output ends before the end tag of its document element"
                             : "the output ends inside markup",
                         size_);
                } else if (at_ < size_ && Text()[at_] != '<') {
                    TextRun(at_, size_);
                }
                break;
            }
            if (!ReadMore()) {
                return false;
            }
        }
    }
    endOffset_ = base_ + size_;
    return true;
}

// Drops the bytes already passed and reads more. False on a failure.
bool Auditor::ReadMore() {
    if (at_ > 0) {
        basePosition_ = Advance(basePosition_, EndOf(Text().substr(0, at_)));
        std::memmove(buffer_.get(), buffer_.get() + at_, size_ - at_);
        size_ -= at_;
        base_ += at_;
        declarationAt_ =
            declarationAt_ != none && declarationAt_ >= at_ ? declarationAt_ - at_ : none;
        at_ = 0;
    }
    if (capacity_ - size_ < readSize) {
        // A construct longer than the room there is: the room grows.
        capacity_ = std::max(2 * capacity_, size_ + readSize);
        std::unique_ptr<char[]> larger(new char[capacity_]);
        if (size_ > 0) {
            std::memcpy(larger.get(), buffer_.get(), size_);
        }
        buffer_ = std::move(larger);
    }
    std::size_t got = 0;
    const bool read = source_.Read(buffer_.get() + size_, readSize, got);
    size_ += got;
    if (!read) {
        result_.error = source_.Error();
        return false;
    }
    end_ = got == 0;
    return true;
}

Step Auditor::Next() {
    const std::string_view text = Text();
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
    const std::string_view text = Text();
    const std::size_t lt = at_;
    if (text.size() - lt < 9 && !end_) {
        return Step::More;  // too short to tell "<![CDATA[" from the others
    }
    if (lt + 1 >= text.size()) {
        return Step::More;
    }
    std::size_t close = none;
    bool fine = true;
    const char second = text[lt + 1];
    if (classes.Is(second, nameStart)) {
        close = StartTagEnd(text, lt);
        fine = close == none || StartTag(lt, close++);
    } else if (second == '/') {
        close = text.find('>', lt + 2);
        fine = close == none || EndTag(lt, close++);
    } else if (text.compare(lt, 4, "<!--") == 0) {
        close = Past(text, lt + 4, "-->");
        fine = close == none || Comment(lt, close);
    } else if (text.compare(lt, 9, "<![CDATA[") == 0) {
        if (phase_ != Phase::Inside) {
            Fail("a CDATA section outside the document element", lt);
            return Step::Stop;
        }
        close = Past(text, lt + 9, "]]>");
        if (close != none && fragment_ && depth_ == 0) {
            Mark(levelText_, lt);
        }
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
    } else {
        fine = Fail(second == '!' ? "markup that XML does not have" : "a '<' that starts no markup",
                    lt);
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
    const std::string_view text = Text().substr(from, to - from);
    std::size_t first = 0;
    while (first < text.size() && IsSpace(text[first])) {
        ++first;
    }
    if (first == text.size()) {
        return true;  // the blanks between tags
    }
    if (const std::size_t bad = text.find("]]>"); bad != none) {
        return Fail("\"]]>\" in a text", from + bad);
    }
    if (!References(text, from)) {
        return false;
    }
    if (fragment_ && depth_ == 0) {
        Mark(levelText_, from + first);
    }
    Look("a text", text, from, true);
    return true;
}

bool Auditor::StartTag(std::size_t lt, std::size_t gt) {
    const std::string_view text = Text();
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
    if (fragment_ && depth_ == 0) {
        Mark(levelElement_, lt);
    }
    if (!Attributes(nameEnd, end)) {
        return false;
    }
    if (latin1_ && HasHighBytes(name)) {
        Latin1ToUtf8(name, name_);
        shape_.Open(name_);
    } else {
        shape_.Open(name);
    }
    if (empty) {
        shape_.Close();
        phase_ = depth_ == 0 && !fragment_ ? Phase::After : phase_;
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
    const std::string_view text = Text();
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
    if (depth_ == 0 && fragment_) {
        pops_.push_back({std::string(name), {base_ + lt, PositionAt(lt), true}});
        shape_.Close();
        return true;
    }
    if (depth_ == 0) {
        return Fail("an end tag without its start tag", lt);
    }
    if (name != open_[depth_ - 1]) {
        return Fail(
            "the end tag </" + std::string(name) + "> where </" + open_[depth_ - 1] + "> is due",
            lt);
    }
    shape_.Close();
    if (--depth_ == 0 && !fragment_) {
        phase_ = Phase::After;
    }
    return true;
}

bool Auditor::Attributes(std::size_t from, std::size_t to) {
    const std::string_view text = Text();
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
    const std::string_view body = Text().substr(lt + 4, close - 3 - (lt + 4));
    if (const std::size_t dashes = body.find("--");
        dashes != none || (!body.empty() && body.back() == '-')) {
        return Fail("\"--\" inside a comment", lt + 4 + (dashes != none ? dashes : body.size()));
    }
    Look("a comment", body, lt + 4, false);
    return true;
}

bool Auditor::Instruction(std::size_t lt, std::size_t close) {
    const std::string_view text = Text();
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
    const std::string_view text = Text().substr(0, close);
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
    const auto offsetOf = [&](const char* in) {
        return moved ? at : at + static_cast<std::size_t>(in - raw.data());
    };
    std::size_t first = 0;
    while (first < value.size() && IsSpace(value[first])) {
        ++first;
    }
    std::size_t end = first;
    while (end < value.size() && !IsSpace(value[end])) {
        ++end;
    }
    std::size_t last = value.size();
    while (last > end && IsSpace(value[last - 1])) {
        --last;
    }
    if (first == value.size()) {
        return;
    }
    // One word is looked up once, as the whole; more are looked up as a
    // whole (in normal form) and each on its own.
    const std::string_view whole =
        end == last ? value.substr(first, end - first) : NormalValue(value, normal_);
    std::uint64_t hash = 0;
    if (const std::uint32_t expression = changed.Find(whole, &hash);
        expression != ChangedValues::notFound) {
        Found(kind, offsetOf(value.data() + first), true, expression, hash);
        return;
    }
    // A value a rule wrote may hold words that were values elsewhere.
    if (end == last || changed.Written(whole)) {
        return;
    }
    for (std::size_t from = first; from < last;) {
        while (from < last && IsSpace(value[from])) {
            ++from;
        }
        std::size_t to = from;
        while (to < last && !IsSpace(value[to])) {
            ++to;
        }
        if (to - from >= shortestWord) {
            const std::uint32_t expression = changed.Find(value.substr(from, to - from), &hash);
            if (expression != ChangedValues::notFound) {
                Found(kind, offsetOf(value.data() + from), false, expression, hash);
            }
        }
        from = to;
    }
}

void Auditor::Found(const char* kind, std::size_t at, bool whole, std::uint32_t expression,
                    std::uint64_t hash) {
    ++result_.leftovers;
    if (result_.shown.size() < show_) {
        result_.shown.push_back({base_ + at, PositionAt(at), kind, whole, expression, hash});
    }
}

// Says what is wrong and where; false, to end the pass.
bool Auditor::Fail(const std::string& what, std::size_t at) {
    problem_ = what;
    problemAt_ = {base_ + at, PositionAt(at), true};
    return false;
}

}  // namespace qiv::redact::audit
