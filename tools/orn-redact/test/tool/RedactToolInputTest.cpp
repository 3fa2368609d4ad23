// The tool on input that must not fool it: 8-bit encodings, NUL bytes, the
// document node selected, deep nesting, files that are not regular, links,
// and the modes of the files it creates on many workers at once.
#include <sys/stat.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <regex>
#include <thread>

#include "RedactToolFixture.h"

namespace {

using namespace redact_tool_test;
using testing::HasSubstr;
using testing::Not;
using namespace std::string_literals;
namespace fs = std::filesystem;

mode_t ModeOf(const fs::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// Every way in and out: standard input, -i, -o, --output-dir and --in-place.
TEST_F(RedactTool, EightBitEncodingsKeepTheirBytesEveryWay) {
    const std::string body = "<r><a>x\xE9</a><b>k\xE9\xE9p</b></r>";
    const std::string redacted = "<r><a>redacted</a><b>k\xE9\xE9p</b></r>";
    for (const char* const name :
         {"ISO-8859-1", "latin1", "windows-1252", "ISO-8859-15", "ISO-8859-2", "ISO_8859-1"}) {
        const std::string encoding = name;
        // The declaration reaches past the first 4 KiB.
        for (const std::string& blanks : {" "s, std::string(4100, ' ')}) {
            const std::string declaration =
                "<?xml version=\"1.0\"" + blanks + "encoding=\"" + encoding + "\"?>";
            SCOPED_TRACE(encoding + " after " + std::to_string(blanks.size()) + " blanks");
            WriteFile(Path("in.xml"), declaration + body);
            EXPECT_EQ(Run({"//a"}, declaration + body).out, declaration + redacted);
            Outcome result = Run({"-i", Path("in.xml"), "-o", Path("out.xml"), "//a"});
            ExpectExit(result, 0);
            EXPECT_THAT(result.err, Not(HasSubstr("anew")));
            EXPECT_EQ(ReadFile(Path("out.xml")), declaration + redacted);
            ExpectExit(Run({"-i", Path("in.xml"), "--output-dir", Path("dir"), "//a"}), 0);
            EXPECT_EQ(ReadFile(Path("dir/in.xml")), declaration + redacted);
            ExpectExit(Run({"-i", Path("in.xml"), "--in-place", "//a"}), 0);
            EXPECT_EQ(ReadFile(Path("in.xml")), declaration + redacted);
        }
        // Written anew: a declaration that names the encoding of the bytes.
        const std::string declaration = "<?xml version=\"1.0\" encoding=\"" + encoding + "\"?>";
        const Outcome result =
            Run({"--reformat", "--raw", "//a"},
                declaration + "<!DOCTYPE r [<!ENTITY co 'C'>]>" + "<!--c--><?p?>" + body);
        ExpectExit(result, 0,
                   {"note: written anew (--reformat), without its DOCTYPE (with 1 entity declared "
                    "in it: a reference to one, such as &name;, is written as the text "
                    "&amp;name;), 1 comment and 1 processing instruction"});
        EXPECT_EQ(result.out, declaration + redacted);
    }
}

// Input in UTF-16 or UTF-32 is written anew: the note names what is lost,
// found in the input's own code units, whether or not --reformat asked for it.
TEST_F(RedactTool, WideInputWrittenAnewNamesWhatItLoses) {
    // ASCII text in a wide encoding, after its byte order mark.
    const auto wide = [](const std::string& text, std::size_t unit, bool bigEndian) {
        std::string bytes;
        for (const std::uint32_t character :
             std::u32string(U"\uFEFF") + std::u32string(text.begin(), text.end())) {
            for (std::size_t byte = 0; byte < unit; ++byte) {
                const std::size_t shift = 8 * (bigEndian ? unit - 1 - byte : byte);
                bytes += static_cast<char>(character >> shift & 0xFF);
            }
        }
        return bytes;
    };
    const std::string document =
        "<?xml version=\"1.0\" standalone=\"yes\"?><!DOCTYPE r [<!ENTITY s \"v\">]>"
        "<r><!-- c1 --><a>x<!-- <?not-a-pi?> --></a><![CDATA[<!-- no -->]]><?pi s?></r><!--e-->";
    const std::string lost =
        "without its DOCTYPE (with 1 entity declared in it: a reference to one, such as &name;, "
        "is written as the text &amp;name;), 3 comments, 1 processing instruction";
    const struct {
        const char* encoding;
        std::size_t unit;
        bool bigEndian;
    } cases[] = {{"UTF-16LE", 2, false}, {"UTF-16BE", 2, true}, {"UTF-32LE", 4, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.encoding);
        const std::string input = wide(document, c.unit, c.bigEndian);
        Outcome result = Run({"//a"}, input);
        ExpectExit(result, 0,
                   {"note: the input is "s + c.encoding +
                    ", which the parser converts; writing "
                    "the document anew, " +
                    lost + ", the standalone setting of its XML declaration and its layout"});
        EXPECT_THAT(result.out, HasSubstr("<a>redacted</a>"));
        result = Run({"--reformat", "//a"}, input);
        ExpectExit(result, 0,
                   {"note: written anew (--reformat), " + lost +
                    " and the standalone setting of its XML declaration"});
    }
}

TEST_F(RedactTool, NothingAfterANulIsWritten) {
    const std::string document = "<r><a>x</a></r>\0<a>secret</a>"s;
    const std::string message = "it holds a NUL byte at line 1, column 16 (offset 15)";
    WriteFile(Path("in.xml"), document);
    const std::vector<std::vector<std::string>> ways = {
        {"//a"},
        {"--reformat", "//a"},
        {"-i", Path("in.xml"), "//a"},
        {"-i", Path("in.xml"), "--reformat", "--raw", "//a"},
        {"-i", Path("in.xml"), "--in-place", "//a"},
        {"-i", Path("in.xml"), "--output-dir", Path("dir"), "//a"},
    };
    for (const auto& arguments : ways) {
        std::string command;
        for (const std::string& argument : arguments) {
            command += argument + " ";
        }
        SCOPED_TRACE(command);
        const Outcome result = Run(arguments, document);
        ExpectExit(result, 1, {message});
        EXPECT_EQ(result.out, "");
    }
    EXPECT_EQ(ReadFile(Path("in.xml")), document);
    EXPECT_FALSE(fs::exists(Path("dir/in.xml")));

    // In UTF-16 a NUL is a code unit of two zero bytes; its other zero bytes are not.
    const std::string utf16 = "\xFF\xFE<\0r\0/\0>\0\0\0<\0"s;
    ExpectExit(Run({"//r"}, utf16), 1, {"(offset 10)"});
    ExpectExit(Run({"//r"}, utf16.substr(0, 10)), 0);
}

// Input whose first character past a byte order mark and blanks is not '<'
// cannot be a document: it is refused after its first few KiB on both routes,
// whatever it comes through, and is never read to its end.
TEST_F(RedactTool, InputThatCannotBeginADocumentIsRefusedAtItsStart) {
    const std::string refusal = "it is not an XML document: it begins with ";
    // A pipe of 64 MiB of zero bytes: the tool stops reading long before its end.
    std::signal(SIGPIPE, SIG_IGN);
    const std::string fifo = Path("fifo");
    for (const bool whole : {false, true}) {
        SCOPED_TRACE(whole ? "whole" : "records");
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        std::size_t written = 0;
        std::thread feed([&fifo, &written]() {
            const int descriptor = ::open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
            const std::string zeros(64 * 1024, '\0');
            for (int piece = 0; descriptor >= 0 && piece < 1024; ++piece) {
                const ssize_t got = ::write(descriptor, zeros.data(), zeros.size());
                if (got <= 0) {
                    break;
                }
                written += static_cast<std::size_t>(got);
            }
            ::close(descriptor);
        });
        const Outcome result = Run(whole ? std::vector<std::string>{"--whole", "-i", fifo, "//a"}
                                         : std::vector<std::string>{"-i", fifo, "//a"});
        feed.join();
        ExpectExit(result, 1, {refusal + "byte 0x00 at line 1, column 1 (offset 0)"});
        EXPECT_LT(written, 4u << 20);
        fs::remove(fifo);
    }
    ASSERT_EQ(std::system(("head -c 3000000 /dev/zero | gzip >" + Path("zeros.gz")).c_str()), 0);
    WriteFile(Path("binary"), "\x89PNG\r\n" + std::string(100000, 'x'));
    const std::string utf16 = "\xFF\xFE \0<\0r\0>\0<\0a\0>\0x\0<\0/\0a\0>\0<\0/\0r\0>\0"s;
    const struct {
        std::vector<std::string> arguments;
        std::string input, message;
    } cases[] = {
        {{"//a"}, "  \n x<r/>", refusal + "'x' at line 2, column 2 (offset 4)"},
        {{"-i", Path("zeros.gz"), "//a"}, "", refusal + "byte 0x00 at line 1, column 1"},
        {{"-i", Path("binary"), "//a"}, "", refusal + "byte 0x89 at line 1, column 1 (offset 0)"},
        {{"//a"},
         "\xEF\xBB\xBF\t\xC3\xA9<r/>",
         refusal + "byte 0xC3 at line 1, column 3 (offset 4)"},
        {{"//a"},
         "\xFF\xFE\n\0x\0<\0r\0/\0>\0"s,
         refusal + "code unit 0x78 00 at line 2, column 1 (offset 4)"},
        {{"//a"}, utf16, ""},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.input + " " + each.arguments.front());
        for (const bool whole : {false, true}) {
            std::vector<std::string> arguments = each.arguments;
            if (whole) {
                arguments.insert(arguments.begin(), "--whole");
            }
            const Outcome result = Run(arguments, each.input);
            if (each.message.empty()) {
                ExpectExit(result, 0);
                EXPECT_THAT(result.out, HasSubstr("redacted"));
            } else {
                ExpectExit(result, 1, {each.message});
                EXPECT_EQ(result.out, "");
            }
        }
    }
}

// The parser takes an '&' that starts no reference as a plain '&'; the output
// keeps it. A warning says where the first is and how many there are;
// --strict refuses the input. The same on both routes and from a file.
TEST_F(RedactTool, AmpersandsThatStartNoReferenceAreWarnedOfOrRefused) {
    const std::string records =
        "<?xml version='1.0'?>\n<set>\n\t<e code='A' name='Enewetak & Ujelang'/>\n"
        "\t<e code='B' name='R&amp;D'><n>x &#38; y &z</n><!-- a & b --></e>\n</set>\n";
    WriteFile(Path("in.xml"), records);
    const std::string where =
        "'&' that starts no reference at line 3, column 29 (offset 56) (2 in all)";
    for (const std::vector<std::string>& route :
         {std::vector<std::string>{}, std::vector<std::string>{"--whole"},
          std::vector<std::string>{"-i", Path("in.xml")}}) {
        std::vector<std::string> arguments = route;
        arguments.push_back("//n");
        SCOPED_TRACE(arguments.front());
        const Outcome warned = Run(arguments, records);
        ExpectExit(warned, 0,
                   {"warning: ",
                    " holds " + where + ": it is not well-formed XML, and neither is the output"});
        EXPECT_THAT(warned.out, HasSubstr("name='Enewetak & Ujelang'"));
        arguments.insert(arguments.begin(), "--strict");
        const Outcome refused = Run(arguments, records);
        ExpectExit(
            refused, 1,
            {"it holds " + where + ", which XML does not allow (--strict); nothing written"});
        EXPECT_EQ(refused.out, "");
    }
    const Outcome clean = Run({"--strict", "//n"}, "<r><n>&amp;&#38;&#x26;</n><!-- & --></r>");
    ExpectExit(clean, 0);
    EXPECT_THAT(clean.err, Not(HasSubstr("reference")));
}

// The parser drops text beside the document element and takes further
// elements after it; the output must be one document all the same.
TEST_F(RedactTool, OnlyOneDocumentIsWritten) {
    const std::pair<std::string, std::string> refused[] = {
        {"<r><a>x</a></r>junk<b>s</b>", "text after the document element at line 1, column 16"},
        {"<!--c-->lead<r><a>x</a></r>", "text before the document element at line 1, column 9"},
        {"<?xml version='1.0'?>\n<!--c-->\nx<r/>", "text before the document element at line 3"},
        {"<r/>\n<a>y</a>", "markup after the document element at line 2, column 1"},
        {"<r/><![CDATA[z]]>", "a CDATA section after the document element at line 1, column 5"},
        {"<!DOCTYPE r [<!ENTITY e ']'>]>t<r/>",
         "text before the document element at line 1, column 31"},
    };
    for (const auto& [document, message] : refused) {
        SCOPED_TRACE(document);
        for (const bool reformat : {false, true}) {
            const Outcome result = Run(reformat ? std::vector<std::string>{"--reformat", "//a"}
                                                : std::vector<std::string>{"//a"},
                                       document);
            ExpectExit(result, 1, {"cannot parse standard input: it holds " + message});
            EXPECT_EQ(result.out, "");
        }
    }
    // Beside it: blanks, comments, PIs, and before it a DOCTYPE whose subset
    // quotes '>' and ']'.
    const std::string kept =
        "<?xml version='1.0'?>\r\n<!DOCTYPE r [<!ENTITY e \"]>\"><!-- ] -->]>\n<?p x?>"
        "<r k='>/'><a>x</a><![CDATA[<]]></r>\n<!--end-->\n<?q?>\n";
    const Outcome result = Run({"//a"}, kept);
    ExpectExit(result, 0);
    EXPECT_EQ(result.out, std::string(kept).replace(kept.find(">x<") + 1, 1, "redacted"));
    for (const char* route : {"--records", "--whole"}) {
        const Outcome pi = Run({route, "//a"}, "<!DOCTYPE r [<?pi ]> ?>]><r><a>s</a></r>");
        ExpectExit(pi, 0);
        EXPECT_EQ(pi.out, "<!DOCTYPE r [<?pi ]> ?>]><r><a>redacted</a></r>") << route;
    }
}

// An expression is compiled as a C string: a NUL in a line of an expression
// file would silently cut it short.
TEST_F(RedactTool, AnExpressionHoldingANulIsRejected) {
    WriteFile(Path("list"), "//a\0 | //b\n"s);
    const Outcome result = Run({"-e", Path("list")}, "<r><a>x</a><b>secret</b></r>");
    ExpectExit(result, 2,
               {"rejected expression '//a\\0 | //b' (" + Path("list") +
                ":1): it holds a NUL byte at offset 3"});
    EXPECT_EQ(result.out, "");
}

TEST_F(RedactTool, TheDocumentNodeStandsForItsDocumentElement) {
    const std::string document = "<?xml version=\"1.0\"?>\n<r>t<a>x</a></r>";
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"/", "<r>redacted<a>x</a></r>", "<r>redacted<a>x</a></r>"},
        {"//.", "<r>redacted<a>redacted</a></r>", "<r>redacted<a>redacted</a></r>"},
        {"/descendant-or-self::node()", "<r>redacted<a>redacted</a></r>",
         "<r>redacted<a>redacted</a></r>"},
    };
    for (const auto& [expression, spliced, anew] : cases) {
        SCOPED_TRACE(expression);
        EXPECT_EQ(Run({expression}, document).out, "<?xml version=\"1.0\"?>\n"s + spliced);
        EXPECT_EQ(Run({"--reformat", "--raw", expression}, document).out,
                  "<?xml version=\"1.0\"?>"s + anew);
    }
}

