#include "Libraries.h"

#include <dlfcn.h>
#include <unistd.h>

#include <array>
#include <mutex>

namespace qiv::redact {

namespace {

struct Loadable {
    const char* soname;  // the name the build linked against, from CMake
    const char* purpose;
};

// In the order of Library.
constexpr std::array<Loadable, 6> loadables = {{
    {ORN_SONAME_CRYPTO, "SHA-256 digests and keyed pseudonyms"},
    {ORN_SONAME_YAML, "YAML rules files"},
    {ORN_SONAME_ZLIB, "gzip"},
    {ORN_SONAME_BZIP2, "bzip2"},
    {ORN_SONAME_LZMA, "xz"},
    {ORN_SONAME_ZSTD, "zstd"},
}};

struct Loaded {
    std::once_flag once;
    void* handle = nullptr;
    std::string error;
};

std::array<Loaded, loadables.size()> loaded;

Loaded& Load(Library library) {
    const auto index = static_cast<std::size_t>(library);
    Loaded& entry = loaded[index];
    std::call_once(entry.once, [&entry, index]() {
        // Local: the tool reaches its symbols through dlsym only, and they
        // cannot stand in for another library's.
        entry.handle = ::dlopen(loadables[index].soname, RTLD_NOW | RTLD_LOCAL);
        if (entry.handle == nullptr) {
            const char* reason = ::dlerror();
            entry.error = std::string("cannot load ") + loadables[index].soname + ", needed for " +
                          loadables[index].purpose + ": " +
                          (reason != nullptr ? reason : "unknown error");
        }
    });
    return entry;
}

[[noreturn]] void Fatal(const std::string& message) {
    const std::string line = "orn-redact: " + message + "\n";
    (void)!::write(STDERR_FILENO, line.data(), line.size());
    ::_exit(1);
}

}  // namespace

bool LoadLibrary(Library library, std::string& error) {
    const Loaded& entry = Load(library);
    if (entry.handle == nullptr) {
        error = entry.error;
        return false;
    }
    return true;
}

void* LibrarySymbol(Library library, const char* name) {
    const Loaded& entry = Load(library);
    if (entry.handle == nullptr) {
        Fatal(entry.error);
    }
    void* symbol = ::dlsym(entry.handle, name);
    if (symbol == nullptr) {
        Fatal(std::string("cannot find ") + name + " in " +
              loadables[static_cast<std::size_t>(library)].soname);
    }
    return symbol;
}

}  // namespace qiv::redact
