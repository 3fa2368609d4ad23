#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include <pugixml.hpp>

#include "InterfaceFactory.h"
#include "PugiXMLParser.h"
#include "TestSupport.h"

namespace qiv {
namespace {

using namespace std::string_literals;

constexpr const char* parserLogFile = "common/lib/DataParser/src/PugiXMLParser";

PugiXMLParser& Xml(DataParserIF& parser) {
    return dynamic_cast<PugiXMLParser&>(parser);
}

// What pugixml itself says about a query that it refuses; empty if it accepts it.
std::string PugixmlComplaint(const std::string& query) {
    try {
        pugi::xml_document().select_nodes(query.c_str());
    } catch (const pugi::xpath_exception& error) {
        return error.what();
    }
    return {};
}

void ExpectRecord(const LogRecord& record, const std::string& function, int line, LogLevel level,
                  const std::string& message) {
    EXPECT_EQ(record.file, parserLogFile);
    EXPECT_EQ(record.function, function);
    EXPECT_EQ(record.line, line);
    EXPECT_EQ(record.level, level);
    EXPECT_EQ(record.category, 0x800B);
    EXPECT_EQ(record.message, message);
}

void ExpectSelectionError(const LogRecord& record, const std::string& query) {
    const std::string complaint = PugixmlComplaint(query);
    ASSERT_FALSE(complaint.empty()) << query;
    ExpectRecord(record, "SelectNodes", 596, LogLevel::Error,
                 " error: " + complaint + " with xpathQuery: " + query);
}

void ExpectNothingSelected(const LogRecord& record, const std::string& query) {
    ExpectRecord(record, "DoRedactNodes", 622, LogLevel::Warning,
                 "No nodes selected for xpath-query: " + query);
}

// Makes every allocation of pugixml's own allocator fail while it lives.
// Deallocation stays as it was, so memory taken earlier is freed as usual.
class FailingPugixmlAllocation {
  public:
    FailingPugixmlAllocation()
        : allocate_(pugi::get_memory_allocation_function()),
          deallocate_(pugi::get_memory_deallocation_function()) {
        pugi::set_memory_management_functions([](std::size_t) -> void* { return nullptr; },
                                              deallocate_);
    }
    ~FailingPugixmlAllocation() { pugi::set_memory_management_functions(allocate_, deallocate_); }
    FailingPugixmlAllocation(const FailingPugixmlAllocation&) = delete;
    FailingPugixmlAllocation& operator=(const FailingPugixmlAllocation&) = delete;

