#include "SourceSplice.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <system_error>
#include <thread>
#include <utility>

#include "Characters.h"
#include "Markup.h"

namespace qiv::redact {

namespace {

constexpr std::string_view redactedText = "redacted";
constexpr std::string_view cdataOpen = "<![CDATA[";

}  // namespace

namespace {

void AppendEscapedCharacter(std::string& out, char character, char quote);

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

// Sorts items by key. Each expression adds its items in document order, so
// they come as a few ascending runs: merging those is much cheaper than a
// general sort.
template <typename Item, typename Key>
void SortRuns(std::vector<Item>& items, Key key) {
    const auto less = [&key](const Item& a, const Item& b) { return key(a) < key(b); };
    std::vector<std::size_t> runs{0};
    for (std::size_t index = 1; index < items.size(); ++index) {
        if (less(items[index], items[index - 1])) {
            runs.push_back(index);
        }
    }
    if (runs.size() > 64) {
        // Stable, as the merges are: a later note of the same item stays later.
        std::stable_sort(items.begin(), items.end(), less);
        return;
    }
    runs.push_back(items.size());
    while (runs.size() > 2) {
        std::vector<std::size_t> merged{0};
        for (std::size_t run = 2; run < runs.size(); run += 2) {
            std::inplace_merge(items.begin() + static_cast<std::ptrdiff_t>(runs[run - 2]),
                               items.begin() + static_cast<std::ptrdiff_t>(runs[run - 1]),
                               items.begin() + static_cast<std::ptrdiff_t>(runs[run]), less);
            merged.push_back(runs[run]);
        }
        if (runs.size() % 2 == 0) {
            merged.push_back(runs.back());
        }
        runs = std::move(merged);
    }
}

// A CDATA section cannot hold "]]>": split it across two sections.
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

}  // namespace

SourceSplicer::SourceSplicer(bool deep, std::size_t inputSize)
    : deep_(deep), bufferSize_(inputSize) {
    redactedIndex_ = Intern(redactedText);
}

void SourceSplicer::Reset(bool deep, std::size_t inputSize) {
    SourceSplicer fresh(deep, inputSize);
    const auto keep = [](auto& from, auto& to) {
        from.clear();
        to.swap(from);
    };
    keep(notes_, fresh.notes_);
    keep(unplaced_, fresh.unplaced_);
    keep(elements_, fresh.elements_);
    keep(extents_, fresh.extents_);
    keep(commentChecks_, fresh.commentChecks_);
    keep(values_, fresh.values_);
    keep(valueBytes_, fresh.valueBytes_);
    keep(edits_, fresh.edits_);
    *this = std::move(fresh);
}

bool SourceSplicer::Fail(std::string problem) {
    if (problem_.empty()) {
        problem_ = std::move(problem);
    }
    return false;
}

// pugixml knows an item's place in its parse buffer while the item still
// refers into it; -1 otherwise (a value set since, or a node added).
std::ptrdiff_t SourceSplicer::OffsetOf(const pugi::xml_node& node) const {
    return node.offset_debug();
}

std::uint32_t SourceSplicer::Intern(std::string_view text) {
    // Nearly every value is "redacted", and an expression mostly selects
    // elements of one name: check the last one first.
    if (lastText_ < texts_.size() && texts_[lastText_] == text) {
        return lastText_;
    }
    const auto [found, added] =
        textIndex_.emplace(std::string(text), static_cast<std::uint32_t>(texts_.size()));
    if (added) {
        texts_.emplace_back(text);
    }
    lastText_ = found->second;
    return lastText_;
}

void SourceSplicer::Reserve(std::size_t items) {
    // At least doubling, so that many expressions do not move the records
    // once each.
    const auto grow = [items](auto& records) {
        if (records.size() + items > records.capacity()) {
            records.reserve(std::max(records.size() + items, 2 * records.capacity()));
        }
    };
    grow(notes_);
    grow(elements_);
    grow(commentChecks_);
}

void SourceSplicer::NoteText(const pugi::xml_node& text) {
    const std::ptrdiff_t offset = OffsetOf(text);
    if (offset < 0) {
        unplaced_.emplace_back(text.internal_object(), false);
        return;
    }
    notes_.push_back({static_cast<std::size_t>(offset), text.internal_object(), 0,
                      text.type() == pugi::node_cdata ? Kind::CData : Kind::Text});
}

bool SourceSplicer::NoteElement(const pugi::xml_node& element) {
    const std::ptrdiff_t offset = OffsetOf(element);
    if (offset <= 0) {
        return Fail("a selected element has no position in the input");
    }
    Element entry;
    entry.name = static_cast<std::size_t>(offset);
    entry.nameText = Intern(element.name());
    elements_.push_back(entry);
    return true;
}

bool SourceSplicer::NoteElementText(const pugi::xml_node& element) {
    if (element.type() == pugi::node_document) {
        return Fail("the document node itself is selected");
    }
    if (!NoteElement(element)) {
        return false;
    }
    for (pugi::xml_node child = element.first_child(); child; child = child.next_sibling()) {
        if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) {
            NoteText(child);
            return true;
        }
    }
    elements_.back().insert = true;
    notes_.push_back({elements_.back().name, element.internal_object(), 0, Kind::Insert});
    return true;
}

