// Runs the built orn-redact as a child process and checks what a user sees:
// exit status, standard output, standard error and the files left behind.
#include "RedactToolFixture.h"

namespace {

using namespace redact_tool_test;
using testing::HasSubstr;
using testing::Not;
using namespace std::string_literals;
namespace fs = std::filesystem;

TEST_F(RedactTool, StandardOutputCarriesOnlyTheDocument) {
    Outcome result = Run({"//email"}, mixedDocument);
    ExpectExit(result, 0);
    EXPECT_EQ(result.out,
              "<people><person id=\"p1\"><email>redacted</email>"
              "<notes>Call <b>Ada</b> at home</notes></person><person id=\"p2\">"
              "<email>redacted</email><notes><![CDATA[<vip>]]> and more</notes></person>"
              "</people>");

    // The library's load announcement (made when the whole document is
    // loaded from its file) is not shown at all.
    WriteFile(Path("in.xml"), "<a>\r\n <b k='v'>secret</b><!-- c -->\r\n</a>");
    result = Run({"--whole", "-i", Path("in.xml"), "//b"});
    ExpectExit(result, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, "<a>\r\n <b k='v'>redacted</b><!-- c -->\r\n</a>");
    result = Run({"-i", Path("in.xml"), "//b"});
    ExpectExit(result, 0);
    EXPECT_EQ(result.out, "<a>\r\n <b k='v'>redacted</b><!-- c -->\r\n</a>");
}

// text as UTF-16 bytes, little- or big-endian.
std::string Utf16(std::u16string_view text, bool big) {
    std::string bytes;
    for (const char16_t unit : text) {
        const char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
        bytes += big ? std::string{high, low} : std::string{low, high};
    }
    return bytes;
}

// A document the parser refuses gets the tool's one message, on every route,
// placed in the input's own characters and bytes whatever its encoding; the
// library's own report of the failure appears on neither stream.
TEST_F(RedactTool, AParseFailureIsReportedOnlyByTheTool) {
    const std::string broken = "<a><b>x</b><b>y</c></a>\n";
    WriteFile(Path("bad.xml"), broken);
    WriteFile(Path("bad16.xml"), Utf16(u"\uFEFF<a><b>x</b><b>y</c></a>\n", false));
    WriteFile(Path("good.xml"), "<a><b>x</b></a>");
    const std::string bad = Path("bad.xml"), bad16 = Path("bad16.xml");
    const std::string here = "at line 1, column 18 (offset 17)";
    const std::string here16 = "at line 1, column 19 (offset 36)";  // the mark is a character
    const struct {
        std::vector<std::string> arguments;
        std::string input;  // on standard input
        std::size_t lines;  // on standard error
        std::string where;
    } cases[] = {
        {{"-i", bad, "//b"}, "", 1, here},
        {{"--whole", "-i", bad, "//b"}, "", 1, here},
        {{"--reformat", "-i", bad, "//b"}, "", 1, here},
        {{"//b"}, broken, 1, here},
        {{"--whole", "//b"}, broken, 1, here},
        {{"-i", bad16, "//b"}, "", 1, here16},
        {{"--whole", "-i", bad16, "//b"}, "", 1, here16},
        {{"--reformat", "-i", bad16, "//b"}, "", 1, here16},
        {{"//b"}, Utf16(u"<a>\n<b>y</c></a>", true), 1, "at line 2, column 7 (offset 20)"},
        {{"//b"},
         Utf16(u"\uFEFF<a>\U0001F600<b>y</c></a>", false),
         1,
         "at line 1, column 12 (offset 24)"},
        {{"//b"},
         "<?xml version='1.0' encoding='ISO-8859-1'?>\n<a>\xE9<b>y</c></a>",
         1,
         "at line 2, column 11 (offset 54)"},
        {{"--output-dir", Path("out"), "-i", Path("good.xml"), "-i", bad, "-i", bad16, "//b"},
         "",
         3,
         here16},
    };
    for (const auto& [arguments, input, lines, where] : cases) {
        const Outcome result = Run(arguments, input);
        const std::string shown = testing::PrintToString(arguments);
        ExpectExit(result, 1, {"cannot parse ", ": Start-end tags mismatch", where});
        EXPECT_EQ(result.out, "") << shown;
        EXPECT_EQ(Count(result.err, "\n"), lines) << shown << result.err;
        EXPECT_EQ(Count(result.err, "orn-redact: "), lines) << shown << result.err;
        EXPECT_THAT(result.err, Not(HasSubstr("Error"))) << shown;
    }
}

TEST_F(RedactTool, WritesTheDocumentAnewOnlyWhenAskedOrNeeded) {
    const std::string note = "; writing the document anew, without its layout";
    Outcome result = Run({"--reformat", "//b"}, "<!-- c --><a><b>x</b></a>");
    EXPECT_EQ(result.out, "<?xml version=\"1.0\"?>\n<a>\n\t<b>redacted</b>\n</a>\n");
    EXPECT_THAT(result.err, Not(HasSubstr(note)));
    result = Run({"--reformat", "--raw", "//b"}, "<a><b>x</b></a>");
    EXPECT_EQ(result.out, "<?xml version=\"1.0\"?><a><b>redacted</b></a>");
    result = Run({"--raw", "//b"}, "<a><b>x</b></a>");
    ExpectExit(result, 0, {"--raw applies only when the document is written anew"});
    EXPECT_EQ(result.out, "<a><b>redacted</b></a>");

    result = Run({"/"}, "<a><b>x</b></a>");
    EXPECT_EQ(result.out, "<a><b>x</b>redacted</a>");
    EXPECT_THAT(result.err, Not(HasSubstr("anew")));
    result = Run({"//b"}, std::string("\xFF\xFE<\0a\0>\0<\0b\0>\0x\0<\0/\0b\0>\0<\0/\0a\0>\0", 32));
    ExpectExit(result, 0, {"note: the input is UTF-16LE, which the parser converts" + note});
    EXPECT_THAT(result.out, HasSubstr("<b>redacted</b>"));
}

TEST_F(RedactTool, ExpressionFileAddsToCommandLineExpressions) {
    WriteFile(Path("list.xpath"), "# personal data\n\n  //notes  \n#//email\n");
    const Outcome result =
        Run({"--raw", "--deep", "-e", Path("list.xpath"), "//person/email"}, mixedDocument);
    ExpectExit(result, 0);
    EXPECT_THAT(result.out, HasSubstr("<email>redacted</email>"));
    EXPECT_THAT(result.out, Not(HasSubstr("Ada")));
    EXPECT_THAT(result.out, Not(HasSubstr("example.org")));

    WriteFile(Path("bad.xpath"), "//email\n\n# next one is broken\n//notes[\n");
    ExpectExit(Run({"-e", Path("bad.xpath")}, mixedDocument), 2,
               {"'//notes[' (" + Path("bad.xpath") + ":4)"});
}

// Bad command lines and rejected expressions exit 2 before anything is read
// or written.
TEST_F(RedactTool, UsageErrorsAndRejectedExpressionsWriteNothing) {
    WriteFile(Path("out.xml"), "old");
    WriteFile(Path("empty.xpath"), "# nothing\n\n");
    const std::string out = Path("out.xml");
    // Arguments, the reason given, and whether the usage text follows.
    const std::tuple<std::vector<std::string>, std::string, bool> commandLines[] = {
        {{}, "no XPath expression given", true},
        {{"--bogus", "//a"}, "unknown option --bogus", true},
        {{"--in-place", "//a"}, "--in-place needs an input file", true},
        {{"-i", "x.xml", "--in-place", "-o", out, "//a"}, "cannot be combined", true},
        {{"//a", "-o"}, "option -o needs a file name", true},
        {{"--raw=1", "//a"}, "option --raw takes no value", true},
        {{"-e", Path("missing.xpath")}, "cannot read expressions from", true},
        {{"-e", Path("empty.xpath")}, "the expression files hold none", true},
        {{"-o", out, "//notes", "//email["}, "rejected expression '//email['", false},
        {{"-o", out, "//notes", "count(//email)"},
         "'count(//email)' (command line): it yields a number",
         false},
        {{"-o", out, "string(//email)"},
         "'string(//email)' (command line): it yields a string",
         false},
        // Comments and processing instructions are not in the parsed document:
        // a test for them, as a step or in a predicate, would select nothing.
        {{"-o", out, "//email", "//comment()"},
         "'//comment()' (command line): comments are not read into the document",
         false},
        {{"--check", "//notes[not(comment())]"}, "select the element that holds them", false},
        {{"-o", out, "//processing-instruction( 'pi' )"},
         "they are always written as they are and cannot be selected",
         false},
        // Several inputs: where the outputs go, and names that would collide.
        {{"-i", "a.xml", "-i", "b.xml", "//a"}, "several input files need --output-dir", true},
        {{"-i", "a.xml", "-i", "b.xml", "-o", out, "//a"}, "-o takes one input file", true},
        {{"-i", "x/a.xml", "-i", "y/a.xml", "--output-dir", Path("d"), "//a"},
         "inputs x/a.xml and y/a.xml would both be written to",
         true},
        {{"-i", "a.xml", "-i", "./a.xml", "--in-place", "//a"}, "is given more than once", true},
        {{"-i", "a.xml", "--output-dir", Path("d"), "--in-place", "//a"},
         "cannot be combined",
         true},
        {{"--files-from", Path("none"), "--output-dir", Path("d"), "//a"},
         "cannot read the file list",
         true},
        {{"--stream", "-o", out, "//a"}, "--stream writes standard output as", true},
        {{"--jobs", "0", "//a"}, "--jobs needs a number from 1 to 1024", true},
        {{"--jobs=two", "//a"}, "--jobs needs a number", true},
        {{"-i", "a.xml", "-i", "a.xml.bak", "--in-place=.bak", "//a"},
         "the backup of a.xml would replace input a.xml.bak",
         true},
    };
    for (const auto& [arguments, message, usage] : commandLines) {
        const Outcome result = Run(arguments, mixedDocument);
        ExpectExit(result, 2, {message});
        EXPECT_EQ(result.err.find("usage: orn-redact") != std::string::npos, usage) << message;
        EXPECT_EQ(result.out, "");
    }
    EXPECT_EQ(ReadFile(Path("out.xml")), "old");
    const std::string help = Run({"--help"}).out;
    EXPECT_THAT(help, HasSubstr("--deep"));
    EXPECT_THAT(help, testing::EndsWith("Use -- before an expression that starts with '-': every "
                                        "argument after it is\nan expression.\nReport bugs to "
                                        "the maintainers of liborn_DataParser: "
                                        "<dataparser@orn.invalid>\n"));
    EXPECT_THAT(Run({"--version"}).out,
                testing::MatchesRegex("orn-redact [0-9]+\\.[0-9]+\\.[0-9]+\n"
                                      "Copyright \\(c\\) 2026 orn DataParser maintainers\n"
                                      "License: MIT <https://opensource.org/licenses/MIT>\\.\n"
                                      "This is free software: .*\n"
                                      "There is NO WARRANTY, to the extent permitted by law\\.\n"));
}

// "-" is standard input as -i's file or as an operand, and standard output as
// -o's; short options bundle.
TEST_F(RedactTool, ADashIsAStandardStream) {
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"-i", "-", "-o", "-", "//email"},
          {"//email", "-"},
          {"-qo-", "--", "-", "//email"}}) {
        const Outcome result = Run(arguments, "<a><email>x</email></a>");
        ExpectExit(result, 0);
        EXPECT_EQ(result.out, "<a><email>redacted</email></a>");
    }
    EXPECT_FALSE(fs::exists("-"));
}

