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

// What pugixml itself stores for a value written with its own overload.
template <typename T>
std::string PugiText(T value) {
    pugi::xml_document document;
    pugi::xml_text text = document.append_child("v").text();
    text.set(value);
    return text.get();
}

// The same checks run on an element's text and on an attribute's value.
class ValueTest : public ::testing::Test {
  protected:
    void SetUp() override {
        parser_ = ParserWith("<r a='old'>old</r>");
        node_ = parser_->FirstChild();
        attribute_ = node_->GetAttribute("a");
    }

    template <typename Check>
    void OnBoth(Check&& check) {
        {
            SCOPED_TRACE("node");
            check(*node_);
        }
        {
            SCOPED_TRACE("attribute");
            check(*attribute_);
        }
    }

    std::unique_ptr<DataParserIF> parser_;
    std::unique_ptr<Node> node_;
    std::unique_ptr<Attribute> attribute_;
};

TEST_F(ValueTest, EveryAlternativeIsStoredAsPugixmlWritesIt) {
    const unsigned int largest = std::numeric_limits<unsigned int>::max();
    OnBoth([&](auto& target) {
        EXPECT_TRUE(target.SetValue("chars"));
        EXPECT_EQ(target.ToString(), "chars");
        EXPECT_TRUE(target.SetValue(std::string_view("view")));
        EXPECT_EQ(target.ToString(), "view");
        EXPECT_TRUE(target.SetValue(-42));
        EXPECT_EQ(target.ToString(), "-42");
        EXPECT_TRUE(target.SetValue(largest));
        EXPECT_EQ(target.ToString(), "4294967295");
        EXPECT_TRUE(target.SetValue(0.1));
        EXPECT_EQ(target.ToString(), PugiText(0.1));
        EXPECT_TRUE(target.SetValue(0.1f));
        EXPECT_EQ(target.ToString(), PugiText(0.1f));
        EXPECT_TRUE(target.SetValue(true));
        EXPECT_EQ(target.ToString(), "true");
        EXPECT_TRUE(target.SetValue(false));
        EXPECT_EQ(target.ToString(), "false");
    });
}

TEST_F(ValueTest, TypedReadersReturnWhatWasWritten) {
    const unsigned int largest = std::numeric_limits<unsigned int>::max();
    OnBoth([&](auto& target) {
        ASSERT_TRUE(target.SetValue(42));
        EXPECT_EQ(target.ToInt(0), 42);
        ASSERT_TRUE(target.SetValue(std::numeric_limits<int>::min()));
        EXPECT_EQ(target.ToInt(0), std::numeric_limits<int>::min());
        ASSERT_TRUE(target.SetValue(largest));
        EXPECT_EQ(target.ToUnsignedInt(0), largest);
        ASSERT_TRUE(target.SetValue(2.5));
        EXPECT_EQ(target.ToDouble(0.0), 2.5);
        ASSERT_TRUE(target.SetValue(-1.25f));
        EXPECT_EQ(target.ToFloat(0.0f), -1.25f);
        ASSERT_TRUE(target.SetValue(0.1));
        EXPECT_EQ(target.ToDouble(0.0), 0.1);
        ASSERT_TRUE(target.SetValue(0.1f));
        EXPECT_EQ(target.ToFloat(0.0f), 0.1f);
        ASSERT_TRUE(target.SetValue(true));
        EXPECT_TRUE(target.ToBool(false));
        ASSERT_TRUE(target.SetValue(false));
        EXPECT_FALSE(target.ToBool(true));
    });
}

TEST_F(ValueTest, NullCharPointerIsRefusedAndChangesNothing) {
    OnBoth([](auto& target) {
        EXPECT_FALSE(target.SetValue(static_cast<const char*>(nullptr)));
        EXPECT_EQ(target.ToString(), "old");
    });
    EXPECT_EQ(test::Saved(*parser_), "<r a=\"old\">old</r>");
}

TEST_F(ValueTest, TextIsStoredUpToItsFirstNul) {
    OnBoth([](auto& target) {
        EXPECT_TRUE(target.SetValue(std::string_view("ab\0cd", 5)));
        EXPECT_EQ(target.ToString(), "ab");
        EXPECT_TRUE(target.SetValue("xy\0z"));
        EXPECT_EQ(target.ToString(), "xy");
    });
}

TEST_F(ValueTest, StringViewIsNotReadPastItsEnd) {
    const std::string text = "keep-this-not-that";
    OnBoth([&](auto& target) {
        EXPECT_TRUE(target.SetValue(std::string_view(text).substr(0, 9)));
        EXPECT_EQ(target.ToString(), "keep-this");
    });
}

