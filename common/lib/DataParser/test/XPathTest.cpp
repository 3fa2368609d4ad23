// XPath: selection and redaction through the parser, and the items and sets
// of a selection.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include <pugixml.hpp>

#include "PugiXPathNode.h"
#include "PugiXPathNodeSet.h"
#include "TestSupport.h"

namespace qiv {
namespace {

using CollectionType = PugiXPathNodeSet::CollectionType;
using namespace std::string_literals;
using test::ExpectEmptyNodeRecords;
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

// ---- Items ----

// What an item gives: its node (kind, name and text), its attribute (name and
// value), its parent's name ("-" for an invalid parent).
std::string Describe(const XPathNode& item) {
    const auto node = item.GetNode();
    const auto attribute = item.GetAttribute();
    const auto parent = item.Parent();
    std::string text = node ? std::to_string(static_cast<int>(node->Type())) + ":" +
                                  std::string(node->Name()) + "=" + node->ToString()
                            : "no node";
    text += attribute ? " @" + std::string(attribute->Name()) + "=" + attribute->ToString()
                      : " no attribute";
    return text + " in " + (parent->Invalid() ? "-" : std::string(parent->Name()));
}

TEST(XPathNode, EachKindOfItemGivesItsPartsAndOnlyEmptyWrappersReport) {
    auto parser = ParserWith(R"(<a x="1"><b y="2">42</b><c/></a>)");
    const struct {
        const char* query;
        std::string description;
        std::size_t records;  // one per empty node wrapper made
    } cases[] = {
        {"//b", "2:b=42 no attribute in a", 0},
        {"//b/text()", "3:=42 no attribute in b", 0},
        {"//b/@y", "no node @y=2 in b", 1},
        {"/", "1:= no attribute in -", 1},
        {"//missing", "no node no attribute in -", 2},
    };
    for (const auto& c : cases) {
        const auto item = Xml(*parser).SelectNodes(c.query)->First();
        {
            LogCapture log(LogLevel::Debug);
            EXPECT_EQ(Describe(*item), c.description) << c.query;
            ExpectEmptyNodeRecords(log.Records(), c.records);
        }
        LogCapture quiet(LogLevel::Info);
        EXPECT_EQ(Describe(*item), c.description) << c.query;
        EXPECT_TRUE(quiet.Records().empty());
    }
    {
        LogCapture log(LogLevel::Debug);
        EXPECT_EQ(Describe(PugiXPathNode()), "no node no attribute in -");
        ExpectEmptyNodeRecords(log.Records(), 2);
    }
    // The node refers into the parser's document, not to a copy; wrappers
    // that callers make from the items of a set keep their own copy of the item.
    auto set = Xml(*parser).SelectNodes("//b | //@x");
    set->Sort(false);  // the attribute of a comes before the child b
    const PugiXPathNode attribute{pugi::xpath_node(set->Begin()[0])};
    const PugiXPathNode element(set->Begin()[1]);
    set.reset();
    EXPECT_TRUE(element.GetNode()->SetValue("7"));
    EXPECT_EQ(Saved(*parser), R"(<a x="1"><b y="2">7</b><c/></a>)");
    EXPECT_EQ(Describe(element), "2:b=7 no attribute in a");
    EXPECT_EQ(Describe(attribute), "no node @x=1 in a");
}

// ---- Sets ----

constexpr const char* numbered = R"(<r><i n="1"/><i n="2"/><i n="3"/><i n="4"/></r>)";

// The n attributes of the items from Begin() to End(), in that order, then
// after a colon that of the first item in document order.
std::string Order(const PugiXPathNodeSet& set) {
    std::string order;
    for (auto item = set.Begin(); item != set.End(); ++item) {
        order += item->node().attribute("n").value();
    }
    const auto first = set.First()->GetNode();
    return order + ":" + (first ? first->GetAttribute("n")->ToString() : "-");
}

// A set of the items of `numbered` with the given numbers, in that order,
// labelled with the given pugixml ordering.
PugiXPathNodeSet Arranged(const pugi::xml_document& document, const std::vector<int>& numbers,
                          pugi::xpath_node_set::type_t type) {
    const pugi::xpath_node_set items = document.select_nodes("//i");
    std::vector<pugi::xpath_node> chosen;
    for (int number : numbers) {
        chosen.push_back(items[static_cast<std::size_t>(number - 1)]);
    }
    return PugiXPathNodeSet(
        pugi::xpath_node_set(chosen.data(), chosen.data() + chosen.size(), type));
}

TEST(XPathNodeSet, TypeSortAndFirstFollowTheOrdering) {
    using Set = pugi::xpath_node_set;
    pugi::xml_document document;
    ASSERT_TRUE(document.load_string(numbered));
    EXPECT_EQ(Arranged(document, {1, 2}, Set::type_sorted).Type(), CollectionType::Sorted);
    EXPECT_EQ(Arranged(document, {2, 1}, Set::type_sorted_reverse).Type(),
              CollectionType::SortedReverse);
    // 3 lies within the range of pugixml's enumeration but names no ordering.
    EXPECT_EQ(Arranged(document, {1}, static_cast<Set::type_t>(3)).Type(),
              CollectionType::Unsorted);
    EXPECT_EQ(Order(Arranged(document, {4, 3, 2}, Set::type_sorted_reverse)), "432:2");

    PugiXPathNodeSet set = Arranged(document, {3, 1, 4, 2}, Set::type_unsorted);
    EXPECT_EQ(set.Type(), CollectionType::Unsorted);
    EXPECT_EQ(Order(set), "3142:1");
    for (const bool reverse : {true, false, true}) {
        set.Sort(reverse);
        EXPECT_EQ(set.Type(), reverse ? CollectionType::SortedReverse : CollectionType::Sorted);
        EXPECT_EQ(Order(set), reverse ? "4321:1" : "1234:1");
    }
    EXPECT_EQ(set.Size(), 4u);

    const PugiXPathNodeSet empty(document.select_nodes("//missing"));
    EXPECT_TRUE(empty.Empty());
    EXPECT_EQ(empty.Size(), 0u);
    EXPECT_EQ(empty.Begin(), empty.End());
    EXPECT_EQ(Describe(*empty.First()), "no node no attribute in -");
}

// A set copies pugixml's set, which may then change or go (with more than one
// item pugixml keeps them on the heap); the first item outlives the set.
TEST(XPathNodeSet, SetAndItemsAreCopies) {
    auto parser = ParserWith(numbered);
    auto selected = Xml(*parser).SelectNodes("//i[@n > 2]");
    auto source = std::make_unique<pugi::xpath_node_set>(*selected);
    const PugiXPathNodeSet copy(*source);
    source->sort(true);
    source.reset();
    EXPECT_EQ(Order(copy), "34:3");
    const auto first = selected->First();
    selected.reset();
    EXPECT_EQ(Describe(*first), "2:i= no attribute in r");
    EXPECT_EQ(first->GetNode()->GetAttribute("n")->ToInt(), 3);
    EXPECT_EQ(Saved(*parser), numbered);
}

}  // namespace
}  // namespace qiv