// --in-place=SUFFIX keeps the unredacted original next to each file, and
// warns when others than the owner may read it.
TEST_F(RedactTool, InPlaceWithASuffixKeepsTheOriginal) {
    const std::string original = "<a>\n <b>secret</b>\n</a>\n";
    const std::string redacted = "<a>\n <b>redacted</b>\n</a>\n";
    // The file's mode, and what the warning says of its backup (empty: none).
    const std::pair<fs::perms, std::string> modes[] = {
        {static_cast<fs::perms>(0644), "readable by its group and others (mode 0644)"},
        {static_cast<fs::perms>(0604), "readable by others (mode 0604)"},
        {static_cast<fs::perms>(0600), ""},
    };
    for (const auto& [mode, warning] : modes) {
        for (const std::string name : {"one.xml", "two.xml"}) {
            WriteFile(Path(name), original);
            fs::permissions(Path(name), mode);
        }
        WriteFile(Path("one.xml.orig"), "an older backup");
        const Outcome result = Run({"--whole", "-i", Path("one.xml"), "--in-place=.orig", "-i",
                                    Path("two.xml"), "--quiet", "//b"});
        ExpectExit(result, 0);
        for (const std::string name : {"one.xml", "two.xml"}) {
            EXPECT_EQ(ReadFile(Path(name)), redacted);
            EXPECT_EQ(ReadFile(Path(name + ".orig")), original);
            EXPECT_EQ(fs::status(Path(name + ".orig")).permissions(), mode);
            EXPECT_EQ(result.err.find(Path(name + ".orig") +
                                      " keeps the unredacted original and "
                                      "is " +
                                      warning) != std::string::npos,
                      !warning.empty())
                << result.err;
        }
        EXPECT_EQ(Files(), 4);
    }

    // A backup that cannot be made leaves the file as it was.
    WriteFile(Path("one.xml"), original);
    fs::create_directory(Path("one.xml.bak"));
    const Outcome result = Run({"-i", Path("one.xml"), "--in-place=.bak", "//b"});
    ExpectExit(result, 1,
               {"cannot keep the original of " + Path("one.xml") + " as " + Path("one.xml.bak"),
                "the existing file is unchanged"});
    EXPECT_EQ(ReadFile(Path("one.xml")), original);
    EXPECT_EQ(Files(), 5);
}

