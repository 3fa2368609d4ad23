#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Actions.h"
#include "Options.h"
#include "Plan.h"
#include "Rules.h"

namespace qiv::redact {

/// Everything a run does to each document, decided before any is read.
struct RunPlan {
    std::vector<Rule> rules;  // one per expression, in order
    RedactionPlan redaction;
    std::vector<std::unique_ptr<RuleAction>> actions;  // owned here, pointed to by redaction
};

/// Turns the rules files' rules (first, in order) and the expressions given
/// alone (which redact) into one plan: every expression is checked, and the
/// pseudonym key is read when a rule needs it and wiped once the actions hold
/// it. ExitOk, or the exit status of a usage error whose messages went to
/// message (usage: true when the usage text should follow).
int MakePlan(const Options& options, std::vector<Rule> rulesFromFiles,
             const std::vector<SourcedExpression>& alone, RunPlan& plan, const MessageSink& message,
             bool& usage);

}  // namespace qiv::redact
