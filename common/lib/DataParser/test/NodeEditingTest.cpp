#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "EditingSupport.h"
#include "TestSupport.h"

namespace qiv {
namespace {

using test::LogCapture;
using test::ParserWith;
using test::Saved;
using T = Node::TypeName;

constexpr const char* nodeFile = "common/lib/DataParser/src/PugiNode";
constexpr std::int32_t category = 0x800B;

void ExpectRecord(const LogRecord& record, const char* function, int line, LogLevel level,
                  const std::string& message) {
    EXPECT_EQ(record.file, nodeFile);
    EXPECT_EQ(record.function, function);
    EXPECT_EQ(record.line, line);
    EXPECT_EQ(record.level, level);
    EXPECT_EQ(record.category, category);
    EXPECT_EQ(record.message, message);
}

void ExpectOnlyEmptyNodeRecord(const LogCapture& log) {
    ASSERT_EQ(log.Records().size(), 1u);
    ExpectRecord(log.Records()[0], "Impl", 47, LogLevel::Debug, "created with empty node");
}

TEST(NodeEditing, EveryChildMemberPlacesItsNodeAndReturnsIt) {
    for (const auto& entry : test::PlacementCases<Node>()) {
        SCOPED_TRACE(entry.label);
        auto parser = ParserWith("<r><a/><b/><c/></r>");
        auto root = parser->FirstChild();
        auto reference = root->Child("b");
        auto created = entry.create(*root, reference);
        ASSERT_NE(created, nullptr);
        EXPECT_FALSE(created->Invalid());
        EXPECT_EQ(created->Type(), entry.type);
        EXPECT_EQ(Saved(*parser), "<r>" + entry.children + "</r>");
        // The reference is borrowed, never consumed.
        ASSERT_NE(reference, nullptr);
        EXPECT_EQ(reference->Name(), "b");
    }
}

TEST(NodeEditing, ReturnedWrapperRefersToTheNewNode) {
    auto parser = ParserWith("<r><a/></r>");
    auto root = parser->FirstChild();
    auto element = root->AppendChild(T::Element);
    ASSERT_NE(element, nullptr);
    EXPECT_EQ(element->Name(), "");
    EXPECT_TRUE(element->FirstChild()->Invalid());

    auto item = root->AppendChild("item", 5);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->Name(), "item");
    EXPECT_EQ(item->ToInt(0), 5);
    EXPECT_EQ(item->PreviousSibling()->Type(), T::Element);
    // Writing through the wrapper changes the document.
    EXPECT_TRUE(item->SetValue("six"));
    EXPECT_EQ(root->LastChild()->ToString(), "six");
}

TEST(NodeEditing, AttributeMembersPlaceTheirAttributeWithItsValue) {
    struct Case {
        const char* label;
        std::function<std::unique_ptr<Attribute>(Node&, const std::unique_ptr<Attribute>&)> create;
        const char* saved;
    };
    using Ref = const std::unique_ptr<Attribute>&;
    const Case cases[] = {
        {"append", [](Node& n, Ref) { return n.AppendAttribute("x", 7); },
         R"(<r a="1" b="2" c="3" x="7"/>)"},
        {"prepend", [](Node& n, Ref) { return n.PrependAttribute("x", true); },
         R"(<r x="true" a="1" b="2" c="3"/>)"},
        {"after", [](Node& n, Ref r) { return n.InsertAttributeAfter("x", "v", r); },
         R"(<r a="1" b="2" x="v" c="3"/>)"},
        {"before",
         [](Node& n, Ref r) { return n.InsertAttributeBefore("x", std::string_view("w"), r); },
         R"(<r a="1" x="w" b="2" c="3"/>)"},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.label);
        auto parser = ParserWith(R"(<r a="1" b="2" c="3"/>)");
        auto root = parser->FirstChild();
        auto reference = root->GetAttribute("b");
        auto created = entry.create(*root, reference);
        ASSERT_NE(created, nullptr);
        EXPECT_EQ(created->Name(), "x");
        EXPECT_EQ(Saved(*parser), entry.saved);
        EXPECT_NE(reference, nullptr);
    }
}

