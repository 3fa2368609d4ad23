// Broken and hostile input: the load statuses that input can produce, very
// deep, long and wide documents, bad bytes, unusable paths and XPath
// expressions that the engine refuses.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstddef>
#include <filesystem>
#include <memory>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "DataParserIF.h"
#include "InterfaceFactory.h"
#include "PugiXMLParser.h"
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

using test::LogCapture;
using test::ParserWith;
using test::Saved;
using test::TempDir;

constexpr unsigned int formatRaw = 0x04 | 0x08;
constexpr std::size_t deep = 100000;

std::string Nested(std::size_t depth) {
    std::string text;
    text.reserve(depth * 7);
    for (std::size_t i = 0; i < depth; ++i) {
        text += "<a>";
    }
    for (std::size_t i = 0; i < depth; ++i) {
        text += "</a>";
    }
    return text;
}

struct WalkResult {
    std::size_t nodes = 0;
    std::size_t maxDepth = 0;
    std::string deepestText;
};

// Depth-first walk through the interface with an explicit stack of wrappers;
// reads the text of every node.
WalkResult Walk(const DataParserIF& parser) {
    WalkResult result;
    std::vector<std::unique_ptr<Node>> path;
    if (auto first = parser.FirstChild(); !first->Invalid()) {
        path.push_back(std::move(first));
    }
    while (!path.empty()) {
        ++result.nodes;
        if (path.size() > result.maxDepth) {
            result.maxDepth = path.size();
            result.deepestText = path.back()->ToString();
        }
        if (auto child = path.back()->FirstChild(); !child->Invalid()) {
            path.push_back(std::move(child));
            continue;
        }
        while (!path.empty()) {
            auto next = path.back()->NextSibling();
            path.pop_back();
            if (!next->Invalid()) {
                path.push_back(std::move(next));
                break;
            }
        }
    }
    return result;
}

std::unique_ptr<PugiXMLParser> NewParser() {
    return std::make_unique<PugiXMLParser>();
}

std::unique_ptr<PugiXMLParser> XmlWith(const std::string& text) {
    auto parser = NewParser();
    EXPECT_EQ(parser->LoadString(text).second, DataParserStatus::Ok);
    return parser;
}

// A stream that fails on the first read.
class FailingBuffer : public std::streambuf {
  protected:
    int_type underflow() override { throw std::ios_base::failure("device gone"); }
};

TEST(HostileInputTest, EveryLoadStatusThatInputCanProduce) {
    // InternalError, AppendInvalidRoot and Unmapped never come from a load:
    // pugixml reports append_invalid_root only when a buffer is appended to a
    // node (the library never does that), internal_error is no outcome of its
    // parser, and every status it has is in the table. BadPCData was never
    // produced either, neither by the inputs below nor by the fuzz corpus.
    const std::vector<std::pair<std::string, DataParserStatus>> cases = {
        {"<root><child a='1'>text</child></root>", DataParserStatus::Ok},
        {"<!x>", DataParserStatus::UnrecognizedTag},
        {"<root><", DataParserStatus::UnrecognizedTag},
        {"<? ?>", DataParserStatus::BadPi},
        {"<root><!-- open", DataParserStatus::BadComment},
        {"<root><![CDATA[open", DataParserStatus::BadCData},
        {"<!DOCTYPE root [", DataParserStatus::BadDoctype},
        {"<root", DataParserStatus::BadStartElement},
        {"<root a>", DataParserStatus::BadAttribute},
        {"<root a=1/>", DataParserStatus::BadAttribute},
        {"<root></root", DataParserStatus::BadEndElement},
        {"<root></other>", DataParserStatus::EndElementMismatch},
        {"<root>unclosed", DataParserStatus::EndElementMismatch},
        {"", DataParserStatus::NoDocumentElement},
        {"<!-- only a comment -->", DataParserStatus::NoDocumentElement},
    };
    auto parser = NewParser();
    for (const auto& [text, status] : cases) {
        testing::internal::CaptureStdout();
        const LoadResult result = parser->LoadString(text);
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(result.second, status) << text;
        EXPECT_FALSE(result.first.empty()) << text;
        if (status != DataParserStatus::Ok) {
            EXPECT_EQ(
                out.rfind("Error pugi status: " + std::to_string(static_cast<int>(status)) + "\n",
                          0),
                0u)
                << out;
        }
    }

    TempDir dir;
    testing::internal::CaptureStdout();
    EXPECT_EQ(parser->LoadFile((dir.Path() / "missing.xml").string()).second,
              DataParserStatus::FileNotFound);
    EXPECT_EQ(parser->LoadFile(dir.Path().string()).second, DataParserStatus::OutOfMemory);
    std::istringstream broken("<root/>");
    broken.setstate(std::ios::badbit);
    EXPECT_EQ(parser->LoadStream(broken).second, DataParserStatus::IoError);
    FailingBuffer failing;
    std::istream throwing(&failing);
    EXPECT_EQ(parser->LoadStream(throwing).second, DataParserStatus::IoError);
    testing::internal::GetCapturedStdout();
}