TEST_F(RedactTool, UnreadableOrMalformedInputFailsWithAPlainMessage) {
    // The second document has a two-byte character before the error, which
    // must count as one column.
    for (const std::string text : {"<a>\n  <b>x</c>\n</a>\n", "<a>\n  <\xC3\xA9>x</c>\n</a>\n"}) {
        WriteFile(Path("bad.xml"), text);
        for (const Outcome& result : {Run({"//b"}, text), Run({"-i", Path("bad.xml"), "//b"})}) {
            ExpectExit(
                result, 1,
                {"Start-end tags mismatch (status EndElementMismatch, 14) at line 2, column 9"});
            EXPECT_EQ(result.out, "");
        }
    }
    ExpectExit(Run({"//b"}, ""), 1);
    ExpectExit(Run({"-i", dir_.string(), "//b"}), 1, {"is a directory"});
    ExpectExit(Run({"-i", Path("missing.xml"), "//b"}), 1, {"No such file"});
}

TEST_F(RedactTool, FailedWritesLeaveTheTargetAsItWas) {
    WriteFile(Path("plain"), "not a folder");
    for (const std::string& target :
         {Path("missing/out.xml"), Path("plain/out.xml"), "/dev/full"s}) {
        ExpectExit(Run({"-o", target, "//email"}, mixedDocument), 1, {"cannot write " + target});
    }
    ExpectExit(Run({"//email"}, mixedDocument, "/dev/full"), 1, {"standard output"});

    // A file-size limit below the document's size makes the write fail midway.
    // It leaves room for the profile files a coverage build writes at exit,
    // which would otherwise be cut short for every later run.
    WriteFile(Path("out.xml"), "previous content");
    std::string big = "<list>";
    for (int index = 0; index < 20000; ++index) {
        big += "<item>value " + std::to_string(index) + "</item>";
    }
    ExpectExit(Run({"-o", Path("out.xml"), "//item"}, big + "</list>", "", 256 * 1024), 1,
               {"the existing file is unchanged"});
    EXPECT_EQ(ReadFile(Path("out.xml")), "previous content");
    EXPECT_EQ(ReadFile(Path("plain")), "not a folder");
    EXPECT_EQ(Files(), 2);
}

