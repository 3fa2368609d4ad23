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
using test::ExpectEmptyNodeRecords;
using test::LogCapture;

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
    auto parser = test::ParserWith(R"(<a x="1"><b y="2">42</b><c/></a>)");
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
        const auto item = test::Xml(*parser).SelectNodes(c.query)->First();
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
    auto set = test::Xml(*parser).SelectNodes("//b | //@x");
    set->Sort(false);  // the attribute of a comes before the child b
    const PugiXPathNode attribute{pugi::xpath_node(set->Begin()[0])};
    const PugiXPathNode element(set->Begin()[1]);
    set.reset();
    EXPECT_TRUE(element.GetNode()->SetValue("7"));
    EXPECT_EQ(test::Saved(*parser), R"(<a x="1"><b y="2">7</b><c/></a>)");
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
    auto parser = test::ParserWith(numbered);
    auto selected = test::Xml(*parser).SelectNodes("//i[@n > 2]");
    auto source = std::make_unique<pugi::xpath_node_set>(*selected);
    const PugiXPathNodeSet copy(*source);
    source->sort(true);
    source.reset();
    EXPECT_EQ(Order(copy), "34:3");
    const auto first = selected->First();
    selected.reset();
    EXPECT_EQ(Describe(*first), "2:i= no attribute in r");
    EXPECT_EQ(first->GetNode()->GetAttribute("n")->ToInt(), 3);
    EXPECT_EQ(test::Saved(*parser), numbered);
}

}  // namespace
}  // namespace qiv
