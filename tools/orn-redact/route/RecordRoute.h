#pragma once

#include <optional>
#include <streambuf>
#include <string>

#include "Compression.h"
#include "DocumentInput.h"
#include "FileResult.h"
#include "Options.h"
#include "Plan.h"
#include "ReadInput.h"
#include "Redaction.h"

namespace qiv::redact {

/// Opens the input once and reads its prolog; when the record route applies
/// to it and the expressions, redacts the document record by record and
/// writes it. Otherwise, before any output exists, hands the input over to
/// the whole-document route: nothing is returned, with format the input's
/// compression, wholeReason why (empty: nothing to tell), and input.text the
/// whole input when it was taken from a source that cannot be read again
/// (input.preread set). A result is returned when the document is done with.
/// digest is fed with the input's bytes as they are read. audit, when set,
/// takes what the audit of the output needs (and is left part filled when
/// the input is handed over).
std::optional<FileResult> RedactByRecords(const FileTask& task, const Options& options,
                                          const RedactionPlan& plan, const MessageSink& message,
                                          std::streambuf* standardOutput, InputDocument& input,
                                          Compression& format, std::string& wholeReason,
                                          InputDigest& digest, AuditTrail* audit = nullptr);

}  // namespace qiv::redact
