#pragma once

// Helpers shared by the library's tests.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "DataParserIF.h"
#include "InterfaceFactory.h"
#include "LogClient.h"
#include "PugiXMLParser.h"

namespace qiv::test {

/// Source paths that the library's log records carry.
inline constexpr std::string_view nodeLogFile = "common/lib/DataParser/src/PugiNode";
inline constexpr std::string_view parserLogFile = "common/lib/DataParser/src/PugiXMLParser";

/// A directory of the test's own under the system's temporary directory,
/// removed with everything in it when the object goes.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "orn-test-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("cannot create a temporary directory");
        }
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    /// Writes a file below the directory and returns its path.
    std::filesystem::path Write(const std::string& name, const std::string& content) const {
        std::ofstream(path_ / name, std::ios::binary) << content;
        return path_ / name;
    }

private:
    std::filesystem::path path_;
};

/// Collects every log record while it lives, at the given threshold; then
/// restores the previous threshold and the default sink.
class LogCapture {
public:
    explicit LogCapture(LogLevel level = LogLevel::Debug) : previous_(LogClient::GetLevel()) {
        LogClient::SetLevel(level);
        LogClient::SetSink(
            [records = records_](const LogRecord& record) { records->push_back(record); });
    }
    ~LogCapture() {
        LogClient::SetSink(nullptr);
        LogClient::SetLevel(previous_);
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    const std::vector<LogRecord>& Records() const { return *records_; }
    void Clear() { records_->clear(); }

private:
    LogLevel previous_;
    std::shared_ptr<std::vector<LogRecord>> records_ = std::make_shared<std::vector<LogRecord>>();
};

/// A parser from the factory, loaded from text (fails the test on error).
inline std::unique_ptr<DataParserIF> ParserWith(const std::string& xml) {
    auto parser = InterfaceFactory::Create<DataParserIF>("XML");
    const LoadResult result = parser->LoadString(xml);
    EXPECT_EQ(result.second, DataParserStatus::Ok) << result.first << " for " << xml;
    return parser;
}

/// The parser's concrete class, for the members that only it has.
inline PugiXMLParser& Xml(DataParserIF& parser) { return dynamic_cast<PugiXMLParser&>(parser); }

/// The document saved to a string (default: raw, without declaration).
inline std::string Saved(DataParserIF& parser, unsigned int format = 0x04 | 0x08) {
    std::ostringstream out;
    parser.SaveToStream(out, format);
    return out.str();
}

inline std::string ReadFile(const std::filesystem::path& path) {
    std::ostringstream content;
    content << std::ifstream(path, std::ios::binary).rdbuf();
    return content.str();
}

/// Runs the call with standard output captured and returns what it printed.
inline std::string StdoutOf(const std::function<void()>& call) {
    testing::internal::CaptureStdout();
    call();
    return testing::internal::GetCapturedStdout();
}

/// Checks every field of a record; the category is always the library's.
inline void ExpectRecord(const LogRecord& record, std::string_view file, std::string_view function,
                         int line, LogLevel level, const std::string& message) {
    EXPECT_EQ(std::tie(record.file, record.function, record.line, record.level, record.message),
              std::tie(file, function, line, level, message));
    EXPECT_EQ(record.category, 0x800B);
}

/// Checks that the records are exactly `count` "created with empty node" records.
inline void ExpectEmptyNodeRecords(const std::vector<LogRecord>& records, std::size_t count) {
    ASSERT_EQ(records.size(), count);
    for (const LogRecord& record : records) {
        ExpectRecord(record, nodeLogFile, "Impl", 47, LogLevel::Debug, "created with empty node");
    }
}

}  // namespace qiv::test
