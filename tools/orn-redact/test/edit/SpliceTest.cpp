// The byte-preserving output in-process: exact results on documents with real
// structure, the cases that must fall back to writing the document anew, and
// the splice property on generated documents.
#include <algorithm>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "SourceSplice.h"
#include "SpliceProperty.h"

namespace {

using qiv::redact::ConvertedEncoding;
using qiv::redact::RedactionSettings;
using qiv::redact::RunSplice;

const std::string prolog =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
    "<?xml-stylesheet type=\"text/xsl\" href=\"s.xsl\"?>\r\n"
    "<!DOCTYPE r [ <!ENTITY co \"ACME\"> <!-- inside <r> --> ]>\r\n"
    "<!-- exported by crm -->\r\n";

// Expressions separated by ';'.
std::vector<std::string> Split(std::string_view list) {
    std::vector<std::string> items;
    for (std::size_t at = 0; at <= list.size();) {
        const std::size_t end = std::min(list.find(';', at), list.size());
        items.emplace_back(list.substr(at, end - at));
        at = end + 1;
    }
    return items;
}

// Each input alone and after a prolog full of markup that must stay as it is.
TEST(Splice, ReplacesOnlyTheSelectedValues) {
    const RedactionSettings plain{}, deep{true, false}, attributes{false, true};
    const std::tuple<const char*, const char*, RedactionSettings, const char*> cases[] = {
        {"<r a='1'>\r\n  <p><name>Ann</name><ssn>123</ssn><c>&co; Ltd</c></p>\r\n</r>\r\n", "//ssn",
         plain,
         "<r a='1'>\r\n  <p><name>Ann</name><ssn>redacted</ssn><c>&co; "
         "Ltd</c></p>\r\n</r>\r\n"},
        // References inside a replaced span go with it; others stay as written.
        {"<r><c>&co; &#65;&lt;</c><d>&co;</d></r>", "//c", plain,
         "<r><c>redacted</c><d>&co;</d></r>"},
        {"<r><e/><e a='x' /><e></e><e>\n  <f/>\n</e></r>", "//e", plain,
         "<r><e>redacted</e><e a='x' >redacted</e><e>redacted</e><e>\n  <f/>redacted</e></r>"},
        {"<r><n><![CDATA[a]]>b]]></n></r>", "//n", plain, "<r><n><![CDATA[redacted]]>b]]></n></r>"},
        {"<r><n>a<!--k--><b>c<?pi x?></b>d<![CDATA[e]]></n><!--o--></r>", "//n", deep,
         "<r><n>redacted<!--redacted--><b>redacted<?pi x?></b>redacted<![CDATA[redacted]]></n>"
         "<!--o--></r>"},
        {"<r><p a=\"x&amp;y\" b='q\"' c=\"\"/></r>", "//@a | //@b;//@c", attributes,
         "<r><p a=\"redacted\" b='redacted' c=\"redacted\"/></r>"},
        // Attributes stay as they are without --attributes.
        {"<r><p a=\"x\">t</p></r>", "//@a;//p", plain, "<r><p a=\"x\">redacted</p></r>"},
        {"<r><n>a<b/>c</n></r>", "//n/text()", plain, "<r><n>redacted<b/>redacted</n></r>"},
        // Items selected again, and text added by an earlier expression.
        {"<r><e/><t>long enough text</t></r>", "//e;//e/text();//t;//t | //t/text()", plain,
         "<r><e>redacted</e><t>redacted</t></r>"},
        // The second sees the text the first added; so does a sibling axis.
        {"<r><p><e/></p><q/></r>", "//e;//*[.='redacted']", plain,
         "<r><p><e>redacted</e>redacted</p><q/>redacted</r>"},
        {"<a><b>x</b><c/></a>", "/*;//preceding-sibling::*", plain,
         "<a><b>redacted</b><c>redacted</c>redacted</a>"},
        {"<a><b>x</b><c/></a>", "//*", plain, "<a><b>redacted</b><c>redacted</c>redacted</a>"},
        {"\xEF\xBB\xBF<a>\xC3\xA9<b>x</b></a>", "//b", plain,
         "\xEF\xBB\xBF<a>\xC3\xA9<b>redacted</b></a>"},
        {"<a x='>'><b y=\"/>\">q</b></a>", "//b;//a", deep,
         "<a x='>'><b y=\"/>\">redacted</b>redacted</a>"},
        // The document node stands for its document element: the output stays
        // one document.
        {"<a><b>x</b></a>", "/", plain, "<a><b>x</b>redacted</a>"},
        {"<a><b>x</b></a>", "//.", plain, "<a><b>redacted</b>redacted</a>"},
        {"<a>t<b>x</b></a>", "/descendant-or-self::node()", deep, "<a>redacted<b>redacted</b></a>"},
        // The parser takes several top-level elements: each stands for it.
        {"<a>x</a><b/>", "/", plain, "<a>redacted</a><b>redacted</b>"},
        {"<a>x<c>y</c></a><b/>", "/|//c", deep, "<a>redacted<c>redacted</c></a><b>redacted</b>"},
        // Nested selected elements: each covered once by the deep walk.
        {"<a>1<a>2<a/>3</a><b><a>4</a></b></a>", "//a", deep,
         "<a>redacted<a>redacted<a>redacted</a>redacted</a><b><a>redacted</a></b></a>"},
        {"<a>1<a>2<a/>3</a><b><a>4</a></b></a>", "//a", plain,
         "<a>redacted<a>redacted<a>redacted</a>3</a><b><a>redacted</a></b></a>"},
    };
    for (const auto& [input, expressions, settings, expected] : cases) {
        for (const std::string& before : {std::string(), prolog}) {
            const auto run = RunSplice(before + input, Split(expressions), settings);
            SCOPED_TRACE(input);
            EXPECT_EQ(run.fallback, "");
            EXPECT_EQ(run.problem, "");
            EXPECT_EQ(run.output, before + expected);
        }
    }
}

// Latin-1 is parsed in its UTF-8 form; the edits land on the input's own
// bytes, wherever the declaration that names the encoding ends.
TEST(Splice, Latin1InputKeepsItsOwnBytes) {
    const RedactionSettings plain{}, both{true, true};
    const std::string declaration = "<?xml version='1.0' encoding='ISO-8859-1'?>\n";
    const std::string longDeclaration =
        "<?xml version='1.0'" + std::string(5000, ' ') + "encoding=\"latin1\"?>";
    const std::tuple<std::string, const char*, RedactionSettings, std::string> cases[] = {
        {"<r><a>\xE9t\xE9</a><b>\xFC</b></r>", "//a", plain, "<r><a>redacted</a><b>\xFC</b></r>"},
        {"<r a='\xE9'><b c=\"\xE9\xE9\">\xE9<!--\xE9--><c>\xFF</c></b><d/></r>", "//b;//@c;//d",
         both,
         "<r a='\xE9'><b c=\"redacted\">redacted<!--redacted--><c>redacted</c></b><d>redacted</d>"
         "</r>"},
        // The value read back for an item that stays is written in Latin-1 again.
        {"<r><a>\xE9<![CDATA[\xE0]]></a></r>", "//a/node()", plain,
         "<r><a>redacted<![CDATA[redacted]]></a></r>"},
    };
    for (const auto& [input, expressions, settings, expected] : cases) {
        for (const std::string& before : {declaration, longDeclaration}) {
            const auto run = RunSplice(before + input, Split(expressions), settings);
            SCOPED_TRACE(before.substr(0, 30) + input);
            EXPECT_EQ(run.fallback, "");
            EXPECT_EQ(run.problem, "");
            EXPECT_EQ(run.output, before + expected);
        }
    }
}

// A new character Latin-1 cannot hold is a reference: in text and attribute
// values as it is, in CDATA between two sections; the output parses to the
// redacted document all the same.
TEST(Splice, Latin1InputTakesReferencesForWhatItCannotHold) {
    qiv::redact::Rule rule;
    rule.action = qiv::redact::Action::Replace;
    rule.replacement = "\xE2\x82\xAC\xC3\xA9";  // the euro sign and e acute
    const qiv::redact::RuleAction replace(rule, "");
    RedactionSettings settings{false, true};
    settings.plans = {{&replace, false, true}};
    const std::string declaration = "<?xml version='1.0' encoding='ISO-8859-1'?>\n";
    const auto run = RunSplice(declaration + "<r b='\xE0'><a>\xE0</a><c><![CDATA[\xE0]]></c></r>",
                               {"//a | //@b | //c/node()"}, settings);
    EXPECT_EQ(run.fallback, "");
    EXPECT_EQ(run.problem, "");
    EXPECT_EQ(run.output, declaration +
                              "<r b='&#8364;\xE9'><a>&#8364;\xE9</a>"
                              "<c><![CDATA[]]>&#8364;<![CDATA[\xE9]]></c></r>");
}

TEST(Splice, FallsBackWhereInputPositionsAreLost) {
    const std::pair<std::string, const char*> encodings[] = {
        {std::string("\xFF\xFE<\0a\0/\0>\0", 10), "UTF-16LE"},
        {std::string("\0<\0a\0/\0>", 8), "UTF-16BE"},
        {std::string("<\0\0\0a\0\0\0", 8), "UTF-32LE"},
        {std::string("\0\0\xFE\xFF", 4), "UTF-32BE"},
        {"<?xml version='1.0' encoding='ISO-8859-1'?><a/>", "Latin-1"},
        {"<?xml version=\"1.0\" encoding = \"latin1\"?><a/>", "Latin-1"},
        {"<?xml version='1.0' encoding='UTF-8'?><a/>", ""},
        {"<?xml version='1.0' encoding='ISO-8859-15'?><a/>", ""},
        {"\xEF\xBB\xBF<a/>", ""},
        {"<a/>", ""},
    };
    for (const auto& [input, encoding] : encodings) {
        EXPECT_EQ(ConvertedEncoding(input), encoding) << input;
    }
}

// Random documents of elements, attributes in both quote styles, references,
// CDATA, comments, PIs, blanks and CRLF, with random expressions: the spliced
// output must have the splice property, and never fall back.
std::string RandomDocument(std::mt19937& random, int depth) {
    const char* names[] = {"a", "b", "c"};
    const char* texts[] = {"t", " x y ", "&amp;", "&co;", "&#65;", "\r\n", "  ", "]]&gt;", "q>"};
    std::string out = "<";
    const std::string name = names[random() % 3];
    out += name;
    for (unsigned count = random() % 3, index = 0; index < count; ++index) {
        out += std::string(" ") + "xyz"[index] + (random() % 2 ? "='v&lt;'" : "=\"w'\"");
    }
    if (depth > 3 || random() % 4 == 0) {
        return out + (random() % 2 ? "/>" : " />");
    }
    out += ">";
    const char* markup[] = {"<!--c-->", "<![CDATA[d]]>", "<?p i?>"};
    for (unsigned count = random() % 4, index = 0; index < count; ++index) {
        const unsigned kind = random() % 6;
        out += kind == 0   ? RandomDocument(random, depth + 1)
               : kind <= 3 ? markup[kind - 1]
                           : texts[random() % 9];
    }
    return out + "</" + name + ">";
}

TEST(Splice, GeneratedDocumentsKeepTheSpliceProperty) {
    // Some see the text nodes that earlier expressions add, or the values
    // they set; the others are selected before any change.
    const std::vector<std::string> expressions = {"//a",
                                                  "//b/text()",
                                                  "//@x",
                                                  "//c",
                                                  "//*",
                                                  "//a[1]",
                                                  "//b | //c",
                                                  "//@*",
                                                  "//*/c/..",
                                                  "//a//.",
                                                  "//text()",
                                                  "//c/.",
                                                  "//*[not(node())]",
                                                  "//b[.='redacted']",
                                                  "//preceding-sibling::*",
                                                  "//parent::*"};
    std::mt19937 random(20261205);
    for (int round = 0; round < 3000; ++round) {
        const std::string document = (round % 2 ? prolog : "") + RandomDocument(random, 0);
        std::vector<std::string> chosen;
        for (unsigned count = 1 + random() % 3, index = 0; index < count; ++index) {
            chosen.push_back(expressions[random() % expressions.size()]);
        }
        const auto run = RunSplice(document, chosen, {random() % 3 == 0, random() % 3 == 0, 2});
        ASSERT_EQ(run.fallback, "") << document;
        ASSERT_EQ(run.problem, "") << document << "\n" << testing::PrintToString(chosen);
    }
}

// The same, with every action on the expressions: values rewritten,
// escaped where they go, items dropped and kept.
TEST(Splice, GeneratedDocumentsKeepTheSplicePropertyUnderEveryAction) {
    const std::vector<std::string> expressions = {
        "//a",    "//b/text()",       "//@x", "//c",    "//*", "//@*", "//text()", "//a//.",
        "//c/..", "//*[not(node())]", "/*/*", "//b[@y]"};
    std::mt19937 random(20261208);
    std::size_t drops = 0, rewrites = 0, fallbacks = 0;
    for (int round = 0; round < 3000; ++round) {
        const std::string document = (round % 2 ? prolog : "") + RandomDocument(random, 0);
        std::vector<std::string> chosen;
        std::string choices;
        for (unsigned count = 1 + random() % 4, index = 0; index < count; ++index) {
            chosen.push_back(expressions[random() % expressions.size()]);
            choices += static_cast<char>(random());
        }
        std::vector<std::unique_ptr<qiv::redact::RuleAction>> actions;
        RedactionSettings settings{false, false, 2};
        settings.plans = qiv::redact::ChoosePlans(choices, chosen.size(), actions);
        const auto run = RunSplice(document, chosen, settings);
        // Only a drop of the document element is refused; a text that an
        // earlier rule added to an empty element and a later one drops makes
        // the tool write the document anew.
        if (!run.fallback.empty()) {
            ASSERT_TRUE(run.fallback.find("cannot be dropped") != std::string::npos ||
                        run.fallback == "a dropped text has no position in the input")
                << run.fallback;
            ++fallbacks;
            continue;
        }
        ASSERT_EQ(run.problem, "") << document << "\n" << testing::PrintToString(chosen);
        for (const auto& edit : run.edits) {
            ++(edit.drop ? drops : rewrites);
        }
    }
    EXPECT_GT(drops, 200u);
    EXPECT_GT(rewrites, 1000u);
    EXPECT_LT(fallbacks, 300u);
}

// Kept items stay as they were, comments inside them included, whatever a
// later deep rule does around them; a rule before the keep still applies.
TEST(Splice, KeptItemsAndTheirCommentsAreLeftAlone) {
    const std::string document =
        "<r><n>a<k z='1'>b<!--secret--></k><!--c--></n><m>d<k>e<!--f--></k></m></r>";
    const struct {
        std::vector<std::string> expressions;
        std::vector<qiv::redact::Action> actions;
        const char* output;
    } cases[] = {
        {{"//k", "//n | //m"},
         {qiv::redact::Action::Keep, qiv::redact::Action::Replace},
         "<r><n>x<k z='1'>b<!--secret--></k><!--x--></n><m>x<k>e<!--f--></k></m></r>"},
        {{"//m", "//k", "/r/*"},
         {qiv::redact::Action::Replace, qiv::redact::Action::Keep, qiv::redact::Action::Drop},
         "<r><n>a<k z='1'>b<!--secret--></k><!--c--></n><m>x<k>x<!--x--></k></m></r>"},
        {{"//k/@z", "//k", "//@*"},
         {qiv::redact::Action::Keep, qiv::redact::Action::Replace, qiv::redact::Action::Drop},
         "<r><n>a<k z='1'>x<!--x--></k><!--c--></n><m>d<k>x<!--x--></k></m></r>"},
    };
    for (const auto& test : cases) {
        std::vector<std::unique_ptr<qiv::redact::RuleAction>> actions;
        RedactionSettings settings{false, true, 1};
        for (const qiv::redact::Action action : test.actions) {
            qiv::redact::Rule rule;
            rule.action = action;
            rule.replacement = "x";
            actions.push_back(std::make_unique<qiv::redact::RuleAction>(rule, ""));
            settings.plans.push_back({actions.back().get(), true, true});
        }
        const auto run = RunSplice(document, test.expressions, settings);
        EXPECT_EQ(run.fallback, "");
        EXPECT_EQ(run.problem, "");
        EXPECT_EQ(run.output, test.output) << testing::PrintToString(test.expressions);
    }
}

// Large enough that the early selection, the checks for text left behind and
// the scan of the selected elements run on threads; every record the same, so
// every record's line must come out the same.
TEST(Splice, LargeDocumentsSpliceAlikeOnThreads) {
    std::string document = prolog + "<customers>\r\n";
    for (int n = 0; n < 5000; ++n) {
        document += "  <customer id='" + std::to_string(n % 7) +
                    "'><email>a@b.org</email><phone/><notes>Called <b>x</b> twice<!-- ask "
                    "--></notes></customer>\r\n";
    }
    document += "</customers>\r\n";
    const std::vector<std::string> expressions{"//email", "//phone", "//customer/notes", "//@id"};
    const std::tuple<RedactionSettings, const char*> cases[] = {
        {{false, false, 2},
         "<customer id='0'><email>redacted</email><phone>redacted</phone><notes>redacted<b>x</b> "
         "twice<!-- ask --></notes></customer>"},
        {{true, true, 2},
         "<customer id='redacted'><email>redacted</email><phone>redacted</phone><notes>redacted<b>"
         "redacted</b>redacted<!--redacted--></notes></customer>"},
    };
    for (const auto& [settings, line] : cases) {
        const auto run = RunSplice(document, expressions, settings);
        ASSERT_EQ(run.fallback, "");
        ASSERT_EQ(run.problem, "");
        const std::string expected = prolog + "<customers>\r\n  " + line + "\r\n";
        EXPECT_EQ(run.output.substr(0, expected.size()), expected);
        EXPECT_EQ(run.output.size() - expected.size(),
                  4999 * (std::string(line).size() + 4) + std::string("</customers>\r\n").size());
    }
}

}  // namespace

