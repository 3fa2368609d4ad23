// Wrapper objects are allocated on every navigation step and come from a
// per-thread cache of blocks: these tests hold many of them at once, free
// them in mixed orders, and create them in every way the classes allow,
// checking that each one still refers to its own node. ConcurrencyTest hands
// wrappers over between threads.

#include <gtest/gtest.h>

#include <memory>
#include <new>
#include <string>
#include <vector>

#include "PugiAttribute.h"
#include "PugiNode.h"
#include "TestSupport.h"

namespace qiv {
namespace {

/// <r><e0 a0="0" b0="x"/><e1 a1="1" b1="x"/>...</r>
std::string ManyElements(int count) {
    std::string xml = "<r>";
    for (int i = 0; i < count; ++i) {
        const std::string n = std::to_string(i);
        xml += "<e" + n + " a" + n + "=\"" + n + "\" b" + n + "=\"x\"/>";
    }
    return xml + "</r>";
}

TEST(WrapperLifetimeTest, ManyLiveWrappersKeepTheirOwnNodesWhateverTheOrderOfRelease) {
    constexpr int count = 1500;  // more than any cache keeps
    const auto parser = test::ParserWith(ManyElements(count));
    const auto root = parser->FirstChild();

    std::vector<std::unique_ptr<Node>> nodes;
    std::vector<std::unique_ptr<Attribute>> attributes;
    for (auto child = root->FirstChild(); !child->Invalid();) {
        attributes.push_back(child->LastAttribute());
        nodes.push_back(child->FirstChild());  // an invalid wrapper
        auto next = child->NextSibling();
        nodes.push_back(std::move(child));
        child = std::move(next);
    }
    ASSERT_EQ(nodes.size(), 2u * count);

    // Free every third element wrapper, then make new ones: the survivors
    // and the newcomers must all still name their own elements.
    for (int i = 0; i < count; i += 3) {
        nodes[2 * i + 1].reset();
        attributes[i].reset();
    }
    for (int i = 0; i < count; i += 3) {
        nodes[2 * i + 1] = root->Child("e" + std::to_string(i));
        attributes[i] = nodes[2 * i + 1]->GetAttribute("b" + std::to_string(i));
    }
    for (int i = 0; i < count; ++i) {
        const std::string n = std::to_string(i);
        EXPECT_TRUE(nodes[2 * i]->Invalid());
        ASSERT_FALSE(nodes[2 * i + 1]->Invalid());
        EXPECT_EQ(nodes[2 * i + 1]->Name(), "e" + n);
        EXPECT_EQ(attributes[i]->Name(), "b" + n);
    }
}

TEST(WrapperLifetimeTest, WrappersCanBeMadeWithEveryFormOfNew) {
    const auto parser = test::ParserWith("<r a='1'/>");
    const auto root = parser->FirstChild();
    const std::unique_ptr<Node> nothrowNode(new (std::nothrow) PugiNode());
    const std::unique_ptr<Attribute> nothrowAttribute(new (std::nothrow) PugiAttribute());
    EXPECT_TRUE(nothrowNode->Invalid());
    EXPECT_TRUE(nothrowAttribute->Invalid());

    // A caller's class derived from a wrapper may be larger than the blocks
    // of the cache; it is allocated and freed through the same operators.
    struct Bigger : PugiNode {
        char extra[256] = {};
    };
    const std::unique_ptr<Node> mixed[] = {std::make_unique<Bigger>(), root->NextSibling(),
                                           std::make_unique<Bigger>()};
    for (const auto& node : mixed) {
        EXPECT_TRUE(node->Invalid());
    }
}

}  // namespace
}  // namespace qiv