// Attributes carry no offset of their own; the address of their text in the
// parse buffer gives it, the buffer's start being the element name's address
// less the name's offset. -1 for text outside the buffer (a value set since).
std::ptrdiff_t SourceSplicer::AttributeOffset(const char* text,
                                              const pugi::xml_node& element) const {
    const std::ptrdiff_t name = OffsetOf(element);
    const auto value = reinterpret_cast<std::uintptr_t>(text);
    const auto base =
        reinterpret_cast<std::uintptr_t>(element.name()) - static_cast<std::uintptr_t>(name);
    if (name < 0 || value < base || value - base >= bufferSize_) {
        return -1;
    }
    return static_cast<std::ptrdiff_t>(value - base);
}

void SourceSplicer::NoteAttribute(const pugi::xml_attribute& attribute,
                                  const pugi::xml_node& element) {
    const std::ptrdiff_t offset = AttributeOffset(attribute.value(), element);
    if (offset < 0) {
        unplaced_.emplace_back(attribute.internal_object(), true);
        return;
    }
    notes_.push_back(
        {static_cast<std::size_t>(offset), attribute.internal_object(), 0, Kind::Attribute});
}

void SourceSplicer::SetCommentRewriter(CommentRewriter rewriter) {
    rewriter_ = std::move(rewriter);
}

void SourceSplicer::NoteDeepElement(const pugi::xml_node& element, std::size_t expression) {
    if (NoteElement(element)) {
        deepMarks_.emplace_back(elements_.back().name, expression);
    }
}

void SourceSplicer::NoteKeptElement(const pugi::xml_node& element, std::size_t expression) {
    if (NoteElement(element)) {
        keepMarks_.emplace_back(elements_.back().name, expression);
    }
}

void SourceSplicer::NoteDropElement(const pugi::xml_node& element) {
    if (NoteElement(element)) {
        elements_.back().drop = true;
        notes_.push_back({elements_.back().name, element.internal_object(), 0, Kind::DropElement});
    }
}

void SourceSplicer::NoteDropAttribute(const pugi::xml_attribute& attribute,
                                      const pugi::xml_node& element) {
    // By its name, which stays in the buffer when the value was set before.
    const std::ptrdiff_t offset = AttributeOffset(attribute.name(), element);
    if (offset < 0) {
        Fail("a dropped attribute has no position in the input");
        return;
    }
    notes_.push_back(
        {static_cast<std::size_t>(offset), attribute.internal_object(), 0, Kind::DropAttribute});
}

