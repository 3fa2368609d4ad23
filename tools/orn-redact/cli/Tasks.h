#pragma once

#include <string>
#include <vector>

#include "FileRedaction.h"
#include "Options.h"

namespace qiv::redact {

/// One task per input for a run over several files. Two inputs that would
/// write the same file, or the same file given twice, are refused before
/// anything runs: false with a reason.
bool MakeTasks(const std::vector<std::string>& inputs, const Options& options,
               std::vector<FileTask>& tasks, std::string& error);

/// Only a regular file can be replaced in place: a pipe or a device would be
/// read and then written back into, where the document is lost. Empty when
/// every input is one (or cannot be looked at, which reading reports), else
/// the message.
std::string InPlaceProblem(const std::vector<std::string>& inputs);

}  // namespace qiv::redact
