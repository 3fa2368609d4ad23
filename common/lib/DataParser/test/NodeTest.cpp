// Walking the tree, looking nodes and attributes up, and reading and writing
// their values.
#include <gtest/gtest.h>

#include <pugixml.hpp>

#include <climits>
#include <limits>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "InterfaceFactory.h"
#include "PugiAttribute.h"
#include "PugiNode.h"
#include "TestSupport.h"

namespace qiv {
namespace {

using test::ParserWith;
using test::Saved;
using T = Node::TypeName;

// "kind:name" of every item from first on, stepping with next, in the order
// visited.
template <typename Item, typename Next>
std::vector<std::string> Walk(std::unique_ptr<Item> item, Next next) {
    std::vector<std::string> seen;
    for (; !item->Invalid(); item = next(*item)) {
        if constexpr (std::is_same_v<Item, Node>) {
            seen.push_back(std::to_string(static_cast<int>(item->Type())) + ":" +
                           std::string(item->Name()));
        } else {
            seen.emplace_back(item->Name());
        }
    }
    return seen;
}

// ---- Walking ----

TEST(Navigation, ChildrenOfEveryKindAndAttributesInOrderBothWays) {
    auto parser =
        ParserWith("<r first='1' second='2' third='3'><a/>text<!--c--><![CDATA[d]]><b/></r>");
    auto root = parser->FirstChild();
    const std::vector<std::string> children = {"2:a", "3:", "5:", "4:", "2:b"};
    EXPECT_EQ(Walk(root->FirstChild(), [](const Node& n) { return n.NextSibling(); }), children);
    EXPECT_EQ(Walk(root->LastChild(), [](const Node& n) { return n.PreviousSibling(); }),
              std::vector<std::string>(children.rbegin(), children.rend()));
    const std::vector<std::string> attributes = {"first", "second", "third"};
    EXPECT_EQ(Walk(root->FirstAttribute(), [](const Attribute& a) { return a.NextAttribute(); }),
              attributes);
    EXPECT_EQ(Walk(root->LastAttribute(), [](const Attribute& a) { return a.PreviousAttribute(); }),
              std::vector<std::string>(attributes.rbegin(), attributes.rend()));

    // Every call gives a wrapper of its own, whose views point into the document.
    auto again = parser->Child("r");
    ASSERT_NE(again.get(), root.get());
    EXPECT_EQ(again->Name().data(), root->Name().data());
    EXPECT_EQ(again->LastAttribute()->Name().data(), root->GetAttribute("third")->Name().data());
    root.reset();
    EXPECT_EQ(again->LastChild()->Name(), "b");
}

// Names are compared exactly and up to a NUL, and a view is not read past its end.
TEST(Navigation, LookupByNameFindsTheFirstDirectMatchExactly) {
    using namespace std::string_view_literals;
    auto parser = ParserWith("<r id='7' ID='8'><x>1</x><y><z/></y><x>2</x><X>3</X></r>");
    auto root = parser->FirstChild();
    const std::string_view longer = "xy IDs";
    std::vector<int> found;  // the value of what was found, -1 for nothing
    for (std::string_view name :
         {"x"sv, "X"sv, "y\0junk"sv, longer.substr(0, 1), "z"sv, ""sv, "x "sv, "\0x"sv}) {
        const auto child = root->Child(name);
        found.push_back(child->Invalid() ? -1 : child->ToInt());
    }
    for (std::string_view name : {"id"sv, "ID"sv, "id\0x"sv, longer.substr(3, 2), "Id"sv, "i"sv}) {
        const auto attribute = root->GetAttribute(name);
        found.push_back(attribute->Invalid() ? -1 : attribute->ToInt());
    }
    EXPECT_EQ(found, (std::vector<int>{1, 3, 0, 1, -1, -1, -1, -1, 7, 8, 7, 8, -1, -1}));
}

TEST(Navigation, SubjectOfTheParserIsTheDocumentNodeNotTheDocumentElement) {
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
    EXPECT_EQ(parser->Child(std::string_view("root\0tail", 9))->Name(), "root");

    auto built = InterfaceFactory::Create<DataParserIF>("XML");
    ASSERT_NE(built->AppendChild("root"), nullptr);
    ASSERT_NE(built->AppendChild(T::PCData, "top"), nullptr);
    EXPECT_EQ(built->Value(), "top");
    EXPECT_EQ(built->Text(), "top");
}

// ---- Nothing there: invalid wrappers, never null ----

// Past the ends of the tree, and from wrappers over nothing, navigation gives
// invalid wrappers, never null. Wrappers without a value read the defaults,
// and those over nothing refuse every write.
TEST(Navigation, NothingThereGivesInvalidWrappersThatReadDefaultsAndRefuseWrites) {
    const std::string xml = R"(<r a="1"><only><e/><x>1</x></only></r>)";
    auto parser = ParserWith(xml);
    auto only = parser->FirstChild()->FirstChild();
    auto invalid = only->NextSibling();
    auto invalidAttribute = only->FirstAttribute();
    PugiNode defaulted;
    PugiAttribute defaultedAttribute;
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
    const std::string longer = "defaultXYZ";
    const auto readsDefaults = [&longer](const auto& target) {
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
    const DataValue values[] = {"text", std::string_view("view"), 1, 1u, 1.0, 1.0f, true};

    expectNothingAround(*only);
    expectNothingAround(*parser);
    readsDefaults(*only);  // element children only
    readsDefaults(*only->FirstChild());
    for (Node* node : {invalid.get(), static_cast<Node*>(&defaulted)}) {
        expectNothingAround(*node);
        readsDefaults(*node);
        EXPECT_TRUE(node->FirstChild()->Invalid());
        EXPECT_TRUE(node->LastChild()->Invalid());
        EXPECT_TRUE(node->Child("r")->Invalid());
        EXPECT_TRUE(node->FirstChild()->FirstChild()->NextSibling()->Invalid());
        for (const DataValue& value : values) {
            EXPECT_FALSE(node->SetValue(value));
        }
    }
    for (Attribute* attribute :
         {invalidAttribute.get(), static_cast<Attribute*>(&defaultedAttribute)}) {
        readsDefaults(*attribute);
        EXPECT_TRUE(attribute->NextAttribute()->Invalid());
        EXPECT_TRUE(attribute->PreviousAttribute()->Invalid());
        for (const DataValue& value : values) {
            EXPECT_FALSE(attribute->SetValue(value));
        }
    }
    EXPECT_EQ(Saved(*parser), xml);
}

// ---- Values ----

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

TEST(Value, TheDefaultStandsInOnlyWhereNoTextIsStored) {
    auto parser = ParserWith(
        "<r k='' v='x'><empty/><pair></pair><cdata><![CDATA[]]></cdata><comment><!--c--></comment>"
        "<nested><b>t</b></nested><late><b/>t</late><text>t</text></r>");
    auto root = parser->FirstChild();
    // Element (or attribute, after '@') and what ToString("d\0x") reads.
    const std::pair<std::string, std::string> cases[] = {
        {"empty", "d"}, {"pair", "d"}, {"cdata", ""}, {"comment", "d"}, {"nested", "d"},
        {"late", "t"},  {"text", "t"}, {"@k", ""},    {"@v", "x"},      {"@none", "d"},
    };
    const std::string_view fallback("d\0x", 3);
    for (const auto& [where, expected] : cases) {
        const std::string read = where[0] == '@'
                                     ? root->GetAttribute(where.substr(1))->ToString(fallback)
                                     : root->Child(where)->ToString(fallback);
        EXPECT_EQ(read, expected) << where;
    }
    EXPECT_EQ(root->Child("text")->FirstChild()->ToString(fallback), "t");
    EXPECT_EQ(root->Child("cdata")->FirstChild()->ToString(fallback), "");
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
