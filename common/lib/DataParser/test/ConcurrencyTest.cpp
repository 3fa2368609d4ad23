// Many threads at once, each with its own parser from the factory: load,
// walk, edit, select, redact and save, all of them logging through the one
// LogClient with Debug records enabled. Run under ThreadSanitizer this must
// report no data race; in every build each thread must see only its own
// document and every record must arrive whole. Wrappers also change threads:
// each thread's last one is destroyed by the main thread after the thread
// (and its cache of wrapper blocks) has ended, and the other way round.

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "DataParserIF.h"
#include "InterfaceFactory.h"
#include "PugiXMLParser.h"
#include "PugiXPathNode.h"
#include "TestSupport.h"

namespace qiv {
namespace {

constexpr int threadCount = 8;
constexpr int rounds = 100;

struct Thread {
    std::string problem;  // what went wrong, empty when nothing did
    std::unique_ptr<DataParserIF> parser;
    std::unique_ptr<Node> secret;  // made on the thread, destroyed on the main one
};

std::string Work(int id, std::atomic<int>& waiting, Thread& self) {
    const std::string own = "t" + std::to_string(id);
    const char* const names[] = {"DefaultIF", "XML", "", "xml"};
    for (++waiting; waiting < threadCount;) {
        std::this_thread::yield();  // start together, so that the work overlaps
    }
    for (int round = 0; round < rounds; ++round) {
        self.parser = InterfaceFactory::Create<DataParserIF>(names[(id + round) % 4]);
        auto* xml = dynamic_cast<PugiXMLParser*>(self.parser.get());
        const std::string text =
            "<doc owner='" + own + "'><secret>" + own + "</secret><list/></doc>";
        std::istringstream stream(text);
        // The broken load writes its report on standard output.
        if (xml == nullptr || xml->LoadString(text).second != DataParserStatus::Ok ||
            xml->LoadString("<doc><unclosed></doc>").second == DataParserStatus::Ok ||
            xml->LoadStream(stream).second != DataParserStatus::Ok) {
            return "factory or load failed";
        }
        auto root = xml->FirstChild();
        if (root->GetAttribute("owner")->ToString() != own) {
            return "another thread's document";
        }
        (void)root->NextSibling();  // invalid: one Debug record
        auto list = root->Child("list");
        for (int i = 0; i < 5; ++i) {
            list->AppendChild("item", i);  // one Debug record each
        }
        list->AppendAttribute("count", 5);  // one Debug record
        auto first = list->FirstChild();
        list->RemoveChild(first);
        const auto items = xml->SelectNodes("//item");
        if (!items || items->Size() != 4 || !PugiXPathNode(items->Begin()[3]).GetNode()) {
            return "selection saw the wrong items";
        }
        // The bad query gives an Error and a Warning record.
        xml->RedactNodes({"//secret", "count(//item)"});
        std::ostringstream out;
        xml->SaveToStream(out, 1);
        const std::string saved = out.str();
        if (saved.find("<secret>redacted</secret>") == std::string::npos ||
            saved.find(own) == std::string::npos ||
            saved.find("<item>4</item>") == std::string::npos) {
            return "saved document is wrong: " + saved;
        }
        self.secret = root->Child("secret");
    }
    return {};
}

TEST(ConcurrencyTest, ParsersOnManyThreadsShareOnlyTheLogger) {
    test::LogCapture log(LogLevel::Debug);
    std::atomic<int> waiting{0};
    std::vector<Thread> threads(threadCount);
    testing::internal::CaptureStdout();
    {
        std::vector<std::thread> running;
        for (int id = 0; id < threadCount; ++id) {
            running.emplace_back(
                [id, &waiting, &threads] { threads[id].problem = Work(id, waiting, threads[id]); });
        }
        for (std::thread& thread : running) {
            thread.join();
        }
    }
    testing::internal::GetCapturedStdout();  // the parse-error reports
    for (Thread& thread : threads) {
        EXPECT_EQ(thread.problem, "");
        ASSERT_TRUE(thread.secret);
        EXPECT_EQ(thread.secret->ToString(), "redacted");
        thread.secret.reset();
    }
    auto made = threads[0].parser->FirstChild();
    std::thread([&made] { made.reset(); }).join();
    EXPECT_FALSE(made);

    std::map<std::string, int> byFunction;
    for (const LogRecord& record : log.Records()) {
        ++byFunction[record.function + ":" + std::to_string(record.line)];
        EXPECT_EQ(record.category, 0x800B);
    }
    const int total = threadCount * rounds;
    EXPECT_EQ(byFunction, (std::map<std::string, int>{{"Impl:47", total},
                                                      {"DoAppendChild:383", 5 * total},
                                                      {"DoAppendAttribute:481", total},
                                                      {"SelectNodes:596", total},
                                                      {"DoRedactNodes:622", total}}));
}

}  // namespace
}  // namespace qiv
