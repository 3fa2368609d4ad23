#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <streambuf>
#include <string>
#include <vector>

#include "Options.h"

namespace qiv::redact {

/// Receives one message line for the user, without the program's name.
using MessageSink = std::function<void(const std::string&)>;

/// One document to redact: where it comes from and where it goes.
struct FileTask {
    std::optional<std::string> input;   // standard input when empty
    std::optional<std::string> output;  // standard output when empty (and not in place)
    bool inPlace = false;
    bool progress = false;  // a progress line for a long input, on a terminal
};

/// What became of one document.
struct FileResult {
    int status = ExitOk;       // an ExitStatus
    std::size_t redacted = 0;  // items whose text or value is now "redacted"
    std::uint64_t bytes = 0;   // size of the input, when it was read
};

/// Loads, redacts and writes one document with the checked expressions.
/// Every message goes to message; nothing is written unless every step
/// succeeded. threads: how many expressions may be selected at once.
/// standardOutput: where a document without an output file goes.
FileResult RedactFile(const FileTask& task, const Options& options,
                      const std::vector<std::string>& expressions, unsigned int threads,
                      const MessageSink& message, std::streambuf* standardOutput);

}  // namespace qiv::redact
