// Loading from strings, files and streams, the parse-error report on standard
// output, Reset, and saving.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <streambuf>
#include <string>

#include <pugixml.hpp>

#include "InterfaceFactory.h"
#include "TestSupport.h"

// A directory given to LoadFile makes pugixml ask for a buffer of the size
// that the file system reports for it, which no allocator can satisfy; the
// load then reports OutOfMemory. AddressSanitizer has to be told to return
// null there instead of stopping the program.
extern "C" __attribute__((visibility("default"), used)) const char* __asan_default_options() {
    return "allocator_may_return_null=1";
}

namespace qiv {
namespace {

using namespace std::string_literals;
using test::ParserWith;
using test::ReadFile;
using test::Saved;
using test::StdoutOf;
using test::TempDir;
using S = DataParserStatus;

constexpr unsigned int formatIndent = 0x01;
constexpr unsigned int formatRaw = 0x04 | 0x08;

std::unique_ptr<DataParserIF> NewParser() { return InterfaceFactory::Create<DataParserIF>("XML"); }

std::string ErrorReport(int status, const std::string& description, long long offset) {
    const std::string at = std::to_string(offset);
    return "Error pugi status: " + std::to_string(status) + "\nError description: " + description +
           "\nError offset: " + at + " (error at [..." + at + "]\n\n";
}

// Loads `text` from a file or a stream; returns the result and what went to
// standard output after the announcement that only file loads make.
std::pair<LoadResult, std::string> Load(DataParserIF& parser, bool fromFile,
                                        const std::string& text, const TempDir& dir) {
    LoadResult result;
    std::istringstream in(text);
    const std::string path = dir.Write("doc.xml", text).string();
    std::string out =
        StdoutOf([&] { result = fromFile ? parser.LoadFile(path) : parser.LoadStream(in); });
    const std::string announcement = fromFile ? "Loading XML document from " + path + "\n" : "";
    EXPECT_EQ(out.substr(0, announcement.size()), announcement);
    return {result, out.erase(0, announcement.size())};
}

// A stream that fails on the first read.
class FailingBuffer : public std::streambuf {
protected:
    int_type underflow() override { throw std::ios_base::failure("device gone"); }
};

// ---- Outcomes and the parse-error report ----

// LoadString gives what pugixml's own string load (with comments) gives for
// the same characters: tree, status, description and error offset. Between
// them the inputs produce every status that a text can produce; BadPCData,
// InternalError and AppendInvalidRoot come from no load.
TEST(Load, StringLoadMatchesPugixmlAndReportsEveryFailure) {
    const std::pair<std::string, S> cases[] = {
        {"<!-- lead --><a x='1'>t<![CDATA[c]]><b/>&amp;</a>", S::Ok},
        {"<?xml version='1.0' encoding='ISO-8859-1'?><a>\xE9</a>", S::Ok},
        {"<a>1</a>\0<b>2</b>"s, S::Ok},
        {"", S::NoDocumentElement},
        {"\0<a/>"s, S::NoDocumentElement},
        {"<", S::UnrecognizedTag},
        {"<?xml", S::BadPi},
        {"<!-- x", S::BadComment},
        {"<a><![CDATA[x</a>", S::BadCData},
        {"<!DOCTYPE", S::BadDoctype},
        {"<a", S::BadStartElement},
        {"<a b=></a>", S::BadAttribute},
        {"<a></a", S::BadEndElement},
        {"<a><b></a>", S::EndElementMismatch},
        {"<a>1\0</a>"s, S::EndElementMismatch},
    };
    for (const auto& [input, status] : cases) {
        SCOPED_TRACE(testing::PrintToString(input));
        pugi::xml_document expected;
        const pugi::xml_parse_result raw =
            expected.load_string(input.c_str(), pugi::parse_default | pugi::parse_comments);
        std::ostringstream expectedSaved;
        expected.save(expectedSaved, "\t", formatRaw);

        auto parser = NewParser();
        LoadResult result;
        const std::string report = StdoutOf([&] { result = parser->LoadString(input); });
        EXPECT_EQ(result, LoadResult(raw.description(), status));
        EXPECT_EQ(static_cast<int>(status), static_cast<int>(raw.status));
        EXPECT_EQ(Saved(*parser), expectedSaved.str());
        EXPECT_EQ(report, raw ? "" : ErrorReport(raw.status, raw.description(), raw.offset));
    }
    // A view is read up to its end, not to the NUL of the string behind it.
    auto parser = NewParser();
    const std::string text = "<a>1</a><b>2</b>";
    EXPECT_EQ(parser->LoadString(std::string_view(text).substr(0, 8)).second, S::Ok);
    EXPECT_EQ(Saved(*parser), "<a>1</a>");
    StdoutOf([&] { EXPECT_EQ(parser->LoadString({}).second, S::NoDocumentElement); });
}

// Files and streams use pugixml's defaults (no comments kept) and detect the
// encoding. Only file loads are announced; failures report as string loads do.
TEST(Load, FilesAndStreamsParseReportAndDropThePreviousDocument) {
    // "<r>\u00e9</r>" in UTF-16 little endian with a byte order mark.
    const std::string utf16{'\xff', '\xfe', '<', 0,   'r', 0,   '>', 0,   '\xe9',
                            0,      '<',    0,   '/', 0,   'r', 0,   '>', 0};
    TempDir dir;
    for (bool fromFile : {true, false}) {
        SCOPED_TRACE(fromFile);
        auto parser = NewParser();
        EXPECT_EQ(Load(*parser, fromFile,
                       "<?xml version='1.0'?><?pi data?><!DOCTYPE r><!-- note -->"
                       "<r a='x\ty'>&lt;\r\n<![CDATA[c]]><!--in--></r>",
                       dir),
                  std::make_pair(LoadResult("No error", S::Ok), ""s));
        // No declaration, PI, doctype or comment node.
        EXPECT_EQ(Saved(*parser), "<r a=\"x y\">&lt;\n<![CDATA[c]]></r>");

        EXPECT_EQ(Load(*parser, fromFile, "<a>\n<b></a>", dir),
                  std::make_pair(LoadResult("Start-end tags mismatch", S::EndElementMismatch),
                                 ErrorReport(14, "Start-end tags mismatch", 9)));
        EXPECT_TRUE(parser->Child("r")->Invalid());

        EXPECT_EQ(Load(*parser, fromFile, utf16, dir).first.second, S::Ok);
        EXPECT_EQ(parser->FirstChild()->ToString(), "\xc3\xa9");
        const auto saved = dir.Path() / "saved.xml";  // written as UTF-8
        EXPECT_TRUE(parser->SaveFile(saved.string(), formatRaw));
        EXPECT_EQ(ReadFile(saved), "<r>\xc3\xa9</r>");
    }
}

TEST(Load, FailuresOfTheFileOrTheStream) {
    TempDir dir;
    auto parser = NewParser();
    const std::string missing = (dir.Path() / "absent.xml").string();
    LoadResult result;
    EXPECT_EQ(
        StdoutOf([&] { result = parser->LoadFile(missing); }),
        "Loading XML document from " + missing + "\n" + ErrorReport(1, "File was not found", 0));
    EXPECT_EQ(result, LoadResult("File was not found", S::FileNotFound));

    std::istringstream unreadable("<root/>");
    unreadable.setstate(std::ios::badbit);
    EXPECT_EQ(StdoutOf([&] { result = parser->LoadStream(unreadable); }),
              ErrorReport(2, "Error reading from file/stream", 0));
    EXPECT_EQ(result, LoadResult("Error reading from file/stream", S::IoError));

    StdoutOf([&] {
        FailingBuffer failing;
        std::istream throwing(&failing);
        EXPECT_EQ(parser->LoadStream(throwing).second, S::IoError);
        EXPECT_EQ(parser->LoadFile(dir.Path().string()).second, S::OutOfMemory);
    });

    // The path is announced whole but loaded only up to a NUL.
    const std::string withNul = dir.Write("doc.xml", "<root/>").string() + "\0.x"s;
    EXPECT_EQ(StdoutOf([&] { result = parser->LoadFile(withNul); }),
              "Loading XML document from " + withNul + "\n");
    EXPECT_EQ(result.second, S::Ok);
}

TEST(Reset, EmptiesTheDocumentAndKeepsItUsable) {
    auto parser = ParserWith("<!--c--><root a='1'><x/></root>");
    parser->Reset();
    EXPECT_EQ(parser->Type(), Node::TypeName::Document);
    EXPECT_TRUE(parser->FirstChild()->Invalid());
    EXPECT_EQ(Saved(*parser), "");
    EXPECT_EQ(Saved(*parser, formatIndent), "<?xml version=\"1.0\"?>\n");
    EXPECT_EQ(parser->LoadString("<again/>").second, S::Ok);
    EXPECT_EQ(parser->FirstChild()->Name(), "again");
}

// ---- Saving ----

// Streams and files get what pugixml writes with the same flags, indented
// with one TAB per level. The path is cut at a NUL.
TEST(Save, FormatFlagsReachTheSerialiserAndFilesGetWhatStreamsGet) {
    const char* text = "<a x='1' y='2'><b><c>t</c></b></a>";
    auto parser = ParserWith(text);
    pugi::xml_document reference;
    ASSERT_TRUE(reference.load_string(text));
    TempDir dir;
    const auto path = dir.Path() / "out.xml";
    // indent, BOM, raw, no declaration, indent attributes, and some mixes.
    for (unsigned int flags :
         {0x00u, 0x01u, 0x02u, 0x04u, 0x08u, 0x01u | 0x08u, 0x01u | 0x40u, 0x02u | 0x04u}) {
        std::ostringstream expected;
        reference.save(expected, "\t", flags, pugi::encoding_auto);
        EXPECT_EQ(StdoutOf([&] {
                      EXPECT_EQ(Saved(*parser, flags), expected.str()) << flags;
                      EXPECT_TRUE(parser->SaveFile(path.string() + "\0.junk"s, flags));
                  }),
                  "");
        EXPECT_EQ(ReadFile(path), expected.str()) << flags;
    }
    EXPECT_EQ(Saved(*parser, formatIndent),
              "<?xml version=\"1.0\"?>\n<a x=\"1\" y=\"2\">\n\t<b>\n\t\t<c>t</c>\n\t</b>\n</a>\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()),
                            std::filesystem::directory_iterator()),
              1);
}

// A missing folder, a folder, no name, a place no one may create a file in,
// and a full device (for a small and a large document alike).
TEST(Save, WhereNothingCanBeWrittenSaveFileFailsSilently) {
    auto parser = ParserWith("<root>" + std::string(1 << 16, 'x') + "</root>");
    auto small = ParserWith("<r/>");
    TempDir dir;
    const auto missing = dir.Path() / "no" / "such" / "out.xml";
    EXPECT_EQ(StdoutOf([&] {
                  for (const std::string& path : {missing.string(), dir.Path().string(), ""s,
                                                  "/proc/orn-cannot-write.xml"s, "/dev/full"s}) {
                      EXPECT_FALSE(parser->SaveFile(path, 1)) << path;
                  }
                  EXPECT_FALSE(small->SaveFile("/dev/full", 1));
              }),
              "");
    EXPECT_FALSE(std::filesystem::exists(missing.parent_path()));

    // A stream that refuses output is left in its failed state.
    std::ostringstream closed;
    closed.setstate(std::ios::badbit);
    parser->SaveToStream(closed, 1);
    EXPECT_TRUE(closed.bad());
    EXPECT_TRUE(closed.str().empty());
}

}  // namespace
}  // namespace qiv
