// Hostile input: documents nested a million levels deep, and XPath
// expressions nested deeper than the engine allows.

#include <gtest/gtest.h>

#include <cstddef>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "DataParserIF.h"
#include "PugiXMLParser.h"
#include "TestSupport.h"

namespace qiv {
namespace {

using test::LogCapture;
using test::Saved;

constexpr unsigned int formatRaw = 0x04 | 0x08;

std::string Nested(std::size_t depth) {
    std::string text;
    text.reserve(depth * 7);
    for (std::size_t i = 0; i < depth; ++i) {
        text += "<a>";
    }
    for (std::size_t i = 0; i < depth; ++i) {
        text += "</a>";
    }
    return text;
}

std::unique_ptr<PugiXMLParser> XmlWith(const std::string& text) {
    auto parser = std::make_unique<PugiXMLParser>();
    EXPECT_EQ(parser->LoadString(text).second, DataParserStatus::Ok);
    return parser;
}

// Walks down the chain of first children through the interface, one wrapper
// at a time: the depth reached and the text found there.
std::pair<std::size_t, std::string> Descend(const DataParserIF& parser) {
    std::size_t depth = 0;
    std::string text;
    for (auto node = parser.FirstChild(); !node->Invalid(); node = node->FirstChild()) {
        ++depth;
        text = node->ToString();
    }
    return {depth, text};
}

// A million levels: load, walk, select, redact, save raw, remove and destroy,
// none of which may recurse. pugixml frees a removed subtree recursively, so
// the library takes it apart first, at the node and the document level alike.
TEST(HostileInputTest, MillionLevelDocumentSurvivesEveryOperation) {
    constexpr std::size_t deep = 1000000;
    const std::string chain = Nested(deep);
    std::istringstream stream(chain);
    auto parser = std::make_unique<PugiXMLParser>();
    ASSERT_EQ(parser->LoadStream(stream).second, DataParserStatus::Ok);
    EXPECT_EQ(Descend(*parser), std::make_pair(deep, std::string()));
    EXPECT_EQ(parser->SelectNodes("//a")->Size(), deep);
    const auto innermost = parser->SelectNodes("//a[not(a)]");
    ASSERT_EQ(innermost->Size(), 1u);
    EXPECT_EQ(innermost->First()->Parent()->Name(), "a");
    parser->RedactNodes({"//a[not(a)]", "/a"});
    EXPECT_EQ(Descend(*parser).second, "redacted");
    EXPECT_EQ(parser->FirstChild()->ToString(), "redacted");
    const std::string saved = Saved(*parser, formatRaw);
    EXPECT_EQ(Saved(*XmlWith(saved), formatRaw), saved);
    std::unique_ptr<Node> first = parser->FirstChild();
    EXPECT_TRUE(parser->RemoveChild(first));
    EXPECT_EQ(Saved(*parser, formatRaw), "");

    auto nested = XmlWith("<top>" + chain + "<b/></top>");
    std::unique_ptr<Node> top = nested->FirstChild();
    first = top->FirstChild();
    // A node that is not a child is refused, and nothing of it is taken apart.
    auto other = XmlWith("<x>" + Nested(10) + "</x>");
    const std::string otherBefore = Saved(*other, formatRaw);
    std::unique_ptr<Node> inner = other->FirstChild()->FirstChild();
    EXPECT_FALSE(nested->RemoveChild(inner));
    EXPECT_FALSE(top->RemoveChild(inner));
    EXPECT_EQ(Saved(*other, formatRaw), otherBefore);
    EXPECT_TRUE(top->RemoveChild(first));
    EXPECT_EQ(Saved(*nested, formatRaw), "<top><b/></top>");
}

// Nesting deeper than the engine allows, in any shape, is refused with an
// error record instead of exhausting the stack; the record holds the query.
TEST(HostileInputTest, XPathNestedTooDeeplyIsRefusedCleanly) {
    auto parser = XmlWith("<r><a x='1'>t</a><b/></r>");
    std::string steps;
    std::string predicates = "//a";
    for (int i = 0; i < 100000; ++i) {
        steps += "/r";
        predicates += "[1]";
    }
    const std::vector<std::string> tooDeep = {
        std::string(100000, '(') + "/r" + std::string(100000, ')'), steps, predicates};
    LogCapture log(LogLevel::Warning);
    for (const std::string& query : tooDeep) {
        log.Clear();
        EXPECT_FALSE(parser->SelectNodes(query)) << query.substr(0, 20);
        ASSERT_EQ(log.Records().size(), 1u);
        EXPECT_EQ(log.Records()[0].message,
                  " error: Exceeded maximum allowed query depth with xpathQuery: " + query);
    }
    parser->RedactNodes(tooDeep);
    EXPECT_EQ(Saved(*parser, formatRaw), "<r><a x=\"1\">t</a><b/></r>");
}

}  // namespace
}  // namespace qiv
