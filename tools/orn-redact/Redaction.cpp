#include "Redaction.h"

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

bool HoldsOtherText(const Node& element) {
    bool found = false;
    ForEachTextInside(element, [&found](Node& text) {
        found = text.ToString() != redactedText;
        return !found;
    });
    return found;
}

void RedactAllText(const Node& element) {
    ForEachTextInside(element, [](Node& text) {
        text.SetValue(redactedText);
        return true;
    });
}

bool IsContainer(Node::TypeName type) {
    return type == Node::TypeName::Element || type == Node::TypeName::Document;
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
            const PugiXPathNode selected(*item);
            if (std::unique_ptr<Attribute> attribute = selected.GetAttribute()) {
                ++outcome.attributes;
                if (settings.attributes && attribute->SetValue(redactedText)) {
                    ++outcome.redacted;
                }
                continue;
            }
            const std::unique_ptr<Node> node = selected.GetNode();
            if (!node) {
                continue;
            }
            const Node::TypeName type = node->Type();
            if (IsContainer(type)) {
                ++outcome.elements;
                ++outcome.redacted;
                if (settings.deep) {
                    RedactAllText(*node);
                }
            } else if (IsText(type)) {
                ++outcome.redacted;
            }
        }
    }

    // Checked only now: a later expression or --deep may have cleaned up text
    // an earlier expression left behind.
    for (std::size_t index = 0; index < selections.size(); ++index) {
        for (auto item = selections[index]->Begin(); item != selections[index]->End(); ++item) {
            if (item->attribute()) {
                continue;
            }
            const std::unique_ptr<Node> node = PugiXPathNode(*item).GetNode();
            if (node && IsContainer(node->Type()) && HoldsOtherText(*node)) {
                ++outcomes[index].elementsWithOtherText;
            }
        }
    }
    return true;
}

}  // namespace qiv::redact
