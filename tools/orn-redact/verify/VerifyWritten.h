#pragma once

#include <string>
#include <vector>

#include "ChangedValues.h"
#include "FileResult.h"
#include "Plan.h"

namespace qiv::redact {

/// --verify: reads the document just written to path back from the file
/// (through its compression) and audits it with AuditOutput. Each leftover
/// (the first few with their place and the expression that changed the
/// value) and any problem are told through message, and the result's status
/// becomes ExitLeftReadable; a file that cannot be read back fails the
/// result. expressions name the ones in the messages.
void VerifyWritten(const std::string& path, const AuditTrail& trail,
                   const std::vector<std::string>& expressions, const MessageSink& message,
                   FileResult& result);

}  // namespace qiv::redact