void SourceSplicer::NoteDropText(const pugi::xml_node& text) {
    std::ptrdiff_t offset = OffsetOf(text);
    if (offset < 0) {
        // A value set before lies outside the buffer: the text's first note
        // knows where it was.
        if (textPlaces_.count(text.internal_object()) == 0 && placesFrom_ < notes_.size()) {
            for (; placesFrom_ < notes_.size(); ++placesFrom_) {
                const Note& note = notes_[placesFrom_];
                if (note.kind == Kind::Text || note.kind == Kind::CData) {
                    textPlaces_.emplace(note.item, note.begin);
                }
            }
        }
        const auto found = textPlaces_.find(text.internal_object());
        if (found == textPlaces_.end()) {
            Fail("a dropped text has no position in the input");
            return;
        }
        offset = static_cast<std::ptrdiff_t>(found->second);
    }
    notes_.push_back({static_cast<std::size_t>(offset), text.internal_object(), 0,
                      text.type() == pugi::node_cdata ? Kind::DropCData : Kind::DropText});
}

const char* SourceSplicer::CurrentValue(const Note& note) const {
    if (note.kind == Kind::Attribute) {
        return pugi::xml_attribute(
                   static_cast<pugi::xml_attribute_struct*>(const_cast<void*>(note.item)))
            .value();
    }
    const pugi::xml_node node(static_cast<pugi::xml_node_struct*>(const_cast<void*>(note.item)));
    return note.kind == Kind::Insert ? node.text().get() : node.value();
}

void SourceSplicer::Settle() {
    // Read while the items are still in the cache from their change.
    // "redacted" is looked up on its own, so that Intern()'s shortcut for the
    // last element name interned keeps working between the notes.
    for (; settled_ < notes_.size(); ++settled_) {
        if (notes_[settled_].kind >= Kind::DropText) {
            notes_[settled_].text = redactedIndex_;  // nothing to read: it goes
            continue;
        }
        notes_[settled_].text = Store(CurrentValue(notes_[settled_]));
    }
}

std::uint32_t SourceSplicer::Store(const char* value) {
    if (std::strcmp(value, redactedText.data()) == 0) {
        return redactedIndex_;
    }
    // A constant (replace) comes again and again: kept once.
    const std::uint32_t last = static_cast<std::uint32_t>(values_.size() - 1) | valueFlag;
    if (!values_.empty() && TextOf(last) == value) {
        return last;
    }
    const std::size_t size = std::strlen(value);
    values_.emplace_back(valueBytes_.size(), size);
    valueBytes_.append(value, size);
    return static_cast<std::uint32_t>(values_.size() - 1) | valueFlag;
}

void SourceSplicer::SettleRewritten() {
    rewritten_ = true;
    Settle();
}

void SourceSplicer::SettleRedacted() {
    for (; settled_ < notes_.size(); ++settled_) {
        notes_[settled_].text = redactedIndex_;
    }
}

const SourceSplicer::Element* SourceSplicer::FindElement(std::size_t name) const {
    const auto found = std::lower_bound(
        elements_.begin(), elements_.end(), name,
        [](const Element& element, std::size_t offset) { return element.name < offset; });
    return found != elements_.end() && found->name == name ? &*found : nullptr;
}

void SourceSplicer::NoteCommentCheck(std::size_t expression, const pugi::xml_node& element) {
    const std::ptrdiff_t offset = OffsetOf(element);
    if (offset > 0) {
        commentChecks_.emplace_back(expression, static_cast<std::size_t>(offset));
    }
}

void SourceSplicer::NoteCommentCheck(std::size_t expression) {
    commentChecks_.emplace_back(expression, elements_.back().name);
}

std::vector<std::size_t> SourceSplicer::ElementsWithOtherComments(std::size_t expressions) const {
    std::vector<std::size_t> counts(expressions, 0);
    if (!anyOtherComment_) {
        return counts;
    }
    for (const auto& [expression, name] : commentChecks_) {
        const Element* element = FindElement(name);
        if (expression < expressions && element != nullptr && element->otherComment) {
            ++counts[expression];
        }
    }
    return counts;
}

struct SourceSplicer::Open {
    std::size_t element;  // index into elements_
    std::size_t depth;    // nesting depth at which it was opened
    std::size_t extent;   // index into extents_, or none
};