namespace {

// A value other than "redacted" (what an item reads when it could not be
// set) is written escaped for where it goes.
TEST(Splice, WritesValuesEscapedForWhereTheyGo) {
    const struct {
        const char* source;
        const char* xpath;
        const char* value;
        const char* expected;
    } cases[] = {
        {"<r><a>x</a></r>", "//a/text()", "a&b<c>\"d'e\tf",
         "<r><a>a&amp;b&lt;c&gt;\"d'e\tf</a></r>"},
        {"<r a=\"x\"/>", "//@a", "\"'\t\n\r&<", "<r a=\"&quot;'&#9;&#10;&#13;&amp;&lt;\"/>"},
        {"<r a='x'/>", "//@a", "\"'", "<r a='\"&apos;'/>"},
        {"<r><![CDATA[x]]></r>", "//r/text()", "a]]>b]]>",
         "<r><![CDATA[a]]]]><![CDATA[>b]]]]><![CDATA[>]]></r>"},
    };
    for (const auto& c : cases) {
        const std::string source = c.source;
        pugi::xml_document document;
        ASSERT_TRUE(document.load_buffer(source.data(), source.size(), pugi::parse_default));
        const pugi::xpath_node item = document.select_node(c.xpath);
        qiv::redact::SourceSplicer splicer(false, source.size());
        if (pugi::xml_attribute attribute = item.attribute()) {
            splicer.NoteAttribute(attribute, item.parent());
            attribute.set_value(c.value);
        } else {
            splicer.NoteText(item.node());
            item.node().set_value(c.value);
        }
        splicer.TakeValues();
        ASSERT_TRUE(splicer.Capture());
        ASSERT_TRUE(splicer.Resolve(source)) << splicer.Problem();
        std::ostringstream out;
        splicer.Write(out);
        EXPECT_EQ(out.str(), c.expected) << c.source;
    }
}

}  // namespace
