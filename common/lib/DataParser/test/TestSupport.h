#pragma once

// Helpers shared by the library's tests.

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "DataParserIF.h"
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
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    /// Writes a file below the directory and returns its path.
    std::filesystem::path Write(const std::string& name, const std::string& content) const;

private:
    std::filesystem::path path_;
};

/// Collects every log record while it lives, at the given threshold; then
/// restores the previous threshold and the default sink.
class LogCapture {
public:
    explicit LogCapture(LogLevel level = LogLevel::Debug);
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    const std::vector<LogRecord>& Records() const { return *records_; }
    void Clear() { records_->clear(); }

private:
    LogLevel previous_;
    std::shared_ptr<std::vector<LogRecord>> records_;
};

/// A parser from the factory, loaded from text (fails the test on error).
std::unique_ptr<DataParserIF> ParserWith(const std::string& xml);

/// The parser's concrete class, for the members that only it has.
PugiXMLParser& Xml(DataParserIF& parser);

/// The document saved to a string (default: raw, without declaration).
std::string Saved(DataParserIF& parser, unsigned int format = 0x04 | 0x08);

/// Reads a whole file.
std::string ReadFile(const std::filesystem::path& path);

/// Runs the call with standard output captured and returns what it printed.
std::string StdoutOf(const std::function<void()>& call);

/// Checks every field of a record; the category is always the library's.
void ExpectRecord(const LogRecord& record, std::string_view file, std::string_view function,
                  int line, LogLevel level, const std::string& message);

/// Checks that the records are exactly `count` "created with empty node" records.
void ExpectEmptyNodeRecords(const std::vector<LogRecord>& records, std::size_t count);

/// Checks that the call throws std::out_of_range saying "map::at".
void ExpectMapAt(const std::function<void()>& call);

}  // namespace qiv::test
