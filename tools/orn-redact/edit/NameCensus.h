#pragma once

#include <cstddef>
#include <string>
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

/// Adds to found, per name test, the elements and attributes under root
/// (namespace declarations left out) that have the test's local name,
/// grouped by name and namespace: what the test selects (exact) and what it
/// misses. Counts add up over calls, so that batches of one document make
/// one census.
void CountNames(pugi::xml_node root, const std::vector<NameTest>& tests,
                std::vector<NameFound>& found);

}  // namespace qiv::redact
