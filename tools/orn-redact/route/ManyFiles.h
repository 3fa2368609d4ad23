#pragma once

#include <string>
#include <vector>

#include "FileRedaction.h"
#include "Options.h"
#include "Report.h"

namespace qiv::redact {

/// Redacts every task on up to options.jobs worker threads (0: one per
/// processor), one document per thread at a time. Each file is done or not
/// done on its own; messages are whole lines prefixed by the file's name. On
/// a terminal, and unless options.quiet, a progress line is redrawn on
/// standard error; a summary line ends the run (unless options.quiet).
/// Returns the exit status: 1 when any file failed, else 3 when any file had
/// an expression that selected nothing under --require-match, else 0.
/// With reported, each file's result and messages go there, in task order.
int RedactMany(const std::vector<FileTask>& tasks, const Options& options,
               const RedactionPlan& plan, std::vector<ReportedFile>* reported = nullptr);

}  // namespace qiv::redact
