#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <streambuf>
#include <string>
#include <vector>

#include "Options.h"
#include "Redaction.h"

namespace qiv::redact {

/// Receives one message line for the user, without the program's name.
using MessageSink = std::function<void(const std::string&)>;

/// One document to redact: where it comes from and where it goes.
struct FileTask {
    std::optional<std::string> input;   // standard input when empty
    std::optional<std::string> output;  // standard output when empty (and not in place)
    bool inPlace = false;
    bool progress = false;  // a progress line for a long input, on a terminal
    bool digests = false;   // take the SHA-256 of the input file and of the output
    bool discard = false;   // redact but write nothing (--check)
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

/// What became of one document.
struct FileResult {
    int status = ExitOk;       // an ExitStatus
    std::size_t redacted = 0;  // items whose text or value is now "redacted"
    std::uint64_t bytes = 0;   // size of the input, when it was read
    /// How it was redacted: "records", "whole document" or "written anew"
    /// (empty when it was not), and why not record by record or why anew.
    std::string route;
    std::string reason;
    std::vector<ExpressionOutcome> outcomes;
    /// With FileTask::digests: the input file's size and SHA-256 (empty for
    /// standard input), and those of what was written.
    std::uint64_t inputBytes = 0;
    std::string inputDigest;
    std::uint64_t outputBytes = 0;
    std::string outputDigest;
};

/// Loads, redacts and writes one document with the checked expressions.
/// Every message goes to message; nothing is written unless every step
/// succeeded. threads: how many expressions may be selected at once.
/// standardOutput: where a document without an output file goes.
FileResult RedactFile(const FileTask& task, const Options& options, const RedactionPlan& plan,
                      unsigned int threads, const MessageSink& message,
                      std::streambuf* standardOutput);

}  // namespace qiv::redact
