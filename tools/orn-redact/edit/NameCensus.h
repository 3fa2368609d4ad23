#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include <pugixml.hpp>

#include "Namespaces.h"

namespace qiv::redact {

/// Elements or attributes of one qualified name and namespace that have the
/// local name of an expression's name test.
struct NameFound {
    std::string test;  // the name test, as the expression writes it
    bool attribute = false;
    bool exact = false;  // they are what the test selects
    std::string name;    // as the document writes it
    std::string uri;     // their namespace; empty for none
    std::size_t count = 0;
};

/// Calls visit with each element under root (root too, when it is one),
/// depth first, without recursion: deep documents are walked too.
template <typename Visit>
void ForEachElement(pugi::xml_node root, Visit visit) {
    for (pugi::xml_node node = root; node;) {
        // Only elements (and the document) have children.
        const pugi::xml_node_type type = node.type();
        if (type == pugi::node_element) {
            visit(node);
        }
        if (type == pugi::node_element || type == pugi::node_document) {
            if (pugi::xml_node child = node.first_child()) {
                node = child;
                continue;
            }
        }
        while (node && node != root && !node.next_sibling()) {
            node = node.parent();
        }
        node = node == root || !node ? pugi::xml_node() : node.next_sibling();
    }
}

/// Whether an attribute name declares a namespace (xmlns, xmlns:p).
inline bool IsNamespaceDeclaration(const char* name) {
    return name[0] == 'x' && std::strncmp(name, "xmlns", 5) == 0 &&
           (name[5] == '\0' || name[5] == ':');
}

/// Adds to found, per name test, the elements and attributes under root
/// (namespace declarations left out) that have the test's local name,
/// grouped by name and namespace: what the test selects (exact) and what it
/// misses. Counts add up over calls, so that batches of one document make
/// one census.
void CountNames(pugi::xml_node root, const std::vector<NameTest>& tests,
                std::vector<NameFound>& found);

}  // namespace qiv::redact
