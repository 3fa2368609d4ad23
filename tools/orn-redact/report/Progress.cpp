#include "Progress.h"

#include <cstdio>

namespace qiv::redact {

std::string Duration(double seconds) {
    const auto whole = static_cast<long long>(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
    return text;
}

std::string Megabytes(double bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", bytes / (1024.0 * 1024.0));
    return text;
}

std::string ProgressText(const std::string& name, std::uint64_t done, std::uint64_t total,
                         double seconds) {
    std::string line = name + ": " + Megabytes(static_cast<double>(done));
    if (total > 0) {
        line += " of " + Megabytes(static_cast<double>(total));
    }
    line += " MB";
    const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
    if (rate > 0) {
        line += ", " + Megabytes(rate) + " MB/s";
    }
    line += ", " + Duration(seconds) + " elapsed";
    if (rate > 0 && total > done) {
        line += ", about " + Duration(static_cast<double>(total - done) / rate) + " left";
    }
    return line;
}

ProgressLine::ProgressLine(std::string name, std::uint64_t total)
    : name_(std::move(name)), total_(total), start_(Clock::now()) {}

ProgressLine::~ProgressLine() {
    if (shown_) {
        std::fputs("\r\x1b[K", stderr);
        std::fflush(stderr);
    }
}

void ProgressLine::Update(std::uint64_t done) {
    const Clock::time_point now = Clock::now();
    if (shown_ && now - drawn_ < std::chrono::milliseconds(100)) {
        return;
    }
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const std::string line =
        "\rorn-redact: " + ProgressText(name_, done, total_, seconds) + "\x1b[K";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
    drawn_ = now;
    shown_ = true;
}

}  // namespace qiv::redact
