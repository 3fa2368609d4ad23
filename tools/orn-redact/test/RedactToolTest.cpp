// Runs the built orn-redact as a child process and checks what a user sees:
// exit status, standard output, standard error and the files left behind.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using testing::HasSubstr;
using testing::Not;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

std::string ReadFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

void WriteFile(const fs::path& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

const std::string mixedDocument =
    "<people><person id=\"p1\"><email>a@example.org</email>"
    "<notes>Call <b>Ada</b> at home</notes></person>"
    "<person id=\"p2\"><email>b@example.org</email>"
    "<notes><![CDATA[<vip>]]> and more</notes></person></people>";

class RedactTool : public testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "orn-redact-test.XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path Path(const std::string& name) const { return dir_ / name; }

    // Runs the tool with stdinText on standard input. stdoutPath redirects
    // standard output to a file of the caller's (e.g. /dev/full); fileSizeLimit
    // caps the size of any file the tool writes.
    Outcome Run(const std::vector<std::string>& arguments, const std::string& stdinText = "",
                const std::string& stdoutPath = "", rlim_t fileSizeLimit = RLIM_INFINITY) {
        const fs::path in = Path(".stdin"), out = Path(".stdout"), err = Path(".stderr");
        WriteFile(in, stdinText);
        std::vector<std::string> argv{ORN_REDACT_BINARY};
        if (const std::string launcher = ORN_REDACT_LAUNCHER; !launcher.empty()) {
            argv.insert(argv.begin(), launcher);
        }
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        std::vector<char*> pointers;
        for (std::string& argument : argv) {
            pointers.push_back(argument.data());
        }
        pointers.push_back(nullptr);

        const pid_t child = ::fork();
        if (child == 0) {
            const std::string outTarget = stdoutPath.empty() ? out.string() : stdoutPath;
            const int inFd = ::open(in.c_str(), O_RDONLY);
            const int outFd = ::open(outTarget.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            const int errFd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (inFd < 0 || outFd < 0 || errFd < 0 || ::dup2(inFd, 0) < 0 || ::dup2(outFd, 1) < 0 ||
                ::dup2(errFd, 2) < 0) {
                ::_exit(127);
            }
            const rlimit limit{fileSizeLimit, fileSizeLimit};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            ::execvp(pointers[0], pointers.data());
            ::_exit(127);
        }
        Outcome outcome;
        int status = 0;
        if (child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status)) {
            outcome.status = WEXITSTATUS(status);
        }
        if (stdoutPath.empty()) {
            outcome.out = ReadFile(out);
        }
        outcome.err = ReadFile(err);
        fs::remove(in);
        fs::remove(out);
        fs::remove(err);
        return outcome;
    }

    // Names of the files the tool left in the test's folder, sorted.
    std::vector<std::string> Files() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path dir_;
};

TEST_F(RedactTool, StandardOutputCarriesOnlyTheDocument) {
    Outcome result = Run({"//email"}, mixedDocument);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out,
              "<people><person id=\"p1\"><email>redacted</email>"
              "<notes>Call <b>Ada</b> at home</notes></person><person id=\"p2\">"
              "<email>redacted</email><notes><![CDATA[<vip>]]> and more</notes></person>"
              "</people>");

    // The library's load announcement goes to standard error instead.
    WriteFile(Path("in.xml"), "<a>\r\n <b k='v'>secret</b><!-- c -->\r\n</a>");
    result = Run({"-i", Path("in.xml").string(), "//b"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "<a>\r\n <b k='v'>redacted</b><!-- c -->\r\n</a>");
    EXPECT_THAT(result.err, HasSubstr("Loading XML document from " + Path("in.xml").string()));
}

