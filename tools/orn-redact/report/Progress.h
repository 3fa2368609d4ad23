#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace qiv::redact {

/// A duration as minutes and seconds ("2:05").
std::string Duration(double seconds);
/// Bytes as mebibytes with one decimal ("12.5").
std::string Megabytes(double bytes);

/// The progress line for one input: "NAME: 12.5 of 100.0 MB, 25.0 MB/s, 0:00
/// elapsed, about 0:04 left". total 0: the size is not known (standard input,
/// a pipe), and neither is the time left.
std::string ProgressText(const std::string& name, std::uint64_t done, std::uint64_t total,
                         double seconds);

/// Draws ProgressText on standard error, which must be a terminal, at most ten
/// times a second; cleared when destroyed.
class ProgressLine {
public:
    ProgressLine(std::string name, std::uint64_t total);
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    void Update(std::uint64_t done);

private:
    using Clock = std::chrono::steady_clock;
    std::string name_;
    std::uint64_t total_;
    Clock::time_point start_;
    Clock::time_point drawn_;
    bool shown_ = false;
};

}  // namespace qiv::redact
