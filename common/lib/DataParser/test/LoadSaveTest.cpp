#include <gtest/gtest.h>

#include <pugixml.hpp>

#include <filesystem>
#include <sstream>
#include <string>

#include "InterfaceFactory.h"
#include "TestSupport.h"

namespace qiv {
namespace {

using test::ReadFile;
using test::TempDir;

constexpr unsigned int formatIndent = 0x01;
constexpr unsigned int formatRawNoDeclaration = 0x04 | 0x08;

std::unique_ptr<DataParserIF> NewParser() {
    return InterfaceFactory::Create<DataParserIF>("XML");
}

// Runs a call with standard output captured and returns what it printed.
template <typename Call>
std::string StdoutOf(Call&& call) {
    testing::internal::CaptureStdout();
    call();
    return testing::internal::GetCapturedStdout();
}

std::string ErrorReport(int status, const std::string& description, long long offset) {
    const std::string at = std::to_string(offset);
    return "Error pugi status: " + std::to_string(status) + "\nError description: " + description +
           "\nError offset: " + at + " (error at [..." + at + "]\n\n";
}

// ---- Loading from a file ----

TEST(LoadFile, AnnouncesThePathOnceAndLoads) {
    TempDir dir;
    const auto path = dir.Write("doc.xml", "<root><x>1</x></root>");
    auto parser = NewParser();
    LoadResult result;
    const std::string out = StdoutOf([&] { result = parser->LoadFile(path.string()); });
    EXPECT_EQ(out, "Loading XML document from " + path.string() + "\n");
    EXPECT_EQ(result.second, DataParserStatus::Ok);
    EXPECT_EQ(result.first, "No error");
    EXPECT_EQ(parser->FirstChild()->Name(), "root");
}

TEST(LoadFile, MissingFileReportsFileNotFoundAfterTheAnnouncement) {
    TempDir dir;
    const std::string path = (dir.Path() / "absent.xml").string();
    auto parser = NewParser();
    LoadResult result;
    const std::string out = StdoutOf([&] { result = parser->LoadFile(path); });
    EXPECT_EQ(out,
              "Loading XML document from " + path + "\n" + ErrorReport(1, "File was not found", 0));
    EXPECT_EQ(result.second, DataParserStatus::FileNotFound);
    EXPECT_EQ(result.first, "File was not found");
    EXPECT_TRUE(parser->FirstChild()->Invalid());
}

TEST(LoadFile, MalformedFileReportsTheParseError) {
    TempDir dir;
    const auto path = dir.Write("bad.xml", "<a></b>");
    auto parser = NewParser();
    LoadResult result;
    const std::string out = StdoutOf([&] { result = parser->LoadFile(path.string()); });
    EXPECT_EQ(out, "Loading XML document from " + path.string() + "\n" +
                       ErrorReport(14, "Start-end tags mismatch", 5));
    EXPECT_EQ(result.second, DataParserStatus::EndElementMismatch);
}

TEST(LoadFile, PathIsCutAtNulForLoadingButAnnouncedWhole) {
    TempDir dir;
    const auto path = dir.Write("doc.xml", "<root/>");
    const std::string withNul = path.string() + std::string("\0.ignored", 9);
    auto parser = NewParser();
    LoadResult result;
    const std::string out = StdoutOf([&] { result = parser->LoadFile(withNul); });
    EXPECT_EQ(out, "Loading XML document from " + withNul + "\n");
    EXPECT_EQ(result.second, DataParserStatus::Ok);
    EXPECT_EQ(parser->FirstChild()->Name(), "root");
}

// ---- Loading from a string ----

TEST(LoadString, WellFormedTextLoadsSilently) {
    auto parser = NewParser();
    LoadResult result;
    const std::string out = StdoutOf([&] { result = parser->LoadString("<root a='1'/>"); });
    EXPECT_EQ(out, "");
    EXPECT_EQ(result, LoadResult("No error", DataParserStatus::Ok));
}

TEST(LoadString, EmptyTextHasNoDocumentElement) {
    auto parser = NewParser();
    LoadResult result;
    const std::string out = StdoutOf([&] { result = parser->LoadString(""); });
    EXPECT_EQ(out, ErrorReport(16, "No document element found", 0));
    EXPECT_EQ(result, LoadResult("No document element found", DataParserStatus::NoDocumentElement));
}

TEST(LoadString, MalformedInputsGiveTheirStatusDescriptionAndOffset) {
    struct Case {
        const char* text;
        DataParserStatus status;
        const char* description;
        long long offset;
    };
    const Case cases[] = {
        {"<", DataParserStatus::UnrecognizedTag, "Could not determine tag type", 0},
        {"<?xml", DataParserStatus::BadPi,
         "Error parsing document declaration/processing instruction", 4},
        {"<!-- x", DataParserStatus::BadComment, "Error parsing comment", 4},
        {"<a><![CDATA[x</a>", DataParserStatus::BadCData, "Error parsing CDATA section", 12},
        {"<!DOCTYPE", DataParserStatus::BadDoctype, "Error parsing document type declaration", 8},
        {"<a", DataParserStatus::BadStartElement, "Error parsing start element tag", 1},
        {"<a b=></a>", DataParserStatus::BadAttribute, "Error parsing element attribute", 5},
        {"<a></a", DataParserStatus::BadEndElement, "Error parsing end element tag", 5},
        {"<a>", DataParserStatus::EndElementMismatch, "Start-end tags mismatch", 2},
        {"text only", DataParserStatus::NoDocumentElement, "No document element found", 9},
    };
    for (const Case& c : cases) {
        auto parser = NewParser();
        LoadResult result;
        const std::string out = StdoutOf([&] { result = parser->LoadString(c.text); });
        EXPECT_EQ(result.second, c.status) << c.text;
        EXPECT_EQ(result.first, c.description) << c.text;
        EXPECT_EQ(out, ErrorReport(static_cast<int>(c.status), c.description, c.offset)) << c.text;
    }
}

TEST(LoadString, TextIsCutAtTheFirstNul) {
    auto parser = NewParser();
    const std::string text("<a/>\0<b/>", 9);
    EXPECT_EQ(parser->LoadString(text).second, DataParserStatus::Ok);
    EXPECT_EQ(parser->FirstChild()->Name(), "a");
    EXPECT_TRUE(parser->FirstChild()->NextSibling()->Invalid());

    // A NUL before the document element leaves nothing to parse.
    testing::internal::CaptureStdout();
    EXPECT_EQ(parser->LoadString(std::string("\0<a/>", 5)).second,
              DataParserStatus::NoDocumentElement);
    testing::internal::GetCapturedStdout();
}

// ---- Loading from a stream ----

TEST(LoadStream, LoadsTheRemainingContentSilently) {
    std::istringstream in("<root><x/></root>");
    auto parser = NewParser();
    LoadResult result;
    const std::string out = StdoutOf([&] { result = parser->LoadStream(in); });
    EXPECT_EQ(out, "");
    EXPECT_EQ(result, LoadResult("No error", DataParserStatus::Ok));
    EXPECT_EQ(parser->FirstChild()->FirstChild()->Name(), "x");
}

TEST(LoadStream, FailureWritesTheReportWithoutAnnouncement) {
    std::istringstream in("<a><b></a>");
    auto parser = NewParser();
    LoadResult result;
    const std::string out = StdoutOf([&] { result = parser->LoadStream(in); });
    EXPECT_EQ(result.second, DataParserStatus::EndElementMismatch);
    EXPECT_EQ(out.rfind("Error pugi status: 14\nError description: Start-end tags mismatch\n", 0),
              0u)
        << out;
    EXPECT_EQ(out.find("Loading"), std::string::npos);
}

TEST(LoadStream, StartsWhereTheStreamStands) {
    std::istringstream in("skip<root/>");
    char skipped[4];
    in.read(skipped, 4);
    auto parser = NewParser();
    EXPECT_EQ(parser->LoadStream(in).second, DataParserStatus::Ok);
    EXPECT_EQ(parser->FirstChild()->Name(), "root");
}

TEST(LoadStream, UnreadableStreamIsAnIoError) {
    std::istringstream in("<root/>");
    in.setstate(std::ios::badbit);
    auto parser = NewParser();
    LoadResult result;
    const std::string out = StdoutOf([&] { result = parser->LoadStream(in); });
    EXPECT_EQ(result, LoadResult("Error reading from file/stream", DataParserStatus::IoError));
    EXPECT_EQ(out, ErrorReport(2, "Error reading from file/stream", 0));
}

// ---- Parse options shared by all loads ----

TEST(LoadOptions, EscapesLineEndsAttributesAndCDataAreParsedDeclarationsDropped) {
    const std::string text =
        "<?xml version='1.0'?><?pi data?><!DOCTYPE r><r a='x\ty'>&lt;\r\n<![CDATA[c]]></r>";
    TempDir dir;
    const auto path = dir.Write("options.xml", text);
    std::istringstream in(text);

    auto fromString = NewParser();
    auto fromFile = NewParser();
    auto fromStream = NewParser();
    EXPECT_EQ(fromString->LoadString(text).second, DataParserStatus::Ok);
    testing::internal::CaptureStdout();
    EXPECT_EQ(fromFile->LoadFile(path.string()).second, DataParserStatus::Ok);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(fromStream->LoadStream(in).second, DataParserStatus::Ok);

    for (DataParserIF* parser : {fromString.get(), fromFile.get(), fromStream.get()}) {
        auto root = parser->FirstChild();
        EXPECT_EQ(root->Name(), "r");  // no declaration, PI or doctype node
        EXPECT_TRUE(root->PreviousSibling()->Invalid());
        EXPECT_EQ(root->GetAttribute("a")->ToString(), "x y");
        EXPECT_EQ(root->ToString(), "<\n");
        EXPECT_EQ(root->LastChild()->Type(), Node::TypeName::CData);
    }
}

TEST(LoadOptions, FilesAndStreamsDetectTheirEncoding) {
    // "<r>\u00e9</r>" in UTF-16 little endian with a byte order mark.
    const std::string utf16{'\xff', '\xfe', '<', 0,   'r', 0,   '>', 0,   '\xe9',
                            0,      '<',    0,   '/', 0,   'r', 0,   '>', 0};
    TempDir dir;
    const auto path = dir.Write("utf16.xml", utf16);
    auto fromFile = NewParser();
    testing::internal::CaptureStdout();
    EXPECT_EQ(fromFile->LoadFile(path.string()).second, DataParserStatus::Ok);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(fromFile->FirstChild()->ToString(), "\xc3\xa9");

    std::istringstream in(utf16);
    auto fromStream = NewParser();
    EXPECT_EQ(fromStream->LoadStream(in).second, DataParserStatus::Ok);
    EXPECT_EQ(fromStream->FirstChild()->ToString(), "\xc3\xa9");

    // Saving writes UTF-8 again.
    const auto saved = dir.Path() / "saved.xml";
    EXPECT_TRUE(fromFile->SaveFile(saved.string(), formatRawNoDeclaration));
    EXPECT_EQ(ReadFile(saved), "<r>\xc3\xa9</r>");
}

// ---- Comments: kept by string loads only ----

TEST(LoadComments, OnlyStringLoadsKeepComments) {
    const std::string text = "<!-- note --><root/>";

    auto fromString = test::ParserWith(text);
    EXPECT_EQ(fromString->FirstChild()->Type(), Node::TypeName::Comment);
    EXPECT_EQ(fromString->LastChild()->Name(), "root");

    TempDir dir;
    const auto path = dir.Write("c.xml", text);
    auto fromFile = NewParser();
    testing::internal::CaptureStdout();
    EXPECT_EQ(fromFile->LoadFile(path.string()).second, DataParserStatus::Ok);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(fromFile->FirstChild()->Name(), "root");
    EXPECT_TRUE(fromFile->FirstChild()->PreviousSibling()->Invalid());

    std::istringstream in(text);
    auto fromStream = NewParser();
    EXPECT_EQ(fromStream->LoadStream(in).second, DataParserStatus::Ok);
    EXPECT_EQ(fromStream->FirstChild()->Name(), "root");
    EXPECT_EQ(test::Saved(*fromStream), "<root/>");
}

// ---- Replacing and emptying the document ----

TEST(Reload, EveryLoadReplacesThePreviousDocument) {
    auto parser = test::ParserWith("<first><x/></first>");
    std::istringstream in("<second/>");
    EXPECT_EQ(parser->LoadStream(in).second, DataParserStatus::Ok);
    EXPECT_EQ(test::Saved(*parser), "<second/>");

    EXPECT_EQ(parser->LoadString("<third/>").second, DataParserStatus::Ok);
    EXPECT_EQ(test::Saved(*parser), "<third/>");
}

TEST(Reload, FailedLoadStillDropsThePreviousDocument) {
    auto parser = test::ParserWith("<first/>");
    testing::internal::CaptureStdout();
    EXPECT_EQ(parser->LoadString("<broken>").second, DataParserStatus::EndElementMismatch);
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(parser->Child("first")->Invalid());
}

TEST(Reset, EmptiesTheDocumentAndKeepsItUsable) {
    auto parser = test::ParserWith("<!--c--><root a='1'><x/></root>");
    parser->Reset();
    EXPECT_EQ(parser->Type(), Node::TypeName::Document);
    EXPECT_FALSE(parser->Invalid());
    EXPECT_TRUE(parser->FirstChild()->Invalid());
    EXPECT_TRUE(parser->LastChild()->Invalid());
    EXPECT_EQ(test::Saved(*parser), "");

    EXPECT_EQ(parser->LoadString("<again/>").second, DataParserStatus::Ok);
    EXPECT_EQ(parser->FirstChild()->Name(), "again");
}

// ---- Saving ----

TEST(Save, IndentFlagIndentsEachLevelWithOneTab) {
    auto parser = test::ParserWith("<a><b><c>t</c></b></a>");
    const std::string expected =
        "<?xml version=\"1.0\"?>\n<a>\n\t<b>\n\t\t<c>t</c>\n\t</b>\n</a>\n";
    EXPECT_EQ(test::Saved(*parser, formatIndent), expected);

    TempDir dir;
    const auto path = dir.Path() / "out.xml";
    EXPECT_TRUE(parser->SaveFile(path.string(), formatIndent));
    const std::string file = ReadFile(path);
    EXPECT_EQ(file, expected);
    EXPECT_EQ(file.find("  "), std::string::npos);
}

TEST(Save, FormatFlagsReachTheSerialiserUnchanged) {
    const char* text = "<a x='1' y='2'><b>t</b><c/></a>";
    auto parser = test::ParserWith(text);
    pugi::xml_document reference;
    ASSERT_TRUE(reference.load_string(text));

    // indent, BOM, raw, no declaration, indent attributes, and some mixes.
    for (unsigned int flags : {0x00u, 0x01u, 0x02u, 0x04u, 0x08u, 0x01u | 0x08u, 0x01u | 0x40u,
                               0x04u | 0x08u, 0x02u | 0x04u}) {
        std::ostringstream expected;
        reference.save(expected, "\t", flags, pugi::encoding_auto);
        EXPECT_EQ(test::Saved(*parser, flags), expected.str()) << "flags " << flags;
    }
}

TEST(Save, SaveFileWritesWhatSaveToStreamWrites) {
    auto parser = test::ParserWith("<a><b/></a>");
    TempDir dir;
    for (unsigned int flags : {0x01u, formatRawNoDeclaration}) {
        const auto path = dir.Path() / ("out" + std::to_string(flags) + ".xml");
        EXPECT_TRUE(parser->SaveFile(path.string(), flags));
        EXPECT_EQ(ReadFile(path), test::Saved(*parser, flags));
    }
}

TEST(Save, NothingGoesToStandardOutput) {
    auto parser = test::ParserWith("<a><b/></a>");
    TempDir dir;
    std::ostringstream stream;
    const std::string out = StdoutOf([&] {
        parser->SaveToStream(stream, formatIndent);
        parser->SaveFile((dir.Path() / "x.xml").string(), formatIndent);
    });
    EXPECT_EQ(out, "");
    EXPECT_EQ(stream.str(), "<?xml version=\"1.0\"?>\n<a>\n\t<b />\n</a>\n");
}

TEST(Save, SaveFileFailsSilentlyForAnImpossiblePath) {
    auto parser = test::ParserWith("<a/>");
    TempDir dir;
    std::string out = StdoutOf([&] {
        EXPECT_FALSE(parser->SaveFile((dir.Path() / "no" / "such" / "dir.xml").string(), 1));
        EXPECT_FALSE(parser->SaveFile(dir.Path().string(), 1));  // a directory
        EXPECT_FALSE(parser->SaveFile("", 1));
    });
    EXPECT_EQ(out, "");
}

TEST(Save, SaveFilePathIsCutAtNul) {
    auto parser = test::ParserWith("<a/>");
    TempDir dir;
    const auto path = dir.Path() / "out.xml";
    EXPECT_TRUE(
        parser->SaveFile(path.string() + std::string("\0.junk", 6), formatRawNoDeclaration));
    EXPECT_EQ(ReadFile(path), "<a/>");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()),
                            std::filesystem::directory_iterator()),
              1);
}

TEST(Save, EmptyDocumentSavesOnlyTheDeclarationIfAsked) {
    auto parser = NewParser();
    EXPECT_EQ(test::Saved(*parser), "");
    EXPECT_EQ(test::Saved(*parser, formatIndent), "<?xml version=\"1.0\"?>\n");
}

}  // namespace
}  // namespace qiv
