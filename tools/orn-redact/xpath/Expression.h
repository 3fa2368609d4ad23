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

/// Why an expression asks for nodes the parsed document does not hold:
/// comments and processing instructions are not read into it, so a test for
/// them (a step or a predicate) finds none. Empty when it asks for neither,
/// and when it cannot be read (ExpressionProblem says why then).
std::string UnreadNodesProblem(const std::string& expression);

}  // namespace qiv::redact
