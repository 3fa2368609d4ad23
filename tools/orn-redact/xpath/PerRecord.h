#pragma once

#include <string>
#include <string_view>

#include "Namespaces.h"

namespace qiv::redact {

/// Whether an expression selects, in a document made of one batch of the
/// records (the children of the document element, which keeps its own start
/// and end tag and the prolog before it), exactly what it selects in those
/// records in the whole document. Empty when it does; otherwise the reason,
/// for a message ("a position among the records (//rec[2])", ...).
///
/// The class: location paths from the root (or unions of them) along the
/// child, descendant, descendant-or-self, self and attribute axes, whose
/// predicates look only inside the item they test (relative paths along the
/// same axes, attributes, text, functions of those). A predicate may count
/// positions only on a step that cannot match a record or anything above one;
/// a step that can match the document element (named documentElement) may be
/// tested only on its attributes and name, which every batch has alike.
/// Whatever the expression selects is still checked as it runs: an item
/// outside the records (the document element, its attributes, text or
/// comments between records) makes the tool redact the whole document at once.
/// A name test with a bound prefix may name the document element whatever
/// prefix the document gives it.
std::string RecordModeProblem(std::string_view expression, std::string_view documentElement,
                              const NamespaceMap& bindings = {});

}  // namespace qiv::redact