TEST(HostileInputTest, UnreadableFileIsNotFound) {
    if (geteuid() == 0) {
        GTEST_SKIP() << "permission bits do not stop root";
    }
    TempDir dir;
    const auto file = dir.Write("secret.xml", "<root/>");
    std::filesystem::permissions(file, std::filesystem::perms::none);
    testing::internal::CaptureStdout();
    EXPECT_EQ(NewParser()->LoadFile(file.string()).second, DataParserStatus::FileNotFound);
    testing::internal::GetCapturedStdout();
}

TEST(HostileInputTest, DeepDocumentSurvivesEveryOperation) {
    const std::string text = Nested(deep);
    TempDir dir;
    const auto file = dir.Write("deep.xml", text);
    auto parser = NewParser();
    testing::internal::CaptureStdout();
    ASSERT_EQ(parser->LoadFile(file.string()).second, DataParserStatus::Ok);
    testing::internal::GetCapturedStdout();
    std::istringstream stream(text);
    ASSERT_EQ(parser->LoadStream(stream).second, DataParserStatus::Ok);
    ASSERT_EQ(parser->LoadString(text).second, DataParserStatus::Ok);

    const WalkResult walked = Walk(*parser);
    EXPECT_EQ(walked.nodes, deep);
    EXPECT_EQ(walked.maxDepth, deep);

    const auto all = parser->SelectNodes("//a");
    ASSERT_TRUE(all);
    EXPECT_EQ(all->Size(), deep);
    const auto innermost = parser->SelectNodes("//a[not(a)]");
    ASSERT_TRUE(innermost);
    ASSERT_EQ(innermost->Size(), 1u);
    EXPECT_EQ(innermost->First()->Parent()->Name(), "a");

    parser->RedactNodes({"//a[not(a)]", "/a"});
    const WalkResult redacted = Walk(*parser);
    EXPECT_EQ(redacted.deepestText, "redacted");
    EXPECT_EQ(parser->FirstChild()->ToString(), "redacted");

    const std::string saved = Saved(*parser, formatRaw);
    auto reloaded = NewParser();
    ASSERT_EQ(reloaded->LoadString(saved).second, DataParserStatus::Ok);
    EXPECT_EQ(Saved(*reloaded, formatRaw), saved);

    // Removing the outermost element frees the whole chain below it.
    std::unique_ptr<Node> outer = reloaded->FirstChild();
    EXPECT_TRUE(reloaded->RemoveChild(outer));
    EXPECT_TRUE(reloaded->FirstChild()->Invalid());
    parser->Reset();
    EXPECT_TRUE(parser->FirstChild()->Invalid());
}

TEST(HostileInputTest, RemovingAMillionLevelSubtreeDoesNotOverflowTheStack) {
    auto parser = ParserWith("<top>" + Nested(1000000) + "<b/></top>");
    std::unique_ptr<Node> top = parser->FirstChild();
    std::unique_ptr<Node> chain = top->FirstChild();
    std::unique_ptr<Node> sibling = chain->NextSibling();
    EXPECT_TRUE(top->RemoveChild(chain));
    EXPECT_EQ(Saved(*parser, formatRaw), "<top><b/></top>");

    // A node that is not a child is refused, and nothing of it is taken apart.
    auto other = ParserWith("<x>" + Nested(10) + "</x>");
    const std::string otherBefore = Saved(*other, formatRaw);
    std::unique_ptr<Node> inner = other->FirstChild()->FirstChild();
    EXPECT_FALSE(parser->RemoveChild(inner));
    EXPECT_FALSE(top->RemoveChild(inner));
    EXPECT_EQ(Saved(*other, formatRaw), otherBefore);

    EXPECT_TRUE(parser->RemoveChild(top));
    EXPECT_EQ(Saved(*parser, formatRaw), "");
}