// The target is replaced whole and keeps its permissions; a symbolic link is
// followed. In place, a file with further hard links needs --break-links.
TEST_F(RedactTool, OutputAndInPlaceReplaceTheFileKeepingModeAndLinks) {
    const auto mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
    WriteFile(Path("out.xml"), "previous content");
    fs::permissions(Path("out.xml"), mode);
    fs::create_symlink("out.xml", Path("link.xml"));
    Outcome result = Run({"-o", Path("link.xml"), "//email"}, "<a><email>x</email></a>");
    ExpectExit(result, 0);
    EXPECT_EQ(result.out, "");
    EXPECT_TRUE(fs::is_symlink(Path("link.xml")));
    EXPECT_EQ(ReadFile(Path("out.xml")), "<a><email>redacted</email></a>");
    EXPECT_EQ(fs::status(Path("out.xml")).permissions(), mode);

    const std::string original = "<a>\n <b>secret</b>\n</a>\n";
    WriteFile(Path("doc.xml"), original);
    fs::create_hard_link(Path("doc.xml"), Path("other.xml"));
    std::vector<std::string> inPlace = {"-i", Path("doc.xml"), "--in-place", "//b"};
    ExpectExit(Run({"-i", Path("doc.xml"), "--in-place", "//nothing["}), 2);
    ExpectExit(Run(inPlace), 1, {"it has 2 hard links, and the other names would keep"});
    EXPECT_EQ(ReadFile(Path("doc.xml")), original);
    inPlace.push_back("--break-links");
    result = Run(inPlace);
    ExpectExit(result, 0);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(ReadFile(Path("doc.xml")), "<a>\n <b>redacted</b>\n</a>\n");
    EXPECT_EQ(ReadFile(Path("other.xml")), original);
    EXPECT_EQ(fs::status(Path("doc.xml")).permissions(),
              fs::status(Path("other.xml")).permissions());
    EXPECT_EQ(Files(), 4);
}

