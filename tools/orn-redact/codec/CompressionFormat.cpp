#include "Compression.h"

#include <cstring>
#include <utility>

#include "Libraries.h"

namespace qiv::redact {

std::string_view CompressionName(Compression format) {
    switch (format) {
        case Compression::None:
            return "none";
        case Compression::Gzip:
            return "gzip";
        case Compression::Bzip2:
            return "bzip2";
        case Compression::Xz:
            return "xz";
        case Compression::Zstd:
            return "zstd";
    }
    return "none";
}

std::optional<Compression> CompressionFromName(std::string_view name) {
    for (const Compression format : {Compression::None, Compression::Gzip, Compression::Bzip2,
                                     Compression::Xz, Compression::Zstd}) {
        if (name == CompressionName(format)) {
            return format;
        }
    }
    return std::nullopt;
}

Compression CompressionOfContent(std::string_view head) {
    const auto startsWith = [head](std::string_view magic) {
        return head.substr(0, magic.size()) == magic;
    };
    if (startsWith("\x1f\x8b")) {
        return Compression::Gzip;
    }
    if (startsWith("BZh") && head.size() > 3 && head[3] >= '1' && head[3] <= '9') {
        return Compression::Bzip2;
    }
    if (startsWith(std::string_view("\xfd"
                                    "7zXZ\0",
                                    6))) {
        return Compression::Xz;
    }
    // A zstd stream may start with a skippable frame (magic 0x184D2A50 to
    // 0x184D2A5F, little-endian), as parallel zstd writers put first.
    if (startsWith("\x28\xb5\x2f\xfd") ||
        (head.size() >= 4 && (static_cast<unsigned char>(head[0]) & 0xF0) == 0x50 &&
         head.substr(1, 3) == "\x2a\x4d\x18")) {
        return Compression::Zstd;
    }
    return Compression::None;
}

bool LoadCodec(Compression format, std::string& error) {
    switch (format) {
        case Compression::None:
            return true;
        case Compression::Gzip:
            return LoadLibrary(Library::Zlib, error);
        case Compression::Bzip2:
            return LoadLibrary(Library::Bzip2, error);
        case Compression::Xz:
            return LoadLibrary(Library::Lzma, error);
        case Compression::Zstd:
            return LoadLibrary(Library::Zstd, error);
    }
    return true;
}

Compression CompressionOfPath(std::string_view path) {
    const auto endsWith = [path](std::string_view suffix) {
        return path.size() > suffix.size() && path.substr(path.size() - suffix.size()) == suffix;
    };
    if (endsWith(".gz")) {
        return Compression::Gzip;
    }
    if (endsWith(".bz2")) {
        return Compression::Bzip2;
    }
    if (endsWith(".xz")) {
        return Compression::Xz;
    }
    if (endsWith(".zst")) {
        return Compression::Zstd;
    }
    return Compression::None;
}

ByteBlock::ByteBlock(ByteBlock&& other) noexcept
    : data(std::move(other.data)),
      size(std::exchange(other.size, 0)),
      capacity(std::exchange(other.capacity, 0)) {}

ByteBlock& ByteBlock::operator=(ByteBlock&& other) noexcept {
    data = std::move(other.data);
    size = std::exchange(other.size, 0);
    capacity = std::exchange(other.capacity, 0);
    return *this;
}

void ByteBlock::Reserve(std::size_t wanted) {
    if (wanted <= capacity) {
        return;
    }
    std::unique_ptr<char[]> larger(new char[wanted]);
    if (size > 0) {
        std::memcpy(larger.get(), data.get(), size);
    }
    data = std::move(larger);
    capacity = wanted;
}

}  // namespace qiv::redact
