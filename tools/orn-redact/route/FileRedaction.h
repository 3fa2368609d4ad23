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

/// One document to redact: where it comes from and where it goes.
struct FileTask {
    std::optional<std::string> input;   // standard input when empty
    std::optional<std::string> output;  // standard output when empty (and not in place)
    bool inPlace = false;
    bool progress = false;  // a progress line for a long input, on a terminal
    bool digests = false;   // take the SHA-256 of the input file and of the output
    bool discard = false;   // redact but write nothing (--check)
};

/// Loads, redacts and writes one document with the checked expressions.
/// Every message goes to message; nothing is written unless every step
/// succeeded. threads: how many expressions may be selected at once.
/// standardOutput: where a document without an output file goes.
FileResult RedactFile(const FileTask& task, const Options& options, const RedactionPlan& plan,
                      unsigned int threads, const MessageSink& message,
                      std::streambuf* standardOutput);

}  // namespace qiv::redact
