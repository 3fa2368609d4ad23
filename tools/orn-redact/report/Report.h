#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "FileResult.h"
#include "Rules.h"

namespace qiv::redact {

/// One input file as the JSON report shows it.
struct ReportedFile {
    std::optional<std::string> input;   // standard input when empty
    std::optional<std::string> output;  // standard output when empty (and not in place)
    bool inPlace = false;
    FileResult result;
    std::vector<std::string> messages;  // what the tool said of the file, in order
};

/// Writes the report: the rules, then per file its sizes, digests, the path
/// the redaction took and the counts per rule. The same inputs and rules give
/// the same bytes: nothing in it depends on time, threads or the machine.
void WriteReport(std::ostream& out, const std::vector<Rule>& rules,
                 const std::vector<ReportedFile>& files);

/// text as a JSON string, quotes included.
std::string JsonString(const std::string& text);

}  // namespace qiv::redact
