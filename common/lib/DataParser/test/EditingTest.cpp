#include <gtest/gtest.h>

#include <string>
#include <type_traits>

#include "EditingSupport.h"
#include "InterfaceFactory.h"
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

// ---- Creation, at either level ----

TEST(Editing, EveryChildMemberPlacesItsNodeAndBorrowsTheReference) {
    ForBothParents("<a/><b/><c/>", [](auto& parent, const auto& children) {
        for (const auto& entry : test::PlacementCases<ParentType<decltype(parent)>>()) {
            SCOPED_TRACE(entry.label);
            auto reference = parent.Child("b");
            auto created = entry.create(parent, reference);
            ASSERT_NE(created, nullptr);
            EXPECT_EQ(created->Type(), entry.type);
            EXPECT_EQ(children(), entry.children);
            ASSERT_NE(reference, nullptr);
            EXPECT_EQ(reference->Name(), "b");
            ASSERT_TRUE(parent.RemoveChild(created));  // ready for the next case
        }
    });
}

TEST(Editing, FailedValueLeavesNothingBehind) {
    // The parent has more children, so a rollback that removed the wrong one would show.
    const std::string content = "<!--c--><a/><b/><c/>";
    const char* none = nullptr;
    ForBothParents(content, [&](auto& parent, const auto& children) {
        auto b = parent.Child("b");
        EXPECT_EQ(parent.AppendChild(T::Element, none), nullptr);
        EXPECT_EQ(parent.PrependChild(T::PCData, none), nullptr);
        EXPECT_EQ(parent.InsertChildAfter(T::CData, none, b), nullptr);
        EXPECT_EQ(parent.InsertChildBefore("item", none, b), nullptr);
        EXPECT_EQ(children(), content);
    });
}

TEST(Editing, RefusedKindsGiveNullAndOnlyTheEmptyNodeRecord) {
    const std::string content = "<a><g/></a>";
    ForBothParents(content, [&](auto& parent, const auto& children) {
        auto a = parent.FirstChild();
        auto grandchild = a->FirstChild();
        for (T kind : {T::Null, T::Document}) {
            LogCapture log;
            EXPECT_EQ(parent.AppendChild(kind), nullptr);
            EXPECT_EQ(parent.PrependChild(kind, "v"), nullptr);
            EXPECT_EQ(parent.InsertChildAfter(kind, a), nullptr);
            EXPECT_EQ(parent.InsertChildBefore(kind, 1, a), nullptr);
            ExpectEmptyNodeRecords(log.Records(), 4);
        }
        {
            LogCapture log;
            EXPECT_EQ(parent.InsertChildBefore("x", 1, grandchild), nullptr);
            ExpectEmptyNodeRecords(log.Records(), 1);
        }
        // Kinds that take no text are made, then removed again when the value
        // fails: never empty, so nothing to report.
        for (T kind : {T::Comment, T::ProcessingInstruction}) {
            LogCapture log;
            EXPECT_EQ(parent.AppendChild(kind, "v"), nullptr);
            EXPECT_EQ(parent.InsertChildBefore(kind, 2.0, a), nullptr);
            EXPECT_TRUE(log.Records().empty());
        }
        EXPECT_EQ(children(), content);
    });
}

TEST(Editing, KindOutsideTheTableThrowsUnlessTheReferenceIsUnusable) {
    ForBothParents("<a/>", [](auto& parent, const auto& children) {
        auto child = parent.FirstChild();
        const std::unique_ptr<Node> empty;
        const std::unique_ptr<Node> foreign = std::make_unique<test::ForeignNode>();
        const T kind = static_cast<T>(9);
        test::ExpectMapAt([&] { parent.AppendChild(kind); });
        test::ExpectMapAt([&] { parent.PrependChild(kind); });
        test::ExpectMapAt([&] { parent.AppendChild(kind, 1); });
        test::ExpectMapAt([&] { parent.PrependChild(kind, "v"); });
        test::ExpectMapAt([&] { parent.InsertChildAfter(kind, child); });
        test::ExpectMapAt([&] { parent.InsertChildBefore(kind, 1, child); });
        for (const auto* reference : {&empty, &foreign}) {
            EXPECT_EQ(parent.InsertChildAfter(kind, *reference), nullptr);
            EXPECT_EQ(parent.InsertChildBefore(kind, *reference), nullptr);
            EXPECT_EQ(parent.InsertChildAfter(kind, 1, *reference), nullptr);
            EXPECT_EQ(parent.InsertChildBefore(kind, 1, *reference), nullptr);
        }
        EXPECT_EQ(children(), "<a/>");
    });
}

