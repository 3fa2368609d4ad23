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
using T = Node::TypeName;

// ---- Items ----

// What an item gives: its node (kind and name), its attribute's name, its
// parent's name ("-" for an invalid parent).
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
        const auto set = test::Xml(*parser).SelectNodes(c.query);
        ASSERT_NE(set, nullptr) << c.query;
        const auto item = set->First();
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
    // The node refers into the parser's document, not to a copy.
    EXPECT_TRUE(test::Xml(*parser).SelectNodes("//b")->First()->GetNode()->SetValue("7"));
    EXPECT_EQ(test::Saved(*parser), R"(<a x="1"><b y="2">7</b><c/></a>)");
}

// Callers may wrap the items of a set themselves; the wrappers keep their own
// copy of the item.
TEST(XPathNode, WrappersMadeFromItemsOutliveTheSet) {
    auto parser = test::ParserWith(R"(<a x="1"><b y="2">42</b><c/></a>)");
    auto set = test::Xml(*parser).SelectNodes("//c | //@x");
    ASSERT_EQ(set->Size(), 2u);
    set->Sort(false);  // the attribute of a comes before the child c
    const PugiXPathNode element(set->Begin()[1]);
    const PugiXPathNode attribute{pugi::xpath_node(set->Begin()[0])};
    set.reset();
    EXPECT_EQ(Describe(element), "2:c= no attribute in a");
    EXPECT_EQ(Describe(attribute), "no node @x=1 in a");
}

// ---- Sets ----

constexpr const char* numbered = R"(<r><i n="1"/><i n="2"/><i n="3"/><i n="4"/></r>)";

// The n attributes of the items from Begin() to End(), in that order.
std::string Order(const PugiXPathNodeSet& set) {
    std::string order;
    for (auto item = set.Begin(); item != set.End(); ++item) {
        order += item->node().attribute("n").value();
    }
    return order;
}

std::string NumberOf(const XPathNode& item) {
    const auto node = item.GetNode();
    return node ? node->GetAttribute("n")->ToString() : "<none>";
}

class XPathNodeSetTest : public testing::Test {
protected:
    XPathNodeSetTest() {
        EXPECT_TRUE(document_.load_string(numbered));
        items_ = document_.select_nodes("//i");
    }

    // A set holding the items numbered in `numbers`, in that order, labelled
    // with the given pugixml ordering.
    PugiXPathNodeSet Arranged(const std::vector<int>& numbers,
                              pugi::xpath_node_set::type_t type) const {
        std::vector<pugi::xpath_node> chosen;
        for (int number : numbers) {
            chosen.push_back(items_[static_cast<std::size_t>(number - 1)]);
        }
        return PugiXPathNodeSet(
            pugi::xpath_node_set(chosen.data(), chosen.data() + chosen.size(), type));
    }

    pugi::xml_document document_;
    pugi::xpath_node_set items_;
};

TEST_F(XPathNodeSetTest, TypeReportsEachOrderingAndFallsBackToUnsorted) {
    EXPECT_EQ(Arranged({1, 2}, pugi::xpath_node_set::type_unsorted).Type(),
              CollectionType::Unsorted);
    EXPECT_EQ(Arranged({1, 2}, pugi::xpath_node_set::type_sorted).Type(), CollectionType::Sorted);
    EXPECT_EQ(Arranged({2, 1}, pugi::xpath_node_set::type_sorted_reverse).Type(),
              CollectionType::SortedReverse);
    // 3 lies within the range of pugixml's enumeration but names no ordering.
    const auto unknown = static_cast<pugi::xpath_node_set::type_t>(3);
    EXPECT_EQ(Arranged({1}, unknown).Type(), CollectionType::Unsorted);
}

TEST_F(XPathNodeSetTest, SortOrdersTheItemsFirstIsFirstInDocumentOrder) {
    PugiXPathNodeSet set = Arranged({3, 1, 4, 2}, pugi::xpath_node_set::type_unsorted);
    EXPECT_EQ(Order(set), "3142");
    EXPECT_EQ(NumberOf(*set.First()), "1");
    const std::pair<bool, const char*> sorts[] = {{true, "4321"}, {false, "1234"}, {true, "4321"}};
    for (const auto& [reverse, order] : sorts) {
        set.Sort(reverse);
        EXPECT_EQ(set.Type(), reverse ? CollectionType::SortedReverse : CollectionType::Sorted);
        EXPECT_EQ(Order(set), order);
        EXPECT_EQ(NumberOf(*set.First()), "1");
    }
    EXPECT_EQ(set.Size(), 4u);
    PugiXPathNodeSet reversed = Arranged({4, 3, 2}, pugi::xpath_node_set::type_sorted_reverse);
    EXPECT_EQ(NumberOf(*reversed.First()), "2");

    const PugiXPathNodeSet empty(document_.select_nodes("//missing"));
    EXPECT_TRUE(empty.Empty());
    EXPECT_EQ(empty.Size(), 0u);
    EXPECT_EQ(empty.Begin(), empty.End());
    EXPECT_EQ(Describe(*empty.First()), "no node no attribute in -");
}

// The set copies the items: the pugixml set it came from may be changed or
// destroyed (with more than one item pugixml keeps them on the heap).
TEST_F(XPathNodeSetTest, SetIsIndependentOfItsSourceAndItsItemsOfTheSet) {
    auto source = std::make_unique<pugi::xpath_node_set>(document_.select_nodes("//i"));
    PugiXPathNodeSet set(*source);
    source->sort(true);
    source.reset();
    EXPECT_EQ(set.Type(), CollectionType::Sorted);
    EXPECT_EQ(Order(set), "1234");

    auto parser = test::ParserWith(numbered);
    auto selected = test::Xml(*parser).SelectNodes("//i[@n > 2]");
    const auto first = selected->First();
    selected.reset();
    EXPECT_EQ(test::Saved(*parser), numbered);
    EXPECT_EQ(NumberOf(*first), "3");
    EXPECT_EQ(first->Parent()->Name(), "r");
}

}  // namespace
}  // namespace qiv
