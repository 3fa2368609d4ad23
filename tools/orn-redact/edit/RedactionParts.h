#pragma once

// What Redact() is made of: the tables that follow the items kept, dropped and
// written, the writing of one expression's values, and the walks over the
// document that it runs.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>
#include <unordered_set>
#include <vector>

#include <pugixml.hpp>

#include "Actions.h"
#include "ChangedValues.h"
#include "Seam.h"
#include "SourceSplice.h"

namespace qiv::redact::redaction {

inline constexpr const char* redactedText = "redacted";

// Items kept or dropped by an expression, which later expressions leave alone
// together with everything inside them.
class Guard {
public:
    bool Active() const { return !kept_.empty() || !dropped_.empty(); }
    bool Stops(const void* item) const {
        return kept_.count(item) != 0 || dropped_.count(item) != 0;
    }
    // Whether node, or an element around it, is kept or dropped.
    bool Protects(pugi::xml_node node) const {
        if (!Active()) {
            return false;
        }
        for (; node; node = node.parent()) {
            if (Stops(node.internal_object())) {
                return true;
            }
        }
        return false;
    }
    bool Protects(const pugi::xml_attribute& attribute, const pugi::xml_node& element) const {
        return Active() && (Stops(attribute.internal_object()) || Protects(element));
    }
    bool HoldsKept(const pugi::xml_node& node) const {
        return holdsKept_.count(node.internal_object()) != 0;
    }
    void Keep(const void* item, pugi::xml_node holder) {
        kept_.insert(item);
        while (holder && holdsKept_.insert(holder.internal_object()).second) {
            holder = holder.parent();
        }
    }
    void Drop(const pugi::xpath_node& item) {
        dropped_.insert(item.attribute()
                            ? static_cast<const void*>(item.attribute().internal_object())
                            : item.node().internal_object());
        drops_.push_back(item);
    }
    // Takes the dropped items out of the document, in the order they were
    // dropped: an item is never dropped after an element around it.
    void RemoveDropped() {
        for (const pugi::xpath_node& item : drops_) {
            if (item.attribute()) {
                item.parent().remove_attribute(item.attribute());
            } else {
                item.node().parent().remove_child(item.node());
            }
        }
        drops_.clear();
    }
    bool Dropped(const void* item) const { return dropped_.count(item) != 0; }
    bool AnyDropped() const { return !dropped_.empty(); }

private:
    std::unordered_set<const void*> kept_;
    std::unordered_set<const void*> dropped_;
    std::unordered_set<const void*> holdsKept_;  // elements with a kept item inside
    std::vector<pugi::xpath_node> drops_;
};

// A set of pointers in one open-addressing table: an insert or a lookup costs
// about one cache miss and no allocation of its own.
class PointerSet {
public:
    // False when item was there already.
    bool Insert(const void* item) {
        if (2 * (size_ + 1) > table_.size()) {
            Grow();
        }
        std::size_t slot = Slot(item);
        while (table_[slot] != nullptr) {
            if (table_[slot] == item) {
                return false;
            }
            slot = (slot + 1) & (table_.size() - 1);
        }
        table_[slot] = item;
        ++size_;
        return true;
    }
    bool Has(const void* item) const {
        if (table_.empty()) {
            return false;
        }
        for (std::size_t slot = Slot(item);; slot = (slot + 1) & (table_.size() - 1)) {
            if (table_[slot] == item) {
                return true;
            }
            if (table_[slot] == nullptr) {
                return false;
            }
        }
    }
    bool Empty() const { return size_ == 0; }
    // Empties the set, keeping its table for the next use.
    void Clear() {
        if (size_ > 0) {
            std::fill(table_.begin(), table_.end(), nullptr);
            size_ = 0;
        }
    }

private:
    std::size_t Slot(const void* item) const {
        const auto bits = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(item));
        return static_cast<std::size_t>((bits >> 3) * 0x9E3779B97F4A7C15ull >> 20) &
               (table_.size() - 1);
    }
    void Grow() {
        std::vector<const void*> old(std::max<std::size_t>(64, 2 * table_.size()), nullptr);
        old.swap(table_);
        size_ = 0;
        for (const void* item : old) {
            if (item != nullptr) {
                Insert(item);
            }
        }
    }