// Quadratic work would take minutes here (CTest's time limit fails it).
TEST_F(RedactTool, DeepNestingIsDoneInOnePass) {
    constexpr int depth = 50000;
    std::string document;
    for (int level = 0; level < depth; ++level) {
        document += "<a>t";
    }
    for (int level = 0; level < depth; ++level) {
        document += "u</a>";
    }
    WriteFile(Path("deep.xml"), document);
    Outcome result = Run({"-i", Path("deep.xml"), "//a"});
    ExpectExit(result, 4,
               {"'//a': " + std::to_string(depth - 1) + " of " + std::to_string(depth) +
                " selected elements still hold text"});
    EXPECT_EQ(Count(result.out, "<a>redacted"), depth);
    result = Run({"-i", Path("deep.xml"), "--deep", "//a"});
    ExpectExit(result, 0);
    EXPECT_EQ(Count(result.out, "redacted"), 2 * depth - 1);  // the innermost holds "tu"
    result = Run({"-i", Path("deep.xml"), "--reformat", "--raw", "//a"});
    ExpectExit(result, 4);
    EXPECT_EQ(Count(result.out, "<a>redacted"), depth);
    // Indented, the TABs alone would take over a GiB.
    result = Run({"-i", Path("deep.xml"), "-o", Path("out.xml"), "--reformat", "//a"});
    ExpectExit(result, 1, {"grows it with the square of the depth (use --raw); nothing written"});
    EXPECT_FALSE(fs::exists(Path("out.xml")));
}

