#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Namespaces.h"

namespace qiv::redact {

class RuleAction;

/// Receives one message line for the user, without the program's name.
using MessageSink = std::function<void(const std::string&)>;

/// What is done to one expression's items.
struct ExpressionPlan {
    const RuleAction* action = nullptr;  // null: each value becomes "redacted"
    bool deep = false;
    bool attributes = false;
};

/// The checked expressions and what is done with each one's items.
struct RedactionPlan {
    RedactionPlan() = default;
    /// Expressions that each redact, as the options say.
    RedactionPlan(std::vector<std::string> texts)  // NOLINT: a list of expressions is a plan
        : expressions(std::move(texts)) {}
    std::vector<std::string> expressions;  // as given: for messages and analysis
    std::vector<ExpressionPlan> plans;     // per expression; empty: as the options say
    NamespaceMap namespaces;               // prefixes bound for the expressions
    /// Per expression, the text evaluated: bound prefixes resolved. Empty:
    /// the expressions as given.
    std::vector<std::string> queries;
    /// Per expression, its name tests, to tell where the names are when it
    /// selects nothing.
    std::vector<std::vector<NameTest>> names;
};

/// An expression and where it was given, for messages.
struct SourcedExpression {
    std::string text;
    std::string origin;  // empty for the command line, else "FILE:LINE"
};

/// One document to redact: where it comes from and where it goes.
struct FileTask {
    std::optional<std::string> input;   // standard input when empty
    std::optional<std::string> output;  // standard output when empty (and not in place)
    bool inPlace = false;
    std::optional<std::string> backup;  // in place: where the original is kept, if anywhere
    bool progress = false;              // a progress line for a long input, on a terminal
    bool digests = false;               // take the SHA-256 of the input file and of the output
    bool discard = false;               // redact but write nothing (--check)
};

}  // namespace qiv::redact
