#pragma once

#include <string>
#include <string_view>

namespace qiv::redact {

/// Writes content to the file at path without ever leaving a partial file:
/// the content goes to a temporary file in the same folder, is flushed to
/// disk, and then replaces the target in one rename. An existing target keeps
/// its permissions (and owner, where allowed) and stays untouched when any
/// step fails. A symbolic link is followed, so the file it names is replaced.
/// Devices and pipes cannot be replaced and are written directly.
/// Returns false with a message on failure.
bool WriteFileAtomically(const std::string& path, std::string_view content, std::string& error);

}  // namespace qiv::redact
