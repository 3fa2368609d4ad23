#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "InterfaceFactory.h"
#include "PugiAttribute.h"
#include "PugiNode.h"
#include "TestSupport.h"

namespace qiv {
namespace {

using test::ExpectEmptyNodeRecords;
using test::LogCapture;
using test::ParserWith;
using T = Node::TypeName;

// Kinds and names of a node's children, walked forward and, when `backwards`,
// from the last child back (reported in document order either way).
std::vector<std::pair<T, std::string>> ChildrenOf(const Node& parent, bool backwards) {
    std::vector<std::pair<T, std::string>> children;
    for (auto child = backwards ? parent.LastChild() : parent.FirstChild(); !child->Invalid();
         child = backwards ? child->PreviousSibling() : child->NextSibling()) {
        children.emplace(backwards ? children.begin() : children.end(), child->Type(),
                         std::string(child->Name()));
    }
    return children;
}

// ---- Walking ----

TEST(NodeNavigation, ChildrenOfEveryKindInDocumentOrderBothWays) {
    auto parser = ParserWith("<r><a/>text<!--c--><![CDATA[d]]><b/></r>");
    auto root = parser->FirstChild();
    const std::vector<std::pair<T, std::string>> expected = {
        {T::Element, "a"}, {T::PCData, ""}, {T::Comment, ""}, {T::CData, ""}, {T::Element, "b"}};
    EXPECT_EQ(ChildrenOf(*root, false), expected);
    EXPECT_EQ(ChildrenOf(*root, true), expected);
}

TEST(NodeNavigation, ChildFindsTheFirstDirectChildOfExactlyThatName) {
    auto parser = ParserWith("<r><x>1</x><y><z/></y><x>2</x><X>3</X></r>");
    auto root = parser->FirstChild();
    EXPECT_EQ(root->Child("x")->ToInt(), 1);
    EXPECT_EQ(root->Child("X")->ToInt(), 3);
    for (const char* absent : {"z", "", "x ", "Y"}) {
        EXPECT_TRUE(root->Child(absent)->Invalid()) << absent;
    }
    // Names are compared up to a NUL, and a view is not read past its end.
    EXPECT_EQ(root->Child(std::string_view("y\0junk", 6))->Name(), "y");
    EXPECT_TRUE(root->Child(std::string_view("\0x", 2))->Invalid());
    const std::string longer = "xy";
    EXPECT_EQ(root->Child(std::string_view(longer).substr(0, 1))->ToInt(), 1);
}

TEST(NodeNavigation, TextIsTheFirstTextChildOrTheNodeItself) {
    auto parser = ParserWith("<r><a>one<b/>two</a><c><![CDATA[cd]]></c><d><e>x</e></d></r>");
    auto root = parser->FirstChild();
    auto a = root->Child("a");
    EXPECT_EQ(static_cast<PugiNode&>(*a).DoText(), "one");
    EXPECT_EQ(static_cast<PugiNode&>(*a->LastChild()).DoText(), "two");
    EXPECT_EQ(static_cast<PugiNode&>(*root->Child("c")).DoText(), "cd");
    EXPECT_TRUE(static_cast<PugiNode&>(*root->Child("d")).DoText().empty());
    EXPECT_TRUE(PugiNode().DoText().empty());
}

TEST(Navigation, WrappersAreFreshIndependentAndPointIntoTheDocument) {
    auto parser = ParserWith("<r a='1'><x/></r>");
    auto first = parser->FirstChild();
    auto second = parser->Child("r");
    ASSERT_NE(first.get(), second.get());
    EXPECT_EQ(first->Name().data(), second->Name().data());
    auto attribute = first->GetAttribute("a");
    EXPECT_EQ(attribute->Name().data(), second->FirstAttribute()->Name().data());
    first.reset();
    attribute.reset();
    EXPECT_EQ(second->FirstChild()->Name(), "x");
    EXPECT_EQ(second->GetAttribute("a")->ToInt(), 1);
    EXPECT_EQ(test::Saved(*parser), "<r a=\"1\"><x/></r>");
}

// ---- The document node ----

TEST(DocumentNavigation, SubjectIsTheDocumentNodeNotTheDocumentElement) {
    auto parser = ParserWith("<!-- head --><root a='1'>text<x/></root><!-- tail -->");
    EXPECT_EQ(parser->Type(), T::Document);
    EXPECT_FALSE(parser->Invalid());
    EXPECT_TRUE(parser->Name().empty());
    EXPECT_TRUE(parser->Value().empty());
    EXPECT_TRUE(parser->Text().empty());
    EXPECT_EQ(parser->FirstChild()->Type(), T::Comment);
    EXPECT_EQ(parser->FirstChild()->ToString("none"), "none");  // a comment has no text
    EXPECT_EQ(parser->FirstChild()->NextSibling()->Name(), "root");
    EXPECT_EQ(parser->LastChild()->Type(), T::Comment);
    EXPECT_EQ(parser->Child("root")->Type(), T::Element);
    EXPECT_TRUE(parser->Child("x")->Invalid());
    EXPECT_TRUE(parser->Child("Root")->Invalid());
    EXPECT_EQ(parser->Child(std::string_view("root\0tail", 9))->Name(), "root");

    auto built = InterfaceFactory::Create<DataParserIF>("XML");
    ASSERT_NE(built->AppendChild("root"), nullptr);
    ASSERT_NE(built->AppendChild(T::PCData, "top"), nullptr);
    EXPECT_EQ(built->Value(), "top");
    EXPECT_EQ(built->Text(), "top");
}

// ---- Nothing there: invalid wrappers, never null ----

TEST(Navigation, EndsOfTheTreeAndInvalidWrappersGiveInvalidWrappers) {
    auto parser = ParserWith("<r a='1'><only/></r>");
    auto only = parser->FirstChild()->FirstChild();
    auto invalid = only->NextSibling();
    const PugiNode defaulted;
    const auto expectNothingAround = [](const auto& node) {
        for (const auto& next : {node.NextSibling(), node.PreviousSibling()}) {
            ASSERT_NE(next, nullptr);
            EXPECT_TRUE(next->Invalid());
            EXPECT_EQ(next->Type(), T::Null);
            EXPECT_TRUE(next->Name().empty());
        }
        for (const auto& attribute :
             {node.FirstAttribute(), node.LastAttribute(), node.GetAttribute("a")}) {
            ASSERT_NE(attribute, nullptr);
            EXPECT_TRUE(attribute->Invalid());
            EXPECT_TRUE(attribute->Name().empty());
        }
    };
    expectNothingAround(*only);
    expectNothingAround(*parser);
    for (const Node* node :
         {static_cast<const Node*>(invalid.get()), static_cast<const Node*>(&defaulted)}) {
        expectNothingAround(*node);
        EXPECT_TRUE(node->FirstChild()->Invalid());
        EXPECT_TRUE(node->LastChild()->Invalid());
        EXPECT_TRUE(node->Child("r")->Invalid());
        EXPECT_TRUE(node->FirstChild()->FirstChild()->NextSibling()->Invalid());
    }
    EXPECT_TRUE(only->FirstChild()->Invalid());
}

TEST(EmptyNodeRecord, OneRecordPerWrapperOverNothing) {
    auto parser = ParserWith("<r a='1'><only/></r>");
    auto root = parser->FirstChild();
    auto only = root->FirstChild();
    {
        LogCapture capture(LogLevel::Debug);
        auto next = only->NextSibling();
        EXPECT_EQ(next->Type(), T::Null);  // queries on it write nothing
        ExpectEmptyNodeRecords(capture.Records(), 1);
        capture.Clear();
        auto deeper = next->FirstChild()->LastChild();  // two more empty wrappers
        auto fromDocument = parser->Child("absent");
        ExpectEmptyNodeRecords(capture.Records(), 3);
    }
    {
        // None for valid nodes, default-constructed wrappers or attributes.
        LogCapture capture(LogLevel::Debug);
        auto sameOnly = root->Child("only");
        const PugiNode defaulted;
        const PugiAttribute defaultedAttribute;
        auto noAttribute = only->FirstAttribute();
        auto pastLast = root->FirstAttribute()->NextAttribute();
        auto fromDocument = parser->GetAttribute("a");
        EXPECT_TRUE(capture.Records().empty());
    }
    for (LogLevel threshold : {LogLevel::Info, LogLevel::Error}) {
        LogCapture capture(threshold);
        EXPECT_TRUE(only->NextSibling()->FirstChild()->Invalid());
        EXPECT_TRUE(capture.Records().empty());
    }
}

// ---- Attributes ----

TEST(AttributeNavigation, WalkVisitsEveryAttributeOnceInOrderAndBack) {
    auto parser = ParserWith("<r first='1' second='2' third='3'/>");
    auto root = parser->FirstChild();
    std::vector<std::string> forward;
    for (auto a = root->FirstAttribute(); !a->Invalid(); a = a->NextAttribute()) {
        forward.emplace_back(a->Name());
    }
    EXPECT_EQ(forward, (std::vector<std::string>{"first", "second", "third"}));
    std::vector<std::string> backward;
    for (auto a = root->LastAttribute(); !a->Invalid(); a = a->PreviousAttribute()) {
        backward.emplace_back(a->Name());
    }
    EXPECT_EQ(backward, (std::vector<std::string>{"third", "second", "first"}));

    const PugiAttribute defaulted;
    for (const auto& neighbour : {defaulted.NextAttribute(), defaulted.PreviousAttribute()}) {
        ASSERT_NE(neighbour, nullptr);
        EXPECT_TRUE(neighbour->Invalid());
    }
}

TEST(AttributeNavigation, LookupByNameIsExactAndStopsAtNul) {
    auto parser = ParserWith("<r id='7' ID='8'/>");
    auto root = parser->FirstChild();
    EXPECT_EQ(root->GetAttribute("id")->ToInt(), 7);
    EXPECT_EQ(root->GetAttribute("ID")->ToInt(), 8);
    EXPECT_TRUE(root->GetAttribute("Id")->Invalid());
    EXPECT_TRUE(root->GetAttribute("i")->Invalid());
    EXPECT_EQ(root->GetAttribute(std::string_view("id\0x", 4))->ToInt(), 7);
    const std::string longer = "IDs";
    EXPECT_EQ(root->GetAttribute(std::string_view(longer).substr(0, 2))->ToInt(), 8);
}

}  // namespace
}  // namespace qiv
