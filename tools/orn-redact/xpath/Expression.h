#pragma once

#include <string>

namespace qiv::redact {

/// Why pugixml rejects an expression: it does not compile, or it yields a
/// number, string or boolean instead of a node set. Empty when it is usable.
std::string ExpressionProblem(const std::string& expression);

/// Whether the expression's result depends on element and attribute names
/// only (no predicates, functions, text or node tests), so that setting values
/// and adding text nodes cannot change what it selects.
bool SelectsByNamesOnly(const std::string& expression);

}  // namespace qiv::redact
