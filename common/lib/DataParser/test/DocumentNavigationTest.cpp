#include <gtest/gtest.h>

#include <string>

#include "InterfaceFactory.h"
#include "TestSupport.h"

namespace qiv {
namespace {

using test::ParserWith;

TEST(DocumentNavigation, NewParserIsAnEmptyDocumentNode) {
    auto parser = InterfaceFactory::Create<DataParserIF>("DefaultIF");
    EXPECT_EQ(parser->Type(), Node::TypeName::Document);
    EXPECT_FALSE(parser->Invalid());
    EXPECT_TRUE(parser->Name().empty());
    EXPECT_TRUE(parser->Value().empty());
    EXPECT_TRUE(parser->Text().empty());
    for (const auto& node :
         {parser->FirstChild(), parser->LastChild(), parser->Child("root"), parser->Child("")}) {
        ASSERT_NE(node, nullptr);
        EXPECT_TRUE(node->Invalid());
        EXPECT_EQ(node->Type(), Node::TypeName::Null);
    }
}

TEST(DocumentNavigation, SubjectIsTheDocumentNodeNotTheDocumentElement) {
    auto parser = ParserWith("<root a='1'>text<x/></root>");
    EXPECT_EQ(parser->Type(), Node::TypeName::Document);
    EXPECT_TRUE(parser->Name().empty());
    // The document element's text and attribute are not the document node's.
    EXPECT_TRUE(parser->Value().empty());
    EXPECT_TRUE(parser->Text().empty());

    auto first = parser->FirstChild();
    auto last = parser->LastChild();
    EXPECT_EQ(first->Name(), "root");
    EXPECT_EQ(last->Name(), "root");
    EXPECT_EQ(first->Type(), Node::TypeName::Element);
    EXPECT_EQ(parser->Child("root")->Name(), "root");
    EXPECT_TRUE(parser->Child("x")->Invalid());  // grandchild
}

TEST(DocumentNavigation, DocumentNodeHasNoSiblingsAndNoAttributes) {
    auto parser = ParserWith("<root a='1' b='2'/>");
    for (const auto& node : {parser->NextSibling(), parser->PreviousSibling()}) {
        ASSERT_NE(node, nullptr);
        EXPECT_TRUE(node->Invalid());
    }
    for (const auto& attribute :
         {parser->FirstAttribute(), parser->LastAttribute(), parser->GetAttribute("a")}) {
        ASSERT_NE(attribute, nullptr);
        EXPECT_TRUE(attribute->Invalid());
        EXPECT_TRUE(attribute->Name().empty());
    }
}

TEST(DocumentNavigation, ChildNamesCompareExactly) {
    auto parser = ParserWith("<Root/>");
    EXPECT_FALSE(parser->Child("Root")->Invalid());
    EXPECT_TRUE(parser->Child("root")->Invalid());
    EXPECT_TRUE(parser->Child("ROOT")->Invalid());
    EXPECT_TRUE(parser->Child("Roo")->Invalid());
    EXPECT_TRUE(parser->Child("Root ")->Invalid());
    // A view that is not NUL-terminated must not read past its end.
    const std::string longer = "RootX";
    EXPECT_FALSE(parser->Child(std::string_view(longer).substr(0, 4))->Invalid());
}

TEST(DocumentNavigation, ChildNameIsComparedUpToAnEmbeddedNul) {
    auto parser = ParserWith("<root/>");
    EXPECT_EQ(parser->Child(std::string_view("root\0tail", 9))->Name(), "root");
    EXPECT_TRUE(parser->Child(std::string_view("\0root", 5))->Invalid());
}

TEST(DocumentNavigation, LeadingCommentIsTheFirstChildOfAStringLoad) {
    auto parser = ParserWith("<!-- head --><root/><!-- tail -->");
    EXPECT_EQ(parser->FirstChild()->Type(), Node::TypeName::Comment);
    // A comment has no text object: its content is not its value.
    EXPECT_EQ(parser->FirstChild()->ToString("none"), "none");
    EXPECT_EQ(parser->FirstChild()->NextSibling()->Name(), "root");
    EXPECT_EQ(parser->LastChild()->Type(), Node::TypeName::Comment);
    EXPECT_EQ(parser->Child("root")->Type(), Node::TypeName::Element);
}

TEST(DocumentNavigation, ValueAndTextAreTheFirstTopLevelText) {
    auto parser = InterfaceFactory::Create<DataParserIF>("XML");
    ASSERT_NE(parser->AppendChild("root"), nullptr);
    ASSERT_NE(parser->AppendChild(Node::TypeName::PCData, "top"), nullptr);
    EXPECT_EQ(parser->Value(), "top");
    EXPECT_EQ(parser->Text(), "top");
}

TEST(DocumentNavigation, EachCallGivesADistinctWrapperOfTheSameNode) {
    auto parser = ParserWith("<root><x/></root>");
    auto first = parser->FirstChild();
    auto second = parser->FirstChild();
    ASSERT_NE(first.get(), second.get());
    EXPECT_EQ(first->Name(), "root");
    first.reset();
    EXPECT_EQ(second->Name(), "root");
    EXPECT_EQ(second->FirstChild()->Name(), "x");
    EXPECT_EQ(test::Saved(*parser), "<root><x/></root>");
}

TEST(DocumentNavigation, NameViewPointsIntoTheDocument) {
    auto parser = ParserWith("<root/>");
    auto root = parser->FirstChild();
    const std::string_view a = root->Name();
    const std::string_view b = parser->Child("root")->Name();
    EXPECT_EQ(a.data(), b.data());
}

}  // namespace
}  // namespace qiv
