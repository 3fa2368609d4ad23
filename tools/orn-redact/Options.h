#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qiv::redact {

/// Exit statuses of the tool.
enum ExitStatus : int {
    ExitOk = 0,
    ExitFailure = 1,        // the document could not be read, parsed or written
    ExitUsage = 2,          // bad command line or a rejected expression
    ExitNothingMatched = 3  // --require-match and an expression selected nothing
};

/// The command line, parsed.
struct Options {
    std::optional<std::string> inputPath;   // standard input when empty
    std::optional<std::string> outputPath;  // standard output when empty
    std::vector<std::string> expressionFiles;
    std::vector<std::string> expressions;  // from the command line, in order
    bool inPlace = false;
    bool reformat = false;     // write the document anew instead of splicing the input
    bool raw = false;          // --raw: one line; otherwise indented with TAB (when written anew)
    bool layoutGiven = false;  // --raw or --indent was given
    bool breakLinks = false;   // --in-place may replace one name of a hard-linked file
    bool deep = false;
    bool attributes = false;
    bool report = false;
    bool requireMatch = false;
    bool timings = false;  // print how long each step took
    bool help = false;
    bool version = false;
};

/// Result of parsing: the options, or the reason the command line is wrong.
struct ParsedOptions {
    Options options;
    std::string error;  // empty on success
};

ParsedOptions ParseOptions(const std::vector<std::string>& arguments);

/// An expression and where it was given, for messages.
struct SourcedExpression {
    std::string text;
    std::string origin;  // empty for the command line, else "FILE:LINE"
};

/// Reads expressions, one per line. Blank lines and lines whose first
/// non-blank character is '#' are skipped; surrounding blanks are trimmed.
/// Returns false (with a reason) when the file cannot be read.
bool ReadExpressionFile(const std::string& path, std::vector<SourcedExpression>& expressions,
                        std::string& error);

const char* UsageText();
const char* HelpText();

}  // namespace qiv::redact
