#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

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
    std::vector<std::string> expressions;
    std::vector<ExpressionPlan> plans;  // per expression; empty: as the options say
};

/// An expression and where it was given, for messages.
struct SourcedExpression {
    std::string text;
    std::string origin;  // empty for the command line, else "FILE:LINE"
};

}  // namespace qiv::redact
