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
/// step fails. A symbolic link is followed, so the file it names is replaced.
/// Devices and pipes cannot be replaced and are written directly.
/// Returns false with a message on failure.
using ContentWriter = std::function<void(std::ostream&)>;
bool WriteFileAtomically(const std::string& path, const ContentWriter& write, std::string& error);

}  // namespace qiv::redact
