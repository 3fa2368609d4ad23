#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qiv::redact {

/// Why pugixml rejects an expression: it does not compile, or it yields a
/// number, string or boolean instead of a node set. Empty when it is usable.
std::string ExpressionProblem(const std::string& expression);

/// Whether the expression's result depends on element and attribute names
/// only (no predicates, functions, text or node tests), so that setting values
/// and adding text nodes cannot change what it selects.
bool SelectsByNamesOnly(const std::string& expression);

/// A query "//name" or "//parent/name": the elements of that name (whose
/// parent element has that name), compared as XPath compares names, whole
/// qualified names byte for byte.
struct NamePath {
    std::string parent;  // empty: any parent
    std::string name;
};

/// The query as a NamePath, or nothing when it is any other query.
std::optional<NamePath> PlainNamePath(std::string_view query);

/// Why an expression asks for nodes the parsed document does not hold:
/// comments and processing instructions are not read into it, so a test for
/// them (a step or a predicate) finds none. Empty when it asks for neither,
/// and when it cannot be read (ExpressionProblem says why then).
std::string UnreadNodesProblem(const std::string& expression);

}  // namespace qiv::redact
