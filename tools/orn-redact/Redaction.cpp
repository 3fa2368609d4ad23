#include "Redaction.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <new>
#include <unordered_map>

#include <pugixml.hpp>

#include "PugiAttribute.h"
#include "PugiNode.h"
#include "PugiXMLParser.h"
#include "PugiXPathNodeSet.h"
#include "SourceSplice.h"
#include "Workers.h"

namespace qiv::redact {

namespace {

constexpr const char* redactedText = "redacted";

const char* XPathTypeName(pugi::xpath_value_type type) {
    switch (type) {
        case pugi::xpath_type_number:
            return "a number";
        case pugi::xpath_type_string:
            return "a string";
        case pugi::xpath_type_boolean:
            return "a boolean";
        case pugi::xpath_type_node_set:
            return "a node set";
        case pugi::xpath_type_none:
            break;
    }
    return "no value";
}

// For each of elements, whether a text or CDATA node below it reads other
// than "redacted". Elements nest (//a on nested a's), so each is not walked
// on its own: a walk records every listed element it passes, and a listed
// element already known is not entered again. Every node is visited at most
// once, however deep the nesting. It runs on the pugixml items themselves:
// wrappers would cost an allocation per step.
std::vector<char> HoldOtherText(const std::vector<pugi::xml_node>& elements) {
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
            if (type == pugi::node_pcdata || type == pugi::node_cdata) {
                if (std::strcmp(current.value(), redactedText) != 0) {
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
bool SurelyClean(const pugi::xml_node& element) {
    const pugi::xml_node only = element.first_child();
    if (!only) {
        return true;
    }
    const pugi::xml_node_type type = only.type();
    return !only.next_sibling() && (type == pugi::node_pcdata || type == pugi::node_cdata) &&
           std::strcmp(only.value(), redactedText) == 0;
}

// Sets an item to "redacted" through the library's wrapper of it; the
// splicer, if any, takes the new value while it is at hand.
template <typename Wrapper, typename Item>
bool SetRedacted(const Item& item, SourceSplicer* splicer) {
    const bool set = Wrapper(Item(item)).SetValue(redactedText);
    if (splicer != nullptr) {
        // What was set reads "redacted"; what could not be set is read back.
        if (set) {
            splicer->SettleRedacted();
        } else {
            splicer->Settle();
        }
    }
    return set;
}

// Sets every text and CDATA node below element, through the library. The
// selection's items after element that lie inside it come in the order the
// walk meets them (a selection is in document order): next is moved past
// them, so that the caller knows they are covered and does not walk them
// again, which on nested elements would cost the square of the depth.
void RedactAllText(const pugi::xml_node& element, SourceSplicer* splicer,
                   const pugi::xpath_node*& next, const pugi::xpath_node* end) {
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
        if (type == pugi::node_pcdata || type == pugi::node_cdata) {
            if (splicer != nullptr) {
                splicer->NoteText(current);
            }
            SetRedacted<PugiNode>(current, splicer);
        }
        if (type == pugi::node_element && current.first_child()) {
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

pugi::xml_node DocumentNode(DataParserIF& parser) {
    auto* xmlParser = dynamic_cast<PugiXMLParser*>(&parser);
    const std::unique_ptr<PugiXPathNodeSet> set =
        xmlParser != nullptr ? xmlParser->SelectNodes("/") : nullptr;
    return set && set->Size() == 1 ? set->Begin()->node() : pugi::xml_node();
}

bool SelectsByNamesOnly(const std::string& expression) {
    // Element and attribute name tests ("*" and "@*" too) along the child,
    // descendant and attribute axes written as "/", "//" and "@". From an
    // added text node these lead nowhere. Other axes do not: an added text
    // node has a parent and siblings, so "//parent::*" or
    // "//preceding-sibling::*" would select more after it is added. A name
    // may hold '.', but a '.' that starts a step is self::node() or
    // parent::node().
    const auto nameCharacter = [](unsigned char character) {
        return std::isalnum(character) != 0 || character == '_' || character == '-' ||
               character == '.' || character >= 0x80;
    };
    if (expression.empty() || expression.find("::") != std::string::npos) {
        return false;
    }
    for (std::size_t index = 0; index < expression.size(); ++index) {
        const auto character = static_cast<unsigned char>(expression[index]);
        if (character == '.') {
            if (index == 0 || !nameCharacter(static_cast<unsigned char>(expression[index - 1]))) {
                return false;
            }
        } else if (!nameCharacter(character) && character != '/' && character != '*' &&
                   character != '@' && character != ':' && character != ' ' && character != '\t') {
            return false;
        }
    }
    return true;
}

std::string ExpressionProblem(const std::string& expression) {
    // Compiled as a C string, the expression would end there.
    if (const std::size_t nul = expression.find('\0'); nul != std::string::npos) {
        return "it holds a NUL byte at offset " + std::to_string(nul);
    }
    try {
        const pugi::xpath_query query(expression.c_str());
        if (!query) {
            // Reached only when pugixml is built without exceptions.
            return std::string(query.result().description()) + " at offset " +
                   std::to_string(query.result().offset);
        }
        if (query.return_type() != pugi::xpath_type_node_set) {
            return std::string("it yields ") + XPathTypeName(query.return_type()) +
                   ", not a node set";
        }
    } catch (const pugi::xpath_exception& failure) {
        return std::string(failure.what()) + " at offset " +
               std::to_string(failure.result().offset);
    } catch (const std::bad_alloc&) {
        return "out of memory while compiling it";
    }
    return {};
}

bool Redact(DataParserIF& parser, const std::vector<std::string>& expressions,
            const RedactionSettings& settings, std::vector<ExpressionOutcome>& outcomes,
            std::string& error, SourceSplicer* splicer, const StepDone& stepDone) {
    auto* xmlParser = dynamic_cast<PugiXMLParser*>(&parser);
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
        // Items before this one lie inside an element whose text was all set.
        const pugi::xpath_node* covered = selected->Begin();
        for (auto item = selected->Begin(); item != selected->End(); ++item) {
            FetchAhead(item, selected->End());
            // Items are classified on the pugixml item; wrappers are made only
            // to write through the public interface.
            if (const pugi::xml_attribute attribute = item->attribute()) {
                ++outcome.attributes;
                if (settings.attributes) {
                    if (splicer != nullptr) {
                        splicer->NoteAttribute(attribute, item->parent());
                    }
                    if (SetRedacted<PugiAttribute>(attribute, splicer)) {
                        ++outcome.redacted;
                    }
                }
                continue;
            }
            const pugi::xml_node node = item->node();
            const pugi::xml_node_type type = node.type();
            const auto setElement = [&](const pugi::xml_node& element) {
                ++outcome.elements;
                ++outcome.redacted;
                const bool noted = splicer != nullptr && splicer->NoteElementText(element);
                SetRedacted<PugiNode>(element, splicer);
                return noted;
            };
            const auto checkElement = [&](const pugi::xml_node& element, bool noted) {
                if (!SurelyClean(element)) {
                    recheck.emplace_back(outcomes.size(), element);
                } else if (noted) {
                    splicer->NoteCommentCheck(outcomes.size());
                }
            };
            if (type == pugi::node_element) {
                const bool noted = setElement(node);
                if (settings.deep && item >= covered) {
                    covered = item + 1;
                    RedactAllText(node, splicer, covered, selected->End());
                }
                checkElement(node, noted);
            } else if (type == pugi::node_document) {
                // The output must stay a document: the library would add a
                // text after the document element. Selecting the document
                // selects its top-level elements instead.
                const bool walk = settings.deep && item >= covered;
                if (walk) {
                    covered = item + 1;
                }
                for (const pugi::xml_node& top : node.children()) {
                    if (top.type() == pugi::node_element) {
                        const bool noted = setElement(top);
                        if (walk) {
                            RedactAllText(top, splicer, covered, selected->End());
                        }
                        checkElement(top, noted);
                    }
                }
            } else if (type == pugi::node_pcdata || type == pugi::node_cdata) {
                ++outcome.redacted;
                if (splicer != nullptr) {
                    splicer->NoteText(node);
                }
                SetRedacted<PugiNode>(node, splicer);
            }
        }
        outcomes.push_back(std::move(outcome));
    }

    // Text left behind is counted only now: a later expression may have
    // cleaned it up. Nothing the tool does adds other text, so elements found
    // clean right after their change are not checked again.
    std::vector<pugi::xml_node> rechecked;
    rechecked.reserve(recheck.size());
    for (const auto& entry : recheck) {
        rechecked.push_back(entry.second);
    }
    const std::vector<char> holdsOther = HoldOtherText(rechecked);
    const bool spliced = splicer != nullptr && splicer->Capture();
    for (std::size_t at = 0; at < recheck.size(); ++at) {
        const auto& [index, node] = recheck[at];
        if (holdsOther[at] != 0) {
            ++outcomes[index].elementsWithOtherText;
        } else if (spliced) {
            splicer->NoteCommentCheck(index, node);
        }
    }
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
