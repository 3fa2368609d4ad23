#include "ReadInput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <sstream>
#include <vector>

#include "Descriptor.h"
#include "Digest.h"

namespace qiv::redact {

bool ReadRest(ByteSource& source, const std::string& name, std::string& text,
              const MessageSink& message) {
    // Until the first character past a byte order mark and blanks is known,
    // in small pieces: input that cannot begin a document is refused before
    // more of it is read.
    constexpr std::size_t firstPiece = 4096;
    std::string more(1 << 20, '\0');
    Opening opening = Opening::Undecided;
    for (;;) {
        std::size_t at = 0;
        if (opening == Opening::Undecided) {
            opening = DocumentOpening(text, at);
        }
        if (opening == Opening::Other) {
            message(DescribeNotDocument(name, text, at));
            return false;
        }
        std::size_t got = 0;
        // Growing with what was read, so that a long run of blanks is looked
        // at a bounded number of times over.
        const std::size_t piece = opening == Opening::Undecided
                                      ? std::min(more.size(), std::max(firstPiece, text.size()))
                                      : more.size();
        if (!source.Read(more.data(), piece, got)) {
            message(source.Error());
            return false;
        }
        if (got == 0) {
            return true;
        }
        text.append(more, 0, got);
    }
}

bool Decompress(const std::optional<std::string>& path, InputDocument& input, Compression& format,
                InputDigest& digest, const MessageSink& message) {
    struct stat info {};
    if (path && (::stat(path->c_str(), &info) != 0 || !S_ISREG(info.st_mode))) {
        return true;  // the whole-document path says what is wrong, or reads it as it is
    }
    const int descriptor = path ? ::open(path->c_str(), O_RDONLY | O_CLOEXEC) : STDIN_FILENO;
    if (descriptor < 0) {
        return true;
    }
    const OwnedDescriptor owned(descriptor);
    if (!path && (::fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode))) {
        // A pipe: read it through the reader, which passes plain bytes on.
        ReaderSource source(descriptor, "standard input");
        format = source.Format();
        input.preread = true;
        return ReadRest(source, "standard input", input.text, message);
    }
    const off_t start = ::lseek(descriptor, 0, SEEK_CUR);
    ReaderSource source(descriptor, path.value_or("standard input"), digest.Reading());
    format = source.Format();
    if (format == Compression::None) {
        ::lseek(descriptor, start, SEEK_SET);
        digest.Restart();  // the file is parsed from its path and read again whole
        return true;
    }
    input.preread = true;
    if (!ReadRest(source, path.value_or("standard input"), input.text, message)) {
        return false;
    }
    digest.ReadWhole(static_cast<std::uint64_t>(info.st_size));
    return true;
}

bool DigestFile(const std::string& path, std::string& digest, std::uint64_t& bytes) {
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        return false;
    }
    Sha256 sha;
    std::vector<char> buffer(1 << 20);
    bool ok = true;
    for (;;) {
        const ssize_t got = ::read(descriptor, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            ok = got == 0;
            break;
        }
        sha.Update(buffer.data(), static_cast<std::size_t>(got));
    }
    ::close(descriptor);
    if (ok) {
        bytes = sha.Bytes();
        digest = sha.HexDigest();
    }
    return ok;
}

bool LoadAgain(DataParserIF& parser, InputDocument& input, std::string& error) {
    std::istringstream stream{std::string(input.source)};
    if (parser.LoadStream(stream).second != DataParserStatus::Ok) {
        error = "cannot parse the input again";
        return false;
    }
    return true;
}

InputDigest::InputDigest(bool wanted, const std::optional<std::string>& path) {
    if (wanted && path) {
        path_ = path;
        reading_.emplace();
    }
}

void InputDigest::Restart() {
    if (path_ && !taken_) {
        reading_.emplace();
    }
}

void InputDigest::ReadWhole(std::optional<std::uint64_t> size) {
    if (reading_ && !taken_ && reading_->Bytes() == size.value_or(reading_->Bytes())) {
        bytes_ = reading_->Bytes();
        hex_ = reading_->HexDigest();
        taken_ = true;
    }
    reading_.reset();
}

void InputDigest::FromBytes(std::string_view source) {
    if (path_ && !taken_) {
        Sha256 sha;
        sha.Update(source.data(), source.size());
        bytes_ = sha.Bytes();
        hex_ = sha.HexDigest();
        taken_ = true;
        reading_.reset();
    }
}

void InputDigest::Ensure() {
    if (path_ && !taken_) {
        taken_ = true;
        reading_.reset();
        if (!DigestFile(*path_, hex_, bytes_)) {
            hex_.clear();
            bytes_ = 0;
        }
    }
}

}  // namespace qiv::redact
