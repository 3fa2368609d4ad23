#include "LogClient.h"

#include <strings.h>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>

namespace qiv {
namespace {

constexpr std::array<std::string_view, 8> levelNames = {"Emergency", "Alert",  "Critical", "Error",
                                                        "Warning",   "Notice", "Info",     "Debug"};

// Reads ORN_LOG_LEVEL: a number 0-7 or a level name (any letter case).
LogLevel InitialLevel() {
    const char* text = std::getenv("ORN_LOG_LEVEL");
    if (text == nullptr || *text == '\0') {
        return LogLevel::Warning;
    }
    if (text[0] >= '0' && text[0] <= '7' && text[1] == '\0') {
        return static_cast<LogLevel>(text[0] - '0');
    }
    for (std::size_t i = 0; i < levelNames.size(); ++i) {
        if (strcasecmp(text, std::string(levelNames[i]).c_str()) == 0) {
            return static_cast<LogLevel>(i);
        }
    }
    std::fprintf(stderr, "ORN_LOG_LEVEL: unknown level '%s', using Warning\n", text);
    return LogLevel::Warning;
}

std::atomic<std::int32_t>& Threshold() {
    static std::atomic<std::int32_t> threshold{static_cast<std::int32_t>(InitialLevel())};
    return threshold;
}

void DefaultSink(const LogRecord& record) {
    std::string line;
    line.reserve(record.file.size() + record.function.size() + record.message.size() + 48);
    line += '[';
    line += ToString(record.level);
    line += "] [0x";
    char category[16];
    std::snprintf(category, sizeof category, "%X", static_cast<unsigned>(record.category));
    line += category;
    line += "] ";
    line += record.file;
    line += ':';
    line += std::to_string(record.line);
    line += ' ';
    line += record.function;
    line += ": ";
    line += record.message;
    line += '\n';
    // One write per record keeps lines from different threads apart.
    std::fwrite(line.data(), 1, line.size(), stderr);
}

// The sink is shared by all threads; records are emitted under the lock so a
// sink never runs concurrently with itself or with its replacement.
struct SinkState {
    std::mutex mutex;
    LogClient::Sink sink;
};

SinkState& Sinks() {
    static SinkState* state = new SinkState;  // never destroyed: logging may run at exit
    return *state;
}

}  // namespace

std::string_view ToString(LogLevel level) {
    const auto index = static_cast<std::size_t>(level);
    return index < levelNames.size() ? levelNames[index] : std::string_view("Unknown");
}

bool LogClient::LevelIsEnabled(LogLevel level) {
    return static_cast<std::int32_t>(level) <= Threshold().load(std::memory_order_relaxed);
}

void LogClient::SetLevel(LogLevel level) {
    Threshold().store(static_cast<std::int32_t>(level), std::memory_order_relaxed);
}

LogLevel LogClient::GetLevel() {
    return static_cast<LogLevel>(Threshold().load(std::memory_order_relaxed));
}

void LogClient::SetSink(Sink sink) {
    SinkState& state = Sinks();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.sink = std::move(sink);
}

LogClient::LogClient(std::string_view file, std::string_view function, int line, LogLevel level,
                     std::int32_t category)
    : std::ostream(nullptr),
      record_{std::string(file), std::string(function), line, level, category, {}} {
    rdbuf(&buffer_);
}

LogClient::~LogClient() {
    try {
        record_.message = buffer_.str();
        SinkState& state = Sinks();
        std::lock_guard<std::mutex> lock(state.mutex);
        if (state.sink) {
            state.sink(record_);
        } else {
            DefaultSink(record_);
        }
    } catch (...) {
        // A destructor must not throw; a record that cannot be delivered is dropped.
    }
}

}  // namespace qiv
