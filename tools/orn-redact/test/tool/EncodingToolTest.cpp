// Values in documents of every encoding the tool reads: the same value gives
// the same token and mask in each, and new values are written in the
// document's own encoding, a character it cannot hold as a reference.
#include <cstdio>
#include <string>

#include "RedactToolFixture.h"

namespace redact_tool_test {
namespace {

class EncodingTool : public RedactTool {
protected:
    void SetUp() override {
        RedactTool::SetUp();
        WriteFile(Path("key"), "k3y\n");
        fs::permissions(Path("key"), fs::perms::owner_read | fs::perms::owner_write);
    }

    // text (UTF-8) in encoding, as iconv writes it.
    std::string Converted(const std::string& text, const std::string& from, const std::string& to) {
        WriteFile(Path("iconv.in"), text);
        const std::string command =
            "iconv -f " + from + " -t " + to + " " + Path("iconv.in") + " > " + Path("iconv.out");
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        const std::string converted = ReadFile(Path("iconv.out"));
        fs::remove(Path("iconv.in"));
        fs::remove(Path("iconv.out"));
        return converted;
    }

    // The output of the record route, after checking that the whole-document
    // route writes the same bytes.
    std::string RedactedBothWays(const std::string& document, const std::string& rules,
                                 std::vector<std::string> extra = {}) {
        WriteFile(Path("in.xml"), document);
        WriteFile(Path("rules.yaml"), rules);
        std::vector<std::string> arguments{
            "-i", Path("in.xml"), "--rules", Path("rules.yaml"), "--key-file", Path("key"), "-q"};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        const Outcome records = Run(arguments);
        arguments.push_back("--whole");
        const Outcome whole = Run(arguments);
        ExpectExit(records, 0);
        EXPECT_EQ(records.out, whole.out);
        return records.out;
    }
};

TEST_F(EncodingTool, TokensAndMasksAreTheSameInEveryEncoding) {
    const std::string body =
        "<d><n>\xC3\x96"
        "berg</n><m>\xC3\x96lm\xC3\xAB</m><a k=\"\xC3\x96"
        "berg\"/>"
        "<p>x<!--\xC3\x96"
        "berg--></p></d>\n";
    const std::string rules =
        "rules:\n"
        "  - select: //n | //a/@k\n    action: pseudonym\n    attributes: true\n"
        "  - select: //m\n    action: mask\n    keep_first: 1\n"
        "  - select: //p\n    action: pseudonym\n    deep: true\n";
    // The token of "Öberg" under the key "k3y".
    const std::string token = "agc2dvmnflsf2zpy";
    struct Case {
        const char* iconv;     // the document's encoding, for iconv
        const char* declared;  // in its XML declaration
        const char* bom;
        bool anew;  // written anew, in UTF-8 (and without its comments)
    } const cases[] = {
        {"UTF-8", "UTF-8", "", false},
        {"UTF-16LE", "UTF-16", "\xFF\xFE", true},
        {"UTF-16BE", "UTF-16", "\xFE\xFF", true},
        {"ISO-8859-1", "ISO-8859-1", "", false},
        {"CP1252", "windows-1252", "", false},
        {"ISO-8859-15", "ISO-8859-15", "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.iconv);
        const std::string document =
            c.bom + Converted("<?xml version=\"1.0\" encoding=\"" + std::string(c.declared) +
                                  "\"?>\n" + body,
                              "UTF-8", c.iconv);
        const std::string out =
            Converted(RedactedBothWays(document, rules), c.anew ? "UTF-8" : c.iconv, "UTF-8");
        EXPECT_THAT(out, HasSubstr("<n>" + token + "</n>"));
        EXPECT_THAT(out, HasSubstr("k=\"" + token + "\""));
        EXPECT_THAT(out, HasSubstr("<m>\xC3\x96***</m>"));
        if (!c.anew) {
            EXPECT_THAT(out, HasSubstr("<!--" + token + "-->"));
        }
    }
}

TEST_F(EncodingTool, NewValuesAreWrittenInTheDocumentsEncoding) {
    const std::string rules =
        "rules:\n"
        "  - select: //r | //r/@v | //c\n    action: replace\n"
        "    with: \"\xE2\x82\xAC"
        "5 caf\xC3\xA9\"\n    attributes: true\n"
        // The second rule reads what the first wrote.
        "  - select: //s\n    action: replace\n    with: \"\xC3\xA9\xE2\x82\xAC"
        "x\"\n"
        "  - select: //s\n    action: mask\n    keep_last: 1\n";
    struct Case {
        const char* declared;
        const char* value;  // "€5 café" as written in text and attributes
        const char* cdata;  // and as a CDATA section
    } const cases[] = {
        {"UTF-8",
         "\xE2\x82\xAC"
         "5 caf\xC3\xA9",
         "<![CDATA[\xE2\x82\xAC"
         "5 caf\xC3\xA9]]>"},
        {"windows-1252",
         "\x80"
         "5 caf\xE9",
         "<![CDATA[\x80"
         "5 caf\xE9]]>"},
        {"ISO-8859-15",
         "\xA4"
         "5 caf\xE9",
         "<![CDATA[\xA4"
         "5 caf\xE9]]>"},
        {"ISO-8859-1", "&#8364;5 caf\xE9", "<![CDATA[]]>&#8364;<![CDATA[5 caf\xE9]]>"},
        {"US-ASCII", "&#8364;5 caf&#233;",
         "<![CDATA[]]>&#8364;<![CDATA[5 caf]]>&#233;<![CDATA[]]>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.declared);
        const std::string declaration =
            "<?xml version=\"1.0\" encoding=\"" + std::string(c.declared) + "\"?>\n";
        const std::string out = RedactedBothWays(
            declaration + "<d><r v=\"x\">y</r><c><![CDATA[z]]></c><s>q</s></d>\n", rules);
        EXPECT_EQ(out, declaration + "<d><r v=\"" + c.value + "\">" + c.value + "</r><c>" +
                           c.cdata + "</c><s>**x</s></d>\n");
    }

    // Written anew, a value cannot hold a reference: a character the
    // encoding cannot hold stops the run instead of becoming '?'.
    WriteFile(Path("in.xml"),
              "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<d><r v=\"x\">y</r></d>\n");
    ExpectExit(Run({"-i", Path("in.xml"), "--rules", Path("rules.yaml"), "--reformat"}), 2,
               {"a new value holds U+20AC, which Latin-1 cannot hold", "nothing written"});
    WriteFile(Path("in.xml"),
              "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\n<d><r v=\"x\">y</r></d>\n");
    const Outcome anew = Run({"-i", Path("in.xml"), "--rules", Path("rules.yaml"), "--reformat"});
    ExpectExit(anew, 0);
    EXPECT_THAT(anew.out, HasSubstr("<r v=\"\x80"
                                    "5 caf\xE9\">\x80"
                                    "5 caf\xE9</r>"));
}

}  // namespace
}  // namespace redact_tool_test
