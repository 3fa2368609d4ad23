#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>
#include <string>

#include "EditingSupport.h"
#include "InterfaceFactory.h"
#include "TestSupport.h"

namespace qiv {
namespace {

using test::LogCapture;
using test::ParserWith;
using test::Saved;
using T = Node::TypeName;

std::unique_ptr<DataParserIF> NewParser() {
    return InterfaceFactory::Create<DataParserIF>("XML");
}

TEST(DocumentEditing, EveryChildMemberPlacesATopLevelNode) {
    for (const auto& entry : test::PlacementCases<DataParserIF>()) {
        SCOPED_TRACE(entry.label);
        auto parser = ParserWith("<a/><b/><c/>");
        auto reference = parser->Child("b");
        auto created = entry.create(*parser, reference);
        ASSERT_NE(created, nullptr);
        EXPECT_FALSE(created->Invalid());
        EXPECT_EQ(created->Type(), entry.type);
        EXPECT_EQ(Saved(*parser), entry.children);
        ASSERT_NE(reference, nullptr);
        EXPECT_EQ(reference->Name(), "b");
    }
}

TEST(DocumentEditing, NewParserTakesARootElement) {
    auto parser = NewParser();
    auto root = parser->AppendChild("root");
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->Name(), "root");
    // The parser's first child is the same node, not a copy.
    EXPECT_TRUE(root->SetValue(42));
    EXPECT_EQ(parser->FirstChild()->ToInt(0), 42);
    EXPECT_EQ(Saved(*parser), "<root>42</root>");
}

TEST(DocumentEditing, KindsAndValuesAtTopLevel) {
    auto parser = NewParser();
    auto unnamed = parser->AppendChild(T::Element, 42);
    ASSERT_NE(unnamed, nullptr);
    EXPECT_EQ(unnamed->Name(), "");
    EXPECT_EQ(unnamed->ToString(), "42");

    auto text = parser->AppendChild(T::PCData, "loose text");
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->Type(), T::PCData);
    EXPECT_EQ(parser->LastChild()->ToString(), "loose text");

    // Declaration and document type are fine as top-level nodes.
    auto declaration = parser->PrependChild(T::Declaration);
    ASSERT_NE(declaration, nullptr);
    EXPECT_EQ(declaration->Type(), T::Declaration);
    auto doctype = parser->InsertChildAfter(T::DocType, declaration);
    ASSERT_NE(doctype, nullptr);
    EXPECT_EQ(doctype->Type(), T::DocType);
    EXPECT_EQ(parser->FirstChild()->NextSibling()->Type(), T::DocType);
}

TEST(DocumentEditing, RefusedCreationsLeaveTheDocumentAsItWas) {
    const std::string xml = "<root><child/></root>";
    auto parser = ParserWith(xml);
    auto root = parser->FirstChild();
    auto child = root->FirstChild();
    auto invalid = root->NextSibling();
    auto other = ParserWith("<root/>");
    auto otherRoot = other->FirstChild();

    for (T kind : {T::Null, T::Document}) {
        SCOPED_TRACE(static_cast<int>(kind));
        EXPECT_EQ(parser->AppendChild(kind), nullptr);
        EXPECT_EQ(parser->PrependChild(kind, "v"), nullptr);
        EXPECT_EQ(parser->InsertChildAfter(kind, root), nullptr);
        EXPECT_EQ(parser->InsertChildBefore(kind, 1, root), nullptr);
    }
    for (T kind : {T::Comment, T::ProcessingInstruction, T::Declaration, T::DocType}) {
        SCOPED_TRACE(static_cast<int>(kind));
        EXPECT_EQ(parser->AppendChild(kind, "v"), nullptr);
        EXPECT_EQ(parser->InsertChildBefore(kind, 1, root), nullptr);
    }
    for (const auto& [label, insert] : test::InsertCreations<DataParserIF>(T::Element)) {
        SCOPED_TRACE(label);
        EXPECT_EQ(insert(*parser, child), nullptr);
        EXPECT_EQ(insert(*parser, invalid), nullptr);
        EXPECT_EQ(insert(*parser, otherRoot), nullptr);
    }
    EXPECT_EQ(Saved(*parser), xml);
    EXPECT_EQ(Saved(*other), "<root/>");
}

