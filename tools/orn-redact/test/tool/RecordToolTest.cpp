// Record mode as a user meets it: the same bytes as the whole-document path
// every way in and out, which expressions leave it and what the tool says
// then, and nothing written when a late record is malformed (unless --stream
// asks for the records as they are done).
#include <cstdlib>
#include <string>
#include <vector>

#include "RedactToolFixture.h"

namespace redact_tool_test {
namespace {

using namespace std::string_literals;

const std::string records =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
    "<!DOCTYPE list [ <!ENTITY co \"ACME\"> <!-- </list> --> ]>\r\n"
    "<list xmlns:p=\"urn:p\" version='2'>\r\n"
    "  <!-- exported -->\r\n"
    "  <rec id=\"1\" note='a>b/'><name>Ada</name><email>a@x</email><p:x>&#65;CME</p:x></rec>\r\n"
    "  <rec id=\"2\"><name>Bob</name><notes>call <b>Bob</b> &amp; co</notes></rec>\r\n"
    "  <rec id=\"3\"/>\r\n"
    "</list>\r\n"
    "<!-- end -->\r\n";

const std::string redacted =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
    "<!DOCTYPE list [ <!ENTITY co \"ACME\"> <!-- </list> --> ]>\r\n"
    "<list xmlns:p=\"urn:p\" version='2'>\r\n"
    "  <!-- exported -->\r\n"
    "  <rec id=\"1\" "
    "note='a>b/'><name>redacted</name><email>a@x</email><p:x>redacted</p:x></rec>\r\n"
    "  <rec id=\"2\"><name>redacted</name><notes>call <b>Bob</b> &amp; co</notes></rec>\r\n"
    "  <rec id=\"3\"/>\r\n"
    "</list>\r\n"
    "<!-- end -->\r\n";

// The tool as a shell command: under the cross build's emulator when there
// is one.
std::string ToolCommand() {
    const char* binary = std::getenv("ORN_REDACT_TEST_BINARY");
    std::string command = "'" + std::string(binary != nullptr ? binary : ORN_REDACT_BINARY) + "'";
    if (const std::string launcher = ORN_REDACT_LAUNCHER; !launcher.empty()) {
        command = "'" + launcher + "' " + command;
    }
    return command;
}

class RecordTool : public RedactTool {
protected:
    // Runs the tool with text coming through a pipe, which cannot be read twice.
    Outcome RunFromPipe(const std::vector<std::string>& arguments, const std::string& text) {
        WriteFile(Path("piped.xml"), text);
        std::string command = "cat '" + Path("piped.xml") + "' | " + ToolCommand();
        for (const std::string& argument : arguments) {
            command += " '" + argument + "'";
        }
        command += " >'" + Path("piped.out") + "' 2>'" + Path("piped.err") + "'";
        Outcome outcome;
        const int status = std::system(command.c_str());
        outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        outcome.out = ReadFile(Path("piped.out"));
        outcome.err = ReadFile(Path("piped.err"));
        for (const char* name : {"piped.xml", "piped.out", "piped.err"}) {
            fs::remove(Path(name));
        }
        return outcome;
    }
};

TEST_F(RecordTool, RecordsAndWholeWriteTheSameBytesEveryWay) {
    for (const char* mode : {"--records", "--whole"}) {
        SCOPED_TRACE(mode);
        const std::vector<std::string> expressions = {mode, "//name", "//rec/p:x"};
        WriteFile(Path("in.xml"), records);
        std::vector<std::string> arguments = expressions;
        Outcome result = Run(arguments, records);
        ExpectExit(result, 0);
        EXPECT_EQ(result.out, redacted);
        EXPECT_EQ(RunFromPipe(arguments, records).out, redacted);

        arguments.insert(arguments.end(), {"-i", Path("in.xml"), "-o", Path("out.xml")});
        ExpectExit(Run(arguments), 0);
        EXPECT_EQ(ReadFile(Path("out.xml")), redacted);

        arguments = expressions;
        arguments.insert(arguments.end(), {"-i", Path("in.xml"), "--in-place"});
        ExpectExit(Run(arguments), 0);
        EXPECT_EQ(ReadFile(Path("in.xml")), redacted);

        WriteFile(Path("in.xml"), records);
        arguments = expressions;
        arguments.insert(arguments.end(), {"-i", Path("in.xml"), "--output-dir", Path("d")});
        ExpectExit(Run(arguments), 0);
        EXPECT_EQ(ReadFile(Path("d/in.xml")), redacted);
        fs::remove_all(Path("d"));
        fs::remove(Path("in.xml"));
        fs::remove(Path("out.xml"));
        EXPECT_EQ(Files(), 0);  // nothing left behind
    }
}

// A changed value that refers to an entity: the entity's value in the DOCTYPE
// is named, or with --entities replaced, on both routes alike.
TEST_F(RecordTool, EntitiesReferredToFromChangedValuesAreNamedOrReplaced) {
    std::string referring = records;
    referring.replace(referring.find("&#65;CME"), 8, "&co;");
    WriteFile(Path("in.xml"), referring);
    WriteFile(Path("drop.yaml"), "rules:\n  - select: //rec/p:x\n    action: drop\n");
    WriteFile(
        Path("rules.yaml"),
        "rules:\n  - select: //rec/p:x\n    action: replace\n    with: \"a<b&\\\"c%\xC3\xA9\"\n");
    const std::string doctype = "<!ENTITY co \"ACME\">";
    const std::string declared =
        "entity 'co', declared in the DOCTYPE at line 2, column 18 (offset 57)";
    // The entity's value, and what became of the element that referred to it.
    const auto replaced = [&](const std::string& value, const std::string& text) {
        std::string out = redacted;
        out.replace(out.find(doctype), doctype.size(), "<!ENTITY co \"" + value + "\">");
        const std::string element = "<p:x>redacted</p:x>";
        return out.replace(out.find(element), element.size(), text);
    };
    const struct {
        std::vector<std::string> arguments;
        std::string message;
        std::string output;
        int status = 0;  // 4: the value is still readable
    } cases[] = {
        {{"//name", "//rec/p:x"},
         "warning: '//rec/p:x' removed a reference to " + declared +
             ", whose value is still there (use --entities)",
         redacted,
         4},
        {{"--entities", "//name", "//rec/p:x"},
         "note: '//rec/p:x' removed a reference to " + declared +
             "; its value there is replaced too (--entities)",
         replaced("redacted", "<p:x>redacted</p:x>")},
        // Escaped so that the entity reads as the new value where it is used.
        {{"--entities", "--rules", Path("rules.yaml"), "//name"},
         "its value there is replaced too",
         replaced("a&#38;#60;b&#38;#38;&#34;c&#37;&#233;", "<p:x>a&lt;b&amp;\"c%\xC3\xA9</p:x>")},
        // A dropped reference leaves the entity empty.
        {{"--entities", "--rules", Path("drop.yaml"), "//name"},
         "its value there is replaced too",
         replaced("", "")},
    };
    for (const auto& c : cases) {
        for (const char* mode : {"--whole", ""}) {
            std::vector<std::string> arguments = {"-i", Path("in.xml"), "--report-json", "-"};
            arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
            if (*mode != '\0') {
                arguments.push_back(mode);
            }
            SCOPED_TRACE(::testing::PrintToString(arguments));
            const Outcome result = Run(arguments);
            ExpectExit(result, c.status, {c.message});
            EXPECT_EQ(result.out, c.output);
            // Once on standard error, once among the file's messages in the report.
            EXPECT_EQ(Count(result.err, c.message), 2u);
        }
    }
    ExpectExit(Run({"--records", "--entities", "//name", "-i", Path("in.xml")}), 2,
               {"--entities may change its DOCTYPE, which comes before the records"});
    EXPECT_THAT(Run({"//name", "-i", Path("in.xml")}).err, Not(HasSubstr("entity")));
}

// No expression selects a namespace declaration, so none is ever changed:
// a new value would change what every name in its scope means.
TEST_F(RecordTool, NamespaceDeclarationsAreNeverChanged) {
    const std::string document =
        "<list xmlns='urn:d'><rec xmlns:q='urn:q' q:id='7' id='1'/><rec xmlns='urn:e'/></list>";
    for (const char* mode : {"--records", "--whole"}) {
        const Outcome result = Run(
            {mode, "--attributes", "--report", "//rec/@*", "//rec/attribute::node()"}, document);
        ExpectExit(result, 0, {"'//rec/@*': selected 2, redacted 2"});
        EXPECT_EQ(result.out,
                  "<list xmlns='urn:d'><rec xmlns:q='urn:q' q:id='redacted' id='redacted'/>"
                  "<rec xmlns='urn:e'/></list>")
            << mode;
    }
}

TEST_F(RecordTool, ExpressionsOutsideTheClassSayWhyAndRedactTheWholeDocument) {
    WriteFile(Path("in.xml"), records);
    const std::string expected = redacted;
    // Each is redacted whole with a note, or refused with --records.
    const struct {
        const char* expression;
        const char* reason;
    } cases[] = {
        {"//rec[1]/name | //rec[2]/name | //p:x",
         "a predicate counts positions on a step that can match"},
        {"//name[following::rec] | //p:x", "it uses the following axis"},
        {"//name | /list[count(//rec) > 1]/rec/p:x", "a predicate holds an absolute path"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expression);
        Outcome result = Run({c.expression, "-i", Path("in.xml")});
        ExpectExit(result, 0,
                   {"note: " + Path("in.xml") + " is redacted as a whole document: '" +
                    c.expression + "': " + c.reason});
        EXPECT_EQ(result.out, expected);
        // Through a pipe, the bytes read before the decision are not lost.
        result = RunFromPipe({c.expression}, records);
        ExpectExit(result, 0, {"note: standard input is redacted as a whole document"});
        EXPECT_EQ(result.out, expected);

        result = Run({"--records", c.expression, "-i", Path("in.xml"), "-o", Path("out.xml")});
        ExpectExit(result, 2,
                   {"cannot redact " + Path("in.xml") + " record by record (--records): '" +
                    c.expression + "': " + c.reason});
        EXPECT_FALSE(fs::exists(Path("out.xml")));
        EXPECT_EQ(result.out, "");
    }
    ExpectExit(Run({"--records", "--whole", "//a"}), 2, {"cannot be combined"});
    ExpectExit(Run({"--records", "--reformat", "//a"}), 2, {"cannot be combined"});
}

// What an expression selects between the records is known only once it is
// selected: the file is read again and redacted whole; a pipe cannot be.
TEST_F(RecordTool, ASelectionOutsideTheRecordsIsRedactedWhole) {
    std::string document = "<list>";
    for (int record = 0; record < 20000; ++record) {
        document += "<rec><name>n" + std::to_string(record) + "</name></rec>\n";
    }
    const std::string tail = "late text<rec><name>x</name></rec></list>\n";
    document += tail;
    WriteFile(Path("in.xml"), document);
    const Outcome whole = Run({"--whole", "//text()", "-i", Path("in.xml")});
    ExpectExit(whole, 0);
    Outcome result = Run({"//text()", "-i", Path("in.xml")});
    ExpectExit(result, 0,
               {"note: " + Path("in.xml") +
                " is redacted as a whole document: '//text()' selects text between the records"});
    EXPECT_EQ(result.out, whole.out);
    EXPECT_EQ(Count(whole.out, "redacted"), 20002u);

    result = RunFromPipe({"//text()"}, document);
    ExpectExit(result, 1,
               {"cannot redact standard input as a whole document: the records read so far "
                "cannot be read a second time (use --whole); nothing written"});
    EXPECT_EQ(result.out, "");
    result = RunFromPipe({"--whole", "//text()"}, document);
    ExpectExit(result, 0);
    EXPECT_EQ(result.out, whole.out);
}

TEST_F(RecordTool, AMalformedLateRecordLeavesNothingWritten) {
    std::string document = "<list>\n";
    for (int record = 0; record < 40000; ++record) {
        document += "<rec><name>n" + std::to_string(record) + "</name></rec>\n";
    }
    const std::string good = document + "</list>\n";
    document += "<rec><name>late</nome></rec>\n</list>\n";
    WriteFile(Path("in.xml"), document);
    WriteFile(Path("out.xml"), "old");
    const std::string where = "at line 40002, column 18";
    Outcome result = Run({"//name", "-i", Path("in.xml"), "-o", Path("out.xml")});
    ExpectExit(result, 1, {"cannot parse " + Path("in.xml") + ": Start-end tags mismatch", where});
    EXPECT_EQ(ReadFile(Path("out.xml")), "old");
    result = Run({"//name"}, document);
    ExpectExit(result, 1, {"cannot parse standard input", where});
    EXPECT_EQ(result.out, "");
    result = Run({"//name", "-i", Path("in.xml"), "--in-place"});
    ExpectExit(result, 1, {where});
    EXPECT_EQ(ReadFile(Path("in.xml")), document);
    EXPECT_EQ(Files(), 2);  // no temporary file left

    // An expression that matches nothing makes a run that wrote every record
    // throw it away all the same.
    WriteFile(Path("in.xml"), good);
    result = Run(
        {"--require-match", "//name", "//nothing", "-i", Path("in.xml"), "-o", Path("out.xml")});
    ExpectExit(result, 3, {"'//nothing' selected nothing (--require-match)", "nothing written"});
    EXPECT_EQ(ReadFile(Path("out.xml")), "old");
    result = Run({"--report", "//name", "-i", Path("in.xml"), "-o", Path("out.xml")});
    ExpectExit(result, 0, {"'//name': selected 40000, redacted 40000"});
    EXPECT_EQ(Count(ReadFile(Path("out.xml")), "<name>redacted</name>"), 40000u);
}

// --stream: standard output takes the records as they are done, so a late
// failure leaves what was written so far, and says so.
TEST_F(RecordTool, StreamedOutputIsTheSameAndALateFailureLeavesItCutShort) {
    std::string document = "<list>\n";
    for (int record = 0; record < 40000; ++record) {
        document += "<rec><name>n" + std::to_string(record) + "</name></rec>\n";
    }
    const std::string good = document + "</list>\n";
    const Outcome spooled = Run({"//name"}, good);
    ExpectExit(spooled, 0);
    ExpectExit(Run({"--stream", "//name"}, good), 0);
    EXPECT_EQ(Run({"--stream", "//name"}, good).out, spooled.out);
    // Known only at the end: the document is written whole, the status says it.
    Outcome result = Run({"--stream", "--require-match", "//name", "//nothing"}, good);
    ExpectExit(result, 3, {"written before that was known (--stream)"});
    EXPECT_EQ(result.out, spooled.out);
    // Compressed as it goes, and finished the same way.
    EXPECT_EQ(Run({"--stream", "--compress", "zstd", "//name"}, good).out,
              Run({"--compress", "zstd", "//name"}, good).out);

    const std::string cut = "; the output written so far is cut short";
    const struct {
        std::string expression;
        std::string tail;
        std::string message;
    } lateFailures[] = {
        {"//name", "<rec><name>late</nome></rec>\n</list>\n",
         "at line 40002, column 18 (offset 1228914)" + cut},
        {"//text()", "late text<rec/></list>\n",
         "cannot redact standard input record by record (--stream): '//text()' selects text "
         "between the records" +
             cut},
    };
    for (const auto& [expression, tail, message] : lateFailures) {
        SCOPED_TRACE(tail);
        result = Run({"--stream", expression}, document + tail);
        ExpectExit(result, 1, {message});
        EXPECT_THAT(result.err, Not(HasSubstr("nothing written")));
        EXPECT_GT(Count(result.out, "<rec><name>redacted</name></rec>\n"), 1000u);
        EXPECT_THAT(result.out, Not(HasSubstr("</list>")));
    }
}

}  // namespace
}  // namespace redact_tool_test

