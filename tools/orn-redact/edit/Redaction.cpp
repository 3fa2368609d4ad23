#include "Redaction.h"

#include "BoundNames.h"
#include "Expression.h"
#include "RedactionParts.h"
#include "Seam.h"

#include <memory>
#include <string_view>
#include <utility>

#include <pugixml.hpp>

#include "Actions.h"
#include "SourceSplice.h"

namespace qiv::redact {

namespace {

using redaction::FetchAhead;
using redaction::Guard;
using redaction::HoldOtherText;
using redaction::NoteReferencesWithin;
using redaction::OutsideRecords;
using redaction::PointerSet;
using redaction::RedactAllText;
using redaction::redactedText;
using redaction::SelectUpfront;
using redaction::SetValue;
using redaction::SurelyClean;
using redaction::ValueWriter;
using redaction::WrittenTexts;

// What the expressions of one Redact() call share.
struct RedactionState {
    const RedactionSettings& settings;
    SourceSplicer* splicer;
    std::vector<ExpressionOutcome>& outcomes;
    std::string& error;
    WrittenTexts& written;
    PointerSet& once;
    PointerSet& utf8;
    ChangedValues* changed;
    Guard guard{};
    // Selected elements that may hold other text, with their expression's
    // index among the outcomes.
    std::vector<std::pair<std::size_t, pugi::xml_node>> recheck{};
};

// One expression's pass over what it selected: each item is changed, kept or
// dropped as the expression's action says, and counted in its outcome.
class ExpressionRun {
public:
    ExpressionRun(RedactionState& state, std::size_t index, const std::string& expression);

    /// False, with the state's error set, when the expression selects what it
    /// may not change.
    // below: every item is known to be an element below the document element.
    bool Run(const PugiXPathNodeSet& selected, bool below = false);
    ExpressionOutcome& Outcome() { return outcome_; }

private:
    bool SelectsOutsideRecords(const PugiXPathNodeSet& selected);
    bool RedactItem(const pugi::xpath_node* item, const PugiXPathNodeSet& selected);
    void RedactAttribute(const pugi::xpath_node& item, const pugi::xml_attribute& attribute);
    void Keep(const void* item, const pugi::xml_node& holder);
    bool Drop(const pugi::xpath_node& item);
    void RedactElement(const pugi::xpath_node* item, const pugi::xml_node& node,
                       const PugiXPathNodeSet& selected);
    void RedactDocument(const pugi::xpath_node* item, const pugi::xml_node& node,
                        const PugiXPathNodeSet& selected);
    void RedactText(const pugi::xml_node& node);
    bool SetElement(const pugi::xml_node& element);
    void CheckElement(const pugi::xml_node& element, bool noted);