  private:
    pugi::allocation_function allocate_;
    pugi::deallocation_function deallocate_;
};

// ---- Selection ----

TEST(SelectNodes, QueriesAreEvaluatedFromTheDocumentNode) {
    auto parser = test::ParserWith("<a><b>1</b><b>2</b></a>");
    test::LogCapture log(LogLevel::Debug);

    const auto top = Xml(*parser).SelectNodes("a");
    ASSERT_NE(top, nullptr);
    ASSERT_EQ(top->Size(), 1u);
    EXPECT_STREQ(top->Begin()->node().name(), "a");

    const auto children = Xml(*parser).SelectNodes("a/b");
    ASSERT_NE(children, nullptr);
    EXPECT_EQ(children->Size(), 2u);

    const auto self = Xml(*parser).SelectNodes(".");
    ASSERT_NE(self, nullptr);
    ASSERT_EQ(self->Size(), 1u);
    EXPECT_EQ(self->Begin()->node().type(), pugi::node_document);

    // b is not a child of the document node.
    const auto none = Xml(*parser).SelectNodes("b");
    ASSERT_NE(none, nullptr);
    EXPECT_TRUE(none->Empty());
    EXPECT_TRUE(log.Records().empty());
}

TEST(SelectNodes, QueryIsReadUpToItsFirstNul) {
    auto parser = test::ParserWith("<a><b>1</b><b>2</b></a>");
    const auto set = Xml(*parser).SelectNodes("//b\0["s);
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(set->Size(), 2u);
}

TEST(SelectNodes, FailingQueriesGiveNullAndOneErrorRecord) {
    auto parser = test::ParserWith("<a><b>1</b></a>");
    // Malformed, and well-formed but not yielding a node set. pugixml reads the
    // last one only up to its NUL, but the record shows every character.
    for (const std::string& query :
         {"//b["s, "//b)"s, ""s, "count(//b)"s, "1+1"s, "'x'"s, "true()"s, "1+1\0//b"s}) {
        test::LogCapture log(LogLevel::Debug);
        EXPECT_EQ(Xml(*parser).SelectNodes(query), nullptr) << query;
        ASSERT_EQ(log.Records().size(), 1u) << query;
        ExpectSelectionError(log.Records()[0], query);
    }
    EXPECT_EQ(test::Saved(*parser), "<a><b>1</b></a>");
}

TEST(SelectNodes, FailureIsSilentWhenErrorIsDisabled) {
    auto parser = test::ParserWith("<a/>");
    test::LogCapture log(LogLevel::Critical);
    EXPECT_EQ(Xml(*parser).SelectNodes("count(//a)"), nullptr);
    EXPECT_EQ(Xml(*parser).SelectNodes("//a["), nullptr);
    EXPECT_TRUE(log.Records().empty());
}

// Exceptions other than pugixml's xpath exception: out of memory inside pugixml.
TEST(SelectNodes, AllocationFailureGivesNullAndTheGeneralRecord) {
    auto parser = test::ParserWith("<a><b>1</b></a>");
    {
        test::LogCapture log(LogLevel::Debug);
        FailingPugixmlAllocation failing;
        EXPECT_EQ(Xml(*parser).SelectNodes("//b"), nullptr);
        parser->RedactNodes({"//b"});
        ASSERT_EQ(log.Records().size(), 3u);
        ExpectRecord(log.Records()[0], "SelectNodes", 601, LogLevel::Error,
                     "failed to execute xpath query: //b");
        ExpectRecord(log.Records()[1], "SelectNodes", 601, LogLevel::Error,
                     "failed to execute xpath query: //b");
        ExpectNothingSelected(log.Records()[2], "//b");
    }
    {
        test::LogCapture log(LogLevel::Critical);
        FailingPugixmlAllocation failing;
        EXPECT_EQ(Xml(*parser).SelectNodes("//b"), nullptr);
        EXPECT_TRUE(log.Records().empty());
    }
    EXPECT_EQ(test::Saved(*parser), "<a><b>1</b></a>");
    const auto set = Xml(*parser).SelectNodes("//b");
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(set->Size(), 1u);
}

// ---- Redaction ----

struct RedactCase {
    const char* what;
    const char* xml;
    std::vector<std::string> queries;
    const char* expected;
};

void PrintTo(const RedactCase& param, std::ostream* out) {
    *out << param.what << ": " << param.xml;
}

class Redact : public testing::TestWithParam<RedactCase> {};

// Every case must also be silent: nothing fails, so nothing is logged.
TEST_P(Redact, ChangesExactlyTheSelectedText) {
    const RedactCase& param = GetParam();
    auto parser = test::ParserWith(param.xml);
    test::LogCapture log(LogLevel::Debug);
    parser->RedactNodes(param.queries);
    EXPECT_EQ(test::Saved(*parser), param.expected);
    EXPECT_TRUE(log.Records().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Redact,
    testing::Values(
        RedactCase{"ElementText",
                   R"(<a><b k="v">42</b><c/></a>)",
                   {"//b"},
                   R"(<a><b k="v">redacted</b><c/></a>)"},
        RedactCase{"EmptyElementGainsText",
                   "<a><b>42</b><c/></a>",
                   {"//c"},
                   "<a><b>42</b><c>redacted</c></a>"},
        RedactCase{"TextAfterExistingChildren",
                   "<a><b>1</b><c/></a>",
                   {"//*"},
                   "<a><b>redacted</b><c>redacted</c>redacted</a>"},
        RedactCase{"MixedContentFirstRunOnly",
                   "<a><m>one<x>in</x>two</m></a>",
                   {"//m"},
                   "<a><m>redacted<x>in</x>two</m></a>"},
        RedactCase{"TextNodesThemselves",
                   "<a><m>one<x>in</x>two</m></a>",
                   {"//m/text()"},
                   "<a><m>redacted<x>in</x>redacted</m></a>"},
        RedactCase{"CData",
                   "<a><d><![CDATA[se<cr>et]]></d></a>",
                   {"//d"},
                   "<a><d><![CDATA[redacted]]></d></a>"},
        RedactCase{"DocumentNode", "<a><b>42</b></a>", {"/", "/"}, "<a><b>42</b></a>redacted"},
        RedactCase{"CommentsUnchanged",
                   "<a><!--note--><b>1</b></a>",
                   {"//comment()"},
                   "<a><!--note--><b>1</b></a>"},
        RedactCase{"AttributesUntouched",
                   R"(<a x="1"><b y="2">t</b></a>)",
                   {"//@*", "//b/@y"},
                   R"(<a x="1"><b y="2">t</b></a>)"},
        RedactCase{"SameNodeTwice",
                   "<a><b>42</b></a>",
                   {"//b", "/a/b", "a/b | //b/text()"},
                   "<a><b>redacted</b></a>"},
        RedactCase{"RelativeFromDocumentNode",
                   "<a><b>1</b><c><b>2</b></c></a>",
                   {"a/b"},
                   "<a><b>redacted</b><c><b>2</b></c></a>"},
        RedactCase{"RelativeNotFromDocumentElement", "<a><b>1</b></a>", {"b"}, "<a><b>1</b></a>"},
        RedactCase{"NothingMatches", "<a><b>1</b></a>", {"//zzz"}, "<a><b>1</b></a>"},
        RedactCase{"EmptyList", "<a><b>1</b></a>", {}, "<a><b>1</b></a>"}),
    [](const testing::TestParamInfo<RedactCase>& info) { return std::string(info.param.what); });

TEST(RedactNodes, ProcessingInstructionUnchanged) {
    auto parser = InterfaceFactory::Create<DataParserIF>("DefaultIF");
    ASSERT_NE(parser->AppendChild("a"), nullptr);
    ASSERT_NE(parser->AppendChild(Node::TypeName::ProcessingInstruction), nullptr);
    const std::string before = test::Saved(*parser);
    ASSERT_EQ(Xml(*parser).SelectNodes("//processing-instruction()")->Size(), 1u);

    test::LogCapture log(LogLevel::Debug);
    parser->RedactNodes({"//processing-instruction()"});
    EXPECT_EQ(test::Saved(*parser), before);
    EXPECT_TRUE(log.Records().empty());
}

TEST(RedactNodes, FailingQueryIsLoggedTwiceAndTheOthersStillApply) {
    for (const std::string& bad : {"//c["s, "count(//b)"s}) {
        auto parser = test::ParserWith("<a><b>1</b><c>2</c><d>3</d></a>");
        test::LogCapture log(LogLevel::Debug);
        parser->RedactNodes({"//b", bad, "//c"});
        EXPECT_EQ(test::Saved(*parser), "<a><b>redacted</b><c>redacted</c><d>3</d></a>") << bad;
        ASSERT_EQ(log.Records().size(), 2u) << bad;
        ExpectSelectionError(log.Records()[0], bad);
        ExpectNothingSelected(log.Records()[1], bad);
    }
}

TEST(RedactNodes, RecordsFollowTheLevelButTheResultDoesNot) {
    const std::vector<std::string> queries = {"//b[", "//b", "1+1\0x"s};
    const std::string expected = "<a><b>redacted</b></a>";

    {
        auto parser = test::ParserWith("<a><b>1</b></a>");
        test::LogCapture log(LogLevel::Warning);
        parser->RedactNodes(queries);
        EXPECT_EQ(test::Saved(*parser), expected);
        ASSERT_EQ(log.Records().size(), 4u);
        ExpectSelectionError(log.Records()[0], queries[0]);
        ExpectNothingSelected(log.Records()[1], queries[0]);
        ExpectSelectionError(log.Records()[2], queries[2]);
        ExpectNothingSelected(log.Records()[3], queries[2]);
    }
    {
        auto parser = test::ParserWith("<a><b>1</b></a>");
        test::LogCapture log(LogLevel::Error);
        parser->RedactNodes(queries);
        EXPECT_EQ(test::Saved(*parser), expected);
        ASSERT_EQ(log.Records().size(), 2u);
        EXPECT_EQ(log.Records()[0].level, LogLevel::Error);
        EXPECT_EQ(log.Records()[1].level, LogLevel::Error);
    }
    {
        auto parser = test::ParserWith("<a><b>1</b></a>");
        test::LogCapture log(LogLevel::Critical);
        parser->RedactNodes(queries);
        EXPECT_EQ(test::Saved(*parser), expected);
        EXPECT_TRUE(log.Records().empty());
    }
}

}  // namespace
}  // namespace qiv