TEST(HostileInputTest, LongNamesTextsAndManyAttributes) {
    const std::string name(1 << 20, 'n');
    const std::string text(4 << 20, 't');
    const std::string value(1 << 20, 'v');
    auto parser =
        ParserWith("<" + name + " " + name + "='" + value + "'>" + text + "</" + name + ">");
    const auto root = parser->FirstChild();
    EXPECT_EQ(root->Name(), name);
    EXPECT_EQ(root->ToString(), text);
    EXPECT_EQ(root->GetAttribute(name)->ToString(), value);
    const std::string saved = Saved(*parser, formatRaw);
    auto reloaded = ParserWith(saved);
    EXPECT_EQ(Saved(*reloaded, formatRaw), saved);

    constexpr int attributeCount = 100000;
    std::string wide = "<w";
    for (int i = 0; i < attributeCount; ++i) {
        wide += " a" + std::to_string(i) + "='" + std::to_string(i) + "'";
    }
    wide += "/>";
    auto many = XmlWith(wide);
    const auto element = many->FirstChild();
    int forward = 0;
    for (auto a = element->FirstAttribute(); !a->Invalid(); a = a->NextAttribute()) {
        ASSERT_EQ(a->ToInt(-1), forward++);
    }
    int backward = 0;
    for (auto a = element->LastAttribute(); !a->Invalid(); a = a->PreviousAttribute()) {
        ++backward;
    }
    EXPECT_EQ(forward, attributeCount);
    EXPECT_EQ(backward, attributeCount);
    EXPECT_EQ(element->GetAttribute("a99999")->ToUnsignedInt(), 99999u);
    const auto selected = many->SelectNodes("//@*");
    ASSERT_TRUE(selected);
    EXPECT_EQ(selected->Size(), static_cast<std::size_t>(attributeCount));
}

TEST(HostileInputTest, InvalidUtf8AndNulBytes) {
    // Bytes that are not UTF-8 are kept as they are, through load and save.
    const std::string bad = "\xc3\x28 \xed\xa0\x80 \xf8\x88\x80\x80\x80 \xff";
    const std::string xml = "<r a='\xfe\xff'>" + bad + "</r>";
    auto parser = ParserWith(xml);
    EXPECT_EQ(parser->FirstChild()->ToString(), bad);
    EXPECT_EQ(parser->FirstChild()->GetAttribute("a")->ToString(), "\xfe\xff");
    EXPECT_EQ(Saved(*parser, formatRaw), "<r a=\"\xfe\xff\">" + bad + "</r>");
    std::istringstream stream(xml);
    EXPECT_EQ(parser->LoadStream(stream).second, DataParserStatus::Ok);
    EXPECT_EQ(parser->FirstChild()->ToString(), bad);

    // A string load ends at the first NUL; a stream load reads on, but the
    // parser stops there too and what follows is lost.
    EXPECT_EQ(parser->LoadString(std::string("<r/>\0<garbage", 13)).second, DataParserStatus::Ok);
    testing::internal::CaptureStdout();
    EXPECT_EQ(parser->LoadString(std::string("<r>x\0</r>", 9)).second,
              DataParserStatus::EndElementMismatch);
    std::istringstream withNul(std::string("<r>x\0y</r>", 10));
    EXPECT_EQ(parser->LoadStream(withNul).second, DataParserStatus::EndElementMismatch);
    testing::internal::GetCapturedStdout();

    // Names and values with a NUL are cut at it.
    auto built = InterfaceFactory::Create<DataParserIF>("XML");
    auto root = built->AppendChild(std::string_view("ro\0ot", 5), std::string_view("v\0w", 3));
    ASSERT_TRUE(root);
    EXPECT_EQ(root->Name(), "ro");
    EXPECT_EQ(root->ToString(), "v");
}

