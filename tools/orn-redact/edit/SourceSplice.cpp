#include "SourceSplice.h"
#include "SpliceParts.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

namespace qiv::redact {

using splice::redactedText;
using splice::SortRuns;

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

void SourceSplicer::TakeValues() {
    // Read while the items are still in the cache from their change.
    // "redacted" is looked up on its own, so that Intern()'s shortcut for the
    // last element name interned keeps working between the notes.
    for (; valuesTaken_ < notes_.size(); ++valuesTaken_) {
        if (notes_[valuesTaken_].kind >= Kind::DropText) {
            notes_[valuesTaken_].text = redactedIndex_;  // nothing to read: it goes
            continue;
        }
        notes_[valuesTaken_].text = Store(CurrentValue(notes_[valuesTaken_]));
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

void SourceSplicer::TakeRewrittenValues() {
    rewritten_ = true;
    TakeValues();
}

void SourceSplicer::TakeRedactedValues() {
    for (; valuesTaken_ < notes_.size(); ++valuesTaken_) {
        notes_[valuesTaken_].text = redactedIndex_;
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
    TakeValues();
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

void ApplyEdits(std::string_view source, std::size_t begin, std::size_t end,
                const std::vector<SourceEdit>& edits, std::ostream& out) {
    std::size_t at = begin;
    for (const SourceEdit& edit : edits) {
        out.write(source.data() + at, static_cast<std::streamsize>(edit.begin - at));
        out.write(edit.replacement.data(), static_cast<std::streamsize>(edit.replacement.size()));
        at = edit.end;
    }
    out.write(source.data() + at, static_cast<std::streamsize>(end - at));
}

void SourceSplicer::Write(std::ostream& out) const {
    ApplyEdits(source_, 0, source_.size(), edits_, out);
}

}  // namespace qiv::redact