TEST_F(RedactTool, WritesTheDocumentAnewOnlyWhenAskedOrNeeded) {
    const std::string note = "; writing the document anew, without its comments";
    Outcome result = Run({"--reformat", "//b"}, "<!-- c --><a><b>x</b></a>");
    EXPECT_EQ(result.out, "<?xml version=\"1.0\"?>\n<a>\n\t<b>redacted</b>\n</a>\n");
    EXPECT_THAT(result.err, Not(HasSubstr(note)));
    result = Run({"--reformat", "--raw", "//b"}, "<a><b>x</b></a>");
    EXPECT_EQ(result.out, "<?xml version=\"1.0\"?><a><b>redacted</b></a>");
    result = Run({"--raw", "//b"}, "<a><b>x</b></a>");
    EXPECT_EQ(result.out, "<a><b>redacted</b></a>");
    EXPECT_THAT(result.err, HasSubstr("--raw applies only when the document is written anew"));

    result = Run({"/"}, "<a><b>x</b></a>");
    EXPECT_EQ(result.status, 0);
    EXPECT_THAT(result.err, HasSubstr("note: the document node itself is selected" + note));
    result = Run({"//b"}, std::string("\xFF\xFE<\0a\0>\0<\0b\0>\0x\0<\0/\0b\0>\0<\0/\0a\0>\0", 32));
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_THAT(result.err,
                HasSubstr("note: the input is UTF-16LE, which the parser converts" + note));
    EXPECT_THAT(result.out, HasSubstr("<b>redacted</b>"));
}

TEST_F(RedactTool, ExpressionFileAddsToCommandLineExpressions) {
    WriteFile(Path("list.xpath"), "# personal data\n\n  //notes  \n#//email\n");
    const Outcome result = Run(
        {"--raw", "--deep", "-e", Path("list.xpath").string(), "//person/email"}, mixedDocument);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_THAT(result.out, HasSubstr("<email>redacted</email>"));
    EXPECT_THAT(result.out, Not(HasSubstr("Ada")));
    EXPECT_THAT(result.out, Not(HasSubstr("example.org")));

    WriteFile(Path("bad.xpath"), "//email\n\n# next one is broken\n//notes[\n");
    const Outcome rejected = Run({"-e", Path("bad.xpath").string()}, mixedDocument);
    EXPECT_EQ(rejected.status, 2);
    EXPECT_THAT(rejected.err, HasSubstr("'//notes[' (" + Path("bad.xpath").string() + ":4)"));
}

// Bad command lines and rejected expressions exit 2 before anything is read
// or written.
TEST_F(RedactTool, UsageErrorsAndRejectedExpressionsWriteNothing) {
    WriteFile(Path("out.xml"), "old");
    WriteFile(Path("empty.xpath"), "# nothing\n\n");
    const std::string out = Path("out.xml").string();
    // Arguments, the reason given, and whether the usage text follows.
    const std::tuple<std::vector<std::string>, std::string, bool> commandLines[] = {
        {{}, "no XPath expression given", true},
        {{"--bogus", "//a"}, "unknown option --bogus", true},
        {{"--in-place", "//a"}, "--in-place needs an input file", true},
        {{"-i", "x.xml", "--in-place", "-o", out, "//a"}, "cannot be combined", true},
        {{"//a", "-o"}, "option -o needs a file name", true},
        {{"--raw=1", "//a"}, "option --raw takes no value", true},
        {{"-e", Path("missing.xpath").string()}, "cannot read expressions from", true},
        {{"-e", Path("empty.xpath").string()}, "the expression files hold none", true},
        {{"-o", out, "//notes", "//email["}, "rejected expression '//email['", false},
        {{"-o", out, "//notes", "count(//email)"}, "'count(//email)': it yields a number", false},
        {{"-o", out, "string(//email)"}, "'string(//email)': it yields a string", false},
    };
    for (const auto& [arguments, message, usage] : commandLines) {
        const Outcome result = Run(arguments, mixedDocument);
        EXPECT_EQ(result.status, 2) << testing::PrintToString(arguments);
        EXPECT_THAT(result.err, HasSubstr(message));
        EXPECT_EQ(result.err.find("usage: orn-redact") != std::string::npos, usage) << message;
        EXPECT_EQ(result.out, "");
    }
    EXPECT_EQ(ReadFile(Path("out.xml")), "old");
    const Outcome help = Run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_THAT(help.out, HasSubstr("--deep"));
    EXPECT_THAT(Run({"--version"}).out,
                testing::MatchesRegex("orn-redact [0-9]+\\.[0-9]+\\.[0-9]+\n"));
}

