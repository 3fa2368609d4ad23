#include <gtest/gtest.h>

#include <pugixml.hpp>

#include <limits>
#include <string>

#include "PugiAttribute.h"
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
        const std::pair<DataValue, std::string> cases[] = {
            {"chars", "chars"},
            {std::string_view("view"), "view"},
            {smallest, "-2147483648"},
            {largest, "4294967295"},
            {0.1, PugiText(0.1)},
            {0.1f, PugiText(0.1f)},
            {true, "true"},
            {false, "false"},
        };
        for (const auto& [value, text] : cases) {
            EXPECT_TRUE(target.SetValue(value)) << text;
            EXPECT_EQ(target.ToString(), text);
        }
        ASSERT_TRUE(target.SetValue(smallest));
        EXPECT_EQ(target.ToInt(0), smallest);
        ASSERT_TRUE(target.SetValue(largest));
        EXPECT_EQ(target.ToUnsignedInt(0), largest);
        ASSERT_TRUE(target.SetValue(0.1));
        EXPECT_EQ(target.ToDouble(0.0), 0.1);
        ASSERT_TRUE(target.SetValue(0.1f));
        EXPECT_EQ(target.ToFloat(0.0f), 0.1f);
        ASSERT_TRUE(target.SetValue(true));
        EXPECT_TRUE(target.ToBool(false));
    });
}

TEST(Value, TextIsStoredUpToItsFirstNulAndNotReadPastItsView) {
    const std::string text = "keep-this-not-that";
    OnNodeAndAttribute([&](auto& target) {
        EXPECT_TRUE(target.SetValue(std::string_view("ab\0cd", 5)));
        EXPECT_EQ(target.ToString(), "ab");
        EXPECT_TRUE(target.SetValue("xy\0z"));
        EXPECT_EQ(target.ToString(), "xy");
        EXPECT_TRUE(target.SetValue(std::string_view(text).substr(0, 9)));
        EXPECT_EQ(target.ToString(), "keep-this");
        EXPECT_FALSE(target.SetValue(static_cast<const char*>(nullptr)));
        EXPECT_EQ(target.ToString(), "keep-this");
    });
}

TEST(Value, TextThatIsNotANumberConvertsAsPugixmlDoes) {
    OnNodeAndAttribute([](auto& target) {
        ASSERT_TRUE(target.SetValue("abc"));
        // The default is only for a missing value, not for unconvertible text.
        EXPECT_EQ(target.ToInt(5), 0);
        EXPECT_EQ(target.ToUnsignedInt(5u), 0u);
        EXPECT_EQ(target.ToDouble(5.0), 0.0);
        EXPECT_FALSE(target.ToBool(true));
        ASSERT_TRUE(target.SetValue("12abc"));
        EXPECT_EQ(target.ToInt(5), 12);
    });
}

TEST(Value, WithoutAValueReadersGiveTheDefaultAndWritersRefuse) {
    auto parser = ParserWith("<r><empty/><nested><x>1</x></nested></r>");
    auto root = parser->FirstChild();
    const std::string longer = "defaultXYZ";
    const auto readsDefaults = [&](const auto& target) {
        EXPECT_EQ(target.ToString("fallback"), "fallback");
        EXPECT_EQ(target.ToString(std::string_view("a\0b", 3)), "a");
        EXPECT_EQ(target.ToString(std::string_view(longer).substr(0, 7)), "default");
        EXPECT_EQ(target.ToString(), "");
        EXPECT_EQ(target.ToInt(-7), -7);
        EXPECT_EQ(target.ToUnsignedInt(4000000000u), 4000000000u);
        EXPECT_EQ(target.ToDouble(1.0e300), 1.0e300);
        EXPECT_EQ(target.ToFloat(-2.75f), -2.75f);
        EXPECT_TRUE(target.ToBool(true));
        EXPECT_FALSE(target.ToBool(false));
    };
    const auto refusesWrites = [](auto& target) {
        for (const DataValue& value :
             {DataValue("text"), DataValue(std::string_view("view")), DataValue(1), DataValue(1u),
              DataValue(1.0), DataValue(1.0f), DataValue(true)}) {
            EXPECT_FALSE(target.SetValue(value));
        }
    };
    readsDefaults(*root->Child("empty"));
    readsDefaults(*root->Child("nested"));
    auto invalidNode = root->NextSibling();
    auto invalidAttribute = root->FirstAttribute();
    PugiNode defaultNode;
    PugiAttribute defaultAttribute;
    readsDefaults(*invalidNode);
    readsDefaults(*invalidAttribute);
    readsDefaults(defaultNode);
    readsDefaults(defaultAttribute);
    refusesWrites(*invalidNode);
    refusesWrites(*invalidAttribute);
    refusesWrites(defaultNode);
    refusesWrites(defaultAttribute);
    EXPECT_EQ(Saved(*parser), "<r><empty/><nested><x>1</x></nested></r>");
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
    EXPECT_EQ(Saved(*parser), "<r><e>&lt;&amp;&gt;</e><a>new<b/>7</a><c><![CDATA[<&>]]></c></r>");
}

TEST(Value, ToStringIsACopyThatOutlivesTheContent) {
    auto parser = ParserWith("<r a='attribute value'><x>node text that is long enough</x></r>");
    auto root = parser->FirstChild();
    auto x = root->Child("x");
    const std::string nodeText = x->ToString();
    const std::string attributeText = root->GetAttribute("a")->ToString();
    ASSERT_TRUE(root->RemoveChild(x));
    parser->Reset();
    EXPECT_EQ(nodeText, "node text that is long enough");
    EXPECT_EQ(attributeText, "attribute value");
}

}  // namespace
}  // namespace qiv
