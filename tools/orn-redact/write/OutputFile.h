#pragma once

#include <functional>
#include <ostream>
#include <string>

namespace qiv::redact {

/// Writes what `write` streams to the file at path without ever leaving a
/// partial file: the content streams to a temporary file in the same folder
/// (never held in memory as a whole), is flushed to
/// disk, and then replaces the target in one rename. An existing target keeps
/// its permissions (and owner, where allowed) and stays untouched when any
/// step fails; a new file gets 0666 less the creation mask. A symbolic link is
/// followed as the shell's ">" follows it: the file it names is replaced, or
/// created when missing; a loop of links is an error. Devices and pipes
/// cannot be replaced and are written directly. Returns false with a message
/// on failure. With a backup name, an existing file is first kept under that
/// name (a hard link; an old file of that name is replaced), just before the
/// new content replaces it; when that fails, nothing is replaced.
using ContentWriter = std::function<void(std::ostream&)>;
bool WriteFileAtomically(const std::string& path, const ContentWriter& write, std::string& error,
                         const std::string& backup = std::string());

/// Writes what `write` streams to standard output (out, over descriptor 1)
/// only once it is complete: it is kept in an unnamed temporary file (in
/// $TMPDIR, else /tmp) until then, so that a failure, or `write` setting the
/// stream's badbit, leaves standard output untouched. Returns false with a
/// message on failure.
bool WriteThroughSpool(std::streambuf* out, const ContentWriter& write, std::string& error);

/// Reads the process's file creation mask. Reading it means setting it for a
/// moment, which a thread creating a file at that moment would see: call this
/// before any other thread starts (it is read once, on the first call).
void ReadCreationMask();

/// On SIGINT, SIGTERM, SIGHUP and SIGPIPE, removes the temporary files being
/// written at that moment, then ends the process as the signal would have.
/// A disposition the caller set to ignore stays so.
void RemoveTemporaryFilesOnSignals();

}  // namespace qiv::redact
