// Wrapper objects are allocated on every navigation step and come from a
// per-thread cache of blocks: these tests hold many of them at once, free
// them in mixed orders and across threads, and create them in every way the
// classes allow, checking that each one still refers to its own node.

#include <gtest/gtest.h>

#include <memory>
#include <new>
#include <string>
#include <thread>
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

std::size_t WalkCount(const Node& node) {
    std::size_t count = 1;
    for (auto attribute = node.FirstAttribute(); !attribute->Invalid();
         attribute = attribute->NextAttribute()) {
        ++count;
    }
    for (auto child = node.FirstChild(); !child->Invalid(); child = child->NextSibling()) {
        count += WalkCount(*child);
    }
    return count;
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

    // Two calls for the same node give two objects; either outlives the other.
    auto first = root->FirstChild();
    auto second = root->FirstChild();
    EXPECT_NE(first.get(), second.get());
    first.reset();
    EXPECT_EQ(second->Name(), "e0");
}

TEST(WrapperLifetimeTest, EveryEmptyNodeWrapperStillLogsOnce) {
    const auto parser = test::ParserWith("<r><a x='1'/>text<b/></r>");
    test::LogCapture capture(LogLevel::Debug);
    // r, a with its attribute, the text node and b. Empty node results:
    // FirstChild of a, of the text node and of b, NextSibling after b; empty
    // attribute results never log.
    EXPECT_EQ(WalkCount(*parser->FirstChild()), 5u);
    ASSERT_EQ(capture.Records().size(), 4u);
    for (const LogRecord& record : capture.Records()) {
        EXPECT_EQ(record.message, "created with empty node");
    }
    capture.Clear();
    { auto root = parser->FirstChild()->NextSibling(); }
    ASSERT_EQ(capture.Records().size(), 1u);
    EXPECT_EQ(capture.Records()[0].function, "Impl");
}

TEST(WrapperLifetimeTest, ThreadsWalkTheirOwnDocumentsAndHandWrappersOver) {
    constexpr int threads = 4;
    const std::string xml = ManyElements(300);
    std::vector<std::unique_ptr<DataParserIF>> parsers;
    for (int i = 0; i < threads; ++i) {
        parsers.push_back(test::ParserWith(xml));
    }
    std::vector<std::size_t> counts(threads);
    std::vector<std::unique_ptr<Node>> handedOver(threads);
    std::vector<std::thread> workers;
    for (int i = 0; i < threads; ++i) {
        workers.emplace_back([&, i] {
            for (int round = 0; round < 20; ++round) {
                counts[i] = WalkCount(*parsers[i]->FirstChild());
            }
            // Made here, destroyed by the main thread after this one ended.
            handedOver[i] = parsers[i]->FirstChild()->LastChild();
        });
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
    for (int i = 0; i < threads; ++i) {
        EXPECT_EQ(counts[i], 1u + 300u * 3u);
        ASSERT_TRUE(handedOver[i]);
        EXPECT_EQ(handedOver[i]->Name(), "e299");
        handedOver[i].reset();
    }
    // A wrapper made on the main thread and destroyed on another one.
    auto made = parsers[0]->FirstChild();
    std::thread([&made] { made.reset(); }).join();
    EXPECT_FALSE(made);
}

TEST(WrapperLifetimeTest, WrappersCanBeMadeWithEveryFormOfNew) {
    const auto parser = test::ParserWith("<r a='1'/>");
    const auto root = parser->FirstChild();
    ASSERT_EQ(root->Name(), "r");

    std::unique_ptr<Node> nothrowNode(new (std::nothrow) PugiNode());
    ASSERT_TRUE(nothrowNode);
    EXPECT_TRUE(nothrowNode->Invalid());
    std::unique_ptr<Attribute> nothrowAttribute(new (std::nothrow) PugiAttribute());
    ASSERT_TRUE(nothrowAttribute);
    EXPECT_TRUE(nothrowAttribute->Invalid());

    alignas(PugiNode) unsigned char storage[sizeof(PugiNode)];
    auto* placed = new (storage) PugiNode();
    EXPECT_TRUE(placed->Invalid());
    placed->~PugiNode();

    // A caller's class derived from a wrapper may be larger than the blocks
    // of the cache; it is allocated and freed through the same operators.
    struct Bigger : PugiNode {
        char extra[256] = {};
    };
    std::vector<std::unique_ptr<Node>> mixed;
    for (int i = 0; i < 50; ++i) {
        mixed.push_back(std::make_unique<Bigger>());
        mixed.push_back(root->NextSibling());
    }
    for (const auto& node : mixed) {
        EXPECT_TRUE(node->Invalid());
    }
}

}  // namespace
}  // namespace qiv
