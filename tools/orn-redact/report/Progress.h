#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qiv::redact {

/// A duration as minutes and seconds ("2:05").
std::string Duration(double seconds);
/// Bytes as mebibytes with one decimal ("12.5").
std::string Megabytes(double bytes);

/// The counts of the progress line for one input: "12.5 of 100.0 MB, 25.0
/// MB/s, 0:00 elapsed, about 0:04 left". total 0: the size is not known
/// (standard input, a pipe), and neither is the time left.
std::string ProgressCounts(std::uint64_t done, std::uint64_t total, double seconds);

/// The width of the terminal on standard error in columns: its window size,
/// else the environment variable COLUMNS, else 80.
std::size_t TerminalColumns();

/// "orn-redact: NAME: COUNTS" (without "NAME: " when name is empty), made to
/// fit in width - 1 columns: a line that filled the last column would wrap on
/// some terminals, and '\r' could then not return to its start. A name too
/// long loses its middle to "..." (its end, the file's own name, is kept
/// longer than its start), down to "..." alone; a line still too long is cut
/// at its end. Control characters in the name show as '?', so that a file
/// name cannot move the cursor. A column is a UTF-8 character.
std::string FitLine(std::string_view name, std::string_view counts, std::size_t width);

/// A line drawn in place on a terminal with '\r' and blanks only, no escape
/// sequences, so that every terminal (TERM=dumb too) shows it as meant. It
/// gives the bytes to write and remembers how many columns are shown.
class StatusLine {
public:
    /// Replaces the line shown with line: back to the start of the line,
    /// line, and blanks over what is left of the longer line before.
    std::string Redraw(const std::string& line);
    /// Blanks the line shown and returns to its start; empty when nothing is
    /// shown.
    std::string Clear();

private:
    std::size_t shown_ = 0;
};

/// Draws the progress line of one input on standard error, which must be a
/// terminal, at most ten times a second; cleared when destroyed.
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
    StatusLine line_;
    bool shown_ = false;
};

}  // namespace qiv::redact
