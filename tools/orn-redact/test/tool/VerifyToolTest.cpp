// --verify: the written file is read back and audited.

#include "RedactToolFixture.h"

namespace redact_tool_test {
namespace {

// The warnings of a run, in order: the same on every route.
std::string Warnings(const std::string& err) {
    std::istringstream lines(err);
    std::string warnings;
    for (std::string line; std::getline(lines, line);) {
        if (line.find("warning: ") != std::string::npos &&
            line.find("(--verify)") == std::string::npos) {
            warnings += line.substr(line.find("warning: ")) + '\n';
        }
    }
    return warnings;
}

struct VerifyCase {
    const char* name;
    std::string document;
    std::vector<std::string> arguments;  // expressions and options
    int status;
    std::string warnings;  // every warning, with "OUT" for the output's path
};

class VerifyTool : public RedactTool, public testing::WithParamInterface<VerifyCase> {};

// Each document runs record by record and whole: both must read the same
// output back and tell the same places.
TEST_P(VerifyTool, TellsEveryPlaceThatStillHoldsAChangedValue) {
    const VerifyCase& row = GetParam();
    WriteFile(Path("in.xml"), row.document);
    std::string expected = row.warnings;
    for (std::size_t at = expected.find("OUT"); at != std::string::npos;
         at = expected.find("OUT", at)) {
        expected.replace(at, 3, Path("out.xml"));
    }
    for (const char* route : {"--records", "--whole"}) {
        std::vector<std::string> arguments = {"--verify",     route, "-i",
                                              Path("in.xml"), "-o",  Path("out.xml")};
        arguments.insert(arguments.end(), row.arguments.begin(), row.arguments.end());
        const Outcome result = Run(arguments);
        EXPECT_EQ(result.status, row.status) << route << '\n' << result.err;
        EXPECT_EQ(Warnings(result.err), expected) << route;
        EXPECT_TRUE(fs::exists(Path("out.xml"))) << "a file that fails --verify stays written";
    }
}

const std::string twoPeople =
    "<r><p><n>Ada Lovelace</n></p><p><n>Bob</n><c>Ada Lovelace</c></p></r>";

INSTANTIATE_TEST_SUITE_P(
    Leftovers, VerifyTool,
    testing::Values(
        VerifyCase{"OneOfTwoSelected",
                   twoPeople,
                   {"//p/n"},
                   4,
                   "warning: OUT: a value changed by '//p/n' is still the whole of a text at "
                   "line 1, column 47 (offset 46)\n"},
        VerifyCase{"EverySelected", twoPeople, {"//p/n", "//p/c"}, 0, ""},
        // "Bob" is too short to look for among words; "Lovelace" is not.
        VerifyCase{"Words",
                   "<r><p><n>Bob</n><n>Lovelace</n></p><p><c>Bob and Ann</c>\n"
                   "<c>call  Lovelace soon</c></p></r>",
                   {"//p/n"},
                   4,
                   "warning: OUT: a value changed by '//p/n' is still a word in a text at line 2, "
                   "column 10 (offset 71)\n"},
        // Blanks are compared as one space, references resolved, and each
        // kind of markup is named.
        VerifyCase{
            "KindsOfMarkup",
            "<?xml version=\"1.0\"?>\n<!DOCTYPE r [<!ENTITY e \"Tom &amp; Jerry\">]>\n"
            "<r><p><n>Tom &amp; Jerry</n><n>Clarke</n></p>\n"
            "<p a=\"Tom &#38;\n Jerry\"><!-- Clarke --><?note Clarke?><![CDATA[Clarke]]></p></r>",
            {"//p/n"},
            4,
            "warning: OUT: a value changed by '//p/n' is still the whole of an entity "
            "declaration at line 2, column 26 (offset 47)\n"
            "warning: OUT: a value changed by '//p/n' is still the whole of an attribute "
            "value at line 4, column 7 (offset 114)\n"
            "warning: OUT: a value changed by '//p/n' is still the whole of a comment at "
            "line 5, column 14 (offset 137)\n"
            "warning: OUT: a value changed by '//p/n' is still the whole of a processing "
            "instruction at line 5, column 31 (offset 154)\n"
            "warning: OUT: a value changed by '//p/n' is still the whole of a CDATA section "
            "at line 5, column 48 (offset 171)\n"},
        // A value that reads the same afterwards was not changed.
        VerifyCase{"SameAfterwards",
                   "<r><p><n>redacted</n><m k=\"secret-key\"/></p><p><c>redacted</c>"
                   "<c>secret-key</c></p></r>",
                   {"//p/n", "//m/@k", "--attributes"},
                   4,
                   "warning: OUT: a value changed by '//m/@k' is still the whole of a text at "
                   "line 1, column 64 (offset 63)\n"}),
    [](const testing::TestParamInfo<VerifyCase>& info) { return std::string(info.param.name); });

TEST_F(RedactTool, VerifyCountsWhatItDoesNotLocateAndTheReportCarriesIt) {
    std::string document = "<r>";
    for (int index = 0; index < 30; ++index) {
        document += "<p><n>Ada</n><c>Ada</c></p>";
    }
    WriteFile(Path("in.xml"), document + "</r>");
    const Outcome result = Run({"--verify", "-i", Path("in.xml"), "-o", Path("out.xml.gz"),
                                "--report-json", Path("report.json"), "//p/n"});
    ExpectExit(result, 4, {"10 more places still hold a value that a rule changed"});
    EXPECT_EQ(Count(result.err, "is still the whole of a text"), 20u);
    const std::string report = ReadFile(Path("report.json"));
    EXPECT_THAT(report, HasSubstr("\"status\": \"verify failed\""));
    EXPECT_THAT(report, HasSubstr("\"verify\": {\"leftovers\": 30, \"problem\": null}"));
}

TEST_F(RedactTool, VerifyWithSeveralFilesEndsWithTheWorstStatus) {
    WriteFile(Path("clean.xml"), "<r><p><n>Ada</n></p></r>");
    WriteFile(Path("left.xml"), twoPeople);
    fs::create_directory(Path("out"));
    const Outcome result = Run({"--verify", "-q", "-i", Path("clean.xml"), "-i", Path("left.xml"),
                                "--output-dir", Path("out"), "//p/n"});
    ExpectExit(result, 4, {"left.xml: warning: "});
    EXPECT_THAT(result.err, Not(HasSubstr("clean.xml: warning")));
}

TEST_F(RedactTool, VerifyNeedsAFileToReadBack) {
    WriteFile(Path("in.xml"), twoPeople);
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"--verify", "-i", Path("in.xml"), "//p/n"},
          std::vector<std::string>{"--verify", "--check", "-i", Path("in.xml"), "//p/n"}}) {
        const Outcome result = Run(arguments);
        ExpectExit(result, 2, {"--verify reads the written file back"});
        EXPECT_EQ(result.out, "");
    }
}

}  // namespace
}  // namespace redact_tool_test
