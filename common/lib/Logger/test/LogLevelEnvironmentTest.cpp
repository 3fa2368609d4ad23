// Checks the threshold that ORN_LOG_LEVEL sets at start-up. CTest runs this
// program once per setting; ORN_TEST_EXPECTED_LEVEL names the level that must
// result and ORN_TEST_EXPECT_COMPLAINT=1 says that a line on standard error
// must report an unknown setting.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "LogClient.h"

namespace qiv {
namespace {

TEST(LogLevelEnvironment, ThresholdAtStartUpFollowsTheVariable) {
    const char* expected = std::getenv("ORN_TEST_EXPECTED_LEVEL");
    ASSERT_NE(expected, nullptr) << "run through CTest, which sets ORN_TEST_EXPECTED_LEVEL";
    const char* complaint = std::getenv("ORN_TEST_EXPECT_COMPLAINT");
    const bool expectComplaint = complaint != nullptr && std::string(complaint) == "1";

    // The variable is read on the first use of the threshold, which is here.
    testing::internal::CaptureStderr();
    const LogLevel level = LogClient::GetLevel();
    const std::string errors = testing::internal::GetCapturedStderr();

    EXPECT_EQ(static_cast<int>(level), std::stoi(expected));
    if (expectComplaint) {
        const char* setting = std::getenv("ORN_LOG_LEVEL");
        EXPECT_EQ(errors, "ORN_LOG_LEVEL: unknown level '" + std::string(setting ? setting : "") +
                              "', using Warning\n");
    } else {
        EXPECT_EQ(errors, "");
    }
    // Later changes still apply on top of the start-up value.
    LogClient::SetLevel(LogLevel::Error);
    EXPECT_FALSE(LogClient::LevelIsEnabled(LogLevel::Warning));
}

}  // namespace
}  // namespace qiv
