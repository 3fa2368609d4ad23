#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "DataParserIF.h"

namespace qiv::redact {

/// Why pugixml rejects an expression: it does not compile, or it yields a
/// number, string or boolean instead of a node set. Empty when it is usable.
std::string ExpressionProblem(const std::string& expression);

struct RedactionSettings {
    bool deep = false;        // every text and CDATA node inside a selected element
    bool attributes = false;  // the values of selected attributes
};

/// What one expression selected and what became of it.
struct ExpressionOutcome {
    std::string expression;
    std::size_t selected = 0;    // items of any kind
    std::size_t attributes = 0;  // attribute items among them
    std::size_t redacted = 0;    // items whose text or value is now "redacted"
    std::size_t elements = 0;    // element (or document) items among them
    /// Elements that, after all expressions were applied, still hold text
    /// other than "redacted" in a further text run or inside a child element.
    std::size_t elementsWithOtherText = 0;
};

/// Applies the library's redaction for each expression in order, then the
/// extra steps the settings ask for, then checks every selected element for
/// text that survived. False (with a reason) when an expression cannot be run.
bool Redact(DataParserIF& parser, const std::vector<std::string>& expressions,
            const RedactionSettings& settings, std::vector<ExpressionOutcome>& outcomes,
            std::string& error);

}  // namespace qiv::redact