namespace {

// A comment may not hold "--" nor end with '-'.
std::string CommentSafe(std::string value) {
    for (std::size_t at = value.find("--"); at != none; at = value.find("--", at)) {
        value.insert(at + 1, 1, ' ');
    }
    if (!value.empty() && value.back() == '-') {
        value += ' ';
    }
    return value;
}

}  // namespace

// The actions of the deep expressions around a comment, in order, as far as
// no element around it was kept before them.
bool SourceSplicer::RewriteComment(const std::vector<Open>& open, std::string_view comment,
                                   std::string& out) const {
    std::size_t keptFrom = none;
    std::vector<std::size_t> expressions;
    const auto marksOf = [](const std::vector<std::pair<std::size_t, std::size_t>>& marks,
                            std::size_t name) {
        return std::equal_range(marks.begin(), marks.end(), std::make_pair(name, std::size_t{0}),
                                [](const auto& a, const auto& b) { return a.first < b.first; });
    };
    for (const Open& entry : open) {
        const std::size_t name = elements_[entry.element].name;
        for (auto [at, end] = marksOf(keepMarks_, name); at != end; ++at) {
            keptFrom = std::min(keptFrom, at->second);
        }
        for (auto [at, end] = marksOf(deepMarks_, name); at != end; ++at) {
            expressions.push_back(at->second);
        }
    }
    std::sort(expressions.begin(), expressions.end());
    expressions.erase(std::unique(expressions.begin(), expressions.end()), expressions.end());
    std::string value(comment);
    std::string next;
    bool changed = false;
    for (const std::size_t expression : expressions) {
        if (expression < keptFrom && rewriter_(expression, value, next)) {
            value.swap(next);
            changed = true;
        }
    }
    if (changed) {
        out = CommentSafe(std::move(value));
    }
    return changed;
}

// One forward pass over the selected elements' extents (jumping over what
// lies between them) that finds where each start tag ends, where its end tag
// begins, and the comments inside. Nested selections share the pass, so no
// byte is scanned twice.
bool SourceSplicer::ScanElements(std::vector<SourceEdit>& comments, std::string& problem) {
    const auto fail = [&problem](const char* why) {
        problem = why;
        return false;
    };
    extents_.clear();
    std::vector<Open> open;
    std::size_t depth = 0;
    std::size_t next = 0;  // the next selected element not yet reached
    std::size_t at = 0;
    std::size_t markupEnd = 0;  // just past the last markup seen
    const std::string_view text = source_;

    while (next < elements_.size() || !open.empty()) {
        if (open.empty()) {
            at = elements_[next].name - 1;
            depth = 0;
        }
        const std::size_t lt = text.find('<', at);
        if (lt == none || lt + 1 >= text.size()) {
            return fail("an element in the input has no end");
        }
        if (next < elements_.size() && elements_[next].name <= lt) {
            return fail("a selected element was not found where the parser put it");
        }
        const char kind = text[lt + 1];
        std::size_t end = none;
        if (text.compare(lt, 4, "<!--") == 0) {
            end = text.find("-->", lt + 4);
            if (end == none) {
                return fail("a comment in the input has no end");
            }
            const std::string_view comment = text.substr(lt + 4, end - lt - 4);
            std::string rewritten;
            if (rewriter_ && RewriteComment(open, comment, rewritten)) {
                if (rewritten != comment) {
                    comments.push_back({lt + 4, end, std::move(rewritten)});
                }
            } else if (rewriter_ && comment != redactedText) {
                elements_[open.back().element].otherComment = true;
                anyOtherComment_ = true;
            } else if (comment != redactedText) {
                if (deep_) {
                    comments.push_back({lt + 4, end, std::string(redactedText)});
                } else {
                    elements_[open.back().element].otherComment = true;
                    anyOtherComment_ = true;
                }
            }
            end += 3;
        } else if (text.compare(lt, cdataOpen.size(), cdataOpen) == 0) {
            end = Past(text, lt + cdataOpen.size(), "]]>");
        } else if (kind == '?') {
            end = Past(text, lt + 2, "?>");
        } else if (kind == '!') {
            end = Past(text, lt + 2, ">");
        } else if (kind == '/') {
            end = text.find('>', lt + 2);
            if (end == none || open.empty()) {
                return fail("an end tag in the input does not match");
            }
            if (open.back().depth == depth) {
                const Element& closed = elements_[open.back().element];
                if (open.back().extent != none) {
                    extents_[open.back().extent].endTag = lt;
                    extents_[open.back().extent].gapBegin = markupEnd;
                    extents_[open.back().extent].close = end == none ? 0 : end + 1;
                }
                const bool other = closed.otherComment;
                open.pop_back();
                if (!open.empty() && other) {
                    elements_[open.back().element].otherComment = true;
                }
            }
            --depth;
            ++end;
        } else {
            const std::size_t scan = StartTagEnd(text, lt);
            if (scan == none) {
                return fail("a start tag in the input has no end");
            }
            const bool empty = text[scan - 1] == '/';
            const bool selected = next < elements_.size() && elements_[next].name == lt + 1;
            std::size_t extent = none;
            if (selected && (elements_[next].insert || elements_[next].drop)) {
                extent = extents_.size();
                extents_.push_back(
                    {lt + 1, empty ? scan - 1 : scan, 0, 0, empty ? scan + 1 : 0, empty});
            }
            if (!empty) {
                ++depth;
                if (selected) {
                    open.push_back({next, depth, extent});
                }
            }
            next += selected ? 1 : 0;
            end = scan + 1;
        }
        if (end == none) {
            return fail("markup in the input has no end");
        }
        at = markupEnd = end;
    }
    return true;
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
        escapedReady_[slot] = true;
    }
    return escaped_[slot];
}

