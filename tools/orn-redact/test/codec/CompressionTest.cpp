// Compressed streams: round trips through the writer and the reader for every
// format, what the format tools make of the output and the reverse, formats
// told by content, damaged input, concatenated streams, pipes, and readers
// dropped half-way.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "Compression.h"
#include "TestSupport.h"

namespace {

using namespace qiv::redact;
using qiv::test::TempDir;
using namespace std::string_literals;

const Compression compressed[] = {Compression::Gzip, Compression::Bzip2, Compression::Xz,
                                  Compression::Zstd};

// Bytes that hardly compress: a 64-bit xorshift generator's output.
std::string Noise(std::size_t size) {
    std::string bytes(size, '\0');
    std::uint64_t state = 0x9e3779b97f4a7c15ull;
    for (char& byte : bytes) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        byte = static_cast<char>(state >> 56);
    }
    return bytes;
}

// Repetitive XML, as the tool's input mostly is; the numbers keep blocks apart
// from being exact copies of each other.
std::string Records(std::size_t size) {
    std::string text = "<records>";
    for (int index = 0; text.size() < size; ++index) {
        text += "<record id='" + std::to_string(index) + "'><email>user" +
                std::to_string(index % 977) + "@post.example</email></record>\n";
    }
    return text + "</records>";
}

// Written through an ostream in uneven pieces and single characters, so that
// both ways into the buffer cross block boundaries.
std::string Compress(Compression format, const std::string& content) {
    std::stringbuf target;
    CompressingBuffer buffer(target, format);
    std::ostream out(&buffer);
    for (std::size_t at = 0, piece = 1; at < content.size(); at += piece, piece = piece * 3 + 1) {
        piece = std::min(piece % 300000, content.size() - at);
        if (piece == 1) {
            out.put(content[at]);
        } else {
            out.write(content.data() + at, static_cast<std::streamsize>(piece));
        }
    }
    std::string error;
    EXPECT_TRUE(out.good());
    EXPECT_TRUE(buffer.Finish(error)) << error;
    return target.str();
}

struct ReadResult {
    bool ok = false;
    std::string content;
    std::string error;
    Compression format = Compression::None;
    std::uint64_t sourceBytes = 0;
};

ReadResult ReadAll(int descriptor, const std::string& name) {
    ReadResult result;
    ByteReader reader(descriptor, name);
    result.format = reader.Format();
    std::vector<char> buffer(100000);
    std::size_t got = 0;
    while ((result.ok = reader.Read(buffer.data(), buffer.size(), got)) && got > 0) {
        result.content.append(buffer.data(), got);
    }
    result.error = reader.Error();
    result.sourceBytes = reader.SourceBytes();
    return result;
}

ReadResult ReadFile(const std::string& path) {
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_GE(descriptor, 0) << path;
    ReadResult result = ReadAll(descriptor, path);
    ::close(descriptor);
    return result;
}

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(Compression, NamesSuffixesAndMagicBytes) {
    const struct {
        Compression format;
        std::string name, path, head;
    } cases[] = {
        {Compression::None, "none", "a.xml", "<?xml"},
        {Compression::Gzip, "gzip", "dir.gz/a.xml.gz", std::string("\x1f\x8b\x08", 3)},
        {Compression::Bzip2, "bzip2", "a.bz2", "BZh9"},
        {Compression::Xz, "xz", "/tmp/a.xz",
         std::string("\xfd"
                     "7zXZ\0\0",
                     7)},
        {Compression::Zstd, "zstd", "a.zst", "\x28\xb5\x2f\xfd"},
    };
    for (const auto& each : cases) {
        EXPECT_EQ(CompressionName(each.format), each.name);
        EXPECT_EQ(CompressionFromName(each.name), each.format);
        EXPECT_EQ(CompressionOfPath(each.path), each.format) << each.path;
        EXPECT_EQ(CompressionOfContent(each.head), each.format) << each.name;
    }
    for (const char* name : {"", "gz", "GZIP", "zst", "gzip "}) {
        EXPECT_FALSE(CompressionFromName(name)) << name;
    }
    for (const char* path : {"", ".gz", "a.gz.xml", "a.GZ", "a.zstd", "a.bz"}) {
        EXPECT_EQ(CompressionOfPath(path), Compression::None) << path;
    }
    // Too short to hold the whole magic number.
    for (const std::string head : {"", "\x1f", "BZ",
                                   "\xfd"
                                   "7zXZ",
                                   "\x28\xb5\x2f"}) {
        EXPECT_EQ(CompressionOfContent(head), Compression::None) << head.size();
    }
}

