#include <gtest/gtest.h>

#include <pugixml.hpp>

#include <filesystem>
#include <functional>
#include <sstream>
#include <string>

#include "InterfaceFactory.h"
#include "TestSupport.h"

namespace qiv {
namespace {

using test::ParserWith;
using test::ReadFile;
using test::Saved;
using test::StdoutOf;
using test::TempDir;

constexpr unsigned int formatIndent = 0x01;

std::unique_ptr<DataParserIF> NewParser() { return InterfaceFactory::Create<DataParserIF>("XML"); }

std::string ErrorReport(int status, const std::string& description, long long offset) {
    const std::string at = std::to_string(offset);
    return "Error pugi status: " + std::to_string(status) + "\nError description: " + description +
           "\nError offset: " + at + " (error at [..." + at + "]\n\n";
}

// Loads `text` the given way; returns the result and what went to standard output.
enum class Source { File, String, Stream };
std::pair<LoadResult, std::string> Load(DataParserIF& parser, Source source,
                                        const std::string& text, const TempDir& dir) {
    LoadResult result;
    std::string out;
    if (source == Source::File) {
        const std::string path = dir.Write("doc.xml", text).string();
        out = StdoutOf([&] { result = parser.LoadFile(path); });
        const std::string announcement = "Loading XML document from " + path + "\n";
        EXPECT_EQ(out.substr(0, announcement.size()), announcement);
        out.erase(0, announcement.size());
    } else if (source == Source::String) {
        out = StdoutOf([&] { result = parser.LoadString(text); });
    } else {
        std::istringstream in(text);
        out = StdoutOf([&] { result = parser.LoadStream(in); });
    }
    return {result, out};
}

// ---- Outcomes and the parse-error report ----

TEST(Load, EveryWayAnnouncesOnlyFilesAndReportsFailuresAlike) {
    TempDir dir;
    for (Source source : {Source::File, Source::String, Source::Stream}) {
        SCOPED_TRACE(static_cast<int>(source));
        auto parser = NewParser();
        auto [ok, okOut] = Load(*parser, source, "<root><x>1</x></root>", dir);
        EXPECT_EQ(ok, LoadResult("No error", DataParserStatus::Ok));
        EXPECT_EQ(okOut, "");
        EXPECT_EQ(parser->FirstChild()->Name(), "root");

        // A failed load still drops the previous document.
        auto [bad, badOut] = Load(*parser, source, "<a>\n<b></a>", dir);
        EXPECT_EQ(bad, LoadResult("Start-end tags mismatch", DataParserStatus::EndElementMismatch));
        EXPECT_EQ(badOut, ErrorReport(14, "Start-end tags mismatch", 9));
        EXPECT_TRUE(parser->Child("root")->Invalid());
    }
}

TEST(Load, MalformedInputsGiveTheirStatusDescriptionAndOffset) {
    struct Case {
        const char* text;
        DataParserStatus status;
        const char* description;
        long long offset;
    };
    const Case cases[] = {
        {"", DataParserStatus::NoDocumentElement, "No document element found", 0},
        {"<", DataParserStatus::UnrecognizedTag, "Could not determine tag type", 0},
        {"<?xml", DataParserStatus::BadPi,
         "Error parsing document declaration/processing instruction", 4},
        {"<!-- x", DataParserStatus::BadComment, "Error parsing comment", 4},
        {"<a><![CDATA[x</a>", DataParserStatus::BadCData, "Error parsing CDATA section", 12},
        {"<!DOCTYPE", DataParserStatus::BadDoctype, "Error parsing document type declaration", 8},
        {"<a", DataParserStatus::BadStartElement, "Error parsing start element tag", 1},
        {"<a b=></a>", DataParserStatus::BadAttribute, "Error parsing element attribute", 5},
        {"<a></a", DataParserStatus::BadEndElement, "Error parsing end element tag", 5},
        {"text only", DataParserStatus::NoDocumentElement, "No document element found", 9},
    };
    for (const Case& c : cases) {
        auto parser = NewParser();
        LoadResult result;
        const std::string out = StdoutOf([&] { result = parser->LoadString(c.text); });
        EXPECT_EQ(result, LoadResult(c.description, c.status)) << c.text;
        EXPECT_EQ(out, ErrorReport(static_cast<int>(c.status), c.description, c.offset)) << c.text;
    }
}

TEST(Load, MissingFileAndUnreadableStream) {
    TempDir dir;
    const std::string path = (dir.Path() / "absent.xml").string();
    auto parser = NewParser();
    LoadResult result;
    std::string out = StdoutOf([&] { result = parser->LoadFile(path); });
    EXPECT_EQ(out,
              "Loading XML document from " + path + "\n" + ErrorReport(1, "File was not found", 0));
    EXPECT_EQ(result, LoadResult("File was not found", DataParserStatus::FileNotFound));

    std::istringstream in("<root/>");
    in.setstate(std::ios::badbit);
    out = StdoutOf([&] { result = parser->LoadStream(in); });
    EXPECT_EQ(result, LoadResult("Error reading from file/stream", DataParserStatus::IoError));
    EXPECT_EQ(out, ErrorReport(2, "Error reading from file/stream", 0));
}

TEST(Load, TextAndPathAreCutAtTheFirstNul) {
    auto parser = ParserWith(std::string("<a/>\0<b/>", 9));
    EXPECT_EQ(parser->FirstChild()->Name(), "a");
    EXPECT_TRUE(parser->FirstChild()->NextSibling()->Invalid());
    StdoutOf([&] {
        EXPECT_EQ(parser->LoadString(std::string("\0<a/>", 5)).second,
                  DataParserStatus::NoDocumentElement);
    });

    // The path is announced whole but loaded only up to the NUL.
    TempDir dir;
    const std::string withNul = dir.Write("doc.xml", "<root/>").string() + std::string("\0.x", 3);
    LoadResult result;
    EXPECT_EQ(StdoutOf([&] { result = parser->LoadFile(withNul); }),
              "Loading XML document from " + withNul + "\n");
    EXPECT_EQ(result.second, DataParserStatus::Ok);
}

// ---- Parse options ----

TEST(Load, EscapesAttributesAndCDataAreParsedButOnlyStringsKeepComments) {
    const std::string text =
        "<?xml version='1.0'?><?pi data?><!DOCTYPE r><!-- note -->"
        "<r a='x\ty'>&lt;\r\n<![CDATA[c]]><!--in--></r>";
    TempDir dir;
    for (Source source : {Source::File, Source::String, Source::Stream}) {
        SCOPED_TRACE(static_cast<int>(source));
        auto parser = NewParser();
        EXPECT_EQ(Load(*parser, source, text, dir).first.second, DataParserStatus::Ok);
        // No declaration, PI or doctype node.
        const std::string comments = source == Source::String ? "<!-- note -->" : "";
        const std::string inner = source == Source::String ? "<!--in-->" : "";
        EXPECT_EQ(Saved(*parser), comments + "<r a=\"x y\">&lt;\n<![CDATA[c]]>" + inner + "</r>");
    }
}

TEST(Load, FilesAndStreamsDetectTheirEncoding) {
    // "<r>\u00e9</r>" in UTF-16 little endian with a byte order mark.
    const std::string utf16{'\xff', '\xfe', '<', 0,   'r', 0,   '>', 0,   '\xe9',
                            0,      '<',    0,   '/', 0,   'r', 0,   '>', 0};
    TempDir dir;
    for (Source source : {Source::File, Source::Stream}) {
        auto parser = NewParser();
        EXPECT_EQ(Load(*parser, source, utf16, dir).first.second, DataParserStatus::Ok);
        EXPECT_EQ(parser->FirstChild()->ToString(), "\xc3\xa9");
        // Saving writes UTF-8 again.
        const auto saved = dir.Path() / "saved.xml";
        EXPECT_TRUE(parser->SaveFile(saved.string(), 0x04 | 0x08));
        EXPECT_EQ(ReadFile(saved), "<r>\xc3\xa9</r>");
    }
}

TEST(Reset, EmptiesTheDocumentAndKeepsItUsable) {
    auto parser = ParserWith("<!--c--><root a='1'><x/></root>");
    parser->Reset();
    EXPECT_EQ(parser->Type(), Node::TypeName::Document);
    EXPECT_TRUE(parser->FirstChild()->Invalid());
    EXPECT_EQ(Saved(*parser), "");
    EXPECT_EQ(Saved(*parser, formatIndent), "<?xml version=\"1.0\"?>\n");
    EXPECT_EQ(parser->LoadString("<again/>").second, DataParserStatus::Ok);
    EXPECT_EQ(parser->FirstChild()->Name(), "again");
}

// ---- Saving ----

TEST(Save, IndentsWithOneTabPerLevelAndWritesFilesAsStreams) {
    auto parser = ParserWith("<a><b><c>t</c></b></a>");
    const std::string expected =
        "<?xml version=\"1.0\"?>\n<a>\n\t<b>\n\t\t<c>t</c>\n\t</b>\n</a>\n";
    TempDir dir;
    const auto path = dir.Path() / "out.xml";
    EXPECT_EQ(StdoutOf([&] {
                  EXPECT_EQ(Saved(*parser, formatIndent), expected);
                  EXPECT_TRUE(parser->SaveFile(path.string(), formatIndent));
              }),
              "");
    EXPECT_EQ(ReadFile(path), expected);

    // The path is cut at a NUL.
    EXPECT_TRUE(parser->SaveFile(path.string() + std::string("\0.junk", 6), 0x04 | 0x08));
    EXPECT_EQ(ReadFile(path), "<a><b><c>t</c></b></a>");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()),
                            std::filesystem::directory_iterator()),
              1);
}