TEST(Editing, OnlyDirectChildrenServeAsReferenceOrGetRemoved) {
    const std::string content = "<a><g><h/></g></a><b/>";
    auto other = ParserWith("<a/>");
    ForBothParents(content, [&](auto& parent, const auto& children) {
        std::unique_ptr<Node> unusable[] = {parent.Child("a")->FirstChild(), other->FirstChild(),
                                            parent.Child("missing"), nullptr,
                                            std::make_unique<test::ForeignNode>()};
        for (auto& reference : unusable) {
            for (const auto& entry : test::PlacementCases<ParentType<decltype(parent)>>()) {
                if (entry.label.find("pend") == std::string::npos) {  // the insert members
                    SCOPED_TRACE(entry.label);
                    EXPECT_EQ(entry.create(parent, reference), nullptr);
                }
            }
            EXPECT_FALSE(parent.RemoveChild(reference));
        }
        EXPECT_NE(unusable[4], nullptr);
        EXPECT_EQ(children(), content);

        auto a = parent.Child("a");
        EXPECT_TRUE(parent.RemoveChild(a));
        EXPECT_NE(a, nullptr);  // the caller's pointer is left as it was
        EXPECT_EQ(children(), "<b/>");
    });
    EXPECT_EQ(Saved(*other), "<a/>");
}

// ---- Below an element ----