TEST(DocumentEditing, FailedValueLeavesNoTopLevelNodeBehind) {
    const std::string xml = "<!--c--><a/><b/><c/>";
    for (const auto& [label, create] : test::NullValueCreations<DataParserIF>()) {
        SCOPED_TRACE(label);
        auto parser = ParserWith(xml);
        EXPECT_EQ(create(*parser, parser->Child("b")), nullptr);
        EXPECT_EQ(Saved(*parser), xml);
    }
    auto parser = NewParser();
    EXPECT_EQ(parser->AppendChild("item", static_cast<const char*>(nullptr)), nullptr);
    EXPECT_TRUE(parser->FirstChild()->Invalid());
}

TEST(DocumentEditing, KindOutsideTheTableThrowsUnlessTheReferenceIsEmpty) {
    const std::string xml = "<root/>";
    auto parser = ParserWith(xml);
    auto root = parser->FirstChild();
    const std::unique_ptr<Node> empty;
    const std::unique_ptr<Node> foreign = std::make_unique<test::ForeignNode>();
    const T kind = static_cast<T>(9);
    const auto expectMapAt = [](const std::function<void()>& call) {
        try {
            call();
            ADD_FAILURE() << "expected std::out_of_range";
        } catch (const std::out_of_range& error) {
            EXPECT_STREQ(error.what(), "map::at");
        }
    };
    expectMapAt([&] { parser->AppendChild(kind); });
    expectMapAt([&] { parser->PrependChild(kind); });
    expectMapAt([&] { parser->AppendChild(kind, 1); });
    expectMapAt([&] { parser->PrependChild(kind, 1); });
    expectMapAt([&] { parser->InsertChildAfter(kind, root); });
    expectMapAt([&] { parser->InsertChildBefore(kind, "v", root); });
    for (const auto* reference : {&empty, &foreign}) {
        EXPECT_EQ(parser->InsertChildAfter(kind, *reference), nullptr);
        EXPECT_EQ(parser->InsertChildBefore(kind, *reference), nullptr);
        EXPECT_EQ(parser->InsertChildAfter(kind, 1, *reference), nullptr);
        EXPECT_EQ(parser->InsertChildBefore(kind, 1, *reference), nullptr);
    }
    EXPECT_EQ(Saved(*parser), xml);
}

TEST(DocumentEditing, RemoveChildTakesOnlyTopLevelNodes) {
    auto parser = ParserWith("<root><child/></root>");
    auto root = parser->FirstChild();
    auto child = root->FirstChild();
    std::unique_ptr<Node> empty;
    std::unique_ptr<Node> foreign = std::make_unique<test::ForeignNode>();

    EXPECT_FALSE(parser->RemoveChild(empty));
    EXPECT_FALSE(parser->RemoveChild(foreign));
    EXPECT_FALSE(parser->RemoveChild(child));
    EXPECT_EQ(Saved(*parser), "<root><child/></root>");

    EXPECT_TRUE(parser->RemoveChild(root));
    EXPECT_NE(root, nullptr);
    EXPECT_TRUE(parser->FirstChild()->Invalid());
    EXPECT_EQ(Saved(*parser), "");
}

