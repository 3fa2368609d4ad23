// Input: a document, a NUL byte, then XPath expressions separated by line
// breaks. Each expression is selected, the result walked, then the whole
// list is redacted. Afterwards every selected element, text node and
// document node must read "redacted", every selected attribute must keep its
// value, and the comments, processing instructions and other nodes that
// cannot hold text must be unchanged.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "InterfaceFactory.h"
#include "PugiXMLParser.h"
#include "PugiXPathNode.h"
#include "XPathNode.h"

namespace {

using qiv::DataParserStatus;
using qiv::fuzz::Check;

// What an item looked like before the redaction.
struct Selected {
    pugi::xpath_node item;
    std::string before;  // attribute or node value before redaction
};

bool HoldsText(pugi::xml_node_type type) {
    return type == pugi::node_element || type == pugi::node_pcdata || type == pugi::node_cdata ||
           type == pugi::node_document;
}

void ReadItem(const qiv::XPathNode& item) {
    auto node = item.GetNode();
    auto attribute = item.GetAttribute();
    Check(!(node && attribute), "an item is both a node and an attribute");
    if (node) {
        (void)node->Type();
        (void)node->Name();
        (void)node->ToString();
    }
    if (attribute) {
        (void)attribute->Name();
        (void)attribute->ToString();
    }
    (void)item.Parent()->Name();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    qiv::fuzz::SilenceOutput(qiv::LogLevel::Warning);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = input.find('\0');
    if (split == std::string_view::npos) {
        return 0;
    }
    std::vector<std::string> queries;
    std::string_view rest = input.substr(split + 1);
    while (!rest.empty() && queries.size() < 8) {
        const std::size_t end = rest.find('\n');
        queries.emplace_back(rest.substr(0, end));
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    }

    qiv::PugiXMLParser parser;
    if (parser.LoadString(input.substr(0, split)).second != DataParserStatus::Ok) {
        return 0;
    }

    std::vector<Selected> selected;
    for (const std::string& query : queries) {
        const std::unique_ptr<qiv::PugiXPathNodeSet> set = parser.SelectNodes(query);
        if (!set) {
            continue;
        }
        Check(set->Size() == static_cast<std::size_t>(set->End() - set->Begin()),
              "set size differs from its range");
        Check(set->Empty() == (set->Size() == 0), "Empty() disagrees with Size()");
        ReadItem(*set->First());
        for (auto item = set->Begin(); item != set->End(); ++item) {
            ReadItem(qiv::PugiXPathNode(*item));
            selected.push_back(
                {*item, item->attribute() ? item->attribute().value() : item->node().value()});
        }
        set->Sort(true);
        set->Sort(false);
        (void)set->Type();
    }

    parser.RedactNodes(queries);

    for (const Selected& entry : selected) {
        if (entry.item.attribute()) {
            Check(entry.item.attribute().value() == entry.before, "redaction changed an attribute");
            continue;
        }
        const pugi::xml_node node = entry.item.node();
        if (HoldsText(node.type())) {
            Check(std::string_view(node.text().get()) == "redacted",
                  "a selected node does not read redacted");
        } else {
            Check(node.value() == entry.before, "redaction changed a node that holds no text");
        }
    }
    (void)qiv::fuzz::Walk(parser);
    (void)qiv::fuzz::Saved(parser, 0x01);
    return 0;
}
