#include "NameCensus.h"

#include <string_view>

namespace qiv::redact {

namespace {

constexpr std::string_view xmlNamespace = "http://www.w3.org/XML/1998/namespace";

bool IsDeclaration(std::string_view name) {
    return name == "xmlns" || name.substr(0, 6) == "xmlns:";
}

// The namespace the prefix stands for at node, as its declarations and its
// ancestors' say. Attributes without a prefix are in no namespace.
std::string UriOf(pugi::xml_node node, std::string_view prefix, bool attribute) {
    if (prefix == "xml") {
        return std::string(xmlNamespace);
    }
    if (prefix.empty() && attribute) {
        return {};
    }
    const std::string declaration = prefix.empty() ? "xmlns" : "xmlns:" + std::string(prefix);
    for (; node; node = node.parent()) {
        if (const pugi::xml_attribute bound = node.attribute(declaration.c_str())) {
            return bound.value();
        }
    }
    return {};
}

void Note(std::vector<NameFound>& found, const NameTest& test, bool exact, std::string_view name,
          std::string uri) {
    for (NameFound& known : found) {
        if (known.test == test.name && known.attribute == test.attribute && known.name == name &&
            known.uri == uri) {
            ++known.count;
            return;
        }
    }
    found.push_back({test.name, test.attribute, exact, std::string(name), std::move(uri), 1});
}

void Check(pugi::xml_node element, std::string_view name, bool attribute,
           const std::vector<NameTest>& tests, std::vector<NameFound>& found) {
    const std::string_view local = LocalPartOf(name);
    for (const NameTest& test : tests) {
        if (test.attribute != attribute || test.local != local) {
            continue;
        }
        std::string uri = UriOf(element, PrefixOf(name), attribute);
        const bool exact = test.bound ? uri == test.uri : name == test.name;
        Note(found, test, exact, name, std::move(uri));
    }
}

}  // namespace

void CountNames(pugi::xml_node root, const std::vector<NameTest>& tests,
                std::vector<NameFound>& found) {
    if (tests.empty()) {
        return;
    }
    for (pugi::xml_node node = root; node;) {
        if (node.type() == pugi::node_element) {
            Check(node, node.name(), false, tests, found);
            for (const pugi::xml_attribute attribute : node.attributes()) {
                if (!IsDeclaration(attribute.name())) {
                    Check(node, attribute.name(), true, tests, found);
                }
            }
        }
        // Depth first, without recursion: deep documents are read too.
        if (pugi::xml_node child = node.first_child()) {
            node = child;
            continue;
        }
        while (node && node != root && !node.next_sibling()) {
            node = node.parent();
        }
        node = node == root || !node ? pugi::xml_node() : node.next_sibling();
    }
}

}  // namespace qiv::redact