TEST_F(RedactTool, UnreadableOrMalformedInputFailsWithAPlainMessage) {
    // The second document has a two-byte character before the error, which
    // must count as one column.
    for (const std::string text : {"<a>\n  <b>x</c>\n</a>\n", "<a>\n  <\xC3\xA9>x</c>\n</a>\n"}) {
        WriteFile(Path("bad.xml"), text);
        for (const Outcome& result :
             {Run({"//b"}, text), Run({"-i", Path("bad.xml").string(), "//b"})}) {
            EXPECT_EQ(result.status, 1);
            EXPECT_EQ(result.out, "");
            EXPECT_THAT(result.err, HasSubstr("Start-end tags mismatch"));
            EXPECT_THAT(result.err, HasSubstr("EndElementMismatch, 14"));
            EXPECT_THAT(result.err, HasSubstr("line 2, column 9"));
        }
    }
    EXPECT_EQ(Run({"//b"}, "").status, 1);

    const std::pair<std::string, const char*> inputs[] = {
        {dir_.string(), "is a directory"}, {Path("missing.xml").string(), "No such file"}};
    for (const auto& [input, message] : inputs) {
        const Outcome result = Run({"-i", input, "//b"});
        EXPECT_EQ(result.status, 1);
        EXPECT_THAT(result.err, HasSubstr(message));
    }
}

TEST_F(RedactTool, FailedWritesLeaveTheTargetAsItWas) {
    WriteFile(Path("plain"), "not a folder");
    for (const std::string& target :
         {Path("missing/out.xml").string(), Path("plain/out.xml").string(), "/dev/full"s}) {
        const Outcome result = Run({"-o", target, "//email"}, mixedDocument);
        EXPECT_EQ(result.status, 1) << target;
        EXPECT_THAT(result.err, HasSubstr("cannot write " + target));
    }
    Outcome result = Run({"//email"}, mixedDocument, "/dev/full");
    EXPECT_EQ(result.status, 1);
    EXPECT_THAT(result.err, HasSubstr("standard output"));

    // A file-size limit below the document's size makes the write fail midway.
    WriteFile(Path("out.xml"), "previous content");
    std::string big = "<list>";
    for (int index = 0; index < 500; ++index) {
        big += "<item>value " + std::to_string(index) + "</item>";
    }
    result = Run({"-o", Path("out.xml").string(), "//item"}, big + "</list>", "", 4096);
    EXPECT_EQ(result.status, 1);
    EXPECT_THAT(result.err, HasSubstr("the existing file is unchanged"));
    EXPECT_EQ(ReadFile(Path("out.xml")), "previous content");
    EXPECT_EQ(ReadFile(Path("plain")), "not a folder");
    EXPECT_EQ(Files(), (std::vector<std::string>{"out.xml", "plain"}));
}

// The target is replaced whole and keeps its permissions; a symbolic link is
// followed. In place, a file with further hard links needs --break-links.
TEST_F(RedactTool, OutputAndInPlaceReplaceTheFileKeepingModeAndLinks) {
    const auto mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
    WriteFile(Path("out.xml"), "previous content");
    fs::permissions(Path("out.xml"), mode);
    fs::create_symlink("out.xml", Path("link.xml"));
    Outcome result = Run({"-o", Path("link.xml").string(), "//email"}, "<a><email>x</email></a>");
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_TRUE(fs::is_symlink(Path("link.xml")));
    EXPECT_EQ(ReadFile(Path("out.xml")), "<a><email>redacted</email></a>");
    EXPECT_EQ(fs::status(Path("out.xml")).permissions(), mode);

    const std::string original = "<a>\n <b>secret</b>\n</a>\n";
    WriteFile(Path("doc.xml"), original);
    fs::create_hard_link(Path("doc.xml"), Path("other.xml"));
    std::vector<std::string> inPlace = {"-i", Path("doc.xml").string(), "--in-place", "//b"};
    EXPECT_EQ(Run({"-i", Path("doc.xml").string(), "--in-place", "//nothing["}).status, 2);
    result = Run(inPlace);
    EXPECT_EQ(result.status, 1);
    EXPECT_THAT(result.err, HasSubstr("it has 2 hard links, and the other names would keep"));
    EXPECT_EQ(ReadFile(Path("doc.xml")), original);
    inPlace.push_back("--break-links");
    result = Run(inPlace);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(ReadFile(Path("doc.xml")), "<a>\n <b>redacted</b>\n</a>\n");
    EXPECT_EQ(ReadFile(Path("other.xml")), original);
    EXPECT_EQ(fs::status(Path("doc.xml")).permissions(),
              fs::status(Path("other.xml")).permissions());
    EXPECT_EQ(Files().size(), 4u);
}

