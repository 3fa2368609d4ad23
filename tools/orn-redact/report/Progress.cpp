#include "Progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

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

std::string ProgressCounts(std::uint64_t done, std::uint64_t total, double seconds) {
    std::string line = Megabytes(static_cast<double>(done));
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

std::size_t TerminalColumns() {
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
    if (const char* columns = std::getenv("COLUMNS"); columns != nullptr) {
        char* end = nullptr;
        const unsigned long value = std::strtoul(columns, &end, 10);
        if (end != columns && *end == '\0' && value > 0 && value < 100000) {
            return value;
        }
    }
    return 80;
}

namespace {

bool StartsCharacter(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) != 0x80; }

std::size_t Columns(std::string_view text) {
    std::size_t columns = 0;
    for (const char byte : text) {
        columns += StartsCharacter(byte) ? 1 : 0;
    }
    return columns;
}

// The first columns characters of text.
std::string_view Head(std::string_view text, std::size_t columns) {
    std::size_t at = 0;
    for (std::size_t seen = 0; at < text.size(); ++at) {
        if (StartsCharacter(text[at]) && seen++ == columns) {
            break;
        }
    }
    return text.substr(0, at);
}

// The last columns characters of text.
std::string_view Tail(std::string_view text, std::size_t columns) {
    std::size_t at = text.size();
    for (std::size_t seen = 0; at > 0 && seen < columns;) {
        --at;
        seen += StartsCharacter(text[at]) ? 1 : 0;
    }
    return text.substr(at);
}

}  // namespace

std::string FitLine(std::string_view name, std::string_view counts, std::size_t width) {
    const std::string_view tool = "orn-redact: ";
    const std::string_view ellipsis = "...";
    const std::size_t room = width > 0 ? width - 1 : 0;
    std::string shown(name);
    for (char& byte : shown) {
        const auto code = static_cast<unsigned char>(byte);
        byte = code < 0x20 || code == 0x7F ? '?' : byte;
    }
    const std::size_t fixed = tool.size() + (name.empty() ? 0 : 2) + Columns(counts);
    if (fixed + Columns(shown) > room && !shown.empty()) {
        const std::size_t left =
            room > fixed + ellipsis.size() ? room - fixed - ellipsis.size() : 0;
        const std::size_t start = left / 3;
        shown = std::string(Head(shown, start)) + std::string(ellipsis) +
                std::string(Tail(shown, left - start));
    }
    std::string line(tool);
    if (!name.empty()) {
        line += shown + ": ";
    }
    line += counts;
    return std::string(Head(line, room));
}

std::string StatusLine::Redraw(const std::string& line) {
    const std::size_t columns = Columns(line);
    std::string out = "\r" + line;
    if (shown_ > columns) {
        out.append(shown_ - columns, ' ');
    }
    shown_ = columns;
    return out;
}

std::string StatusLine::Clear() {
    if (shown_ == 0) {
        return "";
    }
    std::string out = "\r" + std::string(shown_, ' ') + "\r";
    shown_ = 0;
    return out;
}

ProgressLine::ProgressLine(std::string name, std::uint64_t total)
    : name_(std::move(name)), total_(total), start_(Clock::now()) {}

ProgressLine::~ProgressLine() {
    const std::string clear = line_.Clear();
    std::fwrite(clear.data(), 1, clear.size(), stderr);
    std::fflush(stderr);
}

void ProgressLine::Update(std::uint64_t done) {
    const Clock::time_point now = Clock::now();
    if (shown_ && now - drawn_ < std::chrono::milliseconds(100)) {
        return;
    }
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const std::string out =
        line_.Redraw(FitLine(name_, ProgressCounts(done, total_, seconds), TerminalColumns()));
    std::fwrite(out.data(), 1, out.size(), stderr);
    std::fflush(stderr);
    drawn_ = now;
    shown_ = true;
}

}  // namespace qiv::redact