bool SourceSplicer::AddEdit(const Note& note, std::vector<SourceEdit>& edits) {
    const std::string_view text = source_;
    if (note.kind == Kind::DropAttribute) {
        // From the blanks before the name to the closing quote.
        std::size_t at = note.begin;
        while (at < text.size() && !IsBlank(text[at]) && text[at] != '=') {
            ++at;
        }
        while (at < text.size() && IsBlank(text[at])) {
            ++at;
        }
        at += at < text.size() && text[at] == '=' ? 1 : text.size();
        while (at < text.size() && IsBlank(text[at])) {
            ++at;
        }
        const std::size_t end = at < text.size() && (text[at] == '"' || text[at] == '\'')
                                    ? text.find(text[at], at + 1)
                                    : none;
        std::size_t begin = note.begin;
        while (begin > 0 && IsBlank(text[begin - 1])) {
            --begin;
        }
        if (end == none || begin == note.begin) {
            return Fail("a dropped attribute was not found where the parser put it");
        }
        edits.push_back({begin, end + 1, {}, true});
        return true;
    }
    if (note.kind == Kind::Attribute) {
        const char quote = note.begin > 0 ? text[note.begin - 1] : 0;
        const std::size_t end = text.find(quote, note.begin);
        if ((quote != '"' && quote != '\'') || end == none) {
            return Fail("an attribute value was not found where the parser put it");
        }
        SourceEdit edit{note.begin, end, {}};
        edit.replacement = Escaped(note.text, quote);
        edits.push_back(std::move(edit));
        return true;
    }
    // A text's new value replaces its content; a dropped text goes whole (a
    // CDATA section with its delimiters).
    if (note.kind == Kind::Text || note.kind == Kind::DropText) {
        const bool drop = note.kind == Kind::DropText;
        const std::size_t end = text.find('<', note.begin);
        if (note.begin == 0 || text[note.begin - 1] != '>' || end == none) {
            return Fail(drop ? "a dropped text was not found where the parser put it"
                             : "a text was not found where the parser put it");
        }
        edits.push_back(drop ? SourceEdit{note.begin, end, {}, true}
                             : SourceEdit{note.begin, end, Escaped(note.text, 0)});
        return true;
    }
    if (note.kind == Kind::CData || note.kind == Kind::DropCData) {
        const bool drop = note.kind == Kind::DropCData;
        const std::size_t end = text.find("]]>", note.begin);
        if (note.begin < cdataOpen.size() ||
            text.compare(note.begin - cdataOpen.size(), cdataOpen.size(), cdataOpen) != 0 ||
            end == none) {
            return Fail(drop ? "a dropped CDATA section was not found where the parser put it"
                             : "a CDATA section was not found where the parser put it");
        }
        edits.push_back(drop ? SourceEdit{note.begin - cdataOpen.size(), end + 3, {}, true}
                             : SourceEdit{note.begin, end, Escaped(note.text, 'C')});
        return true;
    }
    const Element* element = FindElement(note.begin);
    const auto extent = std::lower_bound(
        extents_.begin(), extents_.end(), note.begin,
        [](const Extent& found, std::size_t offset) { return found.name < offset; });
    if (note.kind == Kind::DropElement) {
        if (element == nullptr || extent == extents_.end() || extent->name != note.begin ||
            extent->close == 0) {
            return Fail("a dropped element was not found in the input");
        }
        edits.push_back({note.begin - 1, extent->close, {}, true});
        return true;
    }
    // Insert: the element had no text; the text added to it goes where its
    // content ends, in place of the blanks before the end tag.
    if (element == nullptr || extent == extents_.end() || extent->name != note.begin ||
        extent->tagEnd == 0) {
        return Fail("an element without text was not found in the input");
    }
    if (extent->empty) {
        edits.push_back(
            {extent->tagEnd, extent->tagEnd + 2,
             ">" + Escaped(note.text, 0) + "</" + std::string(TextOf(element->nameText)) + ">"});
        return true;
    }
    if (extent->endTag < extent->gapBegin) {
        return Fail("an element without text has no end in the input");
    }
    const std::string_view gap = text.substr(extent->gapBegin, extent->endTag - extent->gapBegin);
    if (!std::all_of(gap.begin(), gap.end(), IsBlank)) {
        return Fail("an element without text holds text in the input");
    }
    edits.push_back({extent->gapBegin, extent->endTag, Escaped(note.text, 0)});
    return true;
}

