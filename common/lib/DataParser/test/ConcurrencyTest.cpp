// Many threads at once, each with its own parser from the factory: load,
// walk, edit, select, redact and save, all of them logging through the one
// LogClient with Debug records enabled. Run under ThreadSanitizer this must
// report no data race; in every build each thread must see only its own
// document and every record must arrive whole.

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "DataParserIF.h"
#include "InterfaceFactory.h"
#include "PugiXMLParser.h"
#include "PugiXPathNode.h"
#include "TestSupport.h"
#include "XPathNode.h"

namespace qiv {
namespace {

constexpr int threadCount = 8;
constexpr int rounds = 100;

// Lets every thread start its work at the same moment.
class StartLine {
  public:
    void Wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        if (++waiting_ == threadCount) {
            open_.notify_all();
        } else {
            open_.wait(lock, [this] { return waiting_ == threadCount; });
        }
    }

  private:
    std::mutex mutex_;
    std::condition_variable open_;
    int waiting_ = 0;
};

// One thread's work; returns what went wrong, empty when nothing did.
std::string Work(int id, StartLine& start) {
    const std::string own = "t" + std::to_string(id);
    const char* const names[] = {"DefaultIF", "XML", "", "xml"};
    start.Wait();
    for (int round = 0; round < rounds; ++round) {
        auto parser = InterfaceFactory::Create<DataParserIF>(names[(id + round) % 4]);
        auto* xml = dynamic_cast<PugiXMLParser*>(parser.get());
        if (xml == nullptr) {
            return "factory gave no XML parser";
        }
        const std::string text =
            "<doc owner='" + own + "'><secret>" + own + "</secret><list/></doc>";
        if (parser->LoadString(text).second != DataParserStatus::Ok) {
            return "load failed";
        }
        // A broken load writes its report on standard output.
        if (parser->LoadString("<doc><unclosed></doc>").second == DataParserStatus::Ok) {
            return "broken text loaded";
        }
        std::istringstream stream(text);
        if (parser->LoadStream(stream).second != DataParserStatus::Ok) {
            return "stream load failed";
        }

        auto root = parser->FirstChild();
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
        if (!items || items->Size() != 4) {
            return "selection saw the wrong items";
        }
        for (auto item = items->Begin(); item != items->End(); ++item) {
            if (!PugiXPathNode(*item).GetNode()) {
                return "selected item is no node";
            }
        }
        // The bad query gives an Error and a Warning record.
        parser->RedactNodes({"//secret", "count(//item)"});

        std::ostringstream out;
        parser->SaveToStream(out, 1);
        const std::string saved = out.str();
        if (saved.find("<secret>redacted</secret>") == std::string::npos ||
            saved.find(own) == std::string::npos ||
            saved.find("<item>4</item>") == std::string::npos) {
            return "saved document is wrong: " + saved;
        }
    }
    return {};
}

TEST(ConcurrencyTest, ParsersOnManyThreadsShareOnlyTheLogger) {
    test::LogCapture log(LogLevel::Debug);
    StartLine start;
    std::vector<std::string> problems(threadCount);
    testing::internal::CaptureStdout();
    {
        std::vector<std::thread> threads;
        for (int id = 0; id < threadCount; ++id) {
            threads.emplace_back([id, &start, &problems] { problems[id] = Work(id, start); });
        }
        for (std::thread& thread : threads) {
            thread.join();
        }
    }
    const std::string out = testing::internal::GetCapturedStdout();
    for (int id = 0; id < threadCount; ++id) {
        EXPECT_EQ(problems[id], "") << "thread " << id;
    }

    // Each round writes one parse-error report of four lines.
    std::size_t reports = 0;
    for (std::size_t at = out.find("Error pugi status: "); at != std::string::npos;
         at = out.find("Error pugi status: ", at + 1)) {
        ++reports;
    }
    EXPECT_EQ(reports, static_cast<std::size_t>(threadCount * rounds));

    std::map<std::string, int> byFunction;
    for (const LogRecord& record : log.Records()) {
        ++byFunction[record.function + ":" + std::to_string(record.line)];
        EXPECT_EQ(record.category, 0x800B);
    }
    const int total = threadCount * rounds;
    EXPECT_EQ(byFunction["Impl:47"], total);
    EXPECT_EQ(byFunction["DoAppendChild:383"], 5 * total);
    EXPECT_EQ(byFunction["DoAppendAttribute:481"], total);
    EXPECT_EQ(byFunction["SelectNodes:596"], total);
    EXPECT_EQ(byFunction["DoRedactNodes:622"], total);
}

}  // namespace
}  // namespace qiv
