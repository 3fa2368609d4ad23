// Rules files run as a user runs them: every action on a real-looking export,
// the same tokens on every path and thread count, keys, the JSON report and
// --check, and rules files that are refused.
#include <cstdlib>
#include <string>

#include "RedactToolFixture.h"

namespace redact_tool_test {
namespace {

const std::string customers =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
    "<!DOCTYPE customers [ <!ENTITY co \"Acme &amp; Co\"> ]>\r\n"
    "<!-- export -->\r\n"
    "<customers version=\"2\">\r\n"
    "  <customer id=\"c-1\" region='eu'>\r\n"
    "    <name>Zo\xc3\xab M\xc3\xbcller</name>\r\n"
    "    <ssn>123-45-6789</ssn>\r\n"
    "    <email>zoe@example.org</email>\r\n"
    "    <card type='visa'>4111-1111-1111-1234</card>\r\n"
    "    <notes>Called <b>twice</b> about &#65;cme<!-- VIP --></notes>\r\n"
    "    <internalComment>check</internalComment>\r\n"
    "  </customer>\r\n"
    "  <customer id=\"c-2\"\r\n"
    "            region='us'>\r\n"
    "    <name>Ada</name>\r\n"
    "    <ssn> 123-45-6789 </ssn>\r\n"
    "    <email>ada@example.com</email>\r\n"
    "    <card type=\"mc\">5500-0000-0000-0004</card>\r\n"
    "    <notes><![CDATA[likes <b> ]]> tags]]></notes>\r\n"
    "    <internalComment>none</internalComment>\r\n"
    "  </customer>\r\n"
    "</customers>\r\n";

const std::string rules =
    "rules:\n"
    "  - select: //customer/@id\n"
    "    action: keep\n"
    "  - select: //ssn\n"
    "    action: pseudonym\n"
    "    prefix: \"SSN-\"\n"
    "    alphabet: hex\n"
    "  - select: //card\n"
    "    action: mask\n"
    "    keep_last: 4\n"
    "    keep_separators: true\n"
    "  - select: //name\n"
    "    action: mask\n"
    "    keep_first: 1\n"
    "    char: \"\xe2\x80\xa2\"\n"
    "  - select: //email\n"
    "    action: replace\n"
    "    with: \"<x & 'y'>\"\n"
    "  - select: //notes\n"
    "    action: replace\n"
    "    with: \"a]]>b -- c\"\n"
    "    deep: true\n"
    "  - select: //internalComment | //@region\n"
    "    action: drop\n"
    "  - select: //customer/@* | //card/@type\n"
    "    action: replace\n"
    "    with: \"it's \\\"q\\\"\"\n"
    "    attributes: true\n";

class RulesTool : public RedactTool {
protected:
    void SetUp() override {
        RedactTool::SetUp();
        WriteFile(Path("in.xml"), customers);
        WriteFile(Path("rules.yaml"), rules);
        WriteFile(Path("key"), "k3y\n");
        fs::permissions(Path("key"), fs::perms::owner_read | fs::perms::owner_write);
    }
};

TEST_F(RulesTool, EveryActionChangesOnlyItsValues) {
    const Outcome result = Run({"-i", Path("in.xml"), "--rules", Path("rules.yaml"), "--key-file",
                                Path("key"), "--whole"});
    ExpectExit(result, 0);
    const std::string& out = result.out;
    // What no rule selected stays byte for byte, CRLF included.
    EXPECT_EQ(out.substr(0, 104), customers.substr(0, 104));
    EXPECT_THAT(out, HasSubstr("<customer id=\"c-1\">\r\n"));  // kept; region dropped
    EXPECT_THAT(out, HasSubstr("<customer id=\"c-2\">\r\n"));  // with the line break before it
    EXPECT_THAT(out, HasSubstr("<name>Z\xe2\x80\xa2\xe2\x80\xa2\xe2\x80\xa2\xe2\x80\xa2\xe2\x80\xa2"
                               "\xe2\x80\xa2\xe2\x80\xa2\xe2\x80\xa2\xe2\x80\xa2</name>"));
    EXPECT_THAT(out, HasSubstr("<name>A\xe2\x80\xa2\xe2\x80\xa2</name>"));
    EXPECT_THAT(out, HasSubstr("<card type='it&apos;s \"q\"'>****-****-****-1234</card>"));
    EXPECT_THAT(out, HasSubstr("<card type=\"it's &quot;q&quot;\">****-****-****-0004</card>"));
    EXPECT_THAT(out, HasSubstr("<email>&lt;x &amp; 'y'&gt;</email>"));
    EXPECT_THAT(out, HasSubstr("<notes>a]]&gt;b -- c<b>a]]&gt;b -- c</b>a]]&gt;b -- c"
                               "<!--a]]>b - - c--></notes>"));
    // The CDATA section ends at its first "]]>": the rest is a text run.
    EXPECT_THAT(out, HasSubstr("<notes><![CDATA[a]]]]><![CDATA[>b -- c]]>a]]&gt;b -- c</notes>"));
    EXPECT_THAT(out, HasSubstr("    \r\n  </customer>"));  // the dropped element's line
    EXPECT_EQ(Count(out, "internalComment"), 0u);
    // One token for the value, whatever blanks stand around it.
    const std::size_t at = out.find("<ssn>SSN-");
    ASSERT_NE(at, std::string::npos);
    const std::string first = out.substr(at + 5, 4 + 16);
    EXPECT_THAT(out, HasSubstr("<ssn> " + first + " </ssn>"));
    EXPECT_EQ(first.find_first_not_of("0123456789abcdef", 4), std::string::npos);
    EXPECT_EQ(Count(out, "123-45"), 0u);
}

// A value gives one token wherever it stands: a first text run, a deep
// rule's further runs, a CDATA section, an attribute.
TEST_F(RulesTool, PseudonymsAreTheSameForTheSameValueEverywhere) {
    WriteFile(Path("same.xml"), "<r><a k='x'>x</a><b>x<i>x</i><![CDATA[x]]></b><c>x</c></r>");
    WriteFile(Path("same.yaml"),
              "rules:\n  - select: //a | //a/@k\n    action: pseudonym\n    attributes: true\n"
              "  - select: //b\n    action: pseudonym\n    deep: true\n"
              "  - select: //c/text()\n    action: pseudonym\n");
    for (const char* mode : {"--records", "--whole"}) {
        const Outcome result = Run({"-i", Path("same.xml"), "--rules", Path("same.yaml"),
                                    "--key-file", Path("key"), mode});
        ExpectExit(result, 0);
        const std::size_t at = result.out.find("<a k='") + 6;
        const std::string token = result.out.substr(at, 16);
        EXPECT_EQ(result.out, "<r><a k='" + token + "'>" + token + "</a><b>" + token + "<i>" +
                                  token + "</i><![CDATA[" + token + "]]></b><c>" + token +
                                  "</c></r>")
            << mode;
    }
}

TEST_F(RulesTool, SameOutputOnEveryPathAndThreadCount) {
    // A copy of the records many times over, so that record mode cuts batches.
    const std::size_t head = customers.find("  <customer ");
    const std::size_t tail = customers.find("</customers>");
    std::string many = customers.substr(0, head);
    for (int copy = 0; copy < 3000; ++copy) {
        many += customers.substr(head, tail - head);
    }
    many += customers.substr(tail);
    WriteFile(Path("many.xml"), many);
    WriteFile(Path("copy.xml"), many);
    std::string outputs[4];
    const char* modes[] = {"--records", "--whole"};
    for (int index = 0; index < 2; ++index) {
        const Outcome result =
            Run({"-i", Path("many.xml"), "--rules", Path("rules.yaml"), "--key-file", Path("key"),
                 modes[index], "--jobs", index == 0 ? "1" : "2"});
        ExpectExit(result, 0);
        outputs[index] = result.out;
    }
    fs::create_directory(Path("out"));
    const Outcome batch =
        Run({"-i", Path("many.xml"), "-i", Path("copy.xml"), "--output-dir", Path("out"), "--rules",
             Path("rules.yaml"), "--key-file", Path("key"), "--jobs", "2", "-q"});
    ExpectExit(batch, 0);
    outputs[2] = ReadFile(Path("out/many.xml"));
    outputs[3] = ReadFile(Path("out/copy.xml"));
    for (const std::string& output : outputs) {
        EXPECT_EQ(output.size(), outputs[0].size());
        EXPECT_TRUE(output == outputs[0]);
    }
    EXPECT_EQ(Count(outputs[0], "<ssn>SSN-"), 3000u);
}

TEST_F(RulesTool, KeysComeFromAFileOrTheEnvironmentOnly) {
    const std::vector<std::string> base = {"-i", Path("in.xml"), "--rules", Path("rules.yaml")};
    ::unsetenv("ORN_REDACT_KEY");
    const Outcome none = Run(base);
    ExpectExit(none, 2, {"pseudonym rules need a key: give --key-file FILE or set ORN_REDACT_KEY"});
    EXPECT_EQ(none.out, "");

    std::vector<std::string> withFile = base;
    withFile.insert(withFile.end(), {"--key-file", Path("key")});
    const Outcome fromFile = Run(withFile);
    ::setenv("ORN_REDACT_KEY", "k3y", 1);
    const Outcome fromEnvironment = Run(base);
    ::setenv("ORN_REDACT_KEY", "another key", 1);
    const Outcome otherKey = Run(base);
    ::unsetenv("ORN_REDACT_KEY");
    ExpectExit(fromFile, 0);
    ExpectExit(fromEnvironment, 0);
    EXPECT_EQ(fromFile.out, fromEnvironment.out);  // the file's line end is not part of the key
    EXPECT_NE(fromFile.out, otherKey.out);
    EXPECT_THAT(fromFile.err, Not(HasSubstr("k3y")));

    fs::permissions(Path("key"), fs::perms::group_read, fs::perm_options::add);
    ExpectExit(Run(withFile), 0,
               {"warning: key file '" + Path("key") + "' can be read by other users"});
    // The command line has no place for the key itself.
    ExpectExit(Run({"--key", "k3y", "-i", Path("in.xml"), "//a"}), 2, {"unknown option --key"});
}

TEST_F(RulesTool, ReportIsTheSameForTheSameInputs) {
    const auto run = [&](const std::string& report) {
        return Run({"-i", Path("in.xml"), "-o", Path("out.xml"), "--rules", Path("rules.yaml"),
                    "--key-file", Path("key"), "--report-json", Path(report), "--timings"});
    };
    ExpectExit(run("one.json"), 0);
    ExpectExit(run("two.json"), 0);
    const std::string report = ReadFile(Path("one.json"));
    EXPECT_EQ(report, ReadFile(Path("two.json")));
    EXPECT_THAT(report, Not(HasSubstr("k3y")));
    EXPECT_THAT(report, Not(HasSubstr("timings")));
    EXPECT_THAT(report, HasSubstr("\"input_bytes\": " + std::to_string(customers.size())));
    EXPECT_THAT(report,
                HasSubstr("\"output_bytes\": " + std::to_string(ReadFile(Path("out.xml")).size())));
    EXPECT_THAT(report, HasSubstr("\"path\": \"records\",\n      \"reason\": null"));
    EXPECT_THAT(report, HasSubstr("{\"rule\": 2, \"select\": \"//ssn\", \"action\": \"pseudonym\", "
                                  "\"from\": \"" +
                                  Path("rules.yaml") + ":4:13\"}"));
    EXPECT_THAT(report, HasSubstr("{\"rule\": 7, \"action\": \"drop\", \"selected\": 4, "
                                  "\"changed\": 4, \"left_alone\": 0, "
                                  "\"left_with_other_text\": 0}"));
    // The ids are kept and the regions dropped before: only the card types change.
    EXPECT_THAT(report, HasSubstr("{\"rule\": 8, \"action\": \"replace\", \"selected\": 6, "
                                  "\"changed\": 2, \"left_alone\": 4,"));
    // Digests of the bytes on disk, as sha256sum gives them.
    const std::string input = Sha256Sum(Path("in.xml")), output = Sha256Sum(Path("out.xml"));
    ASSERT_EQ(input.size(), 64u);
    ASSERT_EQ(output.size(), 64u);
    EXPECT_THAT(report, HasSubstr("\"input_sha256\": \"" + input + "\""));
    EXPECT_THAT(report, HasSubstr("\"output_sha256\": \"" + output + "\""));
}

// A report is UTF-8 JSON whatever the names: a name that is not UTF-8 shows
// with U+FFFD in its field, and its bytes in hexadecimal in NAME_hex.
TEST_F(RulesTool, ReportIsUtf8AndKeepsNamesThatAreNot) {
    const std::string bad = Path("b\xe9\xff.xml"), cut = Path("o\xc3(.xml");
    // Per name: its bytes from NAME_hex (or "-" without one), then the field
    // as shown; and the number of errors. Strict UTF-8 decoding fails on any
    // byte that is not.
    WriteFile(Path("check.py"),
              "import json, sys\n"
              "report = json.loads(open(sys.argv[1], 'rb').read().decode('utf-8'))\n"
              "for each in report['files']:\n"
              "    for field in ('input', 'output'):\n"
              "        sys.stdout.buffer.write(bytes.fromhex(each.get(field + '_hex', '2d')) +\n"
              "                                b' ' + each[field].encode() + b'\\n')\n"
              "    print(len(each.get('errors', [])))\n");
    const std::string command =
        "python3 " + Path("check.py") + " " + Path("r.json") + " >" + Path("names");
    const std::string shownBad = Path("b\uFFFD\uFFFD.xml"), utf8 = Path("\xc3\xa9.xml");
    WriteFile(bad, customers);
    ExpectExit(Run({"--report-json", Path("r.json"), "-i", bad, "-o", cut, "//email"}), 0);
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(ReadFile(Path("names")),
              bad + " " + shownBad + "\n" + cut + " " + Path("o\uFFFD(.xml") + "\n0\n");
    // A UTF-8 name gets no hex field; a failed file's messages name it.
    WriteFile(bad, "not XML");
    ExpectExit(Run({"--report-json", Path("r.json"), "-i", bad, "-o", utf8, "//a"}), 1);
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(ReadFile(Path("names")), bad + " " + shownBad + "\n- " + utf8 + "\n1\n");
}

// The input's digest is the original's on every route: taken from the bytes
// the route reads, or from the file before it is replaced in place.
TEST_F(RulesTool, ReportedInputDigestIsTheOriginalsOnEveryRoute) {
    WriteFile(Path("plain.xml"), customers);
    ASSERT_EQ(std::system(("gzip -c " + Path("plain.xml") + " >" + Path("packed.xml.gz")).c_str()),
              0);
    const std::vector<std::vector<std::string>> routes = {
        {"//email"}, {"(//email)[1]"}, {"--whole", "//email"}, {"--reformat", "//email"}};
    for (const std::string name : {"plain.xml", "packed.xml.gz"}) {
        const std::string original = ReadFile(Path(name));
        const std::string expected = Sha256Sum(Path(name));
        ASSERT_EQ(expected.size(), 64u);
        for (const auto& route : routes) {
            for (const bool inPlace : {false, true}) {
                WriteFile(Path("in-" + name), original);
                std::vector<std::string> arguments = {"--report-json", Path("r.json"), "-i",
                                                      Path("in-" + name)};
                if (inPlace) {
                    arguments.push_back("--in-place");
                } else {
                    arguments.insert(arguments.end(), {"-o", Path("out-" + name)});
                }
                arguments.insert(arguments.end(), route.begin(), route.end());
                ExpectExit(Run(arguments), 0);
                EXPECT_THAT(ReadFile(Path("r.json")),
                            HasSubstr("\"input_sha256\": \"" + expected + "\""))
                    << name << " " << route.front() << (inPlace ? " in place" : "");
            }
        }
    }
}

TEST_F(RulesTool, CheckSaysWhatWouldChangeAndWritesNothing) {
    WriteFile(Path("check.yaml"),
              "rules:\n  - select: //ssn\n    action: redact\n"
              "  - select: //missing\n    action: drop\n"
              "  - select: //email[../preceding-sibling::customer]\n");
    const Outcome plain = Run({"--check", "--rules", Path("check.yaml")});
    ExpectExit(plain, 0);
    EXPECT_THAT(plain.out, HasSubstr("rule 1 (" + Path("check.yaml") +
                                     ":2:13): redact '//ssn': record by record\n"));
    EXPECT_THAT(plain.out, HasSubstr("rule 3 (" + Path("check.yaml") +
                                     ":6:13): redact "
                                     "'//email[../preceding-sibling::customer]': whole document"));
    const std::size_t files = static_cast<std::size_t>(Files());
    const Outcome withInput =
        Run({"--check", "--rules", Path("check.yaml"), "-i", Path("in.xml"), "--require-match"});
    ExpectExit(withInput, 3);
    EXPECT_THAT(withInput.out, HasSubstr(Path("in.xml") + ": rule 1 selects 2, would change 2\n"));
    EXPECT_THAT(withInput.out, HasSubstr(Path("in.xml") + ": rule 2 selects 0, would drop 0\n"));
    EXPECT_EQ(static_cast<std::size_t>(Files()), files);
    EXPECT_EQ(ReadFile(Path("in.xml")), customers);
    ExpectExit(
        Run({"--check", "--rules", Path("check.yaml"), "-i", Path("in.xml"), "-o", Path("x.xml")}),
        2, {"--check writes nothing"});
}

TEST_F(RulesTool, RefusedRulesWriteNothing) {
    const struct {
        std::string rules;
        std::string message;
    } cases[] = {
        {"rules:\n  - select: //a\n    action: hash\n", "rules.bad:3:13: unknown action 'hash'"},
        {"rules:\n  - select: //a\n    keep_lsat: 4\n", "rules.bad:3:5: unknown key 'keep_lsat'"},
        {"rules:\n  - select: //a\n    action: mask\n    with: x\n",
         "rules.bad:4:5: 'with' does not apply to action 'mask'"},
        {"rules:\n  - select: [//a\n", "rules.bad:3:1:"},
        {"rules:\n  - select: //a[\n", "rejected expression '//a['"},
        {"rules:\n  - select: //a\n  - select: //a/comment()\n",
         "'//a/comment()' (" + Path("rules.bad") + ":3:13): comments are not read"},
        {"rules:\n  - select: /*\n    action: drop\n",
         "'/*' selects the document element, which cannot be dropped"},
    };
    for (const auto& [text, message] : cases) {
        WriteFile(Path("rules.bad"), text);
        ::setenv("ORN_REDACT_KEY", "k3y", 1);
        const Outcome result =
            Run({"-i", Path("in.xml"), "-o", Path("out.xml"), "--rules", Path("rules.bad")});
        ::unsetenv("ORN_REDACT_KEY");
        EXPECT_EQ(result.status, 2) << text << result.err;
        EXPECT_THAT(result.err, HasSubstr(message)) << text;
        EXPECT_FALSE(fs::exists(Path("out.xml"))) << text;
    }
}

}  // namespace
}  // namespace redact_tool_test
