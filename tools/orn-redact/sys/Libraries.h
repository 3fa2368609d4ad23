#pragma once

#include <string>

namespace qiv::redact {

/// The libraries that only some runs need. They are not linked to the tool
/// but loaded on first use, so that a run that needs none of them (--version,
/// a plain document to standard output) does not pay for mapping and
/// relocating them at every start.
enum class Library { Crypto, Yaml, Zlib, Bzip2, Lzma, Zstd };

/// Loads library, once for the process (any thread may ask). False with a
/// message that names the library and what needs it when it cannot be loaded.
bool LoadLibrary(Library library, std::string& error);

/// The address of name in library, which is loaded first when it is not yet.
/// A library that cannot be loaded ends the process with status 1 and the
/// message of LoadLibrary: the callers that can report a failure load it
/// before, so this is left only to the ones that cannot.
void* LibrarySymbol(Library library, const char* name);

}  // namespace qiv::redact
