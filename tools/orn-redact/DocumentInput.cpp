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

bool LoadDocument(DataParserIF& parser, const std::optional<std::string>& path,
                  std::string& error) {
    if (!path) {
        std::string text;
        if (!ReadAll(std::cin, text)) {
            error = "cannot read standard input";
            return false;
        }
        std::istringstream stream(text);
        const LoadResult result = parser.LoadStream(stream);
        if (result.second != DataParserStatus::Ok) {
            error = DescribeFailure("standard input", result, &text);
            return false;
        }
        return true;
    }

    // Check the file first so that a missing, unreadable or wrong kind of
    // file gets a plain message instead of a parse status.
    struct stat info {};
    if (::stat(path->c_str(), &info) != 0) {
        error = "cannot read " + *path + ": " + std::strerror(errno);
        return false;
    }
    if (S_ISDIR(info.st_mode)) {
        error = "cannot read " + *path + ": it is a directory";
        return false;
    }
    const int descriptor = ::open(path->c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        error = "cannot read " + *path + ": " + std::strerror(errno);
        return false;
    }
    ::close(descriptor);

    if (!S_ISREG(info.st_mode)) {
        // Pipes and devices cannot be measured up front; read them as a stream.
        std::ifstream file(*path, std::ios::binary);
        std::string text;
        if (!file || !ReadAll(file, text)) {
            error = "cannot read " + *path;
            return false;
        }
        std::istringstream stream(text);
        const LoadResult result = parser.LoadStream(stream);
        if (result.second != DataParserStatus::Ok) {
            error = DescribeFailure(*path, result, &text);
            return false;
        }
        return true;
    }

    const LoadResult result = parser.LoadFile(*path);
    if (result.second == DataParserStatus::Ok) {
        return true;
    }
    std::ifstream file(*path, std::ios::binary);
    std::string text;
    const bool haveText = file && ReadAll(file, text);
    error = DescribeFailure(*path, result, haveText ? &text : nullptr);
    return false;
}

}  // namespace qiv::redact
