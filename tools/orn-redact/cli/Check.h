#pragma once

#include <ostream>
#include <vector>

#include "Report.h"
#include "Rules.h"

namespace qiv::redact {

/// --check: per rule, its action and whether it can run record by record.
void PrintRulePaths(const std::vector<Rule>& rules, std::ostream& out);

/// --check with inputs: per file, the route taken and what each rule would
/// do. Returns the run's exit status.
int PrintCheck(const std::vector<Rule>& rules, const std::vector<ReportedFile>& files,
               bool requireMatch, std::ostream& out);

}  // namespace qiv::redact
