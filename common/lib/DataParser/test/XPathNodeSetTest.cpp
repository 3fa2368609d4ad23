#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include <pugixml.hpp>

#include "PugiXMLParser.h"
#include "PugiXPathNodeSet.h"
#include "TestSupport.h"

namespace qiv {
namespace {

using CollectionType = PugiXPathNodeSet::CollectionType;

constexpr const char* document = R"(<r><i n="1"/><i n="2"/><i n="3"/><i n="4"/></r>)";

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
        const pugi::xml_parse_result loaded = document_.load_string(document);
        EXPECT_TRUE(loaded) << loaded.description();
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

TEST_F(XPathNodeSetTest, QueriesReportTheOrderingPugixmlGaveThem) {
    auto parser = test::ParserWith(document);
    auto& xml = dynamic_cast<PugiXMLParser&>(*parser);
    const auto forward = xml.SelectNodes("//i");
    const auto backward = xml.SelectNodes("//i[4]/preceding-sibling::i");
    ASSERT_NE(forward, nullptr);
    ASSERT_NE(backward, nullptr);
    EXPECT_EQ(forward->Type(), CollectionType::Sorted);
    EXPECT_EQ(Order(*forward), "1234");
    EXPECT_EQ(backward->Type(), CollectionType::SortedReverse);
    EXPECT_EQ(Order(*backward), "321");
}

TEST_F(XPathNodeSetTest, SortOrdersTheItemsAndRecordsTheOrdering) {
    PugiXPathNodeSet set = Arranged({3, 1, 4, 2}, pugi::xpath_node_set::type_unsorted);
    EXPECT_EQ(Order(set), "3142");

    set.Sort(false);
    EXPECT_EQ(set.Type(), CollectionType::Sorted);
    EXPECT_EQ(Order(set), "1234");

    set.Sort(true);
    EXPECT_EQ(set.Type(), CollectionType::SortedReverse);
    EXPECT_EQ(Order(set), "4321");

    set.Sort(false);
    EXPECT_EQ(set.Type(), CollectionType::Sorted);
    EXPECT_EQ(Order(set), "1234");
    EXPECT_EQ(set.Size(), 4u);
}

TEST_F(XPathNodeSetTest, FirstIsFirstInDocumentOrderWhateverTheOrdering) {
    PugiXPathNodeSet unsorted = Arranged({3, 1, 4, 2}, pugi::xpath_node_set::type_unsorted);
    EXPECT_EQ(NumberOf(*unsorted.First()), "1");

    PugiXPathNodeSet reversed = Arranged({4, 3, 2}, pugi::xpath_node_set::type_sorted_reverse);
    EXPECT_EQ(NumberOf(*reversed.First()), "2");

    unsorted.Sort(true);
    ASSERT_EQ(Order(unsorted), "4321");
    EXPECT_EQ(NumberOf(*unsorted.First()), "1");
    EXPECT_EQ((unsorted.End() - 1)->node(), items_[0].node());

    unsorted.Sort(false);
    EXPECT_EQ(NumberOf(*unsorted.First()), "1");
}

TEST_F(XPathNodeSetTest, EmptySetStillHandsOutAnEmptyFirstItem) {
    const PugiXPathNodeSet set(document_.select_nodes("//missing"));
    EXPECT_TRUE(set.Empty());
    EXPECT_EQ(set.Size(), 0u);
    EXPECT_EQ(set.Begin(), set.End());
    const auto first = set.First();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->GetNode(), nullptr);
    EXPECT_EQ(first->GetAttribute(), nullptr);
    const auto parent = first->Parent();
    ASSERT_NE(parent, nullptr);
    EXPECT_TRUE(parent->Invalid());
}

// The set copies the items: the pugixml set it came from may be changed or
// destroyed (with more than one item pugixml keeps them on the heap).
TEST_F(XPathNodeSetTest, SetIsIndependentOfThePugixmlSetItWasBuiltFrom) {
    auto source = std::make_unique<pugi::xpath_node_set>(document_.select_nodes("//i"));
    PugiXPathNodeSet set(*source);
    source->sort(true);
    EXPECT_EQ(Order(set), "1234");
    EXPECT_EQ(set.Type(), CollectionType::Sorted);
    source.reset();

    EXPECT_EQ(set.Size(), 4u);
    EXPECT_EQ(Order(set), "1234");
    set.Sort(true);
    EXPECT_EQ(Order(set), "4321");
}

TEST_F(XPathNodeSetTest, DestroyingTheSetLeavesDocumentAndFirstItemUsable) {
    auto parser = test::ParserWith(document);
    auto& xml = dynamic_cast<PugiXMLParser&>(*parser);
    const std::string before = test::Saved(*parser);

    auto set = xml.SelectNodes("//i[@n > 2]");
    ASSERT_NE(set, nullptr);
    const auto first = set->First();
    set.reset();

    EXPECT_EQ(test::Saved(*parser), before);
    EXPECT_EQ(NumberOf(*first), "3");
    EXPECT_EQ(first->Parent()->Name(), "r");
}

}  // namespace
}  // namespace qiv
