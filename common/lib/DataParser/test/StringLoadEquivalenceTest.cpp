// LoadString must give exactly what pugixml's own string load gives for the
// same characters: the same tree, status, description and error offset.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <string_view>

#include <pugixml.hpp>

#include "DataParserIF.h"
#include "TestSupport.h"

namespace qiv {
namespace {

constexpr unsigned int stringOptions = pugi::parse_default | pugi::parse_comments;

std::string SavedRaw(const pugi::xml_document& document) {
    std::ostringstream out;
    document.save(out, "\t", pugi::format_raw | pugi::format_no_declaration);
    return out.str();
}

TEST(StringLoadEquivalenceTest, MatchesPugixmlStringLoadOnEveryKindOfInput) {
    using namespace std::string_literals;
    const std::string inputs[] = {
        "<!-- lead --><a x='1'>t<![CDATA[c]]><b/>&amp;</a>",
        "",
        "   ",
        "<a><b></a>",
        "<a>\xC3\xA9t\xC3\xA9</a>",
        "<?xml version='1.0' encoding='ISO-8859-1'?><a>\xE9</a>",
        "<a>1</a>\0<b>2</b>"s,
        "<a>1\0</a>"s,
        "\0<a/>"s,
    };
    for (const std::string& input : inputs) {
        SCOPED_TRACE(testing::PrintToString(input));
        pugi::xml_document expected;
        const pugi::xml_parse_result raw = expected.load_string(input.c_str(), stringOptions);

        auto parser = InterfaceFactory::Create<DataParserIF>("XML");
        testing::internal::CaptureStdout();
        const LoadResult result = parser->LoadString(input);
        const std::string report = testing::internal::GetCapturedStdout();

        EXPECT_EQ(result.first, raw.description());
        EXPECT_EQ(static_cast<int>(result.second), static_cast<int>(raw.status));
        EXPECT_EQ(test::Saved(*parser), SavedRaw(expected));
        if (raw) {
            EXPECT_EQ(report, "");
        } else {
            const std::string offset = std::to_string(raw.offset);
            EXPECT_NE(report.find("Error offset: " + offset + " (error at [..." + offset + "]"),
                      std::string::npos)
                << report;
        }
    }
}

TEST(StringLoadEquivalenceTest, ReadsOnlyTheViewNotTheCharactersAfterIt) {
    const std::string text = "<a>1</a><b>2</b>";
    auto parser = InterfaceFactory::Create<DataParserIF>("XML");
    const LoadResult result = parser->LoadString(std::string_view(text).substr(0, 8));
    EXPECT_EQ(result.second, DataParserStatus::Ok);
    EXPECT_EQ(test::Saved(*parser), "<a>1</a>");

    testing::internal::CaptureStdout();
    EXPECT_EQ(parser->LoadString(std::string_view()).second, DataParserStatus::NoDocumentElement);
    testing::internal::GetCapturedStdout();
}

}  // namespace
}  // namespace qiv