bool SourceSplicer::Capture() {
    if (!problem_.empty()) {
        return false;
    }
    SortRuns(elements_, [](const Element& element) { return element.name; });
    // An element selected more than once needs an insertion if any selection did.
    for (std::size_t index = elements_.size(); index-- > 1;) {
        if (elements_[index].name == elements_[index - 1].name) {
            elements_[index - 1].insert = elements_[index - 1].insert || elements_[index].insert;
            elements_[index - 1].drop = elements_[index - 1].drop || elements_[index].drop;
        }
    }
    elements_.erase(
        std::unique(elements_.begin(), elements_.end(),
                    [](const Element& a, const Element& b) { return a.name == b.name; }),
        elements_.end());

    // Each value was taken right after its change. An item changed again
    // with its place known has a later note, which wins (see Resolve). One
    // changed again without a place (its value moved out of the buffer, or
    // text added to an element) is read again here. Where only "redacted" is
    // written, any other value (a change that failed) is read again as well.
    Settle();
    std::vector<const void*> changedAgain;
    for (const auto& [item, isAttribute] : unplaced_) {
        changedAgain.push_back(item);
        if (!isAttribute) {
            changedAgain.push_back(
                pugi::xml_node(static_cast<pugi::xml_node_struct*>(const_cast<void*>(item)))
                    .parent()
                    .internal_object());
        }
    }
    std::sort(changedAgain.begin(), changedAgain.end());
    for (Note& note : notes_) {
        if (note.kind < Kind::DropText &&
            ((!rewritten_ && note.text != redactedIndex_) ||
             (!changedAgain.empty() &&
              std::binary_search(changedAgain.begin(), changedAgain.end(), note.item)))) {
            note.text = Store(CurrentValue(note));
        }
    }

    // Items changed without a position of their own must be ones noted earlier
    // (changed twice) or text added to an element noted for an insertion.
    std::vector<const void*> noted;
    if (!unplaced_.empty()) {
        noted.reserve(notes_.size());
        for (const Note& note : notes_) {
            noted.push_back(note.item);
        }
        std::sort(noted.begin(), noted.end());
    }
    for (const auto& [item, isAttribute] : unplaced_) {
        if (std::binary_search(noted.begin(), noted.end(), item)) {
            continue;
        }
        if (isAttribute) {
            return Fail("a changed attribute has no position in the input");
        }
        const pugi::xml_node parent =
            pugi::xml_node(static_cast<pugi::xml_node_struct*>(const_cast<void*>(item))).parent();
        if (!std::binary_search(noted.begin(), noted.end(),
                                static_cast<const void*>(parent.internal_object()))) {
            return Fail("a changed item has no position in the input");
        }
    }
    for (Note& note : notes_) {
        note.item = nullptr;  // the document may go now
    }
    return true;
}

