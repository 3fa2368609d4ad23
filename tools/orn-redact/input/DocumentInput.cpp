#include "DocumentInput.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <istream>
#include <sstream>

#include <pugixml.hpp>

#include "Encoding.h"

namespace qiv::redact {

namespace {

InputDocument::Identity IdentityOf(const struct stat& info) {
    return {
        static_cast<unsigned long long>(info.st_dev), static_cast<unsigned long long>(info.st_ino),
        static_cast<unsigned long long>(info.st_size), static_cast<long long>(info.st_mtim.tv_sec),
        static_cast<long long>(info.st_mtim.tv_nsec)};
}

// Whether text starts with an XML declaration (after a UTF-8 byte order mark).
bool OpensDeclaration(std::string_view text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);
    }
    return text.substr(0, 5) == "<?xml";
}

// Reads from descriptor onto the end of text until the descriptor ends or
// text holds limit bytes.
bool ReadDescriptor(int descriptor, std::string& text, std::size_t limit = std::string::npos) {
    std::size_t used = text.size();
    for (;;) {
        if (used == text.size()) {
            if (used >= limit) {
                break;
            }
            text.resize(std::min(limit, std::max<std::size_t>(64 * 1024, text.size() * 2)));
        }
        const ssize_t got = ::read(descriptor, text.data() + used, text.size() - used);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            text.resize(used);
            return false;
        }
        if (got == 0) {
            break;
        }
        used += static_cast<std::size_t>(got);
    }
    text.resize(used);
    return true;
}

// Room for size bytes straight from the system, in huge pages where it
// allows: not cleared a second time the way a resized string would be. The
// pages are taken as the read fills them, while the document is still being
// freed on another thread: taken all at once, they would add to the peak.
std::shared_ptr<char> AllocatePages(std::size_t size) {
    void* memory =
        ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) {
        return nullptr;
    }
#if defined(MADV_HUGEPAGE)
    ::madvise(memory, size, MADV_HUGEPAGE);
#endif
    return std::shared_ptr<char>(static_cast<char*>(memory),
                                 [size](char* pages) { ::munmap(pages, size); });
}

// Reads exactly size bytes into pages; false when the descriptor ends sooner
// (errno 0) or fails.
bool ReadExactly(int descriptor, char* pages, std::size_t size) {
    std::size_t used = 0;
    while (used < size) {
        const ssize_t got = ::read(descriptor, pages + used, size - used);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            if (got == 0) {
                errno = 0;
            }
            return false;
        }
        used += static_cast<std::size_t>(got);
    }
    return true;
}

}  // namespace