TEST(Compression, EveryFormatRoundTripsEverySize) {
    const TempDir folder;
    const std::string contents[] = {"", "x", Noise(1100 * 1000), Records(2500 * 1000)};
    for (const Compression format : {Compression::None, Compression::Gzip, Compression::Bzip2,
                                     Compression::Xz, Compression::Zstd}) {
        for (const std::string& content : contents) {
            SCOPED_TRACE(std::string(CompressionName(format)) + ", " +
                         std::to_string(content.size()) + " bytes");
            const std::string packed = Compress(format, content);
            if (format == Compression::None) {
                EXPECT_EQ(packed, content);
            } else if (content.size() > 1000) {
                EXPECT_LT(packed.size(), content.size() * (content[0] == '<' ? 0.3 : 1.01));
            }
            const std::string path = folder.Write("packed", packed).string();
            const ReadResult read = ReadFile(path);
            ASSERT_TRUE(read.ok) << read.error;
            EXPECT_TRUE(read.content == content);
            EXPECT_EQ(read.format,
                      content.empty() && format == Compression::None ? Compression::None : format);
            EXPECT_EQ(read.sourceBytes, packed.size());
        }
    }
}

// What is written reads with the format's own tool, and what the tool writes
// reads here; a format whose tool is missing is left out.
TEST(Compression, FormatToolsReadTheOutputAndWriteTheInput) {
    const TempDir folder;
    const std::string content = Records(1500 * 1000);
    const std::string plain = folder.Write("plain", content).string();
    for (const Compression format : compressed) {
        const std::string tool(CompressionName(format));
        SCOPED_TRACE(tool);
        if (std::system(("command -v " + tool + " >/dev/null").c_str()) != 0) {
            continue;
        }
        const std::string packed = folder.Write("packed", Compress(format, content)).string();
        const std::string unpacked = (folder.Path() / "unpacked").string();
        ASSERT_EQ(std::system((tool + " -dc <" + packed + " >" + unpacked).c_str()), 0);
        EXPECT_TRUE(Slurp(unpacked) == content);

        ASSERT_EQ(std::system((tool + " -c <" + plain + " >" + packed).c_str()), 0);
        const ReadResult read = ReadFile(packed);
        ASSERT_TRUE(read.ok) << read.error;
        EXPECT_TRUE(read.content == content);
    }
}

// The name says gzip, the content does not: the content is read as it is.
TEST(Compression, FormatIsToldByContentNotName) {
    const TempDir folder;
    const std::string content = "<r>not compressed</r>";
    const ReadResult read = ReadFile(folder.Write("data.xml.gz", content).string());
    ASSERT_TRUE(read.ok) << read.error;
    EXPECT_EQ(read.format, Compression::None);
    EXPECT_EQ(read.content, content);
}

// Streams written one after another read as their contents one after another,
// as the format tools read them.
TEST(Compression, ConcatenatedStreamsReadAsOne) {
    const TempDir folder;
    const std::string first = Records(300 * 1000), second = "<tail/>", third = Noise(5000);
    for (const Compression format : compressed) {
        SCOPED_TRACE(CompressionName(format));
        const std::string packed =
            Compress(format, first) + Compress(format, second) + Compress(format, third);
        const ReadResult read = ReadFile(folder.Write("packed", packed).string());
        ASSERT_TRUE(read.ok) << read.error;
        EXPECT_TRUE(read.content == first + second + third);
    }
}

// A skippable frame (magic 0x184D2A50..5F little-endian, a 4-byte
// little-endian size, that many bytes) is passed over at the start, between
// frames and at the end, as zstd -dc passes it over.
TEST(Compression, ZstdSkippableFramesArePassedOver) {
    const TempDir folder;
    const std::string small = "\x50\x2a\x4d\x18\x03\0\0\0abc"s;
    const std::string large = "\x5f\x2a\x4d\x18\x70\x11\x01\0"s + Noise(70000);
    const std::string first = Compress(Compression::Zstd, "<r>");
    const std::string second = Compress(Compression::Zstd, Records(200 * 1000));
    const std::pair<std::string, std::string> cases[] = {
        {large + small + first + second, "<r>" + Records(200 * 1000)},
        {first + large + second + small, "<r>" + Records(200 * 1000)},
        {small, ""},
    };
    for (const auto& [packed, content] : cases) {
        const ReadResult read = ReadFile(folder.Write("packed", packed).string());
        ASSERT_TRUE(read.ok) << read.error;
        EXPECT_EQ(read.format, Compression::Zstd);
        EXPECT_TRUE(read.content == content) << content.size();
    }
}