TEST(Save, FormatFlagsReachTheSerialiserUnchanged) {
    const char* text = "<a x='1' y='2'><b>t</b><c/></a>";
    auto parser = ParserWith(text);
    pugi::xml_document reference;
    ASSERT_TRUE(reference.load_string(text));
    // indent, BOM, raw, no declaration, indent attributes, and some mixes.
    for (unsigned int flags :
         {0x00u, 0x02u, 0x04u, 0x08u, 0x01u | 0x08u, 0x01u | 0x40u, 0x02u | 0x04u}) {
        std::ostringstream expected;
        reference.save(expected, "\t", flags, pugi::encoding_auto);
        EXPECT_EQ(Saved(*parser, flags), expected.str()) << "flags " << flags;
    }
}

TEST(Save, SaveFileFailsSilentlyForAnImpossiblePath) {
    auto parser = ParserWith("<a/>");
    TempDir dir;
    EXPECT_EQ(StdoutOf([&] {
                  EXPECT_FALSE(parser->SaveFile((dir.Path() / "no" / "dir.xml").string(), 1));
                  EXPECT_FALSE(parser->SaveFile(dir.Path().string(), 1));  // a directory
                  EXPECT_FALSE(parser->SaveFile("", 1));
              }),
              "");
}

}  // namespace
}  // namespace qiv