TEST_F(RedactTool, InPlaceNeedsARegularFile) {
    ASSERT_EQ(::mkfifo(Path("fifo").c_str(), 0600), 0);
    const std::pair<std::string, const char*> cases[] = {
        {Path("fifo"), "is a pipe"},
        {"/dev/null", "is a character device"},
        {dir_.string(), "is a directory"},
    };
    for (const auto& [input, kind] : cases) {
        const Outcome result = Run({"-i", input, "--in-place", "//a"});
        ExpectExit(result, 2, {"--in-place needs regular files: " + input + " " + kind});
    }
    // A symbolic link to a file is fine: the file is replaced.
    WriteFile(Path("f.xml"), "<a>x</a>");
    fs::create_symlink("f.xml", Path("link"));
    ExpectExit(Run({"-i", Path("link"), "--in-place", "//a"}), 0);
    EXPECT_EQ(ReadFile(Path("f.xml")), "<a>redacted</a>");
    EXPECT_TRUE(fs::is_symlink(Path("link")));
}

TEST_F(RedactTool, OutputThroughSymbolicLinksGoesWhereTheyPoint) {
    fs::create_directory(Path("sub"));
    fs::create_symlink("sub/new.xml", Path("dangling"));
    fs::create_symlink("dangling", Path("chain"));
    ExpectExit(Run({"-o", Path("chain"), "//a"}, "<a>x</a>"), 0);
    EXPECT_EQ(ReadFile(Path("sub/new.xml")), "<a>redacted</a>");
    EXPECT_TRUE(fs::is_symlink(Path("dangling")));
    EXPECT_TRUE(fs::is_symlink(Path("chain")));

    fs::create_symlink("loop2", Path("loop1"));
    fs::create_symlink("loop1", Path("loop2"));
    ExpectExit(Run({"-o", Path("loop1"), "//a"}, "<a>x</a>"), 1,
               {"cannot write " + Path("loop1") + ": Too many levels of symbolic links"});
    EXPECT_TRUE(fs::is_symlink(Path("loop1")));
    EXPECT_EQ(Files(), 5);
}

