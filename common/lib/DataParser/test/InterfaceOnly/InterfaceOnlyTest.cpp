// Built with only the interface headers on the include path: no concrete
// class, no pugixml. The parser comes from the factory alone.
#include <gtest/gtest.h>

#include <sstream>

#include "DataParserIF.h"
#include "InterfaceFactory.h"

#if __has_include("PugiXMLParser.h")
#error "the concrete headers must not be reachable from this test"
#endif

TEST(InterfaceOnly, FactoryGivesAWorkingXmlParser) {
    auto parser = qiv::InterfaceFactory::Create<qiv::DataParserIF>("XML");
    ASSERT_EQ(parser->LoadString("<root a='1'><x>42</x></root>").second, qiv::DataParserStatus::Ok);
    auto root = parser->FirstChild();
    EXPECT_EQ(root->GetAttribute("a")->ToInt(), 1);
    EXPECT_EQ(root->Child("x")->ToInt(), 42);
    ASSERT_NE(root->AppendChild("y", 7), nullptr);
    std::ostringstream saved;
    parser->SaveToStream(saved, 0x04 | 0x08);  // raw, no declaration
    EXPECT_EQ(saved.str(), "<root a=\"1\"><x>42</x><y>7</y></root>");
}
