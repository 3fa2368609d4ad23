#pragma once

#include <string>
#include <vector>

#include "Options.h"
#include "Plan.h"

namespace qiv::redact {

/// Result of parsing: the options, or the reason the command line is wrong.
struct ParsedOptions {
    Options options;
    std::string error;  // empty on success
};

ParsedOptions ParseOptions(const std::vector<std::string>& arguments);

/// Reads expressions, one per line. Blank lines and lines whose first
/// non-blank character is '#' are skipped; surrounding blanks are trimmed.
/// Returns false (with a reason) when the file cannot be read.
bool ReadExpressionFile(const std::string& path, std::vector<SourcedExpression>& expressions,
                        std::string& error);

/// Reads the input paths of --files-from, one per line; blank lines are
/// skipped, and a line's CR LF ending is taken as a line end. "-" reads
/// standard input. Returns false (with a reason) when it cannot be read.
bool ReadFileList(const std::string& path, std::vector<std::string>& paths, std::string& error);

}  // namespace qiv::redact