// Workers used to read the umask by setting it for a moment: a file another
// worker created meanwhile came out world-writable. More workers than
// processors make that interleaving likely.
TEST_F(RedactTool, EveryWorkerCreatesFilesWithTheCreationMask) {
    constexpr int files = 3000;
    fs::create_directory(Path("in"));
    std::ofstream list(Path("list"));
    for (int index = 0; index < files; ++index) {
        const std::string name = Path("in/" + std::to_string(index) + ".xml");
        WriteFile(name, "<a>x</a>");
        list << name << '\n';
    }
    list.close();
    for (const int mask : {022, 077}) {
        const std::string out = Path("out" + std::to_string(mask));
        const Outcome result = Run(
            {"--files-from", Path("list"), "--output-dir", out, "--jobs", "16", "--quiet", "//a"},
            "", "", RLIM_INFINITY, mask);
        ExpectExit(result, 0);
        std::size_t wrong = 0, seen = 0;
        for (const auto& entry : fs::directory_iterator(out)) {
            ++seen;
            wrong += ModeOf(entry.path()) != (0666 & ~mask) ? 1 : 0;
        }
        EXPECT_EQ(seen, static_cast<std::size_t>(files));
        EXPECT_EQ(wrong, 0u) << "umask " << mask;
    }
    // Replaced files keep their own modes, whatever the mask.
    for (int index = 0; index < files; index += 100) {
        fs::permissions(Path("in/" + std::to_string(index) + ".xml"),
                        static_cast<fs::perms>(index % 200 == 0 ? 0604 : 0660));
    }
    ExpectExit(Run({"--files-from", Path("list"), "--in-place", "--jobs", "16", "--quiet", "//a"},
                   "", "", RLIM_INFINITY, 077),
               0);
    for (int index = 0; index < files; index += 100) {
        EXPECT_EQ(ModeOf(Path("in/" + std::to_string(index) + ".xml")),
                  index % 200 == 0 ? 0604u : 0660u);
    }
}

TEST_F(RedactTool, OptionsThatDoNothingAndCountsSaySo) {
    WriteFile(Path("in.xml"), "<a>x</a>");
    ExpectExit(Run({"--break-links", "//a"}, "<a>x</a>"), 0,
               {"note: --break-links applies only with --in-place"});
    const Outcome result = Run({"-i", Path("in.xml"), "--output-dir", Path("out"), "//a"});
    EXPECT_THAT(result.err, HasSubstr("1 file: 1 done, 0 failed, 1 item redacted"));
    EXPECT_THAT(Run({"--bad-option"}).err, HasSubstr("[--timings]"));
}

}  // namespace
