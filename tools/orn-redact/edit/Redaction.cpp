#include "Redaction.h"

#include "Expression.h"
#include "Seam.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <unordered_map>
#include <unordered_set>

#include <pugixml.hpp>

#include "Actions.h"
#include "SourceSplice.h"
#include "Workers.h"

namespace qiv::redact {

namespace {

constexpr const char* redactedText = "redacted";

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

// Text nodes a rule gave a value other than "redacted" (or left as they were
// because there was nothing to hide), for the check for text left behind.
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
    std::string value;

    // Whether this expression may write text now (and, if so, marks it).
    bool FirstTime(const void* text) { return once == nullptr || once->Insert(text); }

    // Works out the new value of an item that reads current: false when it
    // stays as it is.
    bool Compute(const char* current) {
        return action == nullptr || action->Rewrite(current, value);
    }
    const char* Value() const { return action != nullptr ? value.c_str() : redactedText; }
};

// Whether a text node reads as changed by some expression.
bool Written(const pugi::xml_node& text, const WrittenTexts& written) {
    return std::strcmp(text.value(), redactedText) == 0 ||
           (!written.Empty() && written.Has(text.internal_object()));
}

// For each of elements, whether a text or CDATA node below it reads other
// than "redacted". Elements nest (//a on nested a's), so each is not walked
// on its own: a walk records every listed element it passes, and a listed
// element already known is not entered again. Every node is visited at most
// once, however deep the nesting. It runs on the pugixml items themselves:
// wrappers would cost an allocation per step.
std::vector<char> HoldOtherText(const std::vector<pugi::xml_node>& elements, WrittenTexts& written,
                                const Guard& guard) {
    constexpr signed char unknown = -1;
    std::unordered_map<const void*, signed char> state;
    state.reserve(elements.size());
    for (const pugi::xml_node& element : elements) {
        state.emplace(element.internal_object(), unknown);
    }
    std::vector<char> open;  // per element on the walk's path: other text seen below it
    for (const pugi::xml_node& element : elements) {
        if (state[element.internal_object()] != unknown) {
            continue;
        }
        open.assign(1, 0);
        pugi::xml_node parent = element;
        pugi::xml_node current = element.first_child();
        for (;;) {
            if (!current) {
                const char other = open.back();
                open.pop_back();
                if (const auto found = state.find(parent.internal_object()); found != state.end()) {
                    found->second = static_cast<signed char>(other);
                }
                if (parent == element) {
                    break;
                }
                open.back() = static_cast<char>(open.back() | other);
                current = parent.next_sibling();
                parent = parent.parent();
                continue;
            }
            const pugi::xml_node_type type = current.type();
            if (guard.AnyDropped() && guard.Dropped(current.internal_object())) {
                // Gone from the output, with all it holds.
            } else if (type == pugi::node_pcdata || type == pugi::node_cdata) {
                if (!Written(current, written)) {
                    open.back() = 1;
                }
            } else if (type == pugi::node_element) {
                const auto found = state.find(current.internal_object());
                if (found == state.end() || found->second == unknown) {
                    open.push_back(0);
                    parent = current;
                    current = current.first_child();
                    continue;
                }
                open.back() = static_cast<char>(open.back() | found->second);
            }
            current = current.next_sibling();
        }
    }
    std::vector<char> other(elements.size());
    for (std::size_t index = 0; index < elements.size(); ++index) {
        other[index] = static_cast<char>(state[elements[index].internal_object()] == 1);
    }
    return other;
}

// Whether an element just set surely holds no other text: it has no child,
// or its one child is a text that reads "redacted". This looks only at what
// the change has just brought into the cache; anything else is left to
// HoldsOtherText, after the last expression.
// just: the text the expression has just written in it, if any.
bool SurelyClean(const pugi::xml_node& element, const void* just) {
    const pugi::xml_node only = element.first_child();
    if (!only) {
        return true;
    }
    const pugi::xml_node_type type = only.type();
    return !only.next_sibling() && (type == pugi::node_pcdata || type == pugi::node_cdata) &&
           (only.internal_object() == just || std::strcmp(only.value(), redactedText) == 0);
}

// Sets an item to the writer's value (computed beforehand) through the
// library's wrapper of it; the splicer, if any, takes the new value while it
// is at hand.
template <typename Wrapper, typename Item>
bool SetValue(const Item& item, const ValueWriter& writer) {
    const bool set = Wrapper(Item(item)).SetValue(writer.Value());
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

// Whether item lies inside node (or is it).
bool Within(const pugi::xpath_node& item, const pugi::xml_node& node) {
    for (pugi::xml_node up = item.attribute() ? item.parent() : item.node(); up; up = up.parent()) {
        if (up == node) {
            return true;
        }
    }
    return false;
}

// Sets every text and CDATA node below element, through the library. The
// selection's items after element that lie inside it come in the order the
// walk meets them (a selection is in document order): next is moved past
// them, so that the caller knows they are covered and does not walk them
// again, which on nested elements would cost the square of the depth.
// done: a text already set for this element (its first text run), which a
// value other than "redacted" must not be computed from again.
void RedactAllText(const pugi::xml_node& element, ValueWriter& writer, const Guard& guard,
                   const pugi::xpath_node*& next, const pugi::xpath_node* end,
                   const void* done = nullptr) {
    SourceSplicer* splicer = writer.splicer;
    const auto pass = [&next, end](const pugi::xml_node& node) {
        if (next != end && !next->attribute() && next->node() == node) {
            ++next;
        }
        while (next != end && next->attribute() && next->parent() == node) {
            ++next;
        }
    };
    pass(element);
    pugi::xml_node current = element.first_child();
    while (current) {
        pass(current);
        const pugi::xml_node_type type = current.type();
        const bool stopped = guard.Active() && guard.Stops(current.internal_object());
        if (stopped) {
            // Kept or dropped: left as it is, and so are the items inside.
            while (next != end && Within(*next, current)) {
                ++next;
            }
        } else if ((type == pugi::node_pcdata || type == pugi::node_cdata) &&
                   current.internal_object() != done &&
                   writer.FirstTime(current.internal_object()) && writer.Compute(current.value())) {
            if (splicer != nullptr) {
                splicer->NoteText(current);
            }
            SetValue<PugiNode>(current, writer);
            if (writer.action != nullptr) {
                writer.written->Insert(current.internal_object());
            }
        }
        if (!stopped && type == pugi::node_element && current.first_child()) {
            current = current.first_child();
            continue;
        }
        while (!current.next_sibling() && current.parent() != element) {
            current = current.parent();
        }
        current = current.next_sibling();
    }
}

// The items of a selection lie far apart in memory, and each one's change
// waits on a few loads from it: its node, its first child and the input text
// of its name and value. Fetching those some items ahead lets the memory
// work on several items at once. The node is fetched first; its name and
// first child once the node itself is in the cache.
void FetchAhead(const pugi::xpath_node* item, const pugi::xpath_node* end) {
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
// once. The document is only read while this runs.
std::vector<std::unique_ptr<PugiXPathNodeSet>> SelectUpfront(
    PugiXMLParser& parser, const std::vector<std::string>& expressions,
    const std::vector<std::size_t>& upfront, unsigned int threads) {
    // Longest first, so that the short ones fill in around it: an expression
    // with more steps makes more passes over the document.
    std::vector<std::size_t> order = upfront;
    const auto steps = [&expressions](std::size_t index) {
        return std::count(expressions[index].begin(), expressions[index].end(), '/');
    };
    std::stable_sort(order.begin(), order.end(),
                     [&steps](std::size_t a, std::size_t b) { return steps(a) > steps(b); });
    std::vector<std::unique_ptr<PugiXPathNodeSet>> selected(expressions.size());
    ForEachOnThreads(order.size(), threads, [&](std::size_t index) {
        selected[order[index]] = parser.SelectNodes(expressions[order[index]]);
    });
    return selected;
}

// In a batch of records: what an item is when it lies outside every record
// (a record is an element whose parent is the document element), or null.
const char* OutsideRecords(const pugi::xpath_node& item) {
    pugi::xml_node node = item.attribute() ? item.parent() : item.node();
    const bool attribute = static_cast<bool>(item.attribute());
    int depth = 0;  // of node: the document is 0, the document element 1
    for (pugi::xml_node up = node; up.parent() && depth < 3; up = up.parent()) {
        ++depth;
    }
    if (depth >= 3 || (depth == 2 && (attribute || node.type() == pugi::node_element))) {
        return nullptr;
    }
    if (depth == 0) {
        return "the document node";
    }
    if (depth == 1) {
        if (node.type() != pugi::node_element) {
            return "markup beside the document element";
        }
        return attribute ? "an attribute of the document element" : "the document element";
    }
    return node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata
               ? "text between the records"
               : "markup between the records";
}

}  // namespace

bool Redact(DataParserIF& parser, const std::vector<std::string>& expressions,
            const RedactionSettings& settings, std::vector<ExpressionOutcome>& outcomes,
            std::string& error, SourceSplicer* splicer, const StepDone& stepDone) {
    auto* xmlParser = XmlParserOf(parser);
    if (xmlParser == nullptr) {
        error = "the parser does not support XPath selection";
        return false;
    }

    // Each expression is selected once, right before its items change, so that
    // it sees the changes made for the expressions before it. The same
    // selection gives the counts and, through the splicer, the places in the
    // input. Every item changes the way the library's RedactNodes changes it:
    // through the node's text. Nothing is removed, so nodes stay valid.
    //
    // An expression that tests only element and attribute names selects the
    // same items before and after any change the tool makes (values change,
    // and text nodes are only added), so all of those are selected first, in
    // parallel, while the document is not being changed.
    std::vector<std::size_t> upfront;
    for (std::size_t index = 0; index < expressions.size(); ++index) {
        if (SelectsByNamesOnly(expressions[index])) {
            upfront.push_back(index);
        }
    }
    std::vector<std::unique_ptr<PugiXPathNodeSet>> preselected =
        upfront.size() > 1 ? SelectUpfront(*xmlParser, expressions, upfront, settings.threads)
                           : std::vector<std::unique_ptr<PugiXPathNodeSet>>(expressions.size());
    if (stepDone) {
        stepDone("select");
    }
    if (splicer != nullptr) {
        // Room for the notes on every item selected so far, at once: growing
        // per expression would copy the earlier notes each time.
        std::size_t items = 0;
        for (const auto& set : preselected) {
            items += set ? set->Size() : 0;
        }
        splicer->Reserve(items);
    }

    if (splicer != nullptr && !settings.plans.empty()) {
        // Comments are not in the document: the splicer rewrites those inside
        // deep expressions' elements with the same actions.
        splicer->SetCommentRewriter([plans = settings.plans](std::size_t index,
                                                             std::string_view comment,
                                                             std::string& out) {
            const RuleAction* action = index < plans.size() ? plans[index].action : nullptr;
            if (action == nullptr) {
                out = redactedText;
                return true;
            }
            return action->Rewrite(comment, out);
        });
    }

    Guard guard;
    // Record batches come one after the other on each thread: the tables are
    // kept, so that each batch does not fault in fresh pages for them.
    thread_local WrittenTexts written;
    thread_local PointerSet once;
    written.Clear();
    std::vector<std::pair<std::size_t, pugi::xml_node>> recheck;  // may hold other text
    outcomes.clear();
    for (std::size_t index = 0; index < expressions.size(); ++index) {
        const std::string& expression = expressions[index];
        std::unique_ptr<PugiXPathNodeSet> selected =
            preselected[index] ? std::move(preselected[index]) : xmlParser->SelectNodes(expression);
        if (!selected) {
            error = "cannot evaluate expression '" + expression + "'";
            return false;
        }
        const ExpressionPlan plan =
            index < settings.plans.size()
                ? settings.plans[index]
                : ExpressionPlan{nullptr, settings.deep, settings.attributes};
        const Action action = plan.action != nullptr ? plan.action->Kind() : Action::Redact;
        ValueWriter writer;
        writer.action = action == Action::Redact ? nullptr : plan.action;
        writer.splicer = splicer;
        writer.written = &written;
        once.Clear();
        if (action == Action::Pseudonym) {
            writer.once = &once;
        }

        ExpressionOutcome outcome;
        outcome.expression = expression;
        outcome.selected = selected->Size();
        if (settings.recordsOnly) {
            for (auto item = selected->Begin(); item != selected->End(); ++item) {
                if (const char* outside = OutsideRecords(*item)) {
                    outcome.outsideRecords = outside;
                    outcomes.push_back(std::move(outcome));
                    error = "'" + expression + "' selects " + outside;
                    return false;
                }
            }
        }
        if (splicer != nullptr) {
            splicer->Reserve(outcome.selected);
        }
        const auto keep = [&](const void* item, const pugi::xml_node& holder) {
            guard.Keep(item, holder);
            if (splicer != nullptr && holder && holder.type() == pugi::node_element &&
                item == holder.internal_object()) {
                splicer->NoteKeptElement(holder, index);
            }
        };
        // Drops what an element holds from the output; false when it is the
        // document element, whose loss would leave no document.
        const auto drop = [&](const pugi::xpath_node& item) {
            const pugi::xml_node node = item.node();
            if (node && (node.type() == pugi::node_document ||
                         node.parent().type() == pugi::node_document)) {
                error =
                    "'" + expression + "' selects the document element, which cannot be dropped";
                return false;
            }
            if (node && guard.HoldsKept(node)) {
                ++outcome.skipped;
                return true;
            }
            if (splicer != nullptr) {
                if (item.attribute()) {
                    splicer->NoteDropAttribute(item.attribute(), item.parent());
                } else if (node.type() == pugi::node_element) {
                    splicer->NoteDropElement(node);
                } else {
                    splicer->NoteDropText(node);
                }
            }
            guard.Drop(item);
            ++outcome.redacted;
            return true;
        };
        // Items before this one lie inside an element whose text was all set.
        const pugi::xpath_node* covered = selected->Begin();
        for (auto item = selected->Begin(); item != selected->End(); ++item) {
            FetchAhead(item, selected->End());
            // Items are classified on the pugixml item; wrappers are made only
            // to write through the public interface.
            if (const pugi::xml_attribute attribute = item->attribute()) {
                ++outcome.attributes;
                if (guard.Protects(attribute, item->parent())) {
                    ++outcome.skipped;
                } else if (action == Action::Keep) {
                    keep(attribute.internal_object(), item->parent());
                } else if (action == Action::Drop) {
                    drop(*item);
                } else if (plan.attributes && writer.Compute(attribute.value())) {
                    if (splicer != nullptr) {
                        splicer->NoteAttribute(attribute, item->parent());
                    }
                    if (SetValue<PugiAttribute>(attribute, writer)) {
                        ++outcome.redacted;
                    }
                }
                continue;
            }
            const pugi::xml_node node = item->node();
            const pugi::xml_node_type type = node.type();
            if (guard.Protects(node)) {
                ++outcome.skipped;
                continue;
            }
            if (action == Action::Keep) {
                const bool whole = type == pugi::node_element || type == pugi::node_document;
                keep(node.internal_object(), whole ? node : node.parent());
                continue;
            }
            if (action == Action::Drop) {
                if (type == pugi::node_element || type == pugi::node_document ||
                    type == pugi::node_pcdata || type == pugi::node_cdata) {
                    if (!drop(*item)) {
                        return false;
                    }
                }
                continue;
            }
            const void* just = nullptr;  // the text setElement wrote or left
            const auto setElement = [&](const pugi::xml_node& element) {
                ++outcome.elements;
                just = nullptr;
                const pugi::xml_node first = element.text().data();
                if (first && guard.Active() && guard.Stops(first.internal_object())) {
                    return false;
                }
                if (first && !writer.FirstTime(first.internal_object())) {
                    ++outcome.redacted;  // by this expression, through another item
                    just = first.internal_object();
                    return false;
                }
                // An empty value for an element without text changes nothing.
                if (!writer.Compute(first ? first.value() : "") ||
                    (!first && writer.action != nullptr && writer.value.empty())) {
                    if (first) {
                        just = first.internal_object();
                        written.Insert(just);
                    }
                    return false;
                }
                ++outcome.redacted;
                const bool noted = splicer != nullptr && splicer->NoteElementText(element);
                SetValue<PugiNode>(element, writer);
                if (writer.action != nullptr) {
                    just = element.text().data().internal_object();
                    written.Insert(just);
                }
                return noted;
            };
            const auto checkElement = [&](const pugi::xml_node& element, bool noted) {
                if (plan.deep && splicer != nullptr && !settings.plans.empty()) {
                    splicer->NoteDeepElement(element, index);
                }
                if (!SurelyClean(element, just)) {
                    recheck.emplace_back(outcomes.size(), element);
                } else if (noted) {
                    splicer->NoteCommentCheck(outcomes.size());
                } else if (splicer != nullptr) {
                    splicer->NoteCommentCheck(outcomes.size(), element);
                }
            };
            if (type == pugi::node_element) {
                const bool inside = item < covered;
                const bool noted = setElement(node);
                if (plan.deep && !inside) {
                    covered = item + 1;
                    RedactAllText(node, writer, guard, covered, selected->End(), just);
                }
                checkElement(node, noted);
            } else if (type == pugi::node_document) {
                // The output must stay a document: the library would add a
                // text after the document element. Selecting the document
                // selects its top-level elements instead.
                const bool walk = plan.deep && item >= covered;
                if (walk) {
                    covered = item + 1;
                }
                for (const pugi::xml_node& top : node.children()) {
                    if (top.type() == pugi::node_element) {
                        const bool noted = setElement(top);
                        if (walk) {
                            RedactAllText(top, writer, guard, covered, selected->End(), just);
                        }
                        checkElement(top, noted);
                    }
                }
            } else if ((type == pugi::node_pcdata || type == pugi::node_cdata)) {
                if (!writer.FirstTime(node.internal_object())) {
                    ++outcome.redacted;  // by this expression, through another item
                    continue;
                }
                if (!writer.Compute(node.value())) {
                    written.Insert(node.internal_object());
                    continue;
                }
                ++outcome.redacted;
                if (splicer != nullptr) {
                    splicer->NoteText(node);
                }
                SetValue<PugiNode>(node, writer);
                if (writer.action != nullptr) {
                    written.Insert(node.internal_object());
                }
            }
        }
        outcomes.push_back(std::move(outcome));
    }

    // Text left behind is counted only now: a later expression may have
    // cleaned it up. Nothing the tool does adds other text, so elements found
    // clean right after their change are not checked again. Elements dropped,
    // or inside one, hold nothing in the output.
    std::vector<pugi::xml_node> rechecked;
    rechecked.reserve(recheck.size());
    std::size_t kept = 0;
    for (std::size_t at = 0; at < recheck.size(); ++at) {
        bool gone = false;
        if (guard.AnyDropped()) {
            for (pugi::xml_node up = recheck[at].second; up && !gone; up = up.parent()) {
                gone = guard.Dropped(up.internal_object());
            }
        }
        if (!gone) {
            recheck[kept++] = recheck[at];
            rechecked.push_back(recheck[at].second);
        }
    }
    recheck.resize(kept);
    const std::vector<char> holdsOther = HoldOtherText(rechecked, written, guard);
    const bool spliced = splicer != nullptr && splicer->Capture();
    for (std::size_t at = 0; at < recheck.size(); ++at) {
        const auto& [index, node] = recheck[at];
        if (holdsOther[at] != 0) {
            ++outcomes[index].elementsWithOtherText;
        } else if (spliced) {
            splicer->NoteCommentCheck(index, node);
        }
    }
    // The splicer has what it needs: dropped items can go now.
    guard.RemoveDropped();
    if (stepDone) {
        stepDone("redact");
    }
    return true;
}

void AddCommentLeftovers(const SourceSplicer& splicer, std::vector<ExpressionOutcome>& outcomes) {
    const std::vector<std::size_t> counts = splicer.ElementsWithOtherComments(outcomes.size());
    for (std::size_t index = 0; index < outcomes.size(); ++index) {
        outcomes[index].elementsWithOtherText += counts[index];
    }
}

}  // namespace qiv::redact
