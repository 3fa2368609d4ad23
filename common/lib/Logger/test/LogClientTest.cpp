#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <tuple>
#include <vector>

#include "LogClient.h"

namespace qiv {
namespace {

class LogClientTest : public ::testing::Test {
protected:
    void SetUp() override { saved_ = LogClient::GetLevel(); }
    void TearDown() override {
        LogClient::SetSink(nullptr);
        LogClient::SetLevel(saved_);
    }
    LogLevel saved_ = LogLevel::Warning;
};

TEST_F(LogClientTest, ThresholdEnablesLevelsAtOrAboveItsSeverity) {
    LogClient::SetLevel(LogLevel::Warning);
    EXPECT_EQ(LogClient::GetLevel(), LogLevel::Warning);
    for (LogLevel level : {LogLevel::Emergency, LogLevel::Error, LogLevel::Warning}) {
        EXPECT_TRUE(LogClient::LevelIsEnabled(level));
    }
    EXPECT_FALSE(LogClient::LevelIsEnabled(LogLevel::Notice));
    LogClient::SetLevel(LogLevel::Debug);
    EXPECT_TRUE(LogClient::LevelIsEnabled(LogLevel::Debug));
}

// The destructor hands exactly one complete record to the sink; an empty sink
// restores the default one, a line on standard error.
TEST_F(LogClientTest, EachRecordReachesTheSinkWhole) {
    std::vector<LogRecord> records;
    LogClient::SetSink([&records](const LogRecord& record) { records.push_back(record); });
    {
        LogClient log("some/file", "Function", 12, LogLevel::Error, LogCategory::DataParser);
        log << "value " << 42 << ' ' << std::string("and") << std::string_view(" more");
        EXPECT_TRUE(records.empty());
    }
    ASSERT_EQ(records.size(), 1u);
    const LogRecord& r = records[0];
    EXPECT_EQ(
        std::tie(r.file, r.function, r.line, r.level, r.category, r.message),
        std::make_tuple("some/file", "Function", 12, LogLevel::Error, 0x800B, "value 42 and more"));

    LogClient::SetSink(nullptr);
    testing::internal::CaptureStderr();
    { LogClient("a/b", "F", 7, LogLevel::Warning, LogCategory::DataParser) << "hello"; }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "[Warning] [0x800B] a/b:7 F: hello\n");
    EXPECT_EQ(records.size(), 1u);
}

TEST_F(LogClientTest, ConcurrentEmissionDeliversEveryRecord) {
    std::atomic<int> delivered{0};
    LogClient::SetSink([&delivered](const LogRecord& record) {
        if (record.message == "x") {
            ++delivered;
        }
    });
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([] {
            for (int i = 0; i < 500; ++i) {
                if (LogClient::LevelIsEnabled(LogLevel::Error)) {
                    LogClient log("f", "g", i, LogLevel::Error, LogCategory::DataParser);
                    log << "x";
                }
                LogClient::SetLevel(LogLevel::Warning);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(delivered.load(), 2000);
}

}  // namespace
}  // namespace qiv
