#pragma once

#include <streambuf>
#include <string>

#include "Compression.h"
#include "DocumentInput.h"
#include "FileResult.h"
#include "Options.h"
#include "Plan.h"
#include "ReadInput.h"
#include "Redaction.h"
#include "Timings.h"

namespace qiv::redact {

/// Where the whole-document route starts from: the input (read already when
/// input.preread is set), its compression, and why the record route did not
/// take it (empty: it was not tried, or there is nothing to tell).
struct WholeStart {
    InputDocument& input;
    Compression format = Compression::None;
    std::string reason;
    InputDigest& digest;  // taken from the bytes read, or from the file before it is replaced
    /// When set, takes the values the rules changed and the shape of the
    /// elements written, for the audit of the output.
    AuditTrail* audit = nullptr;
};

/// Loads the whole document, redacts it and writes it: the input's bytes
/// with the changed spans replaced, or the document written anew when its
/// bytes cannot be kept (--reformat, an encoding the parser converts, a
/// change the splice cannot place).
FileResult RedactWhole(const FileTask& task, const Options& options, const RedactionPlan& plan,
                       unsigned int threads, WholeStart start, Timings& timings,
                       const MessageSink& message, std::streambuf* standardOutput);

}  // namespace qiv::redact