TEST_F(RedactTool, MixedContentIsReportedOrRedactedDeeply) {
    Outcome result = Run({"--raw", "//notes"}, mixedDocument);
    // Something selected is still readable: the output is written, with status 4.
    ExpectExit(result, 4, {"'//notes': 2 of 2 selected elements still hold text"});
    EXPECT_THAT(result.out, HasSubstr("<notes>redacted<b>Ada</b> at home</notes>"));
    EXPECT_THAT(result.out, HasSubstr("<notes><![CDATA[redacted]]> and more</notes>"));

    result = Run({"--raw", "--deep", "//notes"}, mixedDocument);
    ExpectExit(result, 0);
    EXPECT_THAT(result.out, HasSubstr("<notes>redacted<b>redacted</b>redacted</notes>"));
    EXPECT_THAT(result.out, HasSubstr("<notes><![CDATA[redacted]]>redacted</notes>"));
    EXPECT_THAT(result.err, Not(HasSubstr("still hold")));

    // A later expression that covers the leftovers silences the warning.
    result = Run({"//notes", "//notes/b", "//notes/text()"}, mixedDocument);
    ExpectExit(result, 0);
    EXPECT_THAT(result.err, Not(HasSubstr("still hold")));
}

TEST_F(RedactTool, AttributesAndCountsAreReported) {
    Outcome result = Run({"--raw", "//person/@id", "//email"}, mixedDocument);
    ExpectExit(result, 4, {"'//person/@id' selected 2 attributes"});
    EXPECT_THAT(result.out, HasSubstr("id=\"p1\""));

    result = Run({"--raw", "--attributes", "//person/@id"}, mixedDocument);
    EXPECT_THAT(result.out, HasSubstr("<person id=\"redacted\"><email>a@example.org"));
    EXPECT_THAT(result.err, Not(HasSubstr("attributes are not")));

    ExpectExit(Run({"--report", "//email", "//person/@id", "//nothing", "//person/@id | //notes"},
                   mixedDocument),
               4,
               {"'//email': selected 2, redacted 2\n", "'//person/@id': selected 2, redacted 0",
                "'//nothing': selected 0, redacted 0\n",
                "'//person/@id | //notes': selected 4, redacted 2"});
}