bool SourceSplicer::Resolve(std::string_view source) {
    if (!problem_.empty()) {
        return false;
    }
    source_ = source;
    // Check the positions pugixml gave against the input before trusting them.
    for (const Element& element : elements_) {
        const std::string_view name = TextOf(element.nameText);
        if (element.name >= source_.size() || source_[element.name - 1] != '<' ||
            source_.compare(element.name, name.size(), name) != 0) {
            return Fail("a selected element was not found where the parser put it");
        }
    }
    for (const Note& note : notes_) {
        if (note.begin >= source_.size()) {
            return Fail("a changed item lies beyond the end of the input");
        }
    }
    // The selected elements are scanned on another thread while the other
    // notes become edits here; insertions need what the scan finds.
    std::sort(deepMarks_.begin(), deepMarks_.end());
    std::sort(keepMarks_.begin(), keepMarks_.end());
    std::vector<SourceEdit> comments;
    std::string scanProblem;
    bool scanned = false;
    const auto scan = [this, &comments, &scanProblem, &scanned]() {
        scanned = ScanElements(comments, scanProblem);
    };
    std::thread scanning;
    constexpr std::size_t worthAThread = 4096;
    if (elements_.size() >= worthAThread && notes_.size() >= worthAThread) {
        try {
            scanning = std::thread(scan);
        } catch (const std::system_error&) {
        }
    }
    if (!scanning.joinable()) {
        scan();
    }
    // Each expression noted its items in order; the insertions come last.
    SortRuns(notes_, [](const Note& note) { return note.begin; });
    edits_.clear();
    edits_.reserve(notes_.size());
    bool placed = true;
    const auto afterScan = [](const Note& note) {
        return note.kind == Kind::Insert || note.kind == Kind::DropElement;
    };
    for (const Note& note : notes_) {
        if (!afterScan(note) && !AddEdit(note, edits_)) {
            placed = false;
            break;
        }
    }
    if (scanning.joinable()) {
        scanning.join();
    }
    if (!scanned) {
        problem_ = scanProblem;  // the input's structure is the first problem
        return false;
    }
    if (!placed) {
        return false;
    }
    const auto plain = static_cast<std::ptrdiff_t>(edits_.size());
    for (const Note& note : notes_) {
        if (afterScan(note) && !AddEdit(note, edits_)) {
            return false;
        }
    }
    // A removal comes before any other edit of the same span, so that it is
    // the one kept.
    const auto order = [](const SourceEdit& a, const SourceEdit& b) {
        return a.begin != b.begin ? a.begin < b.begin
               : a.end != b.end   ? a.end < b.end
                                  : a.drop > b.drop;
    };
    // Insertions sit at their element's end, after the other edits here, and
    // the scan made the comment edits in order: merge all three.
    if (!std::is_sorted(edits_.begin(), edits_.begin() + plain, order)) {
        std::stable_sort(edits_.begin(), edits_.begin() + plain, order);
    }
    std::stable_sort(edits_.begin() + plain, edits_.end(), order);
    std::inplace_merge(edits_.begin(), edits_.begin() + plain, edits_.end(), order);
    if (!comments.empty()) {
        const auto notes = static_cast<std::ptrdiff_t>(edits_.size());
        edits_.insert(edits_.end(), std::make_move_iterator(comments.begin()),
                      std::make_move_iterator(comments.end()));
        std::inplace_merge(edits_.begin(), edits_.begin() + notes, edits_.end(), order);
    }
    // One span edited twice (an item changed by two expressions): the later
    // change is the final one, and a removal outranks both.
    std::size_t distinct = 0;
    for (std::size_t index = 0; index < edits_.size(); ++index) {
        if (distinct > 0 && edits_[distinct - 1].begin == edits_[index].begin &&
            edits_[distinct - 1].end == edits_[index].end) {
            if (!edits_[distinct - 1].drop) {
                edits_[distinct - 1] = std::move(edits_[index]);
            }
            continue;
        }
        if (distinct != index) {
            edits_[distinct] = std::move(edits_[index]);
        }
        ++distinct;
    }
    edits_.resize(distinct);
    // Edits inside a removed span go with it.
    std::size_t removedEnd = 0;
    std::size_t kept = 0;
    for (std::size_t index = 0; index < edits_.size(); ++index) {
        if (edits_[index].begin < removedEnd && edits_[index].end <= removedEnd && kept > 0) {
            continue;
        }
        if (edits_[index].drop) {
            removedEnd = std::max(removedEnd, edits_[index].end);
        }
        if (kept != index) {
            edits_[kept] = std::move(edits_[index]);
        }
        ++kept;
    }
    edits_.resize(kept);
    for (std::size_t index = 1; index < edits_.size(); ++index) {
        if (edits_[index].begin < edits_[index - 1].end) {
            return Fail("two changes overlap in the input");
        }
    }
    return true;
}

