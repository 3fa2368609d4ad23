#include "NameCensus.h"

#include <string_view>

namespace qiv::redact {

namespace {

constexpr std::string_view xmlNamespace = "http://www.w3.org/XML/1998/namespace";

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
    ForEachElement(root, [&tests, &found](pugi::xml_node element) {
        Check(element, element.name(), false, tests, found);
        for (const pugi::xml_attribute attribute : element.attributes()) {
            if (!IsNamespaceDeclaration(attribute.name())) {
                Check(element, attribute.name(), true, tests, found);
            }
        }
    });
}

}  // namespace qiv::redact
