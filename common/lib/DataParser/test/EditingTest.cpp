#include <gtest/gtest.h>

#include <string>
#include <type_traits>

#include "EditingSupport.h"
#include "TestSupport.h"

namespace qiv {
namespace {

using test::ExpectEmptyNodeRecords;
using test::ExpectRecord;
using test::ForBothParents;
using test::LogCapture;
using test::ParserWith;
using test::Saved;
using T = Node::TypeName;
template <typename P>
using ParentType = std::remove_reference_t<P>;

// ---- Children, at either level ----

TEST(Editing, EveryChildMemberPlacesItsNodeAndBorrowsTheReference) {
    ForBothParents("<a/><b/><c/>", [](auto& parent, const auto& children) {
        for (const auto& entry : test::PlacementCases<ParentType<decltype(parent)>>()) {
            SCOPED_TRACE(entry.label);
            auto reference = parent.Child("b");
            auto created = entry.create(parent, reference);
            ASSERT_NE(created, nullptr);
            EXPECT_EQ(created->Type(), entry.type);
            EXPECT_EQ(children(), entry.Children());
            ASSERT_NE(reference, nullptr);
            EXPECT_EQ(reference->Name(), "b");
            ASSERT_TRUE(parent.RemoveChild(created));  // ready for the next case
        }
    });
}

// A refused creation gives null and leaves the parent's children as they
// were; the parent has more children than the reference, so a rollback that
// removed the wrong one would show.
TEST(Editing, RefusedCreationsAndRemovalsLeaveTheChildrenAsTheyWere) {
    const std::string content = "<!--c--><a><g><h/></g></a><b/>";
    auto other = ParserWith("<a/>");
    const char* none = nullptr;
    ForBothParents(content, [&](auto& parent, const auto& children) {
        auto a = parent.Child("a");
        auto b = parent.Child("b");
        // A value that cannot be stored: the node is made, then removed again.
        EXPECT_EQ(parent.AppendChild(T::Element, none), nullptr);
        EXPECT_EQ(parent.PrependChild(T::PCData, none), nullptr);
        EXPECT_EQ(parent.InsertChildAfter(T::CData, none, b), nullptr);
        EXPECT_EQ(parent.InsertChildBefore("item", none, b), nullptr);
        for (T kind : {T::Comment, T::ProcessingInstruction}) {  // kinds without text
            LogCapture log;
            EXPECT_EQ(parent.AppendChild(kind, "v"), nullptr);
            EXPECT_EQ(parent.InsertChildBefore(kind, 2.0, a), nullptr);
            EXPECT_TRUE(log.Records().empty());
        }
        // Kinds that pugixml refuses: only the record of the empty wrapper.
        for (T kind : {T::Null, T::Document}) {
            LogCapture log;
            EXPECT_EQ(parent.AppendChild(kind), nullptr);
            EXPECT_EQ(parent.PrependChild(kind, "v"), nullptr);
            EXPECT_EQ(parent.InsertChildAfter(kind, a), nullptr);
            EXPECT_EQ(parent.InsertChildBefore(kind, 1, a), nullptr);
            ExpectEmptyNodeRecords(log.Records(), 4);
        }
        // A kind outside the table throws, unless the reference is unusable.
        const T unknown = static_cast<T>(9);
        test::ExpectMapAt([&] { parent.AppendChild(unknown); });
        test::ExpectMapAt([&] { parent.PrependChild(unknown, "v"); });
        test::ExpectMapAt([&] { parent.InsertChildAfter(unknown, a); });
        test::ExpectMapAt([&] { parent.InsertChildBefore(unknown, 1, a); });

        // Only direct children serve as a reference or get removed.
        std::unique_ptr<Node> unusable[] = {a->FirstChild(), other->FirstChild(),
                                            parent.Child("missing"), nullptr,
                                            std::make_unique<test::ForeignNode>()};
        for (auto& reference : unusable) {
            for (const auto& entry : test::PlacementCases<ParentType<decltype(parent)>>()) {
                if (entry.Inserts()) {
                    EXPECT_EQ(entry.create(parent, reference), nullptr) << entry.label;
                }
            }
            EXPECT_FALSE(parent.RemoveChild(reference));
        }
        for (auto* reference : {&unusable[3], &unusable[4]}) {  // no wrapper of the library
            EXPECT_EQ(parent.InsertChildAfter(unknown, *reference), nullptr);
            EXPECT_EQ(parent.InsertChildBefore(unknown, 1, *reference), nullptr);
        }
        EXPECT_NE(unusable[4], nullptr);
        EXPECT_EQ(children(), content);

        EXPECT_TRUE(parent.RemoveChild(a));
        EXPECT_NE(a, nullptr);  // the caller's pointer is left as it was
        EXPECT_EQ(children(), "<!--c--><b/>");
    });
    EXPECT_EQ(Saved(*other), "<a/>");
}

// ---- Attributes ----

TEST(NodeEditing, AttributeMembersPlaceTheirAttributeWithItsValue) {
    using Ref = const std::unique_ptr<Attribute>&;
    const std::pair<std::function<std::unique_ptr<Attribute>(Node&, Ref)>, const char*> cases[] = {
        {[](Node& n, Ref) { return n.AppendAttribute("x", 7); }, R"(<r a="1" b="2" c="3" x="7"/>)"},
        {[](Node& n, Ref) { return n.PrependAttribute("x", true); },
         R"(<r x="true" a="1" b="2" c="3"/>)"},
        {[](Node& n, Ref r) { return n.InsertAttributeAfter("x", "v", r); },
         R"(<r a="1" b="2" x="v" c="3"/>)"},
        {[](Node& n, Ref r) { return n.InsertAttributeBefore("x", std::string_view("w"), r); },
         R"(<r a="1" x="w" b="2" c="3"/>)"},
    };
    for (const auto& [create, saved] : cases) {
        auto parser = ParserWith(R"(<r a="1" b="2" c="3"/>)");
        auto root = parser->FirstChild();
        auto reference = root->GetAttribute("b");
        auto created = create(*root, reference);
        ASSERT_NE(created, nullptr) << saved;
        EXPECT_EQ(created->Name(), "x");
        EXPECT_EQ(Saved(*parser), saved);
        EXPECT_NE(reference, nullptr);
    }
}

// Refused attributes leave nothing behind; the document node takes none at
// all and says so on standard output when asked to append one.
TEST(NodeEditing, RefusedAttributesLeaveNothingBehind) {
    const std::string xml = R"(<r k="1" l="2"><a k="3"/>text</r>)";
    auto parser = ParserWith(xml);
    auto root = parser->FirstChild();
    const char* none = nullptr;
    auto l = root->GetAttribute("l");
    std::unique_ptr<Attribute> unusable[] = {root->FirstChild()->GetAttribute("k"), nullptr,
                                             std::make_unique<test::ForeignAttribute>()};
    const LogCapture log(LogLevel::Warning);
    EXPECT_EQ(test::StdoutOf([&] {
                  EXPECT_EQ(parser->AppendAttribute("id", 1), nullptr);
                  EXPECT_EQ(parser->AppendAttribute("id", none), nullptr);
                  EXPECT_EQ(parser->PrependAttribute("id", 1), nullptr);
                  EXPECT_EQ(parser->InsertAttributeBefore("id", 1, l), nullptr);
                  EXPECT_FALSE(parser->RemoveAttribute(l));
              }),
              "failed to append attribute\nfailed to append attribute\n");
    EXPECT_EQ(root->InsertAttributeAfter("m", none, l), nullptr);
    EXPECT_EQ(root->InsertAttributeBefore("m", none, l), nullptr);
    EXPECT_EQ(root->PrependAttribute("m", none), nullptr);
    EXPECT_EQ(root->AppendAttribute("m", none), nullptr);  // the only record: an Error
    const auto refusesUnusable = [&unusable](auto& parent) {
        for (auto& reference : unusable) {
            EXPECT_EQ(parent.InsertAttributeAfter("x", 1, reference), nullptr);
            EXPECT_EQ(parent.InsertAttributeBefore("x", 1, reference), nullptr);
            EXPECT_FALSE(parent.RemoveAttribute(reference));
        }
    };
    refusesUnusable(*root);
    refusesUnusable(*parser);
    EXPECT_NE(unusable[2], nullptr);
    // A text node and an invalid wrapper take no children and no attributes.
    for (const auto& target : {root->LastChild(), root->NextSibling()}) {
        EXPECT_EQ(target->PrependChild(T::Element), nullptr);
        EXPECT_EQ(target->AppendChild("x", 1), nullptr);
        EXPECT_EQ(target->PrependAttribute("x", 1), nullptr);
        EXPECT_EQ(target->InsertAttributeAfter("x", 1, l), nullptr);
    }
    // Declarations and document types only go at the top level.
    EXPECT_EQ(root->AppendChild(T::Declaration), nullptr);
    EXPECT_EQ(root->PrependChild(T::DocType), nullptr);
    EXPECT_EQ(Saved(*parser), xml);
    ASSERT_EQ(log.Records().size(), 1u);
    EXPECT_EQ(log.Records()[0].line, 485);

    EXPECT_TRUE(root->RemoveAttribute(l));
    EXPECT_NE(l, nullptr);
    EXPECT_EQ(Saved(*parser), R"(<r k="1"><a k="3"/>text</r>)");
}

// ---- Log records of editing ----

// Of the creation members, only appending a named child with a value and
// appending an attribute write records.
TEST(EditingLog, OnlyAppendingANamedValueOrAnAttributeReports) {
    auto parser = ParserWith("<r><a/>text</r>");
    auto root = parser->FirstChild();
    auto a = root->FirstChild();
    const char* none = nullptr;
    LogCapture log;
    // Names are cut at a NUL, but the records show every character given.
    const std::string_view child("it\0em", 5);
    const std::string_view attribute("id\0z", 4);
    EXPECT_EQ(root->AppendChild(child, 1)->Name(), "it");
    EXPECT_EQ(root->AppendAttribute(attribute, 7)->ToInt(0), 7);
    EXPECT_EQ(a->NextSibling()->AppendAttribute("id", 1), nullptr);  // a text node
    EXPECT_EQ(root->AppendAttribute("gone", none), nullptr);
    ASSERT_EQ(log.Records().size(), 4u);
    ExpectRecord(log.Records()[0], test::nodeLogFile, "DoAppendChild", 383, LogLevel::Debug,
                 "Created child with name " + std::string(child) + " node has name it");
    ExpectRecord(
        log.Records()[1], test::nodeLogFile, "DoAppendAttribute", 481, LogLevel::Debug,
        "Created attribute with name " + std::string(attribute) + " attribute has name id");
    ExpectRecord(log.Records()[2], test::nodeLogFile, "DoAppendAttribute", 467, LogLevel::Debug,
                 "Append failed because pugi did not want to append the attribute");
    ExpectRecord(log.Records()[3], test::nodeLogFile, "DoAppendAttribute", 485, LogLevel::Error,
                 "Append failed");

    log.Clear();
    EXPECT_NE(root->PrependChild("x", 1), nullptr);
    EXPECT_NE(root->InsertChildAfter("x", 1, a), nullptr);
    EXPECT_NE(root->AppendChild(T::Element, 1), nullptr);
    EXPECT_NE(root->PrependAttribute("p", 1), nullptr);
    EXPECT_TRUE(root->RemoveChild(a));
    EXPECT_EQ(root->AppendChild("item", none), nullptr);
    EXPECT_TRUE(log.Records().empty());

    EXPECT_TRUE(root->GetAttribute("gone")->Invalid());
}

}  // namespace
}  // namespace qiv