namespace {

std::string DescribeFailure(const std::string& source, const LoadResult& result,
                            const std::string_view* text) {
    if (text == nullptr) {
        return DescribeParseFailure(source, result, nullptr, 0);
    }
    const FailurePlace place = FailurePlaceOf(*text);
    return DescribeParseFailure(source, result, &place.position, place.offset);
}

bool LoadText(DataParserIF& parser, std::string& text, const std::string& source,
              std::string& error) {
    TextBuffer buffer(text);
    std::istream stream(&buffer);
    const LoadResult result = parser.LoadStream(stream);
    if (result.second != DataParserStatus::Ok) {
        const std::string_view view = text;
        error = DescribeFailure(source, result, &view);
        return false;
    }
    return true;
}

// The head of a document: its first bytes, and if they open an XML
// declaration, on up to the declaration's end. pugixml reads the encoding
// from the whole declaration, however far into the file it reaches.
constexpr std::size_t headSize = 4096;

std::string HeadOf(std::string_view text) {
    std::string head(text.substr(0, headSize));
    if (head.size() == headSize && OpensDeclaration(head)) {
        const std::size_t end = text.find("?>");
        head.assign(text.substr(0, end == std::string_view::npos ? text.size() : end + 2));
    }
    return head;
}

bool ReadHead(int descriptor, std::string& head) {
    head.clear();
    if (!ReadDescriptor(descriptor, head, headSize)) {
        return false;
    }
    if (head.size() < headSize || !OpensDeclaration(head)) {
        return true;
    }
    std::string more;
    for (std::size_t from = 0; head.find("?>", from) == std::string::npos; from = head.size() - 1) {
        more.clear();
        if (!ReadDescriptor(descriptor, more, 64 * 1024)) {
            return false;
        }
        if (more.empty()) {
            break;
        }
        head += more;
    }
    return true;
}

// Whether text, the first bytes of an input, cannot begin a document; then
// error says so.
bool NotADocument(const std::string& source, std::string_view text, std::string& error) {
    std::size_t at = 0;
    if (DocumentOpening(text, at) != Opening::Other) {
        return false;
    }
    error = DescribeNotDocument(source, text, at);
    return true;
}

// Reads a pipe, device or standard input whole into text. Its first few KiB
// are read alone, and more only once they show it can begin a document: one
// that cannot (a device that never ends, a binary file) is refused there.
bool ReadWhole(int descriptor, const std::string& source, std::string& text, std::string& error) {
    text.clear();
    Opening opening = Opening::Undecided;
    std::size_t at = 0;
    // The limit doubles, so that a long run of blanks is looked at a
    // bounded number of times over.
    for (std::size_t limit = headSize; opening == Opening::Undecided; limit *= 2) {
        const std::size_t before = text.size();
        if (!ReadDescriptor(descriptor, text, limit)) {
            error = "cannot read " + source + ": " + std::strerror(errno);
            return false;
        }
        opening = DocumentOpening(text, at);
        if (text.size() < limit || text.size() == before) {
            break;  // the end of the input
        }
    }
    if (opening == Opening::Other) {
        error = DescribeNotDocument(source, text, at);
        return false;
    }
    if (opening == Opening::Markup && !ReadDescriptor(descriptor, text)) {
        error = "cannot read " + source + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace

bool InputDocument::Identity::operator==(const Identity& other) const {
    return device == other.device && inode == other.inode && size == other.size &&
           seconds == other.seconds && nanoseconds == other.nanoseconds;
}

bool LoadDocument(DataParserIF& parser, InputDocument& input, std::string& error) {
    if (input.preread) {
        input.source = input.text;
        input.haveSource = true;
        input.size = input.source.size();
        input.head = HeadOf(input.text);
        return LoadText(parser, input.text, input.path ? *input.path : "standard input", error);
    }
    if (!input.path) {
        // Straight from the descriptor: through std::cin, which is tied to
        // C's stdio, every byte would be a call of its own.
        if (!ReadWhole(STDIN_FILENO, "standard input", input.text, error)) {
            return false;
        }
        input.source = input.text;
        input.haveSource = true;
        input.size = input.source.size();
        input.head = HeadOf(input.text);
        return LoadText(parser, input.text, "standard input", error);
    }
    const std::string& path = *input.path;

    // Check the file first so that a missing, unreadable or wrong kind of
    // file gets a plain message instead of a parse status.
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    if (S_ISDIR(info.st_mode)) {
        error = "cannot read " + path + ": it is a directory";
        return false;
    }
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    const bool regular = ::fstat(descriptor, &info) == 0 && S_ISREG(info.st_mode);
    // Pipes and devices can be read only once: read them whole and parse that.
    if (!regular) {
        const bool read = ReadWhole(descriptor, path, input.text, error);
        ::close(descriptor);
        if (!read) {
            return false;
        }
    } else {
        const bool read = ReadHead(descriptor, input.head);
        ::close(descriptor);
        if (!read) {
            error = "cannot read " + path + ": " + std::strerror(errno);
            return false;
        }
        // The library would read the whole file before it refuses it.
        if (NotADocument(path, input.head, error)) {
            return false;
        }
    }
    if (!regular) {
        input.source = input.text;
        input.haveSource = true;
        input.size = input.source.size();
        input.head = HeadOf(input.text);
        return LoadText(parser, input.text, path, error);
    }

    input.identity = IdentityOf(info);
    const LoadResult result = parser.LoadFile(path);
    if (result.second != DataParserStatus::Ok) {
        const bool haveText = ReadSource(input, error);
        error = DescribeFailure(path, result, haveText ? &input.source : nullptr);
        return false;
    }
    input.size = static_cast<std::size_t>(info.st_size);
    return true;
}

bool ReadSource(InputDocument& input, std::string& error) {
    if (input.haveSource) {
        return true;
    }
    const std::string& path = *input.path;
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info {};
    if (descriptor < 0 || ::fstat(descriptor, &info) != 0) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        if (descriptor >= 0) {
            ::close(descriptor);
        }
        return false;
    }
    const std::string changed = "cannot read " + path + ": it changed while it was being redacted";
    if (!(IdentityOf(info) == input.identity)) {
        ::close(descriptor);
        error = changed;
        return false;
    }
    const auto size = static_cast<std::size_t>(input.identity.size);
    std::shared_ptr<char> pages = size == 0 ? nullptr : AllocatePages(size);
    if (size != 0 && !pages) {
        ::close(descriptor);
        error = "cannot read " + path + ": " + std::strerror(ENOMEM);
        return false;
    }
    const bool read = size == 0 || ReadExactly(descriptor, pages.get(), size);
    const int readErrno = errno;
    // What was read is the parsed document only if the file is still the same
    // and it was read to the size it had then.
    const bool same = ::fstat(descriptor, &info) == 0 && IdentityOf(info) == input.identity;
    ::close(descriptor);
    if (!read || !same) {
        error = read || readErrno == 0 ? changed
                                       : "cannot read " + path + ": " + std::strerror(readErrno);
        return false;
    }
    input.pages = std::move(pages);
    input.source = std::string_view(input.pages.get(), size);
    input.haveSource = true;
    return true;
}

bool CheckTopLevel(DataParserIF& parser, InputDocument& input, std::string& error) {
    const pugi::xml_node document = DocumentNode(parser);
    if (!document) {
        return true;
    }
    bool element = false;
    for (const pugi::xml_node& node : document.children()) {
        const pugi::xml_node_type type = node.type();
        const char* what = nullptr;
        if (type == pugi::node_element) {
            what = element ? "a second element after the document element" : nullptr;
            element = true;
        } else if (type == pugi::node_pcdata || type == pugi::node_cdata) {
            what = element ? "text after the document element" : "text before the document element";
        }
        if (what == nullptr) {
            continue;
        }
        const std::string name = input.path ? *input.path : "standard input";
        // Positions are in the parsed bytes: those of the input itself unless
        // the parser converted it.
        const std::ptrdiff_t offset = node.offset_debug();
        std::string ignored, where;
        if (offset >= 0 && ConvertedEncoding(input.head).empty() && ReadSource(input, ignored) &&
            static_cast<std::size_t>(offset) < input.source.size()) {
            where = At(input.source, static_cast<std::size_t>(offset));
        }
        error = DescribeMisplaced(name, what, where);
        return false;
    }
    return true;
}

}  // namespace qiv::redact
