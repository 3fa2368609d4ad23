#pragma once

#include <streambuf>
#include <string>

#include "Compression.h"
#include "Digest.h"
#include "Options.h"
#include "OutputFile.h"
#include "Plan.h"

namespace qiv::redact {

/// The output's format: --compress, else an output file's name, else
/// (standard output, in place) the input's.
Compression OutputCompression(const FileTask& task, const Options& options, Compression input);

/// The one output chain of a document: what content streams is compressed
/// as format, its SHA-256 taken into digest (when there is one), and written
/// to where the task says: its file (atomically), standard output through a
/// spool when spool is set, or nowhere (discard). False with a message; a
/// failure of the compression is named in it.
bool Deliver(const FileTask& task, const ContentWriter& content, Compression format, Sha256* digest,
             std::streambuf* standardOutput, bool spool, std::string& error);

}  // namespace qiv::redact
