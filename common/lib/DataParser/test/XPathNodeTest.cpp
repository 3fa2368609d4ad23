#include <gtest/gtest.h>

#include <memory>
#include <string>

#include <pugixml.hpp>

#include "PugiXMLParser.h"
#include "PugiXPathNode.h"
#include "TestSupport.h"

namespace qiv {
namespace {

constexpr const char* document = R"(<a x="1"><b y="2">42</b><c/></a>)";

// Checks that the records are exactly `count` node-wrapper diagnostics.
void ExpectEmptyNodeRecords(const std::vector<LogRecord>& records, std::size_t count) {
    ASSERT_EQ(records.size(), count);
    for (const LogRecord& record : records) {
        EXPECT_EQ(record.file, "common/lib/DataParser/src/PugiNode");
        EXPECT_EQ(record.function, "Impl");
        EXPECT_EQ(record.line, 47);
        EXPECT_EQ(record.level, LogLevel::Debug);
        EXPECT_EQ(record.category, 0x800B);
        EXPECT_EQ(record.message, "created with empty node");
    }
}

class XPathNodeTest : public testing::Test {
  protected:
    XPathNodeTest() : parser_(test::ParserWith(document)) {}

    PugiXMLParser& Xml() { return dynamic_cast<PugiXMLParser&>(*parser_); }

    // The first item (in document order) that the query selects.
    std::unique_ptr<XPathNode> Item(const std::string& query) {
        const std::unique_ptr<PugiXPathNodeSet> set = Xml().SelectNodes(query);
        EXPECT_NE(set, nullptr) << query;
        EXPECT_FALSE(set == nullptr || set->Empty()) << query;
        return set ? set->First() : nullptr;
    }

    std::unique_ptr<DataParserIF> parser_;
};

TEST_F(XPathNodeTest, ElementItemIsANodeWithItsParent) {
    const auto item = Item("//b");
    ASSERT_NE(item, nullptr);
    test::LogCapture log(LogLevel::Debug);

    const auto node = item->GetNode();
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->Type(), Node::TypeName::Element);
    EXPECT_EQ(node->Name(), "b");
    EXPECT_EQ(node->ToString(), "42");
    EXPECT_EQ(item->GetAttribute(), nullptr);

    const auto parent = item->Parent();
    ASSERT_NE(parent, nullptr);
    EXPECT_FALSE(parent->Invalid());
    EXPECT_EQ(parent->Name(), "a");
    EXPECT_TRUE(log.Records().empty());

    // The wrapper refers into the parser's document, not to a copy.
    EXPECT_TRUE(node->SetValue("7"));
    EXPECT_EQ(test::Saved(*parser_), R"(<a x="1"><b y="2">7</b><c/></a>)");
}

TEST_F(XPathNodeTest, TextItemIsTheTextNodeOfItsElement) {
    const auto item = Item("//b/text()");
    ASSERT_NE(item, nullptr);
    const auto node = item->GetNode();
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->Type(), Node::TypeName::PCData);
    EXPECT_EQ(node->ToString(), "42");
    EXPECT_EQ(item->GetAttribute(), nullptr);
    const auto parent = item->Parent();
    ASSERT_NE(parent, nullptr);
    EXPECT_EQ(parent->Type(), Node::TypeName::Element);
    EXPECT_EQ(parent->Name(), "b");
}

TEST_F(XPathNodeTest, AttributeItemIsAnAttributeCarriedByItsElement) {
    const auto item = Item("//b/@y");
    ASSERT_NE(item, nullptr);
    test::LogCapture log(LogLevel::Debug);

    const auto attribute = item->GetAttribute();
    ASSERT_NE(attribute, nullptr);
    EXPECT_EQ(attribute->Name(), "y");
    EXPECT_EQ(attribute->ToString(), "2");
    EXPECT_TRUE(log.Records().empty()) << "an attribute lookup writes no diagnostic";

    const auto parent = item->Parent();
    ASSERT_NE(parent, nullptr);
    EXPECT_FALSE(parent->Invalid());
    EXPECT_EQ(parent->Name(), "b");
    EXPECT_TRUE(log.Records().empty());

    // Asking for the node part wraps an empty handle: null, with its diagnostic.
    EXPECT_EQ(item->GetNode(), nullptr);
    ExpectEmptyNodeRecords(log.Records(), 1);
}

TEST_F(XPathNodeTest, DocumentItemIsANodeWithoutParent) {
    const auto item = Item("/");
    ASSERT_NE(item, nullptr);
    test::LogCapture log(LogLevel::Debug);

    const auto node = item->GetNode();
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->Type(), Node::TypeName::Document);
    EXPECT_EQ(node->FirstChild()->Name(), "a");
    EXPECT_EQ(item->GetAttribute(), nullptr);
    EXPECT_TRUE(log.Records().empty());

    const auto parent = item->Parent();
    ASSERT_NE(parent, nullptr);
    EXPECT_TRUE(parent->Invalid());
    ExpectEmptyNodeRecords(log.Records(), 1);
}

// A default-constructed item and the first item of an empty set behave alike.
TEST_F(XPathNodeTest, EmptyItemsGiveNullPointersAndAnInvalidParent) {
    const auto emptySet = Xml().SelectNodes("//missing");
    ASSERT_NE(emptySet, nullptr);
    std::unique_ptr<XPathNode> items[] = {std::make_unique<PugiXPathNode>(), emptySet->First()};

    for (const auto& item : items) {
        ASSERT_NE(item, nullptr);
        {
            test::LogCapture log(LogLevel::Debug);
            EXPECT_EQ(item->GetNode(), nullptr);
            ExpectEmptyNodeRecords(log.Records(), 1);
            log.Clear();

            EXPECT_EQ(item->GetAttribute(), nullptr);
            EXPECT_TRUE(log.Records().empty());

            const auto parent = item->Parent();
            ASSERT_NE(parent, nullptr);
            EXPECT_TRUE(parent->Invalid());
            ExpectEmptyNodeRecords(log.Records(), 1);
        }
        {
            // Debug disabled: the same results, nothing written.
            test::LogCapture log(LogLevel::Info);
            EXPECT_EQ(item->GetNode(), nullptr);
            EXPECT_EQ(item->GetAttribute(), nullptr);
            const auto parent = item->Parent();
            ASSERT_NE(parent, nullptr);
            EXPECT_TRUE(parent->Invalid());
            EXPECT_TRUE(log.Records().empty());
        }
    }
}

// Callers may wrap the items of a set themselves; the wrappers keep their own
// copy of the item, and every call hands out a new wrapper.
TEST_F(XPathNodeTest, WrappersMadeFromItemsOutliveTheSet) {
    auto set = Xml().SelectNodes("//c | //@x");
    ASSERT_NE(set, nullptr);
    ASSERT_EQ(set->Size(), 2u);
    set->Sort(false);  // the attribute of a comes before the child c
    const PugiXPathNode element(set->Begin()[1]);
    const PugiXPathNode attribute{pugi::xpath_node(set->Begin()[0])};
    set.reset();

    auto first = element.GetNode();
    auto second = element.GetNode();
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first.get(), second.get());
    first.reset();
    EXPECT_EQ(second->Name(), "c");
    EXPECT_EQ(element.GetNode()->Name(), "c");
    EXPECT_EQ(element.Parent()->Name(), "a");

    const auto value = attribute.GetAttribute();
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value->Name(), "x");
    EXPECT_EQ(value->ToString(), "1");
    EXPECT_EQ(attribute.Parent()->Name(), "a");
}

}  // namespace
}  // namespace qiv
