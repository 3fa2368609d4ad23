#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "Options.h"
#include "Plan.h"
#include "Redaction.h"

namespace qiv::redact {

/// What each expression did (--report) and the warnings about what it left
/// readable: attribute values not changed, text left in selected elements.
void PrintOutcomes(const std::vector<ExpressionOutcome>& outcomes, const Options& options,
                   const RedactionPlan& plan, const MessageSink& message);

/// With --require-match: says which expressions selected nothing, and false
/// when any did (nothing may then be written).
bool AllMatched(const std::vector<ExpressionOutcome>& outcomes, const MessageSink& message);

/// --raw and --indent say nothing to a document whose bytes are kept.
void NoteLayoutUnused(const Options& options, const MessageSink& message);

/// Items changed over all expressions.
std::size_t Redacted(const std::vector<ExpressionOutcome>& outcomes);

}  // namespace qiv::redact