TEST(NodeEditing, AttributesOfTheSameNameAreNotMerged) {
    auto parser = ParserWith("<r/>");
    auto root = parser->FirstChild();
    EXPECT_NE(root->AppendAttribute("id", 1), nullptr);
    EXPECT_NE(root->AppendAttribute("id", 2), nullptr);
    EXPECT_NE(root->PrependAttribute("id", 0), nullptr);
    EXPECT_EQ(Saved(*parser), R"(<r id="0" id="1" id="2"/>)");
}

TEST(NodeEditing, PugixmlRefusalsGiveNullAndLeaveTheDocumentAlone) {
    const std::string xml = "<r><a><g/></a><b>text</b></r>";
    auto parser = ParserWith(xml);
    const LogCapture quiet(LogLevel::Warning);
    auto root = parser->FirstChild();
    auto text = root->Child("b")->FirstChild();
    ASSERT_EQ(text->Type(), T::PCData);
    auto invalid = root->NextSibling();
    ASSERT_TRUE(invalid->Invalid());
    const char* none = nullptr;

    // Kinds that never go below an element, with and without a value.
    for (T kind : {T::Null, T::Document, T::Declaration, T::DocType}) {
        SCOPED_TRACE(static_cast<int>(kind));
        EXPECT_EQ(root->AppendChild(kind), nullptr);
        EXPECT_EQ(root->PrependChild(kind), nullptr);
        EXPECT_EQ(root->AppendChild(kind, "v"), nullptr);
        EXPECT_EQ(root->PrependChild(kind, 1), nullptr);
    }
    // Kinds that take no text: made, then removed again when the value fails.
    for (T kind : {T::Comment, T::ProcessingInstruction}) {
        SCOPED_TRACE(static_cast<int>(kind));
        EXPECT_EQ(root->AppendChild(kind, "v"), nullptr);
        EXPECT_EQ(root->PrependChild(kind, 3), nullptr);
        auto first = root->FirstChild();
        EXPECT_EQ(root->InsertChildAfter(kind, true, first), nullptr);
        EXPECT_EQ(root->InsertChildBefore(kind, 2.0, first), nullptr);
    }
    // A text node and an invalid wrapper take no children and no attributes.
    for (Node* parent : {text.get(), invalid.get()}) {
        EXPECT_EQ(parent->AppendChild("x"), nullptr);
        EXPECT_EQ(parent->PrependChild(T::Element), nullptr);
        EXPECT_EQ(parent->AppendChild("x", 1), nullptr);
        EXPECT_EQ(parent->AppendAttribute("x", 1), nullptr);
        EXPECT_EQ(parent->PrependAttribute("x", 1), nullptr);
    }
    // Values that cannot be stored.
    EXPECT_EQ(root->AppendChild("item", none), nullptr);
    EXPECT_EQ(root->AppendAttribute("id", none), nullptr);
    EXPECT_EQ(root->PrependAttribute("id", none), nullptr);

    EXPECT_EQ(Saved(*parser), xml);
}

TEST(NodeEditing, InsertRefusesAReferenceThatIsNotAChildOfThisNode) {
    const std::string xml = "<r><a><g/></a><b/></r>";
    auto parser = ParserWith(xml);
    auto other = ParserWith("<r><a/></r>");
    auto root = parser->FirstChild();
    auto grandchild = root->Child("a")->Child("g");
    auto foreignDocument = other->FirstChild()->FirstChild();
    auto invalid = root->Child("missing");
    auto itself = parser->FirstChild();

    for (const auto& [label, insert] : test::InsertCreations<Node>(T::Element)) {
        SCOPED_TRACE(label);
        EXPECT_EQ(insert(*root, grandchild), nullptr);
        EXPECT_EQ(insert(*root, foreignDocument), nullptr);
        EXPECT_EQ(insert(*root, invalid), nullptr);
        EXPECT_EQ(insert(*root, itself), nullptr);
    }
    EXPECT_EQ(Saved(*parser), xml);
    EXPECT_EQ(Saved(*other), "<r><a/></r>");

    auto attributeOfChild = ParserWith(R"(<r><a k="1"/></r>)");
    auto top = attributeOfChild->FirstChild();
    auto borrowed = top->FirstChild()->FirstAttribute();
    EXPECT_EQ(top->InsertAttributeAfter("x", 1, borrowed), nullptr);
    EXPECT_EQ(top->InsertAttributeBefore("x", 1, borrowed), nullptr);
    EXPECT_EQ(Saved(*attributeOfChild), R"(<r><a k="1"/></r>)");
}

