#include "DocumentInput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

#include <pugixml.hpp>

namespace qiv::redact {

namespace {

const char* StatusName(DataParserStatus status) {
    switch (status) {
        case DataParserStatus::Ok:
            return "Ok";
        case DataParserStatus::FileNotFound:
            return "FileNotFound";
        case DataParserStatus::IoError:
            return "IoError";
        case DataParserStatus::OutOfMemory:
            return "OutOfMemory";
        case DataParserStatus::InternalError:
            return "InternalError";
        case DataParserStatus::UnrecognizedTag:
            return "UnrecognizedTag";
        case DataParserStatus::BadPi:
            return "BadPi";
        case DataParserStatus::BadComment:
            return "BadComment";
        case DataParserStatus::BadCData:
            return "BadCData";
        case DataParserStatus::BadDoctype:
            return "BadDoctype";
        case DataParserStatus::BadPCData:
            return "BadPCData";
        case DataParserStatus::BadStartElement:
            return "BadStartElement";
        case DataParserStatus::BadAttribute:
            return "BadAttribute";
        case DataParserStatus::BadEndElement:
            return "BadEndElement";
        case DataParserStatus::EndElementMismatch:
            return "EndElementMismatch";
        case DataParserStatus::AppendInvalidRoot:
            return "AppendInvalidRoot";
        case DataParserStatus::NoDocumentElement:
            return "NoDocumentElement";
        case DataParserStatus::Unmapped:
            return "Unmapped";
    }
    return "Unmapped";
}

// Statuses that say where in the text parsing stopped; the others (missing
// file, read error, memory) have no meaningful position.
bool HasPosition(DataParserStatus status) {
    return static_cast<int>(status) >= static_cast<int>(DataParserStatus::UnrecognizedTag) &&
           status != DataParserStatus::Unmapped;
}

// Reads everything from descriptor; size is what is expected (0: unknown).
bool ReadDescriptor(int descriptor, off_t size, std::string& text) {
    text.clear();
    text.resize(size > 0 ? static_cast<std::size_t>(size) + 1 : 64 * 1024);
    std::size_t used = 0;
    for (;;) {
        if (used == text.size()) {
            text.resize(text.size() * 2);
        }
        const ssize_t got = ::read(descriptor, text.data() + used, text.size() - used);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
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

// A read-only, seekable stream buffer over text, so that the parser can load
// kept bytes without a copy of them.
class TextBuffer : public std::streambuf {
public:
    explicit TextBuffer(std::string& text) {
        setg(text.data(), text.data(), text.data() + text.size());
    }

protected:
    pos_type seekoff(off_type offset, std::ios_base::seekdir direction,
                     std::ios_base::openmode /*which*/) override {
        char* const target = (direction == std::ios_base::beg   ? eback()
                              : direction == std::ios_base::cur ? gptr()
                                                                : egptr()) +
                             offset;
        if (target < eback() || target > egptr()) {
            return pos_type(off_type(-1));
        }
        setg(eback(), target, egptr());
        return pos_type(target - eback());
    }
    pos_type seekpos(pos_type position, std::ios_base::openmode which) override {
        return seekoff(off_type(position), std::ios_base::beg, which);
    }
};

bool ReadAll(std::istream& stream, std::string& text) {
    text.assign(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
    return !stream.bad();
}

// The library reports the outcome without the offset; parsing the same bytes
// again with the same options finds where it stopped.
std::size_t FailureOffset(const std::string& text) {
    pugi::xml_document document;
    const pugi::xml_parse_result result =
        document.load_buffer(text.data(), text.size(), pugi::parse_default, pugi::encoding_auto);
    return result.offset < 0 ? 0 : static_cast<std::size_t>(result.offset);
}

std::string DescribeFailure(const std::string& source, const LoadResult& result,
                            const std::string* text) {
    std::ostringstream message;
    message << "cannot parse " << source << ": " << result.first << " (status "
            << StatusName(result.second) << ", " << static_cast<int>(result.second) << ")";
    if (text != nullptr && HasPosition(result.second)) {
        const std::size_t offset = FailureOffset(*text);
        const TextPosition position = PositionOf(*text, offset);
        message << " at line " << position.line << ", column " << position.column << " (offset "
                << offset << ")";
    }
    return message.str();
}

bool LoadText(DataParserIF& parser, std::string& text, const std::string& source,
              std::string& error) {
    TextBuffer buffer(text);
    std::istream stream(&buffer);
    const LoadResult result = parser.LoadStream(stream);
    if (result.second != DataParserStatus::Ok) {
        error = DescribeFailure(source, result, &text);
        return false;
    }
    return true;
}

}  // namespace

TextPosition PositionOf(std::string_view text, std::size_t offset) {
    TextPosition position;
    const std::size_t end = offset < text.size() ? offset : text.size();
    for (std::size_t index = 0; index < end; ++index) {
        const auto byte = static_cast<unsigned char>(text[index]);
        if (byte == '\n') {
            ++position.line;
            position.column = 1;
        } else if ((byte & 0xC0) != 0x80) {
            ++position.column;  // continuation bytes belong to the character before
        }
    }
    return position;
}

bool LoadDocument(DataParserIF& parser, const std::optional<std::string>& path, std::string& source,
                  std::string& error) {
    if (!path) {
        if (!ReadAll(std::cin, source)) {
            error = "cannot read standard input";
            return false;
        }
        return LoadText(parser, source, "standard input", error);
    }

    // Check the file first so that a missing, unreadable or wrong kind of
    // file gets a plain message instead of a parse status.
    struct stat before {};
    if (::stat(path->c_str(), &before) != 0) {
        error = "cannot read " + *path + ": " + std::strerror(errno);
        return false;
    }
    if (S_ISDIR(before.st_mode)) {
        error = "cannot read " + *path + ": it is a directory";
        return false;
    }
    const int descriptor = ::open(path->c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        error = "cannot read " + *path + ": " + std::strerror(errno);
        return false;
    }
    const bool regular = ::fstat(descriptor, &before) == 0 && S_ISREG(before.st_mode);
    const bool read = ReadDescriptor(descriptor, regular ? before.st_size : 0, source);
    ::close(descriptor);
    if (!read) {
        error = "cannot read " + *path + ": " + std::strerror(errno);
        return false;
    }
    if (!regular) {
        // Pipes and devices can be read only once: parse the bytes read.
        return LoadText(parser, source, *path, error);
    }

    const LoadResult result = parser.LoadFile(*path);
    if (result.second != DataParserStatus::Ok) {
        error = DescribeFailure(*path, result, &source);
        return false;
    }
    // The parser read the file again; its positions fit the bytes kept here
    // only if the file did not change in between.
    struct stat after {};
    if (::stat(path->c_str(), &after) != 0 || after.st_ino != before.st_ino ||
        after.st_dev != before.st_dev || after.st_size != before.st_size ||
        after.st_mtim.tv_sec != before.st_mtim.tv_sec ||
        after.st_mtim.tv_nsec != before.st_mtim.tv_nsec ||
        static_cast<std::size_t>(after.st_size) != source.size()) {
        error = "cannot read " + *path + ": it changed while it was being read";
        return false;
    }
    return true;
}

}  // namespace qiv::redact
