#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Options.h"
#include "Redaction.h"

namespace qiv::redact {

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
    /// With --verify: the output was read back; places still holding a value
    /// a rule changed; what else is wrong with it (empty: nothing).
    bool verified = false;
    std::uint64_t leftovers = 0;
    std::string verifyProblem;
};

}  // namespace qiv::redact
