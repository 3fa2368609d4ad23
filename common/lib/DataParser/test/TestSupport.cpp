#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "InterfaceFactory.h"

namespace qiv::test {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "orn-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a temporary directory");
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path TempDir::Write(const std::string& name, const std::string& content) const {
    const std::filesystem::path file = path_ / name;
    std::ofstream out(file, std::ios::binary);
    out << content;
    return file;
}

LogCapture::LogCapture(LogLevel level)
    : previous_(LogClient::GetLevel()), records_(std::make_shared<std::vector<LogRecord>>()) {
    LogClient::SetLevel(level);
    auto records = records_;
    LogClient::SetSink([records](const LogRecord& record) { records->push_back(record); });
}

LogCapture::~LogCapture() {
    LogClient::SetSink(nullptr);
    LogClient::SetLevel(previous_);
}

std::unique_ptr<DataParserIF> ParserWith(const std::string& xml) {
    auto parser = InterfaceFactory::Create<DataParserIF>("XML");
    const LoadResult result = parser->LoadString(xml);
    EXPECT_EQ(result.second, DataParserStatus::Ok) << result.first << " for " << xml;
    return parser;
}

PugiXMLParser& Xml(DataParserIF& parser) { return dynamic_cast<PugiXMLParser&>(parser); }

std::string Saved(DataParserIF& parser, unsigned int format) {
    std::ostringstream out;
    parser.SaveToStream(out, format);
    return out.str();
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::string StdoutOf(const std::function<void()>& call) {
    testing::internal::CaptureStdout();
    call();
    return testing::internal::GetCapturedStdout();
}

void ExpectRecord(const LogRecord& record, std::string_view file, std::string_view function,
                  int line, LogLevel level, const std::string& message) {
    EXPECT_EQ(record.file, file);
    EXPECT_EQ(record.function, function);
    EXPECT_EQ(record.line, line);
    EXPECT_EQ(record.level, level);
    EXPECT_EQ(record.category, 0x800B);
    EXPECT_EQ(record.message, message);
}

void ExpectEmptyNodeRecords(const std::vector<LogRecord>& records, std::size_t count) {
    ASSERT_EQ(records.size(), count);
    for (const LogRecord& record : records) {
        ExpectRecord(record, nodeLogFile, "Impl", 47, LogLevel::Debug, "created with empty node");
    }
}

void ExpectMapAt(const std::function<void()>& call) {
    try {
        call();
        ADD_FAILURE() << "expected std::out_of_range";
    } catch (const std::out_of_range& error) {
        EXPECT_STREQ(error.what(), "map::at");
    }
}

}  // namespace qiv::test