TEST_F(ValueTest, TextThatIsNotANumberConvertsAsPugixmlDoes) {
    OnBoth([](auto& target) {
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

TEST(ValueReaders, InvalidWrappersReturnExactlyTheDefault) {
    auto parser = ParserWith("<r/>");
    auto node = parser->FirstChild()->NextSibling();
    auto attribute = parser->FirstChild()->FirstAttribute();
    const PugiNode defaultNode;
    const PugiAttribute defaultAttribute;
    auto check = [](const auto& target) {
        EXPECT_EQ(target.ToString("fallback"), "fallback");
        EXPECT_EQ(target.ToString(std::string_view("a\0b", 3)), "a");
        EXPECT_EQ(target.ToString(), "");
        EXPECT_EQ(target.ToInt(-7), -7);
        EXPECT_EQ(target.ToUnsignedInt(4000000000u), 4000000000u);
        EXPECT_EQ(target.ToDouble(1.0e300), 1.0e300);
        EXPECT_EQ(target.ToFloat(-2.75f), -2.75f);
        EXPECT_TRUE(target.ToBool(true));
        EXPECT_FALSE(target.ToBool(false));
    };
    check(*node);
    check(*attribute);
    check(defaultNode);
    check(defaultAttribute);
}

TEST(ValueReaders, ElementWithoutTextGivesTheDefault) {
    auto parser = ParserWith("<r><empty/><nested><x>1</x></nested></r>");
    for (const char* name : {"empty", "nested"}) {
        auto node = parser->FirstChild()->Child(name);
        EXPECT_EQ(node->ToString("none"), "none") << name;
        EXPECT_EQ(node->ToString(std::string_view("n\0o", 3)), "n") << name;
        EXPECT_EQ(node->ToInt(-3), -3) << name;
        EXPECT_EQ(node->ToUnsignedInt(9u), 9u) << name;
        EXPECT_EQ(node->ToDouble(0.5), 0.5) << name;
        EXPECT_EQ(node->ToFloat(1.5f), 1.5f) << name;
        EXPECT_TRUE(node->ToBool(true)) << name;
    }
}

TEST(ValueReaders, DefaultViewIsNotReadPastItsEnd) {
    auto parser = ParserWith("<r/>");
    const std::string text = "defaultXYZ";
    EXPECT_EQ(parser->FirstChild()->ToString(std::string_view(text).substr(0, 7)), "default");
}

TEST(SetValue, InvalidWrappersRefuseEveryAlternative) {
    auto parser = ParserWith("<r/>");
    auto node = parser->FirstChild()->NextSibling();
    auto attribute = parser->FirstChild()->FirstAttribute();
    PugiNode defaultNode;
    PugiAttribute defaultAttribute;
    auto check = [](auto& target) {
        EXPECT_FALSE(target.SetValue("text"));
        EXPECT_FALSE(target.SetValue(std::string_view("view")));
        EXPECT_FALSE(target.SetValue(1));
        EXPECT_FALSE(target.SetValue(1u));
        EXPECT_FALSE(target.SetValue(1.0));
        EXPECT_FALSE(target.SetValue(1.0f));
        EXPECT_FALSE(target.SetValue(true));
    };
    check(*node);
    check(*attribute);
    check(defaultNode);
    check(defaultAttribute);
    EXPECT_EQ(test::Saved(*parser), "<r/>");
}

TEST(SetValue, ElementTextIsCreatedOnceThenOverwritten) {
    auto parser = ParserWith("<r><e/></r>");
    auto element = parser->FirstChild()->FirstChild();
    EXPECT_TRUE(element->SetValue("first"));
    EXPECT_EQ(test::Saved(*parser), "<r><e>first</e></r>");
    EXPECT_TRUE(element->SetValue(2));
    EXPECT_EQ(test::Saved(*parser), "<r><e>2</e></r>");
    auto text = element->FirstChild();
    EXPECT_EQ(text->Type(), Node::TypeName::PCData);
    EXPECT_TRUE(text->NextSibling()->Invalid());
}

TEST(SetValue, ElementWritesIntoItsFirstTextChildOnly) {
    auto parser = ParserWith("<r><a>one<b/>two</a><c><![CDATA[old]]></c></r>");
    auto root = parser->FirstChild();
    EXPECT_TRUE(root->Child("a")->SetValue("new"));
    EXPECT_TRUE(root->Child("c")->SetValue("fresh"));
    EXPECT_EQ(test::Saved(*parser), "<r><a>new<b/>two</a><c><![CDATA[fresh]]></c></r>");
}

TEST(SetValue, TextNodeSetsItsOwnValue) {
    auto parser = ParserWith("<r><a>one<b/>two</a></r>");
    auto second = parser->FirstChild()->FirstChild()->LastChild();
    ASSERT_EQ(second->Type(), Node::TypeName::PCData);
    EXPECT_TRUE(second->SetValue(7u));
    EXPECT_EQ(second->ToUnsignedInt(), 7u);
    EXPECT_EQ(test::Saved(*parser), "<r><a>one<b/>7</a></r>");
}

TEST(SetValue, ValuesAreEscapedWhenSaved) {
    auto parser = ParserWith("<r a=''/>");
    auto root = parser->FirstChild();
    EXPECT_TRUE(root->SetValue("<&>"));
    EXPECT_TRUE(root->GetAttribute("a")->SetValue("\"<&"));
    EXPECT_EQ(test::Saved(*parser), "<r a=\"&quot;&lt;&amp;\">&lt;&amp;&gt;</r>");
    EXPECT_EQ(root->ToString(), "<&>");
}

TEST(ToString, ResultIsACopyThatOutlivesTheContent) {
    auto parser = ParserWith("<r a='attribute value'><x>node text that is long enough</x></r>");
    auto root = parser->FirstChild();
    auto x = root->Child("x");
    auto attribute = root->GetAttribute("a");
    const std::string nodeText = x->ToString();
    const std::string attributeText = attribute->ToString();

    ASSERT_TRUE(x->SetValue("changed"));
    ASSERT_TRUE(attribute->SetValue("changed"));
    EXPECT_EQ(nodeText, "node text that is long enough");
    EXPECT_EQ(attributeText, "attribute value");

    const std::string changed = x->ToString();
    ASSERT_TRUE(root->RemoveChild(x));
    parser->Reset();
    EXPECT_EQ(changed, "changed");
}

}  // namespace
}  // namespace qiv