    RedactionState& state_;
    SourceSplicer* splicer_;
    std::size_t index_;
    const std::string& expression_;
    ExpressionPlan plan_;
    Action action_;
    ValueWriter writer_;
    ExpressionOutcome outcome_;
    // Items before this one lie inside an element whose text was all set.
    const pugi::xpath_node* covered_ = nullptr;
    const void* just_ = nullptr;  // the text SetElement wrote or left
};

ExpressionRun::ExpressionRun(RedactionState& state, std::size_t index,
                             const std::string& expression)
    : state_(state),
      splicer_(state.splicer),
      index_(index),
      expression_(expression),
      plan_(index < state.settings.plans.size()
                ? state.settings.plans[index]
                : ExpressionPlan{nullptr, state.settings.deep, state.settings.attributes}),
      action_(plan_.action != nullptr ? plan_.action->Kind() : Action::Redact) {
    writer_.action = action_ == Action::Redact ? nullptr : plan_.action;
    writer_.splicer = splicer_;
    writer_.written = &state.written;
    writer_.values = state.settings.charsets.values;
    if (splicer_ == nullptr) {
        writer_.anew = state.settings.charsets.output;
    } else if (writer_.values != Charset::Utf8) {
        writer_.utf8 = &state.utf8;
    }
    writer_.changed = state.changed;
    writer_.expression = static_cast<std::uint32_t>(index);
    state.once.Clear();
    if (action_ == Action::Pseudonym) {
        writer_.once = &state.once;
    }
    outcome_.expression = expression;
    writer_.entities = &outcome_.entities;
}

bool ExpressionRun::Run(const PugiXPathNodeSet& selected, bool below) {
    outcome_.selected = selected.Size();
    if (state_.settings.recordsOnly && !below && SelectsOutsideRecords(selected)) {
        return false;
    }
    if (splicer_ != nullptr) {
        splicer_->Reserve(outcome_.selected);
    }
    covered_ = selected.Begin();
    for (auto item = selected.Begin(); item != selected.End(); ++item) {
        FetchAhead(item, selected.End());
        if (!RedactItem(item, selected)) {
            return false;
        }
    }
    if (!writer_.problem.empty()) {
        state_.error = "'" + expression_ + "': " + writer_.problem;
        return false;
    }
    return true;
}

// The first item outside the records ends the run, with the outcome so far.
bool ExpressionRun::SelectsOutsideRecords(const PugiXPathNodeSet& selected) {
    for (auto item = selected.Begin(); item != selected.End(); ++item) {
        if (const char* outside = OutsideRecords(*item)) {
            outcome_.outsideRecords = outside;
            state_.outcomes.push_back(std::move(outcome_));
            state_.error = "'" + expression_ + "' selects " + outside;
            return true;
        }
    }
    return false;
}

bool ExpressionRun::RedactItem(const pugi::xpath_node* item, const PugiXPathNodeSet& selected) {
    // Items are classified on the pugixml item; wrappers are made only to
    // write through the public interface.
    if (const pugi::xml_attribute attribute = item->attribute()) {
        RedactAttribute(*item, attribute);
        return true;
    }
    const pugi::xml_node node = item->node();
    const pugi::xml_node_type type = node.type();
    if (state_.guard.Protects(node)) {
        ++outcome_.skipped;
        return true;
    }
    if (action_ == Action::Keep) {
        const bool whole = type == pugi::node_element || type == pugi::node_document;
        Keep(node.internal_object(), whole ? node : node.parent());
        return true;
    }
    if (action_ == Action::Drop) {
        if (type == pugi::node_element || type == pugi::node_document ||
            type == pugi::node_pcdata || type == pugi::node_cdata) {
            return Drop(*item);
        }
        return true;
    }
    if (type == pugi::node_element) {
        RedactElement(item, node, selected);
    } else if (type == pugi::node_document) {
        RedactDocument(item, node, selected);
    } else if ((type == pugi::node_pcdata || type == pugi::node_cdata)) {
        RedactText(node);
    }
    return true;
}

// Keeps the earliest place of what an expression left readable: the '<'
// before the element's name.
void NoteLeft(ExpressionOutcome& outcome, const pugi::xml_node& element) {
    const std::ptrdiff_t at = element.offset_debug() - 1;
    if (at >= 0 && (outcome.leftAt < 0 || at < outcome.leftAt)) {
        outcome.leftAt = at;
    }
}

void ExpressionRun::RedactAttribute(const pugi::xpath_node& item,
                                    const pugi::xml_attribute& attribute) {
    ++outcome_.attributes;
    if (!plan_.attributes && action_ != Action::Keep && action_ != Action::Drop) {
        NoteLeft(outcome_, item.parent());
    }
    if (state_.guard.Protects(attribute, item.parent())) {
        ++outcome_.skipped;
    } else if (action_ == Action::Keep) {
        Keep(attribute.internal_object(), item.parent());
    } else if (action_ == Action::Drop) {
        Drop(item);
    } else if (plan_.attributes && writer_.Compute(attribute.value())) {
        writer_.NoteReferences(attribute.value());
        if (splicer_ != nullptr) {
            splicer_->NoteAttribute(attribute, item.parent());
        }
        if (SetValue<PugiAttribute>(attribute, writer_)) {
            ++outcome_.redacted;
        }
    }
}

void ExpressionRun::Keep(const void* item, const pugi::xml_node& holder) {
    state_.guard.Keep(item, holder);
    if (splicer_ != nullptr && holder && holder.type() == pugi::node_element &&
        item == holder.internal_object()) {
        splicer_->NoteKeptElement(holder, index_);
    }
}

// Drops what an element holds from the output; false when it is the document
// element, whose loss would leave no document.
bool ExpressionRun::Drop(const pugi::xpath_node& item) {
    const pugi::xml_node node = item.node();
    if (node &&
        (node.type() == pugi::node_document || node.parent().type() == pugi::node_document)) {
        state_.error =
            "'" + expression_ + "' selects the document element, which cannot be dropped";
        return false;
    }
    if (node && state_.guard.HoldsKept(node)) {
        ++outcome_.skipped;
        return true;
    }
    if (state_.changed != nullptr && (item.attribute() || node.type() != pugi::node_element)) {
        state_.changed->Add(item.attribute() ? item.attribute().value() : node.value(), "",
                            writer_.expression);
    }
    if (splicer_ != nullptr) {
        if (item.attribute()) {
            splicer_->NoteDropAttribute(item.attribute(), item.parent());
        } else if (node.type() == pugi::node_element) {
            splicer_->NoteDropElement(node);
        } else {
            splicer_->NoteDropText(node);
        }
    }
    // What is dropped may refer to entities, whose values stay in the DOCTYPE.
    if (item.attribute()) {
        writer_.NoteReferences(item.attribute().value());
    } else {
        NoteReferencesWithin(node, writer_);
    }
    state_.guard.Drop(item);
    ++outcome_.redacted;
    return true;
}

void ExpressionRun::RedactElement(const pugi::xpath_node* item, const pugi::xml_node& node,
                                  const PugiXPathNodeSet& selected) {
    const bool inside = item < covered_;
    const bool noted = SetElement(node);
    if (plan_.deep && !inside) {
        covered_ = item + 1;
        RedactAllText(node, writer_, state_.guard, covered_, selected.End(), just_);
    }
    CheckElement(node, noted);
}

// The output must stay a document: the library would add a text after the
// document element. Selecting the document selects its top-level elements
// instead.
void ExpressionRun::RedactDocument(const pugi::xpath_node* item, const pugi::xml_node& node,
                                   const PugiXPathNodeSet& selected) {
    const bool walk = plan_.deep && item >= covered_;
    if (walk) {
        covered_ = item + 1;
    }
    for (const pugi::xml_node& top : node.children()) {
        if (top.type() == pugi::node_element) {
            const bool noted = SetElement(top);
            if (walk) {
                RedactAllText(top, writer_, state_.guard, covered_, selected.End(), just_);
            }
            CheckElement(top, noted);
        }
    }
}

void ExpressionRun::RedactText(const pugi::xml_node& node) {
    if (!writer_.FirstTime(node.internal_object())) {
        ++outcome_.redacted;  // by this expression, through another item
        return;
    }
    if (!writer_.Compute(node.value())) {
        state_.written.Insert(node.internal_object());
        return;
    }
    ++outcome_.redacted;
    writer_.NoteReferences(node);
    if (splicer_ != nullptr) {
        splicer_->NoteText(node);
    }
    SetValue<PugiNode>(node, writer_);
    if (writer_.action != nullptr) {
        state_.written.Insert(node.internal_object());
    }
}

// Sets an element's text; true when the splicer noted the change.
bool ExpressionRun::SetElement(const pugi::xml_node& element) {
    ++outcome_.elements;
    just_ = nullptr;
    const pugi::xml_node first = element.text().data();
    if (first && state_.guard.Active() && state_.guard.Stops(first.internal_object())) {
        return false;
    }
    if (first && !writer_.FirstTime(first.internal_object())) {
        ++outcome_.redacted;  // by this expression, through another item
        just_ = first.internal_object();
        return false;
    }
    // An empty value for an element without text changes nothing.
    if (!writer_.Compute(first ? first.value() : "") ||
        (!first && writer_.action != nullptr && writer_.value.empty())) {
        if (first) {
            just_ = first.internal_object();
            state_.written.Insert(just_);
        }
        return false;
    }
    ++outcome_.redacted;
    if (first) {
        writer_.NoteReferences(first);
    }
    const bool noted = splicer_ != nullptr && splicer_->NoteElementText(element);
    SetValue<PugiNode>(element, writer_);
    if (writer_.action != nullptr) {
        just_ = element.text().data().internal_object();
        state_.written.Insert(just_);
    }
    return noted;
}

// An element set by this expression: checked for other text now when that is
// cheap, else after the last expression; its comments are checked once the
// splicer has scanned them.
void ExpressionRun::CheckElement(const pugi::xml_node& element, bool noted) {
    if (plan_.deep && splicer_ != nullptr && !state_.settings.plans.empty()) {
        splicer_->NoteDeepElement(element, index_);
    }
    if (!SurelyClean(element, just_)) {
        state_.recheck.emplace_back(state_.outcomes.size(), element);
    } else if (noted) {
        splicer_->NoteCommentCheck(state_.outcomes.size());
    } else if (splicer_ != nullptr) {
        splicer_->NoteCommentCheck(state_.outcomes.size(), element);
    }
}

// An expression that tests only element and attribute names selects the same
// items before and after any change the tool makes (values change, and text
// nodes are only added), so all of those are selected first, in parallel,
// while the document is not being changed. The others are left empty.
// (A bound prefix tests the namespace declarations, which are never changed.)
// below: as SelectUpfront marks it.
std::vector<std::unique_ptr<PugiXPathNodeSet>> Preselect(
    PugiXMLParser& parser, const std::vector<std::string>& expressions,
    const std::vector<std::string>& queries, unsigned int threads, std::vector<char>& below) {
    std::vector<std::size_t> upfront;
    for (std::size_t index = 0; index < expressions.size(); ++index) {
        if (SelectsByNamesOnly(expressions[index])) {
            upfront.push_back(index);
        }
    }
    below.assign(expressions.size(), 0);
    return upfront.size() > 1 ? SelectUpfront(parser, queries, upfront, threads, &below)
                              : std::vector<std::unique_ptr<PugiXPathNodeSet>>(expressions.size());
}

void PrepareSplicer(SourceSplicer& splicer,
                    const std::vector<std::unique_ptr<PugiXPathNodeSet>>& preselected,
                    const RedactionSettings& settings) {
    const std::vector<ExpressionPlan>& plans = settings.plans;
    splicer.SetCharsets(settings.charsets);
    // Room for the notes on every item selected so far, at once: growing per
    // expression would copy the earlier notes each time.
    std::size_t items = 0;
    for (const auto& set : preselected) {
        items += set ? set->Size() : 0;
    }
    splicer.Reserve(items);
    if (plans.empty()) {
        return;
    }
    // Comments are not in the document: the splicer rewrites those inside deep
    // expressions' elements with the same actions.
    splicer.SetCommentRewriter(
        [plans](std::size_t index, std::string_view comment, std::string& out) {
            const RuleAction* action = index < plans.size() ? plans[index].action : nullptr;
            if (action == nullptr) {
                out = redactedText;
                return true;
            }
            return action->Rewrite(comment, out);
        });
}

// Text left behind is counted only now: a later expression may have cleaned
// it up. Nothing the tool does adds other text, so elements found clean right
// after their change are not checked again. Elements dropped, or inside one,
// hold nothing in the output.
void CountLeftovers(RedactionState& state) {
    auto& recheck = state.recheck;
    std::vector<pugi::xml_node> rechecked;
    rechecked.reserve(recheck.size());
    std::size_t kept = 0;
    for (std::size_t at = 0; at < recheck.size(); ++at) {
        bool gone = false;
        if (state.guard.AnyDropped()) {
            for (pugi::xml_node up = recheck[at].second; up && !gone; up = up.parent()) {
                gone = state.guard.Dropped(up.internal_object());
            }
        }
        if (!gone) {
            recheck[kept++] = recheck[at];
            rechecked.push_back(recheck[at].second);
        }
    }
    recheck.resize(kept);
    const std::vector<char> holdsOther = HoldOtherText(rechecked, state.written, state.guard);
    const bool spliced = state.splicer != nullptr && state.splicer->Capture();
    for (std::size_t at = 0; at < recheck.size(); ++at) {
        const auto& [index, node] = recheck[at];
        if (holdsOther[at] != 0) {
            ++state.outcomes[index].elementsWithOtherText;
            NoteLeft(state.outcomes[index], node);
        } else if (spliced) {
            state.splicer->NoteCommentCheck(index, node);
        }
    }
}

}  // namespace

bool Redact(DataParserIF& parser, const std::vector<std::string>& expressions,
            const RedactionSettings& settings, std::vector<ExpressionOutcome>& outcomes,
            std::string& error, SourceSplicer* splicer, const StepDone& stepDone,
            std::string_view parsedText, ChangedValues* changed) {
    auto* xmlParser = XmlParserOf(parser);
    if (xmlParser == nullptr) {
        error = "the parser does not support XPath selection";
        return false;
    }

    // Each expression is selected once, right before its items change, so that
    // it sees the changes made for the expressions before it; those that can
    // be are selected before any change. The same selection gives the counts
    // and, through the splicer, the places in the input. Every item changes
    // the way the library's RedactNodes changes it: through the node's text.
    // Nothing is removed until the end, so nodes stay valid.
    const std::vector<std::string> plain =
        DocumentQueries(DocumentNode(parser), parsedText, expressions, settings);
    const std::vector<std::string>& queries = !plain.empty()             ? plain
                                              : settings.queries.empty() ? expressions
                                                                         : settings.queries;
    std::vector<char> below;
    std::vector<std::unique_ptr<PugiXPathNodeSet>> preselected =
        Preselect(*xmlParser, expressions, queries, settings.threads, below);
    if (stepDone) {
        stepDone("select");
    }
    if (splicer != nullptr) {
        PrepareSplicer(*splicer, preselected, settings);
    }

    // Record batches come one after the other on each thread: the tables are
    // kept, so that each batch does not fault in fresh pages for them.
    thread_local WrittenTexts written;
    thread_local PointerSet once;
    thread_local PointerSet utf8;
    written.Clear();
    utf8.Clear();
    RedactionState state{settings, splicer, outcomes, error, written, once, utf8, changed};
    outcomes.clear();
    for (std::size_t index = 0; index < expressions.size(); ++index) {
        const std::string& expression = expressions[index];
        std::unique_ptr<PugiXPathNodeSet> selected = preselected[index]
                                                         ? std::move(preselected[index])
                                                         : xmlParser->SelectNodes(queries[index]);
        if (!selected) {
            error = "cannot evaluate expression '" + expression + "'";
            return false;
        }
        ExpressionRun run(state, index, expression);
        if (!run.Run(*selected, below[index] != 0)) {
            return false;
        }
        outcomes.push_back(std::move(run.Outcome()));
    }
    CountLeftovers(state);
    TakeNameCensus(DocumentNode(parser), settings, outcomes);
    // The splicer has what it needs: dropped items can go now.
    state.guard.RemoveDropped();
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