TEST(NodeEditing, FailedValueLeavesNoNodeOrAttributeBehind) {
    // The element already has text and attributes, so a rollback that removed
    // the wrong item would show.
    const std::string xml = R"(<r k="1" l="2"><a/>text<b/><c/></r>)";
    for (const auto& [label, create] : test::NullValueCreations<Node>()) {
        SCOPED_TRACE(label);
        auto parser = ParserWith(xml);
        auto root = parser->FirstChild();
        EXPECT_EQ(create(*root, root->Child("b")), nullptr);
        EXPECT_EQ(Saved(*parser), xml);
    }

    auto parser = ParserWith(xml);
    auto root = parser->FirstChild();
    const char* none = nullptr;
    auto reference = root->GetAttribute("l");
    const LogCapture quiet(LogLevel::Warning);
    EXPECT_EQ(root->InsertAttributeAfter("m", none, reference), nullptr);
    EXPECT_EQ(root->InsertAttributeBefore("m", none, reference), nullptr);
    EXPECT_EQ(root->PrependAttribute("m", none), nullptr);
    EXPECT_EQ(root->AppendAttribute("m", none), nullptr);
    EXPECT_EQ(Saved(*parser), xml);
}

TEST(NodeEditing, KindOutsideTheTableThrowsUnlessTheReferenceIsEmpty) {
    const std::string xml = "<r><a/></r>";
    auto parser = ParserWith(xml);
    auto root = parser->FirstChild();
    auto child = root->FirstChild();
    const std::unique_ptr<Node> empty;
    for (T kind : {static_cast<T>(9), static_cast<T>(-1)}) {
        const auto expectMapAt = [](const std::function<void()>& call) {
            try {
                call();
                ADD_FAILURE() << "expected std::out_of_range";
            } catch (const std::out_of_range& error) {
                EXPECT_STREQ(error.what(), "map::at");
            }
        };
        expectMapAt([&] { root->AppendChild(kind); });
        expectMapAt([&] { root->PrependChild(kind); });
        expectMapAt([&] { root->AppendChild(kind, 1); });
        expectMapAt([&] { root->PrependChild(kind, "v"); });
        expectMapAt([&] { root->InsertChildAfter(kind, child); });
        expectMapAt([&] { root->InsertChildBefore(kind, 1, child); });

        EXPECT_EQ(root->InsertChildAfter(kind, empty), nullptr);
        EXPECT_EQ(root->InsertChildBefore(kind, empty), nullptr);
        EXPECT_EQ(root->InsertChildAfter(kind, 1, empty), nullptr);
        EXPECT_EQ(root->InsertChildBefore(kind, 1, empty), nullptr);
    }
    EXPECT_EQ(Saved(*parser), xml);
}

TEST(NodeEditing, EmptyAndForeignReferencesGiveNullOrFalse) {
    const std::string xml = R"(<r k="1"><a/></r>)";
    auto parser = ParserWith(xml);
    auto root = parser->FirstChild();
    std::unique_ptr<Node> emptyNode;
    std::unique_ptr<Node> foreignNode = std::make_unique<test::ForeignNode>();
    std::unique_ptr<Attribute> emptyAttribute;
    std::unique_ptr<Attribute> foreignAttribute = std::make_unique<test::ForeignAttribute>();

    for (auto* reference : {&emptyNode, &foreignNode}) {
        for (const auto& [label, insert] : test::InsertCreations<Node>(T::Element)) {
            SCOPED_TRACE(label);
            EXPECT_EQ(insert(*root, *reference), nullptr);
        }
        EXPECT_FALSE(root->RemoveChild(*reference));
    }
    // A foreign reference is refused before the kind is looked up.
    EXPECT_EQ(root->InsertChildAfter(static_cast<T>(42), foreignNode), nullptr);

    for (auto* reference : {&emptyAttribute, &foreignAttribute}) {
        EXPECT_EQ(root->InsertAttributeAfter("x", 1, *reference), nullptr);
        EXPECT_EQ(root->InsertAttributeBefore("x", 1, *reference), nullptr);
        EXPECT_FALSE(root->RemoveAttribute(*reference));
    }
    EXPECT_NE(foreignNode, nullptr);
    EXPECT_NE(foreignAttribute, nullptr);
    EXPECT_EQ(Saved(*parser), xml);
}