TEST(DocumentEditing, DocumentNodeTakesNoAttributes) {
    const std::string xml = R"(<root k="1"/>)";
    auto parser = ParserWith(xml);
    std::unique_ptr<Attribute> real = parser->FirstChild()->FirstAttribute();
    std::unique_ptr<Attribute> empty;
    std::unique_ptr<Attribute> foreign = std::make_unique<test::ForeignAttribute>();

    testing::internal::CaptureStdout();
    EXPECT_EQ(parser->AppendAttribute("id", 1), nullptr);
    EXPECT_EQ(parser->AppendAttribute("id", static_cast<const char*>(nullptr)), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "failed to append attribute\nfailed to append attribute\n");

    testing::internal::CaptureStdout();
    EXPECT_EQ(parser->PrependAttribute("id", 1), nullptr);
    for (const auto* reference : {&real, &empty, &foreign}) {
        EXPECT_EQ(parser->InsertAttributeAfter("id", 1, *reference), nullptr);
        EXPECT_EQ(parser->InsertAttributeBefore("id", 1, *reference), nullptr);
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

    EXPECT_FALSE(parser->RemoveAttribute(real));
    EXPECT_FALSE(parser->RemoveAttribute(empty));
    EXPECT_FALSE(parser->RemoveAttribute(foreign));
    EXPECT_TRUE(parser->FirstAttribute()->Invalid());
    EXPECT_EQ(Saved(*parser), xml);
}

TEST(DocumentEditing, OnlyTheEmptyNodeRecordIsLogged) {
    auto parser = NewParser();
    {
        LogCapture log;
        EXPECT_NE(parser->AppendChild("root", 5), nullptr);
        EXPECT_NE(parser->PrependChild(T::Comment), nullptr);
        testing::internal::CaptureStdout();
        EXPECT_EQ(parser->AppendAttribute("id", 1), nullptr);
        testing::internal::GetCapturedStdout();
        EXPECT_TRUE(log.Records().empty());
    }
    for (T kind : {T::Null, T::Document}) {
        LogCapture log;
        EXPECT_EQ(parser->AppendChild(kind), nullptr);
        ASSERT_EQ(log.Records().size(), 1u);
        const LogRecord& record = log.Records()[0];
        EXPECT_EQ(record.file, "common/lib/DataParser/src/PugiNode");
        EXPECT_EQ(record.function, "Impl");
        EXPECT_EQ(record.line, 47);
        EXPECT_EQ(record.level, LogLevel::Debug);
        EXPECT_EQ(record.category, 0x800B);
        EXPECT_EQ(record.message, "created with empty node");
    }
}

// A document built from nothing through the interface alone, saved with
// indentation: what a caller writing a configuration file would do.
TEST(DocumentEditing, DocumentBuiltFromNothingSavesByteForByte) {
    auto parser = NewParser();
    auto declaration = parser->AppendChild(T::Declaration);
    ASSERT_NE(declaration, nullptr);
    ASSERT_NE(declaration->AppendAttribute("version", "1.0"), nullptr);
    ASSERT_NE(declaration->AppendAttribute("encoding", "UTF-8"), nullptr);

    auto root = parser->AppendChild("settings");
    ASSERT_NE(root, nullptr);
    auto name = root->AppendAttribute("name", std::string_view("demo-and-more", 4));
    ASSERT_NE(name, nullptr);
    ASSERT_NE(root->InsertAttributeBefore("revision", 3u, name), nullptr);

    ASSERT_NE(root->AppendChild(T::Comment), nullptr);
    auto count = root->AppendChild("count", 42);
    ASSERT_NE(count, nullptr);
    ASSERT_NE(root->AppendChild("ratio", 2.5), nullptr);
    ASSERT_NE(root->InsertChildAfter("enabled", true, count), nullptr);
    auto note = root->AppendChild("note");
    ASSERT_NE(note, nullptr);
    ASSERT_NE(note->AppendChild(T::CData, "a < b && c"), nullptr);
    ASSERT_NE(root->PrependChild("offset", -7), nullptr);
    ASSERT_NE(parser->AppendChild(T::Comment), nullptr);

    const std::string expected =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<settings revision=\"3\" name=\"demo\">\n"
        "\t<offset>-7</offset>\n"
        "\t<!---->\n"
        "\t<count>42</count>\n"
        "\t<enabled>true</enabled>\n"
        "\t<ratio>2.5</ratio>\n"
        "\t<note><![CDATA[a < b && c]]></note>\n"
        "</settings>\n"
        "<!---->\n";
    constexpr unsigned int indent = 0x01;

    std::ostringstream stream;
    parser->SaveToStream(stream, indent);
    EXPECT_EQ(stream.str(), expected);

    test::TempDir dir;
    const auto path = dir.Path() / "settings.xml";
    ASSERT_TRUE(parser->SaveFile(path.string(), indent));
    EXPECT_EQ(test::ReadFile(path), expected);

    // The saved text loads back into the same document.
    auto reloaded = NewParser();
    testing::internal::CaptureStdout();
    EXPECT_EQ(reloaded->LoadFile(path.string()).second, DataParserStatus::Ok);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(reloaded->Child("settings")->Child("ratio")->ToDouble(0.0), 2.5);
    EXPECT_EQ(reloaded->Child("settings")->Child("note")->ToString(), "a < b && c");
}

}  // namespace
}  // namespace qiv
