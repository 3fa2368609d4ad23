#include <gtest/gtest.h>

#include <pugixml.hpp>

#include <climits>
#include <limits>
#include <string>
#include <tuple>
#include <type_traits>

#include "PugiNode.h"
#include "TestSupport.h"

namespace qiv {
namespace {

using test::ParserWith;
using test::Saved;

// What pugixml itself stores for a value written with its own overload.
template <typename T>
std::string PugiText(T value) {
    pugi::xml_document document;
    pugi::xml_text text = document.append_child("v").text();
    text.set(value);
    return text.get();
}

// Runs the check on an element's text and on an attribute's value.
template <typename Check>
void OnNodeAndAttribute(Check&& check) {
    auto parser = ParserWith("<r a='old'>old</r>");
    auto node = parser->FirstChild();
    auto attribute = node->GetAttribute("a");
    {
        SCOPED_TRACE("node");
        check(*node);
    }
    {
        SCOPED_TRACE("attribute");
        check(*attribute);
    }
}

TEST(Value, EveryAlternativeIsStoredAsPugixmlWritesItAndReadsBack) {
    const unsigned int largest = std::numeric_limits<unsigned int>::max();
    const int smallest = std::numeric_limits<int>::min();
    OnNodeAndAttribute([&](auto& target) {
        // The value, its text, and whether the matching reader gives it back.
        // Text is stored up to its first NUL, and a view is not read past its end.
        const std::string longer = "keep-this-not-that";
        using Target = std::remove_reference_t<decltype(target)>;
        const std::tuple<DataValue, std::string, bool (*)(const Target&)> cases[] = {
            {"chars", "chars", nullptr},
            {std::string_view("view"), "view", nullptr},
            {smallest, "-2147483648", [](const Target& t) { return t.ToInt(0) == INT_MIN; }},
            {largest, "4294967295", [](const Target& t) { return t.ToUnsignedInt(0) == UINT_MAX; }},
            {0.1, PugiText(0.1), [](const Target& t) { return t.ToDouble(0.0) == 0.1; }},
            {0.1f, PugiText(0.1f), [](const Target& t) { return t.ToFloat(0.0f) == 0.1f; }},
            {true, "true", [](const Target& t) { return t.ToBool(false); }},
            {false, "false", [](const Target& t) { return !t.ToBool(true); }},
            {std::string_view("ab\0cd", 5), "ab", nullptr},
            {"xy\0z", "xy", nullptr},
            {std::string_view(longer).substr(0, 9), "keep-this", nullptr},
        };
        for (const auto& [value, text, readsBack] : cases) {
            EXPECT_TRUE(target.SetValue(value)) << text;
            EXPECT_EQ(target.ToString(), text);
            EXPECT_TRUE(readsBack == nullptr || readsBack(target)) << text;
        }
        EXPECT_FALSE(target.SetValue(static_cast<const char*>(nullptr)));
        EXPECT_EQ(target.ToString(), "keep-this");

        // The default is only for a missing value, not for unconvertible text.
        ASSERT_TRUE(target.SetValue("abc"));
        EXPECT_EQ(target.ToInt(5), 0);
        EXPECT_EQ(target.ToUnsignedInt(5u), 0u);
        EXPECT_EQ(target.ToDouble(5.0), 0.0);
        EXPECT_FALSE(target.ToBool(true));
        ASSERT_TRUE(target.SetValue("12abc"));
        EXPECT_EQ(target.ToInt(5), 12);
    });
}

TEST(Value, ElementWritesIntoItsFirstTextChildTextNodesIntoThemselves) {
    auto parser = ParserWith("<r><e/><a>one<b/>two</a><c><![CDATA[old]]></c></r>");
    auto root = parser->FirstChild();
    auto e = root->Child("e");
    EXPECT_TRUE(e->SetValue("first"));
    EXPECT_TRUE(e->SetValue("<&>"));  // overwrites, no second text child
    EXPECT_TRUE(root->Child("a")->SetValue("new"));
    EXPECT_TRUE(root->Child("a")->LastChild()->SetValue(7u));
    EXPECT_TRUE(root->Child("c")->SetValue("<&>"));
    EXPECT_EQ(e->ToString(), "<&>");
    // PugiNode's own text reader: the first text child, or the text node itself.
    EXPECT_EQ(static_cast<PugiNode&>(*root->Child("a")).DoText(), "new");
    EXPECT_EQ(static_cast<PugiNode&>(*root->Child("a")->LastChild()).DoText(), "7");
    EXPECT_EQ(static_cast<PugiNode&>(*root->Child("c")).DoText(), "<&>");
    EXPECT_TRUE(static_cast<PugiNode&>(*root->Child("a")->Child("b")).DoText().empty());
    EXPECT_TRUE(PugiNode().DoText().empty());
    EXPECT_EQ(Saved(*parser), "<r><e>&lt;&amp;&gt;</e><a>new<b/>7</a><c><![CDATA[<&>]]></c></r>");
}

}  // namespace
}  // namespace qiv
