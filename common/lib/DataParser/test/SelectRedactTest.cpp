#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <pugixml.hpp>

#include "InterfaceFactory.h"
#include "TestSupport.h"

namespace qiv {
namespace {

using namespace std::string_literals;
using test::ExpectRecord;
using test::LogCapture;
using test::ParserWith;
using test::Saved;
using test::Xml;

// What pugixml itself says about a query that it refuses.
std::string PugixmlComplaint(const std::string& query) {
    try {
        pugi::xml_document().select_nodes(query.c_str());
    } catch (const pugi::xpath_exception& error) {
        return error.what();
    }
    ADD_FAILURE() << "pugixml accepts " << query;
    return {};
}

void ExpectSelectionError(const LogRecord& record, const std::string& query) {
    ExpectRecord(record, test::parserLogFile, "SelectNodes", 596, LogLevel::Error,
                 " error: " + PugixmlComplaint(query) + " with xpathQuery: " + query);
}

void ExpectNothingSelected(const LogRecord& record, const std::string& query) {
    ExpectRecord(record, test::parserLogFile, "DoRedactNodes", 622, LogLevel::Warning,
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

TEST(SelectNodes, QueriesAreEvaluatedFromTheDocumentNodeUpToTheirFirstNul) {
    auto parser = ParserWith("<a><b>1</b><b>2</b></a>");
    LogCapture log(LogLevel::Debug);
    const std::pair<std::string, std::size_t> cases[] = {
        {"a", 1}, {"a/b", 2}, {".", 1}, {"b", 0}, {"//b\0["s, 2}};
    for (const auto& [query, size] : cases) {
        const auto set = Xml(*parser).SelectNodes(query);
        ASSERT_NE(set, nullptr) << query;
        EXPECT_EQ(set->Size(), size) << query;
    }
    EXPECT_EQ(Xml(*parser).SelectNodes(".")->Begin()->node().type(), pugi::node_document);
    EXPECT_TRUE(log.Records().empty());
}

// Exceptions other than pugixml's xpath exception: out of memory inside pugixml.
TEST(SelectNodes, AllocationFailureGivesNullAndTheGeneralRecord) {
    auto parser = ParserWith("<a><b>1</b></a>");
    for (LogLevel threshold : {LogLevel::Debug, LogLevel::Critical}) {
        LogCapture log(threshold);
        FailingPugixmlAllocation failing;
        EXPECT_EQ(Xml(*parser).SelectNodes("//b"), nullptr);
        parser->RedactNodes({"//b"});
        ASSERT_EQ(log.Records().size(), threshold == LogLevel::Debug ? 3u : 0u);
        for (std::size_t index = 0; index + 1 < log.Records().size(); ++index) {
            ExpectRecord(log.Records()[index], test::parserLogFile, "SelectNodes", 601,
                         LogLevel::Error, "failed to execute xpath query: //b");
        }
    }
    EXPECT_EQ(Saved(*parser), "<a><b>1</b></a>");
    EXPECT_EQ(Xml(*parser).SelectNodes("//b")->Size(), 1u);
}

// ---- Redaction ----

TEST(RedactNodes, ChangesExactlyTheSelectedTextSilently) {
    struct Case {
        const char* xml;
        std::vector<std::string> queries;
        const char* expected;
    };
    const Case cases[] = {
        {R"(<a><b k="v">42</b><c/></a>)", {"//b"}, R"(<a><b k="v">redacted</b><c/></a>)"},
        {"<a><b>1</b><c/></a>", {"//*"}, "<a><b>redacted</b><c>redacted</c>redacted</a>"},
        // Mixed content: the element's first text run, or the text nodes themselves.
        {"<a><m>one<x>in</x>two</m></a>", {"//m"}, "<a><m>redacted<x>in</x>two</m></a>"},
        {"<a><m>one<x>in</x>two</m></a>",
         {"//m/text()"},
         "<a><m>redacted<x>in</x>redacted</m></a>"},
        {"<a><d><![CDATA[se<cr>et]]></d></a>", {"//d"}, "<a><d><![CDATA[redacted]]></d></a>"},
        {"<a><b>42</b></a>", {"/", "/"}, "<a><b>42</b></a>redacted"},
        // Comments and attributes stay as they are.
        {"<a><!--note--><b>1</b></a>", {"//comment()"}, "<a><!--note--><b>1</b></a>"},
        {R"(<a x="1"><b y="2">t</b></a>)", {"//@*", "//b/@y"}, R"(<a x="1"><b y="2">t</b></a>)"},
        {"<a><b>42</b></a>", {"//b", "/a/b", "a/b | //b/text()"}, "<a><b>redacted</b></a>"},
        {"<a><b>1</b><c><b>2</b></c></a>", {"a/b"}, "<a><b>redacted</b><c><b>2</b></c></a>"},
        {"<a><b>1</b></a>", {"b", "//zzz"}, "<a><b>1</b></a>"},
    };
    for (const Case& c : cases) {
        auto parser = ParserWith(c.xml);
        LogCapture log(LogLevel::Debug);
        parser->RedactNodes(c.queries);
        EXPECT_EQ(Saved(*parser), c.expected) << c.xml;
        EXPECT_TRUE(log.Records().empty()) << c.xml;
    }
    // Processing instructions, which no load keeps, stay as they are too.
    auto parser = ParserWith("<a/>");
    ASSERT_NE(parser->AppendChild(Node::TypeName::ProcessingInstruction), nullptr);
    const std::string before = Saved(*parser);
    parser->RedactNodes({"//processing-instruction()"});
    EXPECT_EQ(Saved(*parser), before);
}

// Malformed queries and queries that yield no node set: SelectNodes gives
// null with one Error record, RedactNodes adds a Warning and goes on with the
// next query. pugixml reads a query up to a NUL, but the records show it whole.
TEST(RedactNodes, FailingQueriesAreLoggedTwiceAndTheOthersStillApply) {
    const std::vector<std::string> queries = {"//b", "//c[",   "//b)",      "count(//b)",
                                              "",    "true()", "1+1\0//b"s, "//c"};
    const std::size_t bad = queries.size() - 2;
    for (LogLevel threshold : {LogLevel::Warning, LogLevel::Error, LogLevel::Critical}) {
        auto parser = ParserWith("<a><b>1</b><c>2</c><d>3</d></a>");
        LogCapture log(threshold);
        parser->RedactNodes(queries);
        EXPECT_EQ(Saved(*parser), "<a><b>redacted</b><c>redacted</c><d>3</d></a>");
        const auto& records = log.Records();
        if (threshold == LogLevel::Warning) {
            ASSERT_EQ(records.size(), 2 * bad);
            for (std::size_t index = 1; index <= bad; ++index) {
                ExpectSelectionError(records[2 * index - 2], queries[index]);
                ExpectNothingSelected(records[2 * index - 1], queries[index]);
            }
        } else if (threshold == LogLevel::Error) {
            ASSERT_EQ(records.size(), bad);
            for (const LogRecord& record : records) {
                EXPECT_EQ(record.level, LogLevel::Error);
            }
        } else {
            EXPECT_TRUE(records.empty());
        }
        log.Clear();
        for (std::size_t index = 1; index <= bad; ++index) {
            EXPECT_EQ(Xml(*parser).SelectNodes(queries[index]), nullptr) << queries[index];
        }
        EXPECT_EQ(records.size(), threshold == LogLevel::Critical ? 0 : bad);
    }
}

}  // namespace
}  // namespace qiv