TEST(NodeEditing, RemoveChildTakesOnlyDirectChildrenWithTheirSubtree) {
    auto parser = ParserWith("<r><a><g><h/></g></a><b/></r>");
    auto root = parser->FirstChild();
    auto a = root->Child("a");
    auto grandchild = a->Child("g");

    EXPECT_FALSE(root->RemoveChild(grandchild));
    EXPECT_FALSE(a->RemoveChild(root));
    EXPECT_EQ(Saved(*parser), "<r><a><g><h/></g></a><b/></r>");

    EXPECT_TRUE(root->RemoveChild(a));
    EXPECT_NE(a, nullptr);  // the caller's pointer is left as it was
    EXPECT_EQ(Saved(*parser), "<r><b/></r>");
    EXPECT_EQ(root->FirstChild()->Name(), "b");
}

TEST(NodeEditing, RemoveAttributeTakesOnlyThisNodesAttributes) {
    auto parser = ParserWith(R"(<r k="1" l="2"><a k="3"/></r>)");
    auto root = parser->FirstChild();
    auto ofChild = root->FirstChild()->GetAttribute("k");
    EXPECT_FALSE(root->RemoveAttribute(ofChild));
    auto own = root->GetAttribute("k");
    EXPECT_TRUE(root->RemoveAttribute(own));
    EXPECT_NE(own, nullptr);
    EXPECT_EQ(Saved(*parser), R"(<r l="2"><a k="3"/></r>)");
}

TEST(NodeEditingLog, AppendChildByNameWithValueReportsTheCreatedChild) {
    auto parser = ParserWith("<r/>");
    auto root = parser->FirstChild();
    LogCapture log;
    auto item = root->AppendChild("item", 5);
    ASSERT_NE(item, nullptr);
    ASSERT_EQ(log.Records().size(), 1u);
    ExpectRecord(log.Records()[0], "DoAppendChild", 383, LogLevel::Debug,
                 "Created child with name item node has name item");

    // The name is cut at a NUL, but the record shows every character given.
    log.Clear();
    const std::string_view withNul("a\0b", 3);
    auto cut = root->AppendChild(withNul, 1);
    ASSERT_NE(cut, nullptr);
    EXPECT_EQ(cut->Name(), "a");
    ASSERT_EQ(log.Records().size(), 1u);
    ExpectRecord(log.Records()[0], "DoAppendChild", 383, LogLevel::Debug,
                 "Created child with name " + std::string(withNul) + " node has name a");
}

TEST(NodeEditingLog, OnlyAppendChildByNameWithValueReportsSuccess) {
    auto parser = ParserWith("<r><a/></r>");
    auto root = parser->FirstChild();
    auto a = root->FirstChild();
    LogCapture log;
    EXPECT_NE(root->PrependChild("x", 1), nullptr);
    EXPECT_NE(root->InsertChildAfter("x", 1, a), nullptr);
    EXPECT_NE(root->InsertChildBefore("x", 1, a), nullptr);
    EXPECT_NE(root->AppendChild("x"), nullptr);
    EXPECT_NE(root->AppendChild(T::Element, 1), nullptr);
    EXPECT_NE(root->PrependAttribute("p", 1), nullptr);
    auto p = root->FirstAttribute();
    EXPECT_NE(root->InsertAttributeAfter("q", 1, p), nullptr);
    EXPECT_NE(root->InsertAttributeBefore("o", 1, p), nullptr);
    EXPECT_TRUE(root->RemoveChild(a));
    // A value that cannot be stored is not reported by the child members.
    EXPECT_EQ(root->AppendChild("item", static_cast<const char*>(nullptr)), nullptr);
    EXPECT_TRUE(log.Records().empty());
}

