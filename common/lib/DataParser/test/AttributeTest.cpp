#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PugiAttribute.h"
#include "TestSupport.h"

namespace qiv {
namespace {

using test::ParserWith;

TEST(Attribute, DefaultConstructedWrapperIsInvalidEverywhere) {
    const PugiAttribute attribute;
    EXPECT_TRUE(attribute.Invalid());
    EXPECT_TRUE(attribute.Name().empty());
    for (const auto& neighbour : {attribute.NextAttribute(), attribute.PreviousAttribute()}) {
        ASSERT_NE(neighbour, nullptr);
        EXPECT_TRUE(neighbour->Invalid());
        EXPECT_TRUE(neighbour->Name().empty());
        EXPECT_TRUE(neighbour->NextAttribute()->Invalid());
    }
}

TEST(Attribute, WalkVisitsEveryAttributeOnceInOrderAndBack) {
    auto parser = ParserWith("<r first='1' second='2' third='3' fourth='4'/>");
    auto root = parser->FirstChild();
    std::vector<std::string> forward;
    for (auto a = root->FirstAttribute(); !a->Invalid(); a = a->NextAttribute()) {
        forward.emplace_back(a->Name());
    }
    EXPECT_EQ(forward, (std::vector<std::string>{"first", "second", "third", "fourth"}));

    std::vector<std::string> backward;
    for (auto a = root->LastAttribute(); !a->Invalid(); a = a->PreviousAttribute()) {
        backward.emplace_back(a->Name());
    }
    EXPECT_EQ(backward, (std::vector<std::string>{"fourth", "third", "second", "first"}));
}

TEST(Attribute, EndsOfTheListGiveInvalidWrappersNeverNull) {
    auto parser = ParserWith("<r a='1' b='2'/>");
    auto root = parser->FirstChild();
    auto last = root->LastAttribute();
    auto first = root->FirstAttribute();
    auto pastLast = last->NextAttribute();
    auto beforeFirst = first->PreviousAttribute();
    ASSERT_NE(pastLast, nullptr);
    ASSERT_NE(beforeFirst, nullptr);
    EXPECT_TRUE(pastLast->Invalid());
    EXPECT_TRUE(beforeFirst->Invalid());
    // Asking for a neighbour leaves the wrapper where it was.
    EXPECT_EQ(last->Name(), "b");
    EXPECT_EQ(first->Name(), "a");
    // A single attribute is both first and last.
    auto single = ParserWith("<r only='x'/>");
    EXPECT_EQ(single->FirstChild()->FirstAttribute()->Name(), "only");
    EXPECT_EQ(single->FirstChild()->LastAttribute()->Name(), "only");
}

TEST(Attribute, LookupByNameIsExactAndStopsAtNul) {
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

TEST(Attribute, DestroyingAWrapperLeavesTheAttribute) {
    auto parser = ParserWith("<r a='one' b='two'/>");
    auto root = parser->FirstChild();
    auto first = root->GetAttribute("a");
    auto second = root->GetAttribute("a");
    ASSERT_NE(first.get(), second.get());
    first.reset();
    EXPECT_EQ(second->Name(), "a");
    EXPECT_EQ(second->ToString(), "one");
    EXPECT_EQ(root->FirstAttribute()->NextAttribute()->ToString(), "two");
    EXPECT_EQ(test::Saved(*parser), "<r a=\"one\" b=\"two\"/>");
}

TEST(Attribute, NameViewPointsIntoTheDocument) {
    auto parser = ParserWith("<r name='v'/>");
    auto root = parser->FirstChild();
    EXPECT_EQ(root->FirstAttribute()->Name().data(), root->GetAttribute("name")->Name().data());
}

}  // namespace
}  // namespace qiv
