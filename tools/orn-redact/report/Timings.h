#pragma once

#include <chrono>
#include <cstdio>
#include <string>

#include "Plan.h"

namespace qiv::redact {

// With --timings, how long each step took, as one message at the end.
class Timings {
public:
    Timings(bool enabled, const MessageSink& message)
        : enabled_(enabled), message_(message), last_(Clock::now()) {}
    ~Timings() {
        if (enabled_ && !line_.empty()) {
            message_("timings:" + line_);
        }
    }
    Timings(const Timings&) = delete;
    Timings& operator=(const Timings&) = delete;

    /// Ends the step called name (none: restarts the clock).
    void Lap(const char* name) {
        const Clock::time_point now = Clock::now();
        if (name != nullptr) {
            char seconds[32];
            std::snprintf(seconds, sizeof seconds, " %.3f s",
                          std::chrono::duration<double>(now - last_).count());
            line_ += std::string(line_.empty() ? " " : ", ") + name + seconds;
        }
        last_ = now;
    }

private:
    using Clock = std::chrono::steady_clock;
    bool enabled_;
    const MessageSink& message_;
    Clock::time_point last_;
    std::string line_;
};

}  // namespace qiv::redact
