#include "Redaction.h"

#include <cstring>
#include <memory>
#include <new>

#include <pugixml.hpp>

#include "PugiXMLParser.h"
#include "PugiXPathNode.h"
#include "PugiXPathNodeSet.h"

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

bool IsText(Node::TypeName type) {
    return type == Node::TypeName::PCData || type == Node::TypeName::CData;
}

// Calls visit on every text and CDATA node below node, in document order.
// Iterative, so that deeply nested documents cannot exhaust the stack.
template <typename Visit>
void ForEachTextInside(const Node& node, Visit visit) {
    std::vector<std::unique_ptr<Node>> pending;
    if (auto first = node.FirstChild(); !first->Invalid()) {
        pending.push_back(std::move(first));
    }
    while (!pending.empty()) {
        std::unique_ptr<Node> current = std::move(pending.back());
        pending.pop_back();
        if (auto next = current->NextSibling(); !next->Invalid()) {
            pending.push_back(std::move(next));
        }
        const Node::TypeName type = current->Type();
        if (IsText(type)) {
            if (!visit(*current)) {
                return;
            }
        } else if (type == Node::TypeName::Element) {
            if (auto child = current->FirstChild(); !child->Invalid()) {
                pending.push_back(std::move(child));
            }
        }
    }
}

// True when a text or CDATA node below element reads other than "redacted".
// A read-only walk over the selected pugixml item itself: it runs for every
// selected element, and wrappers would cost an allocation per step.
bool HoldsOtherText(const pugi::xml_node& element) {
    pugi::xml_node current = element.first_child();
    while (current) {
        const pugi::xml_node_type type = current.type();
        if ((type == pugi::node_pcdata || type == pugi::node_cdata) &&
            std::strcmp(current.value(), redactedText) != 0) {
            return true;
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
    return false;
}

void RedactAllText(const Node& element) {
    ForEachTextInside(element, [](Node& text) {
        text.SetValue(redactedText);
        return true;
    });
}

}  // namespace

std::string ExpressionProblem(const std::string& expression) {
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
            std::string& error) {
    auto* xmlParser = dynamic_cast<PugiXMLParser*>(&parser);
    if (xmlParser == nullptr) {
        error = "the parser does not support XPath selection";
        return false;
    }

    // Select each expression right before the library redacts it, so that the
    // selection is exactly the one the redaction works on (an expression sees
    // the changes made for the expressions before it). Redaction never removes
    // nodes, so the items stay valid for the steps below.
    std::vector<std::unique_ptr<PugiXPathNodeSet>> selections;
    outcomes.clear();
    for (const std::string& expression : expressions) {
        std::unique_ptr<PugiXPathNodeSet> selected = xmlParser->SelectNodes(expression);
        if (!selected) {
            error = "cannot evaluate expression '" + expression + "'";
            return false;
        }
        ExpressionOutcome outcome;
        outcome.expression = expression;
        outcome.selected = selected->Size();
        parser.RedactNodes({expression});
        selections.push_back(std::move(selected));
        outcomes.push_back(std::move(outcome));
    }

    for (std::size_t index = 0; index < selections.size(); ++index) {
        ExpressionOutcome& outcome = outcomes[index];
        for (auto item = selections[index]->Begin(); item != selections[index]->End(); ++item) {
            // Items are classified on the pugixml item; wrappers are made only
            // to write through the public interface.
            if (item->attribute()) {
                ++outcome.attributes;
                if (settings.attributes &&
                    PugiXPathNode(*item).GetAttribute()->SetValue(redactedText)) {
                    ++outcome.redacted;
                }
                continue;
            }
            const pugi::xml_node_type type = item->node().type();
            if (type == pugi::node_element || type == pugi::node_document) {
                ++outcome.elements;
                ++outcome.redacted;
                if (settings.deep) {
                    RedactAllText(*PugiXPathNode(*item).GetNode());
                }
            } else if (type == pugi::node_pcdata || type == pugi::node_cdata) {
                ++outcome.redacted;
            }
        }
    }

    // Checked only now: a later expression or --deep may have cleaned up text
    // an earlier expression left behind.
    for (std::size_t index = 0; index < selections.size(); ++index) {
        for (auto item = selections[index]->Begin(); item != selections[index]->End(); ++item) {
            const pugi::xml_node node = item->node();
            const pugi::xml_node_type type = node.type();
            if ((type == pugi::node_element || type == pugi::node_document) &&
                HoldsOtherText(node)) {
                ++outcomes[index].elementsWithOtherText;
            }
        }
    }
    return true;
}

}  // namespace qiv::redact