TEST(NodeEditingLog, AppendAttributeReportsEachOutcome) {
    auto parser = ParserWith("<r>text</r>");
    auto root = parser->FirstChild();
    {
        LogCapture log;
        auto id = root->AppendAttribute("id", 7);
        ASSERT_NE(id, nullptr);
        EXPECT_EQ(id->ToInt(0), 7);
        ASSERT_EQ(log.Records().size(), 1u);
        ExpectRecord(log.Records()[0], "DoAppendAttribute", 481, LogLevel::Debug,
                     "Created attribute with name id attribute has name id");

        log.Clear();
        const std::string_view withNul("k\0z", 3);
        EXPECT_NE(root->AppendAttribute(withNul, 1), nullptr);
        ASSERT_EQ(log.Records().size(), 1u);
        EXPECT_EQ(log.Records()[0].message,
                  "Created attribute with name " + std::string(withNul) + " attribute has name k");

        log.Clear();
        EXPECT_EQ(root->FirstChild()->AppendAttribute("id", 1), nullptr);
        ASSERT_EQ(log.Records().size(), 1u);
        ExpectRecord(log.Records()[0], "DoAppendAttribute", 467, LogLevel::Debug,
                     "Append failed because pugi did not want to append the attribute");

        log.Clear();
        EXPECT_EQ(root->AppendAttribute("gone", static_cast<const char*>(nullptr)), nullptr);
        ASSERT_EQ(log.Records().size(), 1u);
        ExpectRecord(log.Records()[0], "DoAppendAttribute", 485, LogLevel::Error, "Append failed");
        EXPECT_TRUE(root->GetAttribute("gone")->Invalid());
    }
    {
        // With only errors enabled the failure still shows, the rest does not.
        LogCapture log(LogLevel::Error);
        EXPECT_NE(root->AppendAttribute("quiet", 1), nullptr);
        EXPECT_EQ(root->FirstChild()->AppendAttribute("id", 1), nullptr);
        EXPECT_EQ(root->AppendAttribute("gone", static_cast<const char*>(nullptr)), nullptr);
        ASSERT_EQ(log.Records().size(), 1u);
        EXPECT_EQ(log.Records()[0].line, 485);
    }
}

TEST(NodeEditingLog, OtherAttributeMembersRefuseSilently) {
    auto parser = ParserWith(R"(<r k="1">text</r>)");
    auto text = parser->FirstChild()->FirstChild();
    auto reference = parser->FirstChild()->FirstAttribute();
    LogCapture log;
    EXPECT_EQ(text->PrependAttribute("id", 1), nullptr);
    EXPECT_EQ(text->InsertAttributeAfter("id", 1, reference), nullptr);
    EXPECT_EQ(text->InsertAttributeBefore("id", 1, reference), nullptr);
    EXPECT_TRUE(log.Records().empty());
}

TEST(NodeEditingLog, RefusedChildCreationWritesOnlyTheEmptyNodeRecord) {
    auto parser = ParserWith("<r><a><g/></a></r>");
    auto root = parser->FirstChild();
    auto grandchild = root->FirstChild()->FirstChild();
    for (T kind : {T::Null, T::Document, T::DocType}) {
        LogCapture log;
        EXPECT_EQ(root->AppendChild(kind), nullptr);
        ExpectOnlyEmptyNodeRecord(log);
    }
    {
        LogCapture log;
        EXPECT_EQ(root->AppendChild(T::Declaration, "v"), nullptr);
        ExpectOnlyEmptyNodeRecord(log);
    }
    {
        LogCapture log;
        EXPECT_EQ(root->InsertChildBefore("x", 1, grandchild), nullptr);
        ExpectOnlyEmptyNodeRecord(log);
    }
    {
        // A node made and then removed again was never empty: nothing to report.
        LogCapture log;
        EXPECT_EQ(root->AppendChild(T::Comment, "v"), nullptr);
        EXPECT_TRUE(log.Records().empty());
    }
}

}  // namespace
}  // namespace qiv