// Damaged input fails with a message naming the input and the format.
TEST(Compression, TruncatedOrCorruptInputFailsWithAMessage) {
    const TempDir folder;
    const std::string content = Records(400 * 1000);
    for (const Compression format : compressed) {
        const std::string packed = Compress(format, content);
        std::string flipped = packed;
        flipped[flipped.size() / 2] = static_cast<char>(~flipped[flipped.size() / 2]);
        const struct {
            const char* damage;
            std::string bytes;
        } cases[] = {
            {"magic only", packed.substr(0, 6)},
            {"cut in half", packed.substr(0, packed.size() / 2)},
            {"last byte missing", packed.substr(0, packed.size() - 1)},
            {"byte flipped", flipped},
            {"garbage after the end", packed + "garbage"},
        };
        for (const auto& each : cases) {
            SCOPED_TRACE(std::string(CompressionName(format)) + ", " + each.damage);
            const std::string path = folder.Write("damaged", each.bytes).string();
            const ReadResult read = ReadFile(path);
            EXPECT_FALSE(read.ok);
            EXPECT_EQ(read.error.rfind("cannot read " + path + ": " +
                                           std::string(CompressionName(format)) + " data is ",
                                       0),
                      0u)
                << read.error;
        }
    }
}

// A pipe is read as it fills: a complete stream's content is handed out while
// the writer still holds the pipe open, and the rest follows.
TEST(Compression, PipesAreReadAsTheyFill) {
    for (const Compression format : {Compression::None, Compression::Gzip, Compression::Zstd}) {
        SCOPED_TRACE(CompressionName(format));
        const std::string first = Records(100 * 1000), second = Records(20 * 1000);
        const std::string packedFirst = Compress(format, first);
        const std::string packedSecond = Compress(format, second);
        int ends[2];
        ASSERT_EQ(::pipe(ends), 0);
        std::thread writer([&] {
            // Larger than a pipe holds, so that the reader must take some
            // before the writer can go on.
            ASSERT_EQ(::write(ends[1], packedFirst.data(), packedFirst.size()),
                      static_cast<ssize_t>(packedFirst.size()));
        });
        ByteReader reader(ends[0], "pipe");
        std::string content;
        std::vector<char> buffer(4096);
        std::size_t got = 0;
        while (content.size() < first.size() && reader.Read(buffer.data(), buffer.size(), got) &&
               got > 0) {
            content.append(buffer.data(), got);
        }
        writer.join();
        EXPECT_TRUE(content == first);
        ASSERT_EQ(::write(ends[1], packedSecond.data(), packedSecond.size()),
                  static_cast<ssize_t>(packedSecond.size()));
        ::close(ends[1]);
        while (reader.Read(buffer.data(), buffer.size(), got) && got > 0) {
            content.append(buffer.data(), got);
        }
        EXPECT_EQ(reader.Error(), "");
        EXPECT_TRUE(content == first + second);
        EXPECT_EQ(reader.SourceBytes(), packedFirst.size() + packedSecond.size());
        ::close(ends[0]);
    }
}

// A reader dropped half-way stops its thread: whether the thread waits for the
// reader to take what it has decompressed or for input that never comes.
TEST(Compression, ReaderDroppedHalfWayStops) {
    const TempDir folder;
    const std::string packed = Compress(Compression::Zstd, Records(8 * 1000 * 1000));
    const std::string path = folder.Write("packed", packed).string();
    char buffer[100];
    std::size_t got = 0;
    for (const bool fromPipe : {false, true}) {
        SCOPED_TRACE(fromPipe ? "pipe held open" : "file");
        int ends[2] = {-1, -1};
        if (fromPipe) {
            ASSERT_EQ(::pipe(ends), 0);
            ASSERT_EQ(::write(ends[1], packed.data(), 30000), 30000);
        } else {
            ends[0] = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        }
        {
            ByteReader reader(ends[0], "input");
            ASSERT_TRUE(reader.Read(buffer, sizeof buffer, got)) << reader.Error();
            EXPECT_EQ(got, sizeof buffer);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        for (const int end : ends) {
            if (end >= 0) {
                ::close(end);
            }
        }
    }
}

// A target that takes nothing: Finish fails with a message instead of
// claiming a complete stream. A buffer dropped without Finish stops its
// threads.
TEST(Compression, WriterFailsWhenTheTargetFails) {
    struct Refusing : std::streambuf {
        std::streamsize xsputn(const char*, std::streamsize) override { return 0; }
        int_type overflow(int_type) override { return traits_type::eof(); }
    };
    for (const Compression format : {Compression::None, Compression::Gzip, Compression::Zstd}) {
        SCOPED_TRACE(CompressionName(format));
        Refusing target;
        CompressingBuffer buffer(target, format);
        std::ostream out(&buffer);
        const std::string content = Noise(5 * 1000 * 1000);
        out.write(content.data(), static_cast<std::streamsize>(content.size()));
        std::string error;
        EXPECT_FALSE(buffer.Finish(error));
        EXPECT_EQ(error, "cannot write the compressed data");
        EXPECT_FALSE(buffer.Finish(error));
    }
    std::stringbuf target;
    CompressingBuffer unfinished(target, Compression::Gzip);
    std::ostream(&unfinished) << Records(3000 * 1000);
}

}  // namespace