TEST(HostileInputTest, SavingWhereNothingCanBeWritten) {
    auto parser = ParserWith("<root>" + std::string(1 << 16, 'x') + "</root>");
    TempDir dir;
    const auto missing = dir.Path() / "no" / "such" / "folder" / "out.xml";
    EXPECT_FALSE(parser->SaveFile(missing.string(), 1));
    EXPECT_FALSE(std::filesystem::exists(missing.parent_path()));
    EXPECT_FALSE(parser->SaveFile(dir.Path().string(), 1));  // a folder, not a file

    // A read-only folder; root may write anywhere, but no one may create a
    // file in /proc.
    std::filesystem::path readOnly = "/proc/orn-cannot-write.xml";
    if (geteuid() != 0) {
        std::filesystem::create_directory(dir.Path() / "ro");
        std::filesystem::permissions(dir.Path() / "ro", std::filesystem::perms::owner_read |
                                                            std::filesystem::perms::owner_exec);
        readOnly = dir.Path() / "ro" / "out.xml";
    }
    EXPECT_FALSE(parser->SaveFile(readOnly.string(), 1));
    EXPECT_FALSE(std::filesystem::exists(readOnly));

    // A full device: large and small documents alike report the failure.
    EXPECT_FALSE(parser->SaveFile("/dev/full", 1));
    auto small = ParserWith("<r/>");
    EXPECT_FALSE(small->SaveFile("/dev/full", 1));

    // A stream that refuses output is left in its failed state.
    std::ostringstream closed;
    closed.setstate(std::ios::badbit);
    parser->SaveToStream(closed, 1);
    EXPECT_TRUE(closed.bad());
    EXPECT_TRUE(closed.str().empty());
}

TEST(HostileInputTest, XPathThatIsHugeDeepOrNoNodeSet) {
    auto parser = XmlWith("<r><a x='1'>t</a><b/></r>");
    const std::string before = Saved(*parser, formatRaw);
    LogCapture log(LogLevel::Warning);

    // Long but flat: a literal of a megabyte is fine.
    const std::string literal(1 << 20, 'q');
    const auto flat = parser->SelectNodes("//a[@x='" + literal + "'] | //b");
    ASSERT_TRUE(flat);
    EXPECT_EQ(flat->Size(), 1u);
    EXPECT_TRUE(log.Records().empty());

    // Nesting deeper than the engine allows, in every shape, is refused with
    // an error record instead of exhausting the stack.
    std::string parentheses = std::string(100000, '(') + "/r" + std::string(100000, ')');
    std::string unions = "/r";
    std::string steps;
    std::string predicates = "//a";
    std::string negations = "//a[" + std::string(100000, '-') + "1]";
    for (int i = 0; i < 100000; ++i) {
        unions += "|/r";
        steps += "/r";
        predicates += "[1]";
    }
    const std::vector<std::string> tooDeep = {parentheses, unions, steps, predicates, negations};
    for (const std::string& query : tooDeep) {
        log.Clear();
        EXPECT_FALSE(parser->SelectNodes(query)) << query.substr(0, 20);
        ASSERT_EQ(log.Records().size(), 1u);
        EXPECT_EQ(log.Records()[0].level, LogLevel::Error);
        EXPECT_NE(log.Records()[0].message.find("Exceeded maximum allowed query depth"),
                  std::string::npos);
        EXPECT_EQ(
            log.Records()[0].message.size(),
            std::string(" error: Exceeded maximum allowed query depth with xpathQuery: ").size() +
                query.size());
    }

    // Expressions that end in a number, string or boolean, or never end.
    const std::vector<std::string> notNodeSets = {
        "count(//a)", "string(//a)", "1 = 1", "42", "'text'", "//a[", "(", "", "//a/@x + 1"};
    for (const std::string& query : notNodeSets) {
        EXPECT_FALSE(parser->SelectNodes(query)) << query;
    }
    log.Clear();
    parser->RedactNodes(notNodeSets);
    EXPECT_EQ(log.Records().size(), 2 * notNodeSets.size());
    parser->RedactNodes(tooDeep);
    EXPECT_EQ(Saved(*parser, formatRaw), before);
}

}  // namespace
}  // namespace qiv
