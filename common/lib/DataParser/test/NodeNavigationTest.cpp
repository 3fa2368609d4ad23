#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "InterfaceFactory.h"
#include "PugiAttribute.h"
#include "PugiNode.h"
#include "TestSupport.h"

namespace qiv {
namespace {

using test::LogCapture;
using test::ParserWith;

// Kinds and names of a node's children, walked forward with NextSibling.
std::vector<std::pair<Node::TypeName, std::string>> ChildrenOf(const Node& parent) {
    std::vector<std::pair<Node::TypeName, std::string>> children;
    for (auto child = parent.FirstChild(); !child->Invalid(); child = child->NextSibling()) {
        children.emplace_back(child->Type(), std::string(child->Name()));
    }
    return children;
}

void ExpectEmptyNodeRecord(const LogRecord& record) {
    EXPECT_EQ(record.file, "common/lib/DataParser/src/PugiNode");
    EXPECT_EQ(record.function, "Impl");
    EXPECT_EQ(record.line, 47);
    EXPECT_EQ(record.level, LogLevel::Debug);
    EXPECT_EQ(record.category, 0x800B);
    EXPECT_EQ(record.message, "created with empty node");
}

// ---- Walking ----

TEST(NodeNavigation, SiblingsAreNodesOfEveryKindInDocumentOrder) {
    auto parser = ParserWith("<r><a/>text<!--c--><![CDATA[d]]><b/></r>");
    auto root = parser->FirstChild();
    using T = Node::TypeName;
    const std::vector<std::pair<T, std::string>> expected = {
        {T::Element, "a"}, {T::PCData, ""}, {T::Comment, ""}, {T::CData, ""}, {T::Element, "b"}};
    EXPECT_EQ(ChildrenOf(*root), expected);

    std::vector<std::pair<T, std::string>> backwards;
    for (auto child = root->LastChild(); !child->Invalid(); child = child->PreviousSibling()) {
        backwards.emplace(backwards.begin(), child->Type(), std::string(child->Name()));
    }
    EXPECT_EQ(backwards, expected);
}

TEST(NodeNavigation, FirstChildOfMixedContentIsTheLeadingText) {
    auto parser = ParserWith("<r>lead<x>inner</x></r>");
    auto first = parser->FirstChild()->FirstChild();
    EXPECT_EQ(first->Type(), Node::TypeName::PCData);
    EXPECT_TRUE(first->Name().empty());
    EXPECT_EQ(first->ToString(), "lead");
    EXPECT_EQ(first->NextSibling()->Name(), "x");
}

TEST(NodeNavigation, ChildFindsTheFirstDirectChildOfThatName) {
    auto parser = ParserWith("<r><x>1</x><y><z/></y><x>2</x></r>");
    auto root = parser->FirstChild();
    EXPECT_EQ(root->Child("x")->ToInt(), 1);
    EXPECT_EQ(root->Child("y")->Name(), "y");
    EXPECT_TRUE(root->Child("z")->Invalid());  // grandchild
    EXPECT_TRUE(root->Child("X")->Invalid());  // letter case counts
    EXPECT_TRUE(root->Child("")->Invalid());
    EXPECT_EQ(root->Child(std::string_view("y\0junk", 6))->Name(), "y");
    const std::string longer = "xy";
    EXPECT_EQ(root->Child(std::string_view(longer).substr(0, 1))->ToInt(), 1);
}

TEST(NodeNavigation, EveryNodeKindReportsItsType) {
    auto parser = ParserWith("<r>t<![CDATA[c]]><!--m--></r>");
    auto root = parser->FirstChild();
    EXPECT_EQ(root->Type(), Node::TypeName::Element);
    auto text = root->FirstChild();
    EXPECT_EQ(text->Type(), Node::TypeName::PCData);
    EXPECT_EQ(text->NextSibling()->Type(), Node::TypeName::CData);
    EXPECT_EQ(root->LastChild()->Type(), Node::TypeName::Comment);
    EXPECT_TRUE(root->LastChild()->Name().empty());

    using T = Node::TypeName;
    for (T kind : {T::ProcessingInstruction, T::Comment, T::PCData, T::CData}) {
        auto created = root->AppendChild(kind);
        ASSERT_NE(created, nullptr) << static_cast<int>(kind);
        EXPECT_EQ(created->Type(), kind);
        EXPECT_EQ(root->LastChild()->Type(), kind);
    }
    // Declarations and document types live at the top level only.
    for (T kind : {T::Declaration, T::DocType}) {
        auto created = parser->PrependChild(kind);
        ASSERT_NE(created, nullptr) << static_cast<int>(kind);
        EXPECT_EQ(created->Type(), kind);
        EXPECT_EQ(parser->FirstChild()->Type(), kind);
    }
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

TEST(NodeNavigation, WrappersAreIndependentOfEachOtherAndOfTheDocument) {
    auto parser = ParserWith("<r><x a='1'/></r>");
    auto root = parser->FirstChild();
    auto first = root->FirstChild();
    auto second = root->FirstChild();
    ASSERT_NE(first.get(), second.get());
    auto next = first->NextSibling();
    EXPECT_EQ(first->Name(), "x");  // asking for a neighbour does not move the wrapper
    first.reset();
    root.reset();
    EXPECT_EQ(second->Name(), "x");
    EXPECT_EQ(second->GetAttribute("a")->ToInt(), 1);
    EXPECT_EQ(test::Saved(*parser), "<r><x a=\"1\"/></r>");
}

// ---- Invalid wrappers ----

TEST(NodeNavigation, EndsOfTheTreeGiveInvalidWrappersNeverNull) {
    auto parser = ParserWith("<r><only/></r>");
    auto only = parser->FirstChild()->FirstChild();
    for (const auto& node : {only->NextSibling(), only->PreviousSibling(), only->FirstChild(),
                             only->LastChild(), only->Child("any")}) {
        ASSERT_NE(node, nullptr);
        EXPECT_TRUE(node->Invalid());
        EXPECT_EQ(node->Type(), Node::TypeName::Null);
        EXPECT_TRUE(node->Name().empty());
    }
    for (const auto& attribute :
         {only->FirstAttribute(), only->LastAttribute(), only->GetAttribute("a")}) {
        ASSERT_NE(attribute, nullptr);
        EXPECT_TRUE(attribute->Invalid());
    }
}

TEST(NodeNavigation, EverythingOnAnInvalidWrapperIsSafe) {
    auto invalid = ParserWith("<r/>")->FirstChild()->NextSibling();
    const PugiNode defaulted;
    for (const Node* node :
         {static_cast<const Node*>(invalid.get()), static_cast<const Node*>(&defaulted)}) {
        EXPECT_TRUE(node->Invalid());
        EXPECT_EQ(node->Type(), Node::TypeName::Null);
        EXPECT_TRUE(node->Name().empty());
        EXPECT_TRUE(node->FirstChild()->Invalid());
        EXPECT_TRUE(node->LastChild()->Invalid());
        EXPECT_TRUE(node->NextSibling()->Invalid());
        EXPECT_TRUE(node->PreviousSibling()->Invalid());
        EXPECT_TRUE(node->Child("r")->Invalid());
        EXPECT_TRUE(node->FirstAttribute()->Invalid());
        EXPECT_TRUE(node->LastAttribute()->Invalid());
        EXPECT_TRUE(node->GetAttribute("a")->Invalid());
        EXPECT_TRUE(node->FirstChild()->FirstChild()->NextSibling()->Invalid());
    }
}

// ---- The Debug record for wrappers over nothing ----

TEST(EmptyNodeRecord, OneRecordPerEmptyNodeWrapper) {
    auto parser = ParserWith("<r><only/></r>");
    auto only = parser->FirstChild()->FirstChild();
    LogCapture capture(LogLevel::Debug);

    auto next = only->NextSibling();
    ASSERT_EQ(capture.Records().size(), 1u);
    ExpectEmptyNodeRecord(capture.Records()[0]);
    EXPECT_TRUE(next->Invalid());
    EXPECT_EQ(next->Type(), Node::TypeName::Null);
    EXPECT_TRUE(next->Name().empty());
    EXPECT_EQ(capture.Records().size(), 1u);  // queries on it write nothing

    capture.Clear();
    auto deeper = next->FirstChild()->LastChild();  // two more empty wrappers
    ASSERT_EQ(capture.Records().size(), 2u);
    ExpectEmptyNodeRecord(capture.Records()[1]);

    capture.Clear();
    auto fromDocument = parser->Child("absent");
    ASSERT_EQ(capture.Records().size(), 1u);
    ExpectEmptyNodeRecord(capture.Records()[0]);
}

TEST(EmptyNodeRecord, NoneForValidNodesDefaultWrappersOrAttributes) {
    auto parser = ParserWith("<r a='1'><x/></r>");
    LogCapture capture(LogLevel::Debug);
    auto root = parser->FirstChild();
    auto x = root->Child("x");
    auto sameX = root->FirstChild();
    PugiNode defaulted;
    PugiAttribute defaultedAttribute;
    auto noAttribute = x->FirstAttribute();
    auto pastLast = root->FirstAttribute()->NextAttribute();
    auto beforeFirst = root->LastAttribute()->PreviousAttribute();
    auto missing = root->GetAttribute("missing");
    auto fromDocument = parser->GetAttribute("a");
    EXPECT_TRUE(noAttribute->Invalid());
    EXPECT_TRUE(pastLast->Invalid());
    EXPECT_TRUE(beforeFirst->Invalid());
    EXPECT_TRUE(missing->Invalid());
    EXPECT_TRUE(fromDocument->Invalid());
    EXPECT_TRUE(capture.Records().empty());
}

TEST(EmptyNodeRecord, NoneWhenDebugIsDisabled) {
    auto parser = ParserWith("<r/>");
    for (LogLevel threshold : {LogLevel::Info, LogLevel::Warning, LogLevel::Error}) {
        LogCapture capture(threshold);
        auto nothing = parser->FirstChild()->NextSibling();
        auto more = nothing->FirstChild();
        EXPECT_TRUE(more->Invalid());
        EXPECT_TRUE(capture.Records().empty()) << static_cast<int>(threshold);
    }
}

}  // namespace
}  // namespace qiv
