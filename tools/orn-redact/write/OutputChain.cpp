#include "OutputChain.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ostream>

namespace qiv::redact {

namespace {

// Passes bytes on to another buffer and takes their SHA-256 on the way.
class DigestBuffer : public std::streambuf {
public:
    DigestBuffer(std::streambuf* to, Sha256& digest) : to_(to), digest_(digest) {}

protected:
    int_type overflow(int_type character) override {
        if (traits_type::eq_int_type(character, traits_type::eof())) {
            return traits_type::not_eof(character);
        }
        const char byte = traits_type::to_char_type(character);
        return xsputn(&byte, 1) == 1 ? character : traits_type::eof();
    }
    std::streamsize xsputn(const char* data, std::streamsize size) override {
        const std::streamsize written = to_ != nullptr ? to_->sputn(data, size) : 0;
        if (written > 0) {
            digest_.Update(data, static_cast<std::size_t>(written));
        }
        return written;
    }
    int sync() override { return to_ != nullptr ? to_->pubsync() : -1; }

private:
    std::streambuf* to_;
    Sha256& digest_;
};

// Takes in everything and keeps nothing (--check).
class NullBuffer : public std::streambuf {
protected:
    int_type overflow(int_type character) override { return traits_type::not_eof(character); }
    std::streamsize xsputn(const char*, std::streamsize size) override { return size; }
};

// content, with the SHA-256 of what it writes taken into digest when there is one.
ContentWriter Digesting(ContentWriter content, Sha256* digest) {
    if (digest == nullptr) {
        return content;
    }
    return [content = std::move(content), digest](std::ostream& out) {
        DigestBuffer buffer(out.rdbuf(), *digest);
        std::ostream through(&buffer);
        content(through);
        through.flush();
        if (!through) {
            out.setstate(std::ios::badbit);
        }
    };
}

}  // namespace

Compression OutputCompression(const FileTask& task, const Options& options, Compression input) {
    if (options.compress) {
        return CompressionFromName(*options.compress).value_or(Compression::None);
    }
    if (task.output && !task.inPlace) {
        return CompressionOfPath(*task.output);
    }
    return input;
}

// Writes what write streams, compressed as format; a failure of the
// compression sets the stream's badbit and is told in failure.
ContentWriter Compressing(const ContentWriter& write, Compression format, std::string& failure) {
    if (format == Compression::None) {
        return write;
    }
    return [&write, format, &failure](std::ostream& out) {
        CompressingBuffer buffer(*out.rdbuf(), format);
        std::ostream compressed(&buffer);
        write(compressed);
        if (!compressed) {
            out.setstate(std::ios::badbit);
        } else if (!buffer.Finish(failure)) {
            out.setstate(std::ios::badbit);
        }
    };
}

namespace {

// Writes to where the task says.
bool WriteTo(const FileTask& task, const ContentWriter& content, std::streambuf* standardOutput,
             bool spool, std::string& error) {
    if (task.discard) {
        NullBuffer nothing;
        std::ostream out(&nothing);
        content(out);
        return !out.bad();
    }
    const auto& target = task.inPlace ? task.input : task.output;
    if (target) {
        return WriteFileAtomically(*target, content, error,
                                   task.inPlace ? task.backup.value_or("") : std::string());
    }
    if (spool) {
        return WriteThroughSpool(standardOutput, content, error);
    }
    std::ostream out(standardOutput);
    content(out);
    out.flush();
    if (!out || std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        error =
            std::string("cannot write the document to standard output: ") + std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace

bool Deliver(const FileTask& task, const ContentWriter& content, Compression format, Sha256* digest,
             std::streambuf* standardOutput, bool spool, std::string& error) {
    if (std::string why; !LoadCodec(format, why)) {
        error = "cannot write " +
                (task.inPlace ? task.input : task.output).value_or("standard output") + ": " + why;
        return false;
    }
    std::string compressionFailure;
    const ContentWriter chain = Digesting(Compressing(content, format, compressionFailure), digest);
    const bool written = WriteTo(task, chain, standardOutput, spool, error);
    const auto& target = task.inPlace ? task.input : task.output;
    if (!compressionFailure.empty() && (spool || target)) {
        error = "cannot write " + target.value_or("standard output") + ": " + compressionFailure;
    }
    return written;
}

}  // namespace qiv::redact