    std::vector<const void*> table_;
    std::size_t size_ = 0;
};

// Text nodes a rule gave a value other than "redacted" (or left as they were
// because there was nothing to hide), for the check for text left behind.
using WrittenTexts = PointerSet;

// Adds to names each name of an entity reference (&name;) in value that is
// not there yet.
void AddReferences(const char* value, std::vector<std::string>& names);

// Writes one expression's values: "redacted", or what its action makes of
// the value read.
struct ValueWriter {
    const RuleAction* action = nullptr;  // null: "redacted"
    SourceSplicer* splicer = nullptr;
    WrittenTexts* written = nullptr;
    // For an action whose value cannot be computed from its own result again
    // (a pseudonym of a pseudonym is another token): the texts this expression
    // has written, so that none is written twice, whatever order its items
    // come in and however they nest.
    PointerSet* once = nullptr;
    // The charset of the values read, and, when the document is written anew
    // in an 8-bit charset, that charset (else Utf8).
    Charset values = Charset::Utf8;
    Charset anew = Charset::Utf8;
    // With values in an 8-bit charset and a splicer: the values this run set,
    // which are UTF-8 already when a later expression reads them.
    PointerSet* utf8 = nullptr;
    // For the audit of the output: the old values this expression changes.
    ChangedValues* changed = nullptr;
    std::uint32_t expression = 0;
    std::string value;
    // The entity references in the values changed (see ExpressionOutcome).
    std::vector<std::string>* entities = nullptr;

    // A text (not CDATA, which holds no references) or attribute value about
    // to change.
    void NoteReferences(const char* current) const {
        if (entities != nullptr && std::strchr(current, '&') != nullptr) {
            AddReferences(current, *entities);
        }
    }
    void NoteReferences(const pugi::xml_node& text) const {
        if (text.type() == pugi::node_pcdata) {
            NoteReferences(text.value());
        }
    }

    // Set when a new value holds a character the document written anew
    // cannot hold; that value is not written.
    std::string problem;

    // Whether this expression may write text now (and, if so, marks it).
    bool FirstTime(const void* text) { return once == nullptr || once->Insert(text); }

    // Works out the new value of an item that reads current: false when it
    // stays as it is.
    bool Compute(const char* current) {
        if (action == nullptr) {
            return true;
        }
        if (values == Charset::Utf8 && anew == Charset::Utf8) {
            return action->Rewrite(current, value);
        }
        return ComputeConverted(current);
    }
    // Compute() for values in an 8-bit charset, or a document written anew
    // in one.
    bool ComputeConverted(const char* current);
    const char* Value() const { return action != nullptr ? value.c_str() : redactedText; }
};

// For each of elements, whether a text or CDATA node below it reads other
// than "redacted". Elements nest (//a on nested a's), so each is not walked
// on its own: a walk records every listed element it passes, and a listed
// element already known is not entered again. Every node is visited at most
// once, however deep the nesting. It runs on the pugixml items themselves:
// wrappers would cost an allocation per step.
std::vector<char> HoldOtherText(const std::vector<pugi::xml_node>& elements, WrittenTexts& written,
                                const Guard& guard);

// Whether an element just set surely holds no other text: it has no child,
// or its one child is a text that reads "redacted". This looks only at what
// the change has just brought into the cache; anything else is left to
// HoldsOtherText, after the last expression.
// just: the text the expression has just written in it, if any.
inline bool SurelyClean(const pugi::xml_node& element, const void* just) {
    const pugi::xml_node only = element.first_child();
    if (!only) {
        return true;
    }
    const pugi::xml_node_type type = only.type();
    return !only.next_sibling() && (type == pugi::node_pcdata || type == pugi::node_cdata) &&
           (only.internal_object() == just || std::strcmp(only.value(), redactedText) == 0);
}