TEST_F(RedactTool, MixedContentIsReportedOrRedactedDeeply) {
    Outcome result = Run({"--raw", "//notes"}, mixedDocument);
    EXPECT_EQ(result.status, 0);
    EXPECT_THAT(result.out, HasSubstr("<notes>redacted<b>Ada</b> at home</notes>"));
    EXPECT_THAT(result.out, HasSubstr("<notes><![CDATA[redacted]]> and more</notes>"));
    EXPECT_THAT(result.err, HasSubstr("'//notes': 2 of 2 selected elements still hold text"));

    result = Run({"--raw", "--deep", "//notes"}, mixedDocument);
    EXPECT_EQ(result.status, 0);
    EXPECT_THAT(result.out, HasSubstr("<notes>redacted<b>redacted</b>redacted</notes>"));
    EXPECT_THAT(result.out, HasSubstr("<notes><![CDATA[redacted]]>redacted</notes>"));
    EXPECT_THAT(result.err, Not(HasSubstr("still hold")));

    // A later expression that covers the leftovers silences the warning.
    result = Run({"//notes", "//notes/b", "//notes/text()"}, mixedDocument);
    EXPECT_THAT(result.err, Not(HasSubstr("still hold")));
}

TEST_F(RedactTool, AttributesAndCountsAreReported) {
    Outcome result = Run({"--raw", "//person/@id", "//email"}, mixedDocument);
    EXPECT_EQ(result.status, 0);
    EXPECT_THAT(result.out, HasSubstr("id=\"p1\""));
    EXPECT_THAT(result.err, HasSubstr("'//person/@id' selected 2 attributes"));

    result = Run({"--raw", "--attributes", "//person/@id"}, mixedDocument);
    EXPECT_THAT(result.out, HasSubstr("<person id=\"redacted\"><email>a@example.org"));
    EXPECT_THAT(result.err, Not(HasSubstr("attributes are not")));

    result = Run({"--report", "//email", "//person/@id", "//nothing", "//person/@id | //notes"},
                 mixedDocument);
    EXPECT_EQ(result.status, 0);
    EXPECT_THAT(result.err, HasSubstr("'//email': selected 2, redacted 2\n"));
    EXPECT_THAT(result.err, HasSubstr("'//person/@id': selected 2, redacted 0"));
    EXPECT_THAT(result.err, HasSubstr("'//nothing': selected 0, redacted 0\n"));
    EXPECT_THAT(result.err, HasSubstr("'//person/@id | //notes': selected 4, redacted 2"));
}

TEST_F(RedactTool, RequireMatchFailsWithoutWriting) {
    WriteFile(Path("out.xml"), "old");
    const Outcome result =
        Run({"--require-match", "-o", Path("out.xml").string(), "//email", "//fax"}, mixedDocument);
    EXPECT_EQ(result.status, 3);
    EXPECT_THAT(result.err, HasSubstr("'//fax' selected nothing"));
    EXPECT_EQ(ReadFile(Path("out.xml")), "old");

    // The sample register with its list of personal data matches throughout.
    const std::string examples = ORN_REDACT_EXAMPLES;
    const Outcome sample = Run({"-i", examples + "/customers.xml", "-e",
                                examples + "/personal-data.xpath", "--deep", "--require-match"});
    EXPECT_EQ(sample.status, 0) << sample.err;
    for (const char* personal : {"Lindqvist", "@example", "19850312", "Birch Lane", "on request"}) {
        EXPECT_THAT(sample.out, Not(HasSubstr(personal)));
    }
    EXPECT_THAT(sample.out, HasSubstr("<balance currency=\"EUR\">120.50</balance>"));
}

}  // namespace
