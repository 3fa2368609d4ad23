#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <streambuf>
#include <string>
#include <vector>

#include "FileResult.h"
#include "Options.h"
#include "Plan.h"
#include "Redaction.h"

namespace qiv::redact {

/// Loads, redacts and writes one document with the checked expressions.
/// Every message goes to message; nothing is written unless every step
/// succeeded. threads: how many expressions may be selected at once.
/// standardOutput: where a document without an output file goes.
FileResult RedactFile(const FileTask& task, const Options& options, const RedactionPlan& plan,
                      unsigned int threads, const MessageSink& message,
                      std::streambuf* standardOutput);

}  // namespace qiv::redact
