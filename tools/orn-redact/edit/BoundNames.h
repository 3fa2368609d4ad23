#pragma once

// What the redaction does with bound prefixes and with the names of an
// expression that selected nothing.

#include <string>
#include <string_view>
#include <vector>

#include <pugixml.hpp>

#include "Redaction.h"

namespace qiv::redact {

/// The queries for this document: with bound prefixes and a document whose
/// namespace declarations are all on its document element, plain names under
/// the document's prefixes; empty when the settings' queries apply.
/// parsedText, when given, is the text parsed (its "xmlns" are counted);
/// otherwise the document's elements are looked at.
std::vector<std::string> DocumentQueries(pugi::xml_node document, std::string_view parsedText,
                                         const std::vector<std::string>& expressions,
                                         const RedactionSettings& settings);

/// For each expression that selected nothing, where its names are in the
/// document (ExpressionOutcome::names): one walk for all of them.
void TakeNameCensus(pugi::xml_node document, const RedactionSettings& settings,
                    std::vector<ExpressionOutcome>& outcomes);

}  // namespace qiv::redact
