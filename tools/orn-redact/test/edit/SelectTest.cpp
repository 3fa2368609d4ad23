// Name paths selected together in one walk select what XPath selects, item
// for item and in the same order, beside expressions XPath still selects.
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "InterfaceFactory.h"
#include "RedactionParts.h"

namespace {

using qiv::DataParserIF;
using qiv::DataParserStatus;
using qiv::InterfaceFactory;

TEST(SelectUpfront, NamePathsTogetherSelectWhatXPathSelects) {
    const std::string document =
        "<?xml version='1.0'?><!-- <b/> --><a><a><b/><b id='1'><a>t</a></b></a>"
        "<x:b xmlns:x='urn:x'><b/></x:b><c><b/>text<![CDATA[<b/>]]><!-- <b/> --><?b?></c>"
        "<b.c/><a/><bb/></a>";
    const std::vector<std::vector<std::string>> sets = {
        {"//a", "//b"},
        {"//a/b", "//b/a", "//a/a"},
        {"//x:b", "//x:b/b", "//b"},
        {"//c/b", "//b.c", "//a", "//bb"},
        {"//b", "//b/@id", "//a"},  // one is no name path: XPath selects it
        {"//zz", "//a/zz", "//c"},
    };
    const std::unique_ptr<DataParserIF> parser = InterfaceFactory::Create<DataParserIF>("XML");
    ASSERT_EQ(parser->LoadString(document).second, DataParserStatus::Ok);
    qiv::PugiXMLParser& xml = *qiv::redact::XmlParserOf(*parser);
    for (const std::vector<std::string>& queries : sets) {
        std::vector<std::size_t> all;
        for (std::size_t index = 0; index < queries.size(); ++index) {
            all.push_back(index);
        }
        std::vector<char> below(queries.size(), 0);
        const auto together = qiv::redact::redaction::SelectUpfront(xml, queries, all, 1, &below);
        ASSERT_EQ(together.size(), queries.size());
        for (std::size_t index = 0; index < queries.size(); ++index) {
            const auto alone = xml.SelectNodes(queries[index]);
            ASSERT_TRUE(alone && together[index]) << queries[index];
            ASSERT_EQ(together[index]->Size(), alone->Size()) << queries[index];
            bool allBelow = true;
            for (std::size_t item = 0; item < alone->Size(); ++item) {
                const pugi::xml_node node = (*alone)[item].node();
                allBelow = allBelow && node.type() == pugi::node_element &&
                           node.parent().type() != pugi::node_document;
                EXPECT_EQ((*together[index])[item], (*alone)[item])
                    << queries[index] << " item " << item;
            }
            // Marked only where it holds; XPath's own sets are not marked.
            if (below[index] != 0) {
                EXPECT_TRUE(allBelow) << queries[index];
            }
            if (queries[index] == "//b" || queries[index] == "//c") {
                EXPECT_NE(below[index], 0) << queries[index];
            }
        }
    }
}

}  // namespace