TEST_F(RedactTool, RequireMatchFailsWithoutWriting) {
    WriteFile(Path("out.xml"), "old");
    ExpectExit(Run({"--require-match", "-o", Path("out.xml"), "//email", "//fax"}, mixedDocument),
               3, {"'//fax' selected nothing"});
    EXPECT_EQ(ReadFile(Path("out.xml")), "old");

    // The sample register with its list of personal data matches throughout.
    const std::string examples = ORN_REDACT_EXAMPLES;
    const Outcome sample = Run({"-i", examples + "/customers.xml", "-e",
                                examples + "/personal-data.xpath", "--deep", "--require-match"});
    ExpectExit(sample, 0);
    for (const char* personal : {"Lindqvist", "@example", "19850312", "Birch Lane", "on request"}) {
        EXPECT_THAT(sample.out, Not(HasSubstr(personal)));
    }
    EXPECT_THAT(sample.out, HasSubstr("<balance currency=\"EUR\">120.50</balance>"));
}

TEST_F(RedactTool, SeveralFilesAreEachDoneOrNotOnTheirOwn) {
    const std::string good = "<r>\r\n<email>a@b</email><!-- c -->\r\n</r>";
    const std::string redacted = "<r>\r\n<email>redacted</email><!-- c -->\r\n</r>";
    for (const char* name : {"a.xml", "c.xml", "d.xml"}) {
        WriteFile(Path(name), good);
    }
    WriteFile(Path("b.xml"), "<r>\n<email>x</mail></r>");
    fs::create_directory(Path("out"));
    WriteFile(Path("out/b.xml"), "old");
    std::vector<std::string> arguments = {"--jobs", "2", "--report", "--output-dir", Path("out")};
    for (const char* name : {"a.xml", "b.xml", "missing.xml", "c.xml", "d.xml"}) {
        arguments.insert(arguments.end(), {"-i", Path(name)});
    }
    arguments.push_back("//email");
    Outcome result = Run(arguments);
    ExpectExit(result, 1,
               {Path("b.xml") + ": cannot parse " + Path("b.xml") + ": Start-end tags mismatch",
                "line 2, column 11", "cannot read " + Path("missing.xml"),
                "orn-redact: 5 files: 3 done, 2 failed, 3 items redacted, "});
    EXPECT_EQ(result.out, "");
    for (const char* name : {"a.xml", "c.xml", "d.xml"}) {
        EXPECT_EQ(ReadFile(Path("out/"s + name)), redacted) << name;
        EXPECT_THAT(result.err, HasSubstr(Path(name) + ": '//email': selected 1, redacted 1\n"));
    }
    EXPECT_EQ(ReadFile(Path("out/b.xml")), "old");
    EXPECT_FALSE(fs::exists(Path("out/missing.xml")));
    // Whole lines only, no progress line when standard error is not a terminal,
    // and none of the library's load announcements.
    std::istringstream lines(result.err);
    for (std::string line; std::getline(lines, line);) {
        EXPECT_EQ(line.rfind("orn-redact: ", 0), 0u) << line;
    }
    EXPECT_THAT(result.err, Not(HasSubstr("\r")));
    EXPECT_THAT(result.err, Not(HasSubstr("Loading")));

    // A list on standard input, in place; --quiet drops the summary.
    WriteFile(Path("list"), Path("a.xml") + "\n\n" + Path("c.xml") + "\r\n");
    result = Run({"--files-from", "-", "--in-place", "--quiet", "//email"}, ReadFile(Path("list")));
    ExpectExit(result, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(ReadFile(Path("a.xml")), redacted);
    EXPECT_EQ(ReadFile(Path("d.xml")), good);

    // An expression that matches nothing in one file names that file.
    WriteFile(Path("e.xml"), "<r><fax>1</fax></r>");
    result =
        Run({"--require-match", "--in-place", "-i", Path("d.xml"), "-i", Path("e.xml"), "//email"});
    ExpectExit(result, 3, {Path("e.xml") + ": '//email' selected nothing"});
    EXPECT_EQ(ReadFile(Path("d.xml")), redacted);
    EXPECT_EQ(ReadFile(Path("e.xml")), "<r><fax>1</fax></r>");
}

// On a terminal (a pseudo-terminal that script(1) opens, 80 columns wide,
// TERM=dumb), the progress line of one file and of several is drawn and
// cleared with '\r' and blanks, and a long file name is cut to the width.
TEST_F(RedactTool, TheProgressLineFitsADumbTerminal) {
    const std::string binary = std::getenv("ORN_REDACT_TEST_BINARY") != nullptr
                                   ? std::getenv("ORN_REDACT_TEST_BINARY")
                                   : ORN_REDACT_BINARY;
    if (std::string(ORN_REDACT_LAUNCHER) != "" ||
        std::system("script -qec true /dev/null </dev/null >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "no script(1) to run the tool on a terminal";
    }
    const std::string name = Path(std::string(120, 'n') + ".xml");
    const std::string other = Path(std::string(120, 'm') + ".xml");
    WriteFile(name, "<r><e>1</e></r>");
    WriteFile(other, "<r><e>2</e></r>");
    const std::string several = "--output-dir '" + Path("out") + "' -i '" + name + "'";
    const struct {
        std::string arguments;
        bool named;  // the line names the file
    } cases[] = {{"-o '" + Path("out.xml") + "' -i '" + name + "'", true},
                 {several + " -i '" + other + "'", false}};
    for (const auto& [arguments, named] : cases) {
        const std::string command = "TERM=dumb script -qec \"stty cols 80 rows 24; exec '" +
                                    binary + "' " + arguments + " //e\" /dev/null </dev/null >'" +
                                    Path("screen") + "' 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        // The terminal ends each message line with "\r\n"; after the last '\r'
        // of the progress line come whole message lines only (the summary).
        std::string screen = ReadFile(Path("screen"));
        for (std::size_t at = screen.find("\r\n"); at != std::string::npos;
             at = screen.find("\r\n", at)) {
            screen.erase(at, 1);
        }
        const std::string drawn = screen.substr(0, screen.rfind('\r') + 1);
        EXPECT_EQ(drawn.rfind("\rorn-redact: ", 0), 0u) << screen;
        EXPECT_EQ(screen.find('\x1b'), std::string::npos) << screen;
        std::istringstream lines(drawn);
        for (std::string line; std::getline(lines, line, '\r');) {
            EXPECT_LE(line.size(), 79u) << line;
        }
        // Cleared at the end: blanks between the last two '\r'.
        const std::size_t blanks = drawn.rfind('\r', drawn.size() - 2) + 1;
        EXPECT_EQ(drawn.substr(blanks), std::string(drawn.size() - blanks - 1, ' ') + "\r");
        EXPECT_GT(drawn.size() - blanks, 1u) << screen;
        // A file's name loses its middle: 120 letters do not fit in 80 columns.
        EXPECT_EQ(drawn.find("...nnn") < 80, named) << screen;
    }
    EXPECT_THAT(ReadFile(Path("out.xml")), HasSubstr("<e>redacted</e>"));
}

// The libraries that only some runs need are loaded on first use: a start
// does not map them.
TEST_F(RedactTool, LibrariesOnlySomeRunsNeedAreNotLinked) {
    if (std::system("command -v readelf >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "readelf is not installed";
    }
    const char* binary = std::getenv("ORN_REDACT_TEST_BINARY");
    const std::string command = "readelf -d '" +
                                std::string(binary != nullptr ? binary : ORN_REDACT_BINARY) +
                                "' >'" + Path("dynamic") + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const std::string dynamic = ReadFile(Path("dynamic"));
    ASSERT_THAT(dynamic, HasSubstr("(NEEDED)"));
    for (const char* library :
         {"[libcrypto.", "[libyaml", "[libz.", "[libbz2.", "[liblzma.", "[libzstd."}) {
        EXPECT_THAT(dynamic, Not(HasSubstr(library)));
    }
}

}  // namespace
