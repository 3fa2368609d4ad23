#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Options.h"
#include "Plan.h"
#include "Redaction.h"

namespace qiv::redact {

/// What each expression did (--report) and the warnings about what it left
/// readable: attribute values not changed, text left in selected elements,
/// names missed for their namespace. True when it gave any such warning.
bool PrintOutcomes(const std::vector<ExpressionOutcome>& outcomes, const Options& options,
                   const RedactionPlan& plan, const MessageSink& message);

/// Per expression and entity declared in prolog's DOCTYPE (the input's own
/// bytes, up to the document element at least; empty when the DOCTYPE is not
/// written): the expression changed a reference to the entity, whose value is
/// still in the DOCTYPE (a warning), or, with replaced (--entities), was
/// replaced there too (a note). True when it gave a warning.
bool NoteEntities(const std::vector<ExpressionOutcome>& outcomes, std::string_view prolog,
                  bool replaced, const MessageSink& message);

/// With --require-match: says which expressions selected nothing, and false
/// when any did (nothing may then be written; with written, the document was
/// already written whole, as --stream does, and that is said instead).
bool AllMatched(const std::vector<ExpressionOutcome>& outcomes, const MessageSink& message,
                bool written = false);

/// A failure's message for output that was already flowing (--stream): its
/// "; nothing written" becomes "; the output written so far is cut short", which
/// is added when the message does not end so.
std::string CutShort(std::string failure);

/// --raw and --indent say nothing to a document whose bytes are kept.
void NoteLayoutUnused(const Options& options, const MessageSink& message);

/// Warns of the '&' that start no reference in an input that is otherwise
/// taken: the parser reads each as a plain '&', and a splice keeps it, so the
/// output is not well-formed either. where: At(...) of the first.
void WarnBareAmpersands(const std::string& source, std::uint64_t count, const std::string& where,
                        const MessageSink& message);

/// --in-place=SUFFIX keeps the unredacted original as backup: warns when its
/// mode lets its group or others read it.
void WarnReadableBackup(const std::string& backup, unsigned int mode, const MessageSink& message);

/// Items changed over all expressions.
std::size_t Redacted(const std::vector<ExpressionOutcome>& outcomes);

}  // namespace qiv::redact