TEST(NodeEditing, AttributeMembersPlaceTheirAttributeWithItsValue) {
    using Ref = const std::unique_ptr<Attribute>&;
    const std::vector<std::pair<std::function<std::unique_ptr<Attribute>(Node&, Ref)>, const char*>>
        cases = {
            {[](Node& n, Ref) { return n.AppendAttribute("x", 7); },
             R"(<r a="1" b="2" c="3" x="7"/>)"},
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

TEST(NodeEditing, RefusedAttributesLeaveNothingBehind) {
    const std::string xml = R"(<r k="1" l="2"><a k="3"/>text</r>)";
    auto parser = ParserWith(xml);
    auto root = parser->FirstChild();
    const char* none = nullptr;
    auto l = root->GetAttribute("l");
    std::unique_ptr<Attribute> unusable[] = {root->FirstChild()->GetAttribute("k"), nullptr,
                                             std::make_unique<test::ForeignAttribute>()};
    const LogCapture quiet(LogLevel::Warning);

    EXPECT_EQ(root->InsertAttributeAfter("m", none, l), nullptr);
    EXPECT_EQ(root->InsertAttributeBefore("m", none, l), nullptr);
    EXPECT_EQ(root->PrependAttribute("m", none), nullptr);
    EXPECT_EQ(root->AppendAttribute("m", none), nullptr);
    for (auto& reference : unusable) {
        EXPECT_EQ(root->InsertAttributeAfter("x", 1, reference), nullptr);
        EXPECT_EQ(root->InsertAttributeBefore("x", 1, reference), nullptr);
        EXPECT_FALSE(root->RemoveAttribute(reference));
    }
    EXPECT_NE(unusable[2], nullptr);
    // A text node and an invalid wrapper take no children and no attributes.
    for (const auto& target : {root->LastChild(), root->NextSibling()}) {
        EXPECT_EQ(target->AppendChild("x"), nullptr);
        EXPECT_EQ(target->PrependChild(T::Element), nullptr);
        EXPECT_EQ(target->AppendChild("x", 1), nullptr);
        EXPECT_EQ(target->AppendAttribute("x", 1), nullptr);
        EXPECT_EQ(target->PrependAttribute("x", 1), nullptr);
        EXPECT_EQ(target->InsertAttributeAfter("x", 1, l), nullptr);
    }
    // Declarations and document types only go at the top level.
    EXPECT_EQ(root->AppendChild(T::Declaration), nullptr);
    EXPECT_EQ(root->PrependChild(T::DocType), nullptr);
    EXPECT_EQ(Saved(*parser), xml);

    EXPECT_TRUE(root->RemoveAttribute(l));
    EXPECT_NE(l, nullptr);
    EXPECT_EQ(Saved(*parser), R"(<r k="1"><a k="3"/>text</r>)");
}

TEST(NodeEditingLog, AppendChildByNameWithValueIsTheOnlyChildMemberThatReports) {
    auto parser = ParserWith("<r><a/></r>");
    auto root = parser->FirstChild();
    auto a = root->FirstChild();
    LogCapture log;
    // The name is cut at a NUL, but the record shows every character given.
    const std::string_view withNul("it\0em", 5);
    auto cut = root->AppendChild(withNul, 1);
    ASSERT_NE(cut, nullptr);
    EXPECT_EQ(cut->Name(), "it");
    ASSERT_EQ(log.Records().size(), 1u);
    ExpectRecord(log.Records()[0], test::nodeLogFile, "DoAppendChild", 383, LogLevel::Debug,
                 "Created child with name " + std::string(withNul) + " node has name it");

    log.Clear();
    EXPECT_NE(root->PrependChild("x", 1), nullptr);
    EXPECT_NE(root->InsertChildAfter("x", 1, a), nullptr);
    EXPECT_NE(root->AppendChild(T::Element, 1), nullptr);
    EXPECT_NE(root->PrependAttribute("p", 1), nullptr);
    EXPECT_TRUE(root->RemoveChild(a));
    EXPECT_EQ(root->AppendChild("item", static_cast<const char*>(nullptr)), nullptr);
    auto text = root->AppendChild(T::PCData, "t");
    EXPECT_EQ(text->PrependAttribute("id", 1), nullptr);
    EXPECT_TRUE(log.Records().empty());
}

TEST(NodeEditingLog, AppendAttributeReportsEachOutcome) {
    auto parser = ParserWith("<r>text</r>");
    auto root = parser->FirstChild();
    const char* none = nullptr;
    {
        LogCapture log;
        const std::string_view withNul("id\0z", 4);
        auto id = root->AppendAttribute(withNul, 7);
        ASSERT_NE(id, nullptr);
        EXPECT_EQ(id->ToInt(0), 7);
        EXPECT_EQ(root->FirstChild()->AppendAttribute("id", 1), nullptr);
        EXPECT_EQ(root->AppendAttribute("gone", none), nullptr);
        ASSERT_EQ(log.Records().size(), 3u);
        ExpectRecord(
            log.Records()[0], test::nodeLogFile, "DoAppendAttribute", 481, LogLevel::Debug,
            "Created attribute with name " + std::string(withNul) + " attribute has name id");
        ExpectRecord(log.Records()[1], test::nodeLogFile, "DoAppendAttribute", 467, LogLevel::Debug,
                     "Append failed because pugi did not want to append the attribute");
        ExpectRecord(log.Records()[2], test::nodeLogFile, "DoAppendAttribute", 485, LogLevel::Error,
                     "Append failed");
    }
    {
        // With only errors enabled the failure still shows, the rest does not.
        LogCapture log(LogLevel::Error);
        EXPECT_NE(root->AppendAttribute("quiet", 1), nullptr);
        EXPECT_EQ(root->FirstChild()->AppendAttribute("id", 1), nullptr);
        EXPECT_EQ(root->AppendAttribute("gone", none), nullptr);
        ASSERT_EQ(log.Records().size(), 1u);
        EXPECT_EQ(log.Records()[0].line, 485);
    }
    EXPECT_EQ(Saved(*parser), R"(<r id="7" quiet="1">text</r>)");
}

// ---- At the top level ----

TEST(DocumentEditing, DocumentNodeTakesNoAttributes) {
    const std::string xml = R"(<root k="1"/>)";
    auto parser = ParserWith(xml);
    std::unique_ptr<Attribute> references[] = {parser->FirstChild()->FirstAttribute(), nullptr,
                                               std::make_unique<test::ForeignAttribute>()};
    LogCapture log;
    EXPECT_EQ(test::StdoutOf([&] {
                  EXPECT_EQ(parser->AppendAttribute("id", 1), nullptr);
                  EXPECT_EQ(parser->AppendAttribute("id", static_cast<const char*>(nullptr)),
                            nullptr);
              }),
              "failed to append attribute\nfailed to append attribute\n");
    EXPECT_EQ(test::StdoutOf([&] {
                  EXPECT_EQ(parser->PrependAttribute("id", 1), nullptr);
                  for (auto& reference : references) {
                      EXPECT_EQ(parser->InsertAttributeAfter("id", 1, reference), nullptr);
                      EXPECT_EQ(parser->InsertAttributeBefore("id", 1, reference), nullptr);
                      EXPECT_FALSE(parser->RemoveAttribute(reference));
                  }
              }),
              "");
    EXPECT_TRUE(log.Records().empty());
    EXPECT_EQ(Saved(*parser), xml);
}

// A document built from nothing through the interface alone, saved with
// indentation: what a caller writing a configuration file would do.
TEST(DocumentEditing, DocumentBuiltFromNothingSavesByteForByte) {
    auto parser = InterfaceFactory::Create<DataParserIF>("XML");
    auto declaration = parser->AppendChild(T::Declaration);
    ASSERT_NE(declaration, nullptr);
    ASSERT_NE(declaration->AppendAttribute("version", "1.0"), nullptr);
    ASSERT_NE(parser->InsertChildAfter(T::DocType, declaration), nullptr);

    auto root = parser->AppendChild("settings");
    ASSERT_NE(root, nullptr);
    ASSERT_NE(root->AppendChild(T::Comment), nullptr);
    auto count = root->AppendChild("count", 42);
    ASSERT_NE(count, nullptr);
    ASSERT_NE(root->InsertChildAfter("enabled", true, count), nullptr);
    auto note = root->AppendChild("note");
    ASSERT_NE(note, nullptr);
    ASSERT_NE(note->AppendChild(T::CData, "a < b && c"), nullptr);
    ASSERT_NE(root->PrependChild("offset", -7), nullptr);
    ASSERT_NE(parser->AppendChild(T::Comment), nullptr);

    const std::string expected =
        "<?xml version=\"1.0\"?>\n"
        "<!DOCTYPE>\n"
        "<settings>\n"
        "\t<offset>-7</offset>\n"
        "\t<!---->\n"
        "\t<count>42</count>\n"
        "\t<enabled>true</enabled>\n"
        "\t<note><![CDATA[a < b && c]]></note>\n"
        "</settings>\n"
        "<!---->\n";
    EXPECT_EQ(Saved(*parser, 0x01), expected);
}

}  // namespace
}  // namespace qiv