// Where an item's value (an element's: its text's) is held.
inline const char* WrittenValue(const pugi::xml_attribute& attribute) { return attribute.value(); }
inline const char* WrittenValue(const pugi::xml_node& node) { return node.text().get(); }

// Sets an item to the writer's value (computed beforehand) through the
// library's wrapper of it; the splicer, if any, takes the new value while it
// is at hand.
template <typename Wrapper, typename Item>
bool SetValue(const Item& item, const ValueWriter& writer) {
    if (writer.changed != nullptr) {
        // An element's value is its first text, as the library sets it.
        if constexpr (std::is_same_v<Item, pugi::xml_attribute>) {
            writer.changed->Add(item.value(), writer.Value(), writer.expression);
        } else {
            writer.changed->Add(item.text().get(), writer.Value(), writer.expression);
        }
    }
    const bool set = Wrapper(Item(item)).SetValue(writer.Value());
    if (writer.utf8 != nullptr && writer.action != nullptr) {
        writer.utf8->Insert(WrittenValue(item));
    }
    if (writer.splicer != nullptr) {
        // What was set reads "redacted"; what could not be set is read back.
        if (writer.action != nullptr) {
            writer.splicer->TakeRewrittenValues();
        } else if (set) {
            writer.splicer->TakeRedactedValues();
        } else {
            writer.splicer->TakeValues();
        }
    }
    return set;
}

// The writer notes the entity references in node (a text, or an element with
// all its text and attribute values).
void NoteReferencesWithin(const pugi::xml_node& node, const ValueWriter& writer);

// Sets every text and CDATA node below element, through the library. The
// selection's items after element that lie inside it come in the order the
// walk meets them (a selection is in document order): next is moved past
// them, so that the caller knows they are covered and does not walk them
// again, which on nested elements would cost the square of the depth.
// done: a text already set for this element (its first text run), which a
// value other than "redacted" must not be computed from again.
void RedactAllText(const pugi::xml_node& element, ValueWriter& writer, const Guard& guard,
                   const pugi::xpath_node*& next, const pugi::xpath_node* end,
                   const void* done = nullptr);

// The items of a selection lie far apart in memory, and each one's change
// waits on a few loads from it: its node, its first child and the input text
// of its name and value. Fetching those some items ahead lets the memory
// work on several items at once. The node is fetched first; its name and
// first child once the node itself is in the cache.
inline void FetchAhead(const pugi::xpath_node* item, const pugi::xpath_node* end) {
    constexpr std::ptrdiff_t nodeDistance = 16;
    constexpr std::ptrdiff_t contentDistance = 8;
    if (end - item > nodeDistance) {
        const pugi::xpath_node& ahead = item[nodeDistance];
        __builtin_prefetch(ahead.node() ? static_cast<const void*>(ahead.node().internal_object())
                                        : ahead.attribute().internal_object());
    }
    if (end - item > contentDistance) {
        const pugi::xpath_node& ahead = item[contentDistance];
        if (const pugi::xml_node node = ahead.node()) {
            __builtin_prefetch(node.name());
            __builtin_prefetch(node.first_child().internal_object());
        } else {
            __builtin_prefetch(ahead.attribute().value());
        }
    }
}

// Selects every expression marked in upfront, on up to threads threads at
// once. The document is only read while this runs. below, when given, is
// sized to expressions and marks the sets known to hold only elements below
// the document element (found in one walk, which tells that for free).
std::vector<std::unique_ptr<PugiXPathNodeSet>> SelectUpfront(
    PugiXMLParser& parser, const std::vector<std::string>& expressions,
    const std::vector<std::size_t>& upfront, unsigned int threads,
    std::vector<char>* below = nullptr);

// In a batch of records: what an item is when it lies outside every record
// (a record is an element whose parent is the document element), or null.
const char* OutsideRecords(const pugi::xpath_node& item);

}  // namespace qiv::redact::redaction
