#include "ReadInput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <sstream>
#include <vector>

#include "Descriptor.h"
#include "Digest.h"

namespace qiv::redact {

bool ReadRest(ByteSource& source, std::string& text, const MessageSink& message) {
    std::string more(1 << 20, '\0');
    for (;;) {
        std::size_t got = 0;
        if (!source.Read(more.data(), more.size(), got)) {
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
                const MessageSink& message) {
    struct stat info {};
    if (path && (::stat(path->c_str(), &info) != 0 || !S_ISREG(info.st_mode))) {
        return true;  // the whole-document path says what is wrong, or reads it as it is
    }
    const int descriptor =
        path ? ::open(path->c_str(), O_RDONLY | O_CLOEXEC) : STDIN_FILENO;
    if (descriptor < 0) {
        return true;
    }
    const OwnedDescriptor owned(descriptor);
    if (!path && (::fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode))) {
        // A pipe: read it through the reader, which passes plain bytes on.
        ReaderSource source(descriptor, "standard input");
        format = source.Format();
        input.preread = true;
        return ReadRest(source, input.text, message);
    }
    const off_t start = ::lseek(descriptor, 0, SEEK_CUR);
    ReaderSource source(descriptor, path.value_or("standard input"));
    format = source.Format();
    if (format == Compression::None) {
        ::lseek(descriptor, start, SEEK_SET);
        return true;
    }
    input.preread = true;
    return ReadRest(source, input.text, message);
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


}  // namespace qiv::redact
