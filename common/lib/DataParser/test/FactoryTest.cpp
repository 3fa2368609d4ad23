#include <gtest/gtest.h>

#include <stdexcept>

#include "InterfaceFactory.h"
#include "PugiXMLParser.h"

namespace qiv {
namespace {

TEST(Factory, EveryNameYieldsADistinctXmlParser) {
    for (const char* name : {"DefaultIF", "XML", "", "xml", "JSON"}) {
        auto first = InterfaceFactory::Create<DataParserIF>(name);
        auto second = InterfaceFactory::Create<DataParserIF>(name);
        ASSERT_NE(first, nullptr) << name;
        EXPECT_NE(first.get(), second.get()) << name;
        EXPECT_NE(dynamic_cast<PugiXMLParser*>(first.get()), nullptr) << name;
        EXPECT_EQ(first->Type(), Node::TypeName::Document) << name;
        EXPECT_TRUE(first->FirstChild()->Invalid()) << name;
    }
    auto& registry = IF<DataParserIF>::ifConstructors<>;
    EXPECT_EQ(registry.size(), 2u);
    EXPECT_EQ(registry.count("DefaultIF") + registry.count("XML"), 2u);

    // Without the default entry an unknown name is an error.
    const auto saved = registry;
    registry.erase("DefaultIF");
    EXPECT_THROW(InterfaceFactory::Create<DataParserIF>("nothing"), std::out_of_range);
    registry = saved;
}

}  // namespace
}  // namespace qiv