namespace redact_tool_test {
namespace {

// Whether a command-line program is there to make and check compressed files.
bool Have(const std::string& program) {
    return std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

TEST_F(RecordTool, CompressedFilesAreReadAndWrittenAsTheyCame) {
    const struct {
        const char* program;
        const char* suffix;
        const char* name;
    } formats[] = {{"gzip", ".gz", "gzip"},
                   {"bzip2", ".bz2", "bzip2"},
                   {"xz", ".xz", "xz"},
                   {"zstd", ".zst", "zstd"}};
    for (const auto& format : formats) {
        if (!Have(format.program)) {
            continue;
        }
        SCOPED_TRACE(format.name);
        const std::string program = format.program;
        WriteFile(Path("in.xml"), records);
        // The name says nothing: the content does.
        ASSERT_EQ(std::system(
                      (program + " -c '" + Path("in.xml") + "' >'" + Path("in.dat") + "'").c_str()),
                  0);
        const auto unpacked = [&](const std::string& file) {
            const std::string out = Path("unpacked.xml");
            std::system((program + " -dc '" + file + "' >'" + out + "'").c_str());
            return ReadFile(out);
        };
        for (const char* mode : {"--records", "--whole"}) {
            // A plain name: plain output.
            ExpectExit(Run({mode, "//name", "//p:x", "-i", Path("in.dat"), "-o", Path("o.xml")}),
                       0);
            EXPECT_EQ(ReadFile(Path("o.xml")), redacted);
            // A compressed name: compressed output.
            const std::string named = Path(std::string("o.xml") + format.suffix);
            ExpectExit(Run({mode, "//name", "//p:x", "-i", Path("in.dat"), "-o", named}), 0);
            EXPECT_EQ(unpacked(named), redacted);
            // In place: as it came.
            fs::copy_file(Path("in.dat"), Path("copy.dat"), fs::copy_options::overwrite_existing);
            ExpectExit(Run({mode, "//name", "//p:x", "-i", Path("copy.dat"), "--in-place"}), 0);
            EXPECT_EQ(unpacked(Path("copy.dat")), redacted);
            // --compress overrides either.
            ExpectExit(Run({mode, "--compress", "none", "//name", "//p:x", "-i", Path("in.dat"),
                            "-o", named}),
                       0);
            EXPECT_EQ(ReadFile(named), redacted);
        }
        // Cut short: an error, and nothing written.
        const std::string packed = ReadFile(Path("in.dat"));
        WriteFile(Path("cut.dat"), packed.substr(0, packed.size() / 2));
        Outcome result = Run({"//name", "-i", Path("cut.dat"), "-o", Path("cut.xml")});
        ExpectExit(result, 1, {"cannot read " + Path("cut.dat") + ": "});
        EXPECT_FALSE(fs::exists(Path("cut.xml")));
        for (const char* name :
             {"in.xml", "in.dat", "o.xml", "copy.dat", "cut.dat", "unpacked.xml"}) {
            fs::remove(Path(name));
        }
        fs::remove(Path(std::string("o.xml") + format.suffix));
    }
    ExpectExit(Run({"--compress", "lz4", "//a"}), 2, {"--compress needs one of none, gzip"});
}

}  // namespace
}  // namespace redact_tool_test

namespace redact_tool_test {
namespace {

// Options that tell something, on both paths and with compressed input.
TEST_F(RecordTool, OptionsSayTheSameOnBothPaths) {
    WriteFile(Path("in.xml"), records);
    const struct {
        std::vector<std::string> arguments;
        int status;
        std::vector<std::string> messages;
    } cases[] = {
        {{"--timings", "//name"}, 0, {"timings: 1 batch", "parse", "records"}},
        {{"--whole", "--timings", "//name"}, 0, {"timings: load", "select", "splice", "write"}},
        {{"--whole", "--require-match", "//name", "//none"},
         3,
         {"'//none' selected nothing (--require-match)", "nothing written"}},
        {{"--whole", "--raw", "//name"},
         0,
         {"--raw applies only when the document is written anew"}},
        {{"--indent", "//name"}, 0, {"--indent applies only when the document is written anew"}},
        {{"--report", "//name", "//rec/@id"},
         4,
         {"'//name': selected 2, redacted 2",
          "'//rec/@id': selected 3, redacted 0 (3 of the selected",
          "attribute values are not redacted (use --attributes); the first at line 5, column 3"}},
        {{"//notes"},
         4,
         {"1 of 1 selected elements still hold text other than \"redacted\"",
          "(use --deep); the first at line 6, column 31"}},
        {{"--whole", "//notes"}, 4, {"(use --deep); the first at line 6, column 31"}},
        {{"-o", "a.xml", "-o", "b.xml", "//name"}, 2, {"option -o given more than once"}},
        {{"true()"},
         2,
         {"rejected expression 'true()' (command line): it yields a boolean, not a node set"}},
        {{"--", "//name"}, 0, {}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> arguments = {"-i", Path("in.xml")};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        const Outcome result = Run(arguments);
        SCOPED_TRACE(::testing::PrintToString(arguments));
        ExpectExit(result, c.status);
        for (const std::string& message : c.messages) {
            EXPECT_THAT(result.err, HasSubstr(message));
        }
    }
}

// On a terminal: the progress line of one large input, and of a batch.
TEST_F(RecordTool, ProgressLinesAreDrawnOnATerminal) {
    if (!Have("script")) {
        GTEST_SKIP() << "script (to run on a terminal) is not installed";
    }
    std::string document = "<list>";
    for (int record = 0; record < 200000; ++record) {
        document += "<rec><name>n</name></rec>\n";
    }
    document += "</list>\n";
    WriteFile(Path("a.xml"), document);
    WriteFile(Path("b.xml"), document);
    const auto onTerminal = [&](const std::string& arguments) {
        const std::string command = "script -qec \"" + ToolCommand() + " " + arguments +
                                    "\" /dev/null </dev/null >'" + Path("terminal.txt") + "' 2>&1";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        return ReadFile(Path("terminal.txt"));
    };
    std::string seen = onTerminal("-i '" + Path("a.xml") + "' -o '" + Path("a.out") + "' //name");
    EXPECT_THAT(seen, HasSubstr("a.xml: "));
    EXPECT_THAT(seen, HasSubstr(" MB, "));
    seen = onTerminal("-i '" + Path("a.xml") + "' -i '" + Path("b.xml") + "' --output-dir '" +
                      Path("out") + "' //name");
    EXPECT_THAT(seen, HasSubstr("2/2 files"));
    seen = onTerminal("--quiet -i '" + Path("a.xml") + "' -o '" + Path("a.out") + "' //name");
    EXPECT_THAT(seen, Not(HasSubstr(" MB")));
}

// A zstd file may begin with a skippable frame (as parallel zstd writes
// one): it is read as zstd, on both routes, from a file and from a pipe.
TEST_F(RecordTool, ZstdInputMayBeginWithASkippableFrame) {
    const std::string document = "<r><a>secret</a><a>x</a></r>";
    ExpectExit(Run({"--compress", "zstd", "-o", Path("packed.zst"), "//none"}, document), 0);
    std::string skippable = "\x5a\x2a\x4d\x18\x05\0\0\0hello"s;
    WriteFile(Path("in.zst"), skippable + ReadFile(Path("packed.zst")));
    for (const char* mode : {"--records", "--whole"}) {
        SCOPED_TRACE(mode);
        const Outcome result = Run({mode, "--compress", "none", "-i", Path("in.zst"), "//a"});
        ExpectExit(result, 0);
        EXPECT_EQ(result.out, "<r><a>redacted</a><a>redacted</a></r>");
        EXPECT_EQ(Run({mode, "--compress", "none", "//a"}, ReadFile(Path("in.zst"))).out,
                  result.out);
    }
}

// A compressed file that must be redacted whole after all is read again and
// decompressed whole; a compressed output of a failed run is not kept.
TEST_F(RecordTool, CompressedInputGoesWholeWhenItMust) {
    if (!Have("gzip")) {
        GTEST_SKIP() << "gzip is not installed";
    }
    const std::string document = "<list><rec><name>a</name></rec>between<rec/></list>";
    WriteFile(Path("in.xml"), document);
    ASSERT_EQ(std::system(("gzip -c '" + Path("in.xml") + "' >'" + Path("in.gz") + "'").c_str()),
              0);
    Outcome result = Run({"//text()", "-i", Path("in.gz"), "-o", Path("out.xml")});
    ExpectExit(result, 0, {"'//text()' selects text between the records"});
    EXPECT_EQ(ReadFile(Path("out.xml")),
              "<list><rec><name>redacted</name></rec>redacted<rec/></list>");
    result = Run({"--whole", "//name"}, ReadFile(Path("in.gz")));
    ExpectExit(result, 0);
    EXPECT_EQ(result.out.substr(0, 2), "\x1f\x8b");  // written as it came

    WriteFile(Path("bad.xml"), "<list><rec><name>a</nam></rec></list>");
    ASSERT_EQ(std::system(("gzip -c '" + Path("bad.xml") + "' >'" + Path("bad.gz") + "'").c_str()),
              0);
    result = Run({"//name", "-i", Path("bad.gz"), "-o", Path("bad.out.gz")});
    ExpectExit(result, 1, {"Start-end tags mismatch"});
    EXPECT_FALSE(fs::exists(Path("bad.out.gz")));
}

// A compressed document cut short is a compressed stream without its end,
// which the decompressor reports, never one that looks complete.
TEST_F(RecordTool, AStreamedCompressedDocumentCutShortHasNoEnd) {
    if (!Have("gzip")) {
        GTEST_SKIP() << "gzip is not installed";
    }
    std::string document = "<list>\n";
    for (int record = 0; record < 40000; ++record) {
        document += "<rec><name>n" + std::to_string(record) + "</name></rec>\n";
    }
    document += "<rec><name>late</nome></rec>\n</list>\n";
    ExpectExit(Run({"--stream", "--compress", "gzip", "//name"}, document, Path("out.gz")), 1,
               {"the output written so far is cut short"});
    const std::string unpack = "gzip -dc '" + Path("out.gz") + "' >'" + Path("out.xml") + "' 2>&1";
    EXPECT_NE(std::system(unpack.c_str()), 0);
    EXPECT_THAT(ReadFile(Path("out.xml")), Not(HasSubstr("</list>")));
}

}  // namespace
}  // namespace redact_tool_test
