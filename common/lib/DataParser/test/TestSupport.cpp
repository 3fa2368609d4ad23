#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

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
    // Give back write permission first so that read-only test folders go too.
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    for (const auto& entry : std::filesystem::recursive_directory_iterator(path_, ignored)) {
        if (entry.is_directory(ignored)) {
            std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ignored);
        }
    }
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

}  // namespace qiv::test
