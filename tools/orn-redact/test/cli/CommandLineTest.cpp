// The command line as users of other command-line tools write it: bundled
// short options, shortened long ones, "=" values, "-" for the standard
// streams, and the refusals that go with them.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CommandLine.h"

namespace {

using qiv::redact::Options;
using qiv::redact::ParseOptions;

// What a row expects of the options, in one line.
std::string Describe(const Options& options) {
    std::string text;
    for (const std::string& input : options.inputPaths) {
        text += "in=" + input + " ";
    }
    text += "out=" + options.outputPath.value_or("stdout");
    if (options.jobs != 0) {
        text += " jobs=" + std::to_string(options.jobs);
    }
    if (options.inPlace) {
        text += " in-place" + (options.backupSuffix.empty() ? "" : "=" + options.backupSuffix);
    }
    if (options.reportJson) {
        text += " report-json=" + *options.reportJson;
    }
    for (const auto& [flag, name] : {std::pair{options.quiet, " quiet"},
                                     {options.report, " report"},
                                     {options.requireMatch, " require-match"},
                                     {options.help, " help"}}) {
        text += flag ? name : "";
    }
    for (const std::string& expression : options.expressions) {
        text += " [" + expression + "]";
    }
    return text;
}

TEST(CommandLine, AcceptsTheUsualSpellings) {
    const std::pair<std::vector<std::string>, std::string> rows[] = {
        // Bundled short options; a value ends the bundle or follows it.
        {{"-qj2", "//b"}, "out=stdout jobs=2 quiet [//b]"},
        {{"-qi", "a.xml", "//b"}, "in=a.xml out=stdout quiet [//b]"},
        {{"-qia.xml", "//b"}, "in=a.xml out=stdout quiet [//b]"},
        {{"-qh"}, "out=stdout quiet help"},
        // Shortened long options; a full name wins over a longer one it begins.
        {{"--requ", "//b"}, "out=stdout require-match [//b]"},
        {{"--report", "//b"}, "out=stdout report [//b]"},
        {{"--report-j", "r.json", "//b"}, "out=stdout report-json=r.json [//b]"},
        {{"--inp=a.xml", "--jobs=3", "//b"}, "in=a.xml out=stdout jobs=3 [//b]"},
        // Operands anywhere; after "--" everything is an expression but "-".
        {{"//b", "-i", "a.xml", "//c"}, "in=a.xml out=stdout [//b] [//c]"},
        {{"--", "-q", "//b"}, "out=stdout [-q] [//b]"},
        // "-" is standard input or output, which is no path.
        {{"-i", "-", "-o", "-", "//b"}, "out=stdout [//b]"},
        {{"//b", "-"}, "out=stdout [//b]"},
        {{"--", "-", "//b"}, "out=stdout [//b]"},
        {{"-i", "a.xml", "--in-place", "//b"}, "in=a.xml out=stdout in-place [//b]"},
        {{"-i", "a.xml", "--in-pl=.bak", "//b"}, "in=a.xml out=stdout in-place=.bak [//b]"},
    };
    for (const auto& [arguments, expected] : rows) {
        const auto parsed = ParseOptions(arguments);
        EXPECT_EQ(parsed.error, "") << arguments.front();
        EXPECT_EQ(Describe(parsed.options), expected) << arguments.front();
    }
}

TEST(CommandLine, RefusesWhatItCannotTellOrDo) {
    const std::pair<std::vector<std::string>, std::string> rows[] = {
        {{"--rep", "//b"}, "option --rep is ambiguous; it may be --report or --report-json"},
        {{"--in", "a.xml", "//b"},
         "option --in is ambiguous; it may be --in-place, --indent or --input"},
        {{"--bogus=1", "//b"}, "unknown option --bogus"},
        {{"--key", "k3y", "//b"}, "unknown option --key"},
        {{"--check=yes", "//b"}, "option --check takes no value"},
        {{"-qx", "//b"}, "unknown option -x (in -qx)"},
        {{"//b", "-qj"}, "option -j needs a number from 1 to 1024"},
        {{"-i", "a.xml", "--in-place=", "//b"},
         "option --in-place has an '=' but no value after it"},
        {{"-i", "a.xml", "--in-place=old/", "//b"}, "option --in-place needs a SUFFIX without '/'"},
        {{"-i", "-", "-", "//b"}, "standard input (-) is given as an input more than once"},
        {{"-i", "-", "--files-from", "-", "//b"}, "cannot both read standard input"},
        {{"-i", "-", "--in-place", "//b"}, "--in-place cannot rewrite standard input (-)"},
        {{"-", "--output-dir", "d", "//b"}, "standard input (-) has no file name"},
        {{"-", "-i", "a.xml", "--check", "//b"}, "cannot be redacted together with input files"},
        {{"-o", "-", "--verify", "//b"}, "--verify reads the written file back"},
    };
    for (const auto& [arguments, expected] : rows) {
        const std::string error = ParseOptions(arguments).error;
        EXPECT_NE(error.find(expected), std::string::npos) << error;
    }
}

}  // namespace
