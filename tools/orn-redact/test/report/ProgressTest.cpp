// The progress line: its counts, how it is cut to the terminal's width, and
// the bytes that draw and clear it.
#include <unistd.h>

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "Progress.h"

namespace {

using namespace qiv::redact;

TEST(Progress, SaysHowFarHowFastAndHowLong) {
    const std::uint64_t megabyte = 1 << 20;
    const struct {
        std::uint64_t done, total;
        double seconds;
        const char* text;
    } cases[] = {
        {25 * megabyte, 100 * megabyte, 5,
         "25.0 of 100.0 MB, 5.0 MB/s, 0:05 elapsed, about 0:15 left"},
        {0, 100 * megabyte, 0, "0.0 of 100.0 MB, 0:00 elapsed"},
        {3 * megabyte, 0, 2, "3.0 MB, 1.5 MB/s, 0:02 elapsed"},  // size not known
        {100 * megabyte, 100 * megabyte, 125, "100.0 of 100.0 MB, 0.8 MB/s, 2:05 elapsed"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ProgressCounts(c.done, c.total, c.seconds), c.text);
    }
}

TEST(Progress, TheLineFitsTheWidthAndKeepsItsCounts) {
    const std::string counts = "1.0 of 2.0 MB";  // 13 columns; with "orn-redact: " and ": ", 27
    const struct {
        const char* name;
        std::size_t width;
        const char* line;
    } cases[] = {
        {"in.xml", 80, "orn-redact: in.xml: 1.0 of 2.0 MB"},
        {"in.xml", 34, "orn-redact: in.xml: 1.0 of 2.0 MB"},  // 33 columns: the last is free
        {"in.xml", 33, "orn-redact: ...ml: 1.0 of 2.0 MB"},
        // The middle goes; the end of the path, the file's own name, is kept longer.
        {"/data/archive/2026/customers.xml", 45, "orn-redact: /dat...tomers.xml: 1.0 of 2.0 MB"},
        {"/data/é/ü/customers-öäü.xml", 40, "orn-redact: /da...äü.xml: 1.0 of 2.0 MB"},
        {"a\nb\rc\x1b[2J", 80, "orn-redact: a?b?c?[2J: 1.0 of 2.0 MB"},
        // Too narrow for the counts: the name is "..." and the line is cut at its end.
        {"/data/customers.xml", 31, "orn-redact: ...: 1.0 of 2.0 MB"},
        {"/data/customers.xml", 30, "orn-redact: ...: 1.0 of 2.0 M"},
        {"/data/customers.xml", 1, ""},
        {"/data/customers.xml", 0, ""},
        {"", 80, "orn-redact: 1.0 of 2.0 MB"},  // several files: no name
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FitLine(c.name, counts, c.width), c.line) << c.name << ", width " << c.width;
    }
}

TEST(Progress, DrawsAndClearsWithCarriageReturnsAndBlanksOnly) {
    StatusLine status;
    EXPECT_EQ(status.Clear(), "");  // nothing shown yet
    EXPECT_EQ(status.Redraw("orn-redact: 10 MB"), "\rorn-redact: 10 MB");
    EXPECT_EQ(status.Redraw("orn-redact: 9"), "\rorn-redact: 9    ");  // blanks over "9 MB"'s end
    EXPECT_EQ(status.Redraw("orn-redact: ü"), "\rorn-redact: ü");      // columns, not bytes
    EXPECT_EQ(status.Clear(), "\r" + std::string(13, ' ') + "\r");
    EXPECT_EQ(status.Clear(), "");
}

TEST(Progress, TheWidthComesFromColumnsWhenNotATerminal) {
    if (::isatty(STDERR_FILENO) == 1) {
        GTEST_SKIP() << "standard error is a terminal: its own width is used";
    }
    const char* saved = std::getenv("COLUMNS");
    const std::string kept = saved != nullptr ? saved : "";
    const struct {
        const char* columns;  // null: not set
        std::size_t width;
    } cases[] = {{"132", 132}, {nullptr, 80}, {"", 80}, {"0", 80}, {"wide", 80}, {"40x", 80}};
    for (const auto& c : cases) {
        if (c.columns != nullptr) {
            ::setenv("COLUMNS", c.columns, 1);
        } else {
            ::unsetenv("COLUMNS");
        }
        EXPECT_EQ(TerminalColumns(), c.width) << (c.columns != nullptr ? c.columns : "unset");
    }
    if (saved != nullptr) {
        ::setenv("COLUMNS", kept.c_str(), 1);
    } else {
        ::unsetenv("COLUMNS");
    }
}

}  // namespace