bool SourceSplicer::ResolveLatin1(std::string_view source) {
    // Each byte from 0x80 up is a two-byte character in the UTF-8 form.
    std::string converted;
    std::vector<std::size_t> wide;  // where those start in converted
    converted.reserve(source.size() + source.size() / 8);
    for (const char byte : source) {
        const auto value = static_cast<unsigned char>(byte);
        if (value < 0x80) {
            converted += byte;
        } else {
            wide.push_back(converted.size());
            converted += static_cast<char>(0xC0 | (value >> 6));
            converted += static_cast<char>(0x80 | (value & 0x3F));
        }
    }
    if (!Resolve(converted)) {
        source_ = {};
        return false;
    }
    // Edits are ordered and do not overlap, so their ends only grow.
    std::size_t passed = 0;  // wide characters before the offset last mapped
    bool split = false;
    const auto toSource = [&](std::size_t offset) {
        while (passed < wide.size() && wide[passed] < offset) {
            ++passed;
        }
        split = split || (passed > 0 && wide[passed - 1] + 1 == offset);
        return offset - passed;
    };
    for (SourceEdit& edit : edits_) {
        edit.begin = toSource(edit.begin);
        edit.end = toSource(edit.end);
        std::string latin1;
        for (std::size_t at = 0; at < edit.replacement.size(); ++at) {
            const auto lead = static_cast<unsigned char>(edit.replacement[at]);
            if (lead < 0x80) {
                latin1 += static_cast<char>(lead);
            } else if ((lead == 0xC2 || lead == 0xC3) && at + 1 < edit.replacement.size()) {
                const auto trail = static_cast<unsigned char>(edit.replacement[++at]);
                latin1 += static_cast<char>(((lead & 0x03) << 6) | (trail & 0x3F));
            } else {
                source_ = {};
                return Fail("a new value holds a character that Latin-1 cannot hold");
            }
        }
        edit.replacement = std::move(latin1);
    }
    if (split) {
        source_ = {};
        return Fail("a change would split a character of the input");
    }
    source_ = source;
    return true;
}

void SourceSplicer::Write(std::ostream& out) const {
    std::size_t at = 0;
    for (const SourceEdit& edit : edits_) {
        out.write(source_.data() + at, static_cast<std::streamsize>(edit.begin - at));
        out.write(edit.replacement.data(), static_cast<std::streamsize>(edit.replacement.size()));
        at = edit.end;
    }
    out.write(source_.data() + at, static_cast<std::streamsize>(source_.size() - at));
}

}  // namespace qiv::redact
