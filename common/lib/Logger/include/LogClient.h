#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <sstream>
#include <string>
#include <string_view>
#include <type_traits>

#if defined(_WIN32)
#define ORN_LOGGER_API
#else
#define ORN_LOGGER_API __attribute__((visibility("default")))
#endif

namespace qiv {

/// Severity of a log record; a lower number is more severe.
enum class LogLevel : std::int32_t {
    Emergency = 0,
    Alert = 1,
    Critical = 2,
    Error = 3,
    Warning = 4,
    Notice = 5,
    Info = 6,
    Debug = 7,
};

/// Component that a record comes from.
enum class LogCategory : std::int32_t { DataParser = 0x800B };

/// One finished log record, as handed to the sink.
struct LogRecord {
    std::string file;
    std::string function;
    int line;
    LogLevel level;
    std::int32_t category;
    std::string message;
};

/// Builds one log record: stream the message into the object, the destructor
/// hands the finished record to the sink. Ask LevelIsEnabled() first so that
/// nothing is formatted for a disabled level.
class ORN_LOGGER_API LogClient : public std::ostream {
public:
    using Sink = std::function<void(const LogRecord&)>;

    /// True when records of this level pass the threshold (numerically <= it).
    static bool LevelIsEnabled(LogLevel level);
    /// Sets the threshold; the default is Warning, or ORN_LOG_LEVEL at start-up.
    static void SetLevel(LogLevel level);
    static LogLevel GetLevel();
    /// Replaces the sink; an empty sink restores the default one (a line on stderr).
    static void SetSink(Sink sink);

    template <typename Category>
    LogClient(std::string_view file, std::string_view function, int line, LogLevel level,
              Category category)
        : LogClient(file, function, line, level, ToCategoryValue(category)) {}

    ~LogClient() override;

    LogClient(const LogClient&) = delete;
    LogClient& operator=(const LogClient&) = delete;

private:
    LogClient(std::string_view file, std::string_view function, int line, LogLevel level,
              std::int32_t category);

    template <typename Category>
    static std::int32_t ToCategoryValue(Category category) {
        static_assert(std::is_enum_v<Category> || std::is_integral_v<Category>,
                      "a log category is an enumeration or an integer");
        return static_cast<std::int32_t>(category);
    }

    std::stringbuf buffer_;
    LogRecord record_;
};

/// Readable name of a level ("Error", "Debug", ...).
ORN_LOGGER_API std::string_view ToString(LogLevel level);

}  // namespace qiv
