// Record mode in-process: which expressions it takes, that it writes what the
// whole-document path writes for every batch size, and how it reports input
// it cannot take.
#include <unistd.h>

#include <cstdio>
#include <iterator>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "DocumentInput.h"
#include "Expression.h"
#include "Namespaces.h"
#include "PerRecord.h"
#include "RecordMode.h"
#include "RecordProperty.h"

namespace {

using namespace qiv::redact;
using namespace std::string_literals;

TEST(RecordClass, TakesWhatSelectsInsideOneRecord) {
    // Expression, document element, the start of the reason ("" when taken).
    const struct {
        const char* expression;
        const char* root;
        const char* reason;
    } cases[] = {
        {"//email", "r", ""},
        {"/r/rec/name | //p:x", "r", ""},
        {"/*/*/email", "r", ""},
        {"//rec/@id", "r", ""},
        {"//@*[1]", "r", ""},  // positions among one element's attributes
        {"//rec[@id = '7']/name", "r", ""},
        {"//rec[name = 'Ada' and not(b)]/email", "r", ""},
        {"//customer[country = 'NL']/email", "r", ""},
        {"/r/rec/name[1]", "r", ""},  // positions inside a record
        {"/r/rec/*[last()]", "r", ""},
        {"//rec[name[2]]", "r", ""},
        {"//rec[(name | email)[1] = 'x']", "r", ""},
        {"//rec[contains(normalize-space(.), 'x')]", "r", ""},
        {"//rec[string-length(name) > 3]/name", "r", ""},
        {"/r[@version = '2']/rec/name", "r", ""},  // the document element's attributes
        {"//*[local-name() = 'name']", "r", ""},
        {"//self::name/text()", "r", ""},
        {"/descendant::name | /descendant-or-self::email", "r", ""},
        {"rec/name", "r", ""},
        {"(//a | //b)/c", "r", ""},
        {"/", "r", ""},  // selects the document: left to the check as it runs
        {"//rec[1]", "r", "a predicate counts positions"},
        {"//rec[last()]/name", "r", "last() counts positions"},
        {"//rec[position() > 2]", "r", "position() counts positions"},
        {"/*/*[3]", "r", "a predicate counts positions"},
        {"//*[2]/name", "r", "a predicate counts positions"},
        {"(//name)[1]", "r", "a position is taken over the whole selection"},
        {"//rec[following-sibling::rec]", "r", "it uses the following-sibling axis"},
        {"//name/preceding::email", "r", "it uses the preceding axis"},
        {"//name/ancestor::*", "r", "it uses the ancestor axis"},
        {"//name/..", "r", "it uses '..'"},
        {"//rec[../@a]", "r", "it uses '..'"},
        {"//rec[//x]", "r", "a predicate holds an absolute path"},
        {"//rec[count(/r/rec) > 1]", "r", "a predicate holds an absolute path"},
        {"id('c1')/name", "r", "id() searches"},
        {"//rec[name = $v]", "r", "it uses a variable"},
        // The document element may be what the step matches: only its
        // attributes and name may be tested.
        {"//r[rec]/rec", "r", "a predicate on a step that can match the document element"},
        {"//*[name]/email", "r", "a predicate on a step that can match the document element"},
        {"//r[rec]/rec", "list", ""},
        {"//p:*[p:x]", "p:r", "a predicate on a step that can match the document element"},
        {"//p:*[p:x]", "r", ""},
        {"/*[string-length() > 9]", "r", "string-length() reads the text"},
        {"//*[@id = 'x']", "r", ""},
        {"//rec[1 + 1]", "r", "a predicate counts positions"},
        {"//rec[-name]", "r", "a predicate counts positions"},
        // What the classifier cannot read it does not let through.
        {"//a[b ! c]", "r", "it could not be analysed"},
        {"//a['open]", "r", "it could not be analysed"},
        {"//a[b : c]", "r", "it could not be analysed"},
        {"//a[b c]", "r", "it could not be analysed"},
        {"//a[#]", "r", "it could not be analysed"},
        {"//a]", "r", "it could not be analysed"},
        {"//a[b != 'x' and c mod 2 = 1]", "r", ""},
        {"//a[f(]", "r", "it could not be analysed"},
        {"//a[(b]", "r", "it could not be analysed"},
        {"//a[b][", "r", "it could not be analysed"},
        {"//@", "r", "it could not be analysed"},
        {"//a['x'[1]]", "r", "it could not be analysed"},
    };
    for (const auto& c : cases) {
        const std::string reason = RecordModeProblem(c.expression, c.root);
        EXPECT_EQ(reason.substr(0, std::string(c.reason).size()), c.reason)
            << c.expression << " (document element " << c.root << "): " << reason;
        EXPECT_EQ(reason.empty(), std::string(c.reason).empty()) << c.expression << ": " << reason;
    }
}

// A bound prefix may name the document element under whatever prefix the
// document gives it; an unbound one only literally.
TEST(RecordClass, BoundPrefixesNameTheDocumentElementByLocalName) {
    const NamespaceMap bound = {{"m", "urn:m", {}}};
    const std::string reason =
        "a predicate on a step that can match the document element looks at more";
    for (const char* root : {"r", "x:r"}) {
        EXPECT_EQ(RecordModeProblem("/m:r[b]/x", root, bound).substr(0, reason.size()), reason);
        EXPECT_EQ(RecordModeProblem("//m:*[b]", root, bound).substr(0, reason.size()), reason);
        EXPECT_EQ(RecordModeProblem("//m:rec[b]", root, bound), "");
    }
    EXPECT_EQ(RecordModeProblem("/m:r[b]/x", "r"), "");
}

TEST(Namespaces, BoundNamesBecomeTestsOfLocalNameAndNamespace) {
    NamespaceMap bound;
    ASSERT_EQ(AddBinding(bound, {"m", "urn:m", {}}), "");
    ASSERT_EQ(AddBinding(bound, {"q", "urn:'q'", {}}), "");
    const struct {
        const char* given;
        const char* evaluated;
    } cases[] = {
        {"//m:a", "//*[local-name()='a' and namespace-uri()='urn:m']"},
        {"/m:r/child::m:a[2]/@m:*",
         "/*[local-name()='r' and namespace-uri()='urn:m']/child::*[local-name()='a' and "
         "namespace-uri()='urn:m'][2]/@*[namespace-uri()='urn:m']"},
        {"//q:a", "//*[local-name()='a' and namespace-uri()=\"urn:'q'\"]"},
        // Unbound prefixes, literals, functions and variables stay as written.
        {"//x:a[. = 'm:a' and m:f() = $m:v] | //a", "//x:a[. = 'm:a' and m:f() = $m:v] | //a"},
        {"//a[m:b]", "//a[*[local-name()='b' and namespace-uri()='urn:m']]"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ResolvePrefixes(c.given, bound), c.evaluated);
    }
    // Where the document element holds the only declarations, names whose
    // namespace has one prefix there are plain names; the rest stay tests.
    const NamespaceMap declared = {{"", "urn:m", {}}, {"d", "urn:'q'", {}}, {"e", "urn:e", {}}};
    const struct {
        const char* given;
        const char* evaluated;
    } plain[] = {
        {"//m:a/q:b[@q:c]", "//a/d:b[@d:c]"},
        {"//q:*/m:*", "//d:*/*[namespace-uri()='urn:m']"},
        {"//m:a/@m:c", "//a/@*[local-name()='c' and namespace-uri()='urn:m']"},
    };
    for (const auto& c : plain) {
        EXPECT_EQ(ResolvePrefixes(c.given, bound, &declared), c.evaluated);
    }
    const NamespaceMap twice = {{"", "urn:m", {}}, {"n", "urn:m", {}}};
    EXPECT_EQ(ResolvePrefixes("//m:a", bound, &twice),
              "//*[local-name()='a' and namespace-uri()='urn:m']");
    EXPECT_NE(AddBinding(bound, {"m", "urn:other", {}}), "");
    EXPECT_NE(AddBinding(bound, {"xmlns", "urn:x", {}}), "");
    EXPECT_NE(AddBinding(bound, {"a b", "urn:x", {}}), "");
}

std::string RandomBytes(std::mt19937& random, std::size_t count) {
    std::string bytes(count, '\0');
    for (char& byte : bytes) {
        byte = static_cast<char>(random() & 0xFF);
    }
    return bytes;
}

// A generated document of records and one to three usable expressions.
std::pair<std::string, std::vector<std::string>> GeneratedCase(std::mt19937& random) {
    const std::string bytes = RandomBytes(random, 256);
    Choices choose(bytes);
    std::string document = GenerateRecords(choose);
    std::vector<std::string> expressions;
    for (std::size_t count = 1 + choose.Below(3); expressions.size() < count;) {
        std::string expression = GenerateExpression(choose);
        if (ExpressionProblem(expression).empty()) {
            expressions.push_back(std::move(expression));
        }
    }
    return {std::move(document), std::move(expressions)};
}

// Generated documents and expressions, every batch size down to one record,
// with and without --deep and --attributes, and with the p: names bound to
// their namespace under p or another prefix.
TEST(RecordMode, WritesWhatTheWholeDocumentPathWrites) {
    std::mt19937 random(20261207);
    const std::vector<std::size_t> batchSizes = {1, 24, 200, 1 << 20};
    const RedactionSettings settings[] = {
        {false, false}, {true, false}, {false, true}, {true, true}};
    std::size_t ran = 0;
    for (int round = 0; round < 600; ++round) {
        auto [document, expressions] = GeneratedCase(random);
        RedactionSettings chosen = settings[round % 4];
        const char* const prefixes[] = {nullptr, "p", "n"};
        const NamespaceMap bindings = prefixes[round % 3]
                                          ? BindPrefix(prefixes[round % 3], expressions, chosen)
                                          : NamespaceMap{};
        const std::string problem =
            CompareRecordsWithWhole(document, expressions, chosen, batchSizes, &ran, bindings);
        ASSERT_EQ(problem, "") << "document:\n"
                               << document << "\nexpressions:\n"
                               << ::testing::PrintToString(expressions);
    }
    // Most runs must have been record mode's own, not left to the other path.
    EXPECT_GT(ran, 600u);
}

// The same with rules: every action, chosen per expression, gives the same
// bytes and counts record by record as on the whole document (pseudonyms
// included: the same value, the same token, whatever batch or thread).
TEST(RecordMode, ActionsWriteWhatTheWholeDocumentPathWrites) {
    std::mt19937 random(20261208);
    const std::vector<std::size_t> batchSizes = {1, 200, 1 << 20};
    std::size_t ran = 0;
    for (int round = 0; round < 400; ++round) {
        const auto [document, expressions] = GeneratedCase(random);
        std::vector<std::unique_ptr<qiv::redact::RuleAction>> actions;
        RedactionSettings settings;
        settings.plans =
            qiv::redact::ChoosePlans(RandomBytes(random, 3), expressions.size(), actions);
        const std::string problem =
            CompareRecordsWithWhole(document, expressions, settings, batchSizes, &ran);
        ASSERT_EQ(problem, "") << "document:\n"
                               << document << "\nexpressions:\n"
                               << ::testing::PrintToString(expressions);
    }
    EXPECT_GT(ran, 400u);
}

// Found by the records fuzz target: a deep pseudonym rule whose items nest
// (a record and its children), in batches of one record.
TEST(RecordMode, NestedItemsOfADeepRuleGetOneTokenEach) {
    const std::string document =
        "<?xml version=\"1.0\"?>\n<rec a='1'>\n  <rec id=\"0\"/>\n"
        "  <rec id=\"1\"><?pi 0?><![CDATA[Ada<b>]]><notes id='f'>a]]&gt;b<name/></notes>"
        "<b id='f'>&#65;&#x42;<b></b>Ada</b></rec>\n"
        "  <p:rec xmlns:p='u'><rec>a]]&gt;b</rec><email>Bob &amp; Co</email></p:rec>\n</rec>\n";
    qiv::redact::Rule rule;
    rule.action = qiv::redact::Action::Pseudonym;
    const qiv::redact::RuleAction action(rule, "key");
    RedactionSettings settings;
    settings.plans = {{&action, true, false}};
    std::size_t ran = 0;
    EXPECT_EQ(CompareRecordsWithWhole(document, {"(//rec/node())"}, settings, {1, 1 << 20}, &ran),
              "");
    EXPECT_EQ(ran, 2u);
}

RecordRun RunOn(const std::string& text, std::string& output, std::size_t batchBytes = 1) {
    TextSource input(text, 3);
    RecordSettings settings;
    settings.batchBytes = batchBytes;
    std::ostringstream out;
    RecordRun run = RedactRecords(input, "in.xml", {"//name"}, settings, out);
    output = out.str();
    return run;
}

// Counted over every batch, the first placed in the whole input; those in
// comments, CDATA sections and PIs do not count; --strict refuses them only
// once all are counted.
TEST(RecordMode, AmpersandsThatStartNoReferenceAreCountedOverTheBatches) {
    const std::string text =
        "<r k='a&b'>\n<rec><name>&amp;</name><!-- & --></rec>\n<rec t='&'><![CDATA[&]]>"
        "<name>x & y</name><?p & ?></rec>\n<!-- & --></r>";
    for (const std::size_t batchBytes : {std::size_t{1}, std::size_t{1} << 20}) {
        for (const bool strict : {false, true}) {
            TextSource input(text, 5);
            RecordSettings settings;
            settings.batchBytes = batchBytes;
            settings.strict = strict;
            std::ostringstream out;
            const RecordRun run = RedactRecords(input, "in.xml", {"//name"}, settings, out);
            EXPECT_EQ(run.bareAmpersands, 3u);
            EXPECT_EQ(run.bareWhere, " at line 1, column 8 (offset 7)");
            EXPECT_EQ(run.end, strict ? RecordEnd::Failed : RecordEnd::Done);
        }
    }
    // The first one in a later batch is placed from the input's start.
    std::string output;
    const RecordRun run = RunOn("<r>\n<rec><name>a</name></rec>\n<rec>\n x &</rec></r>", output);
    EXPECT_EQ(run.bareWhere, " at line 4, column 4 (offset 39)");
}

TEST(RecordMode, MalformedInputSaysWhereAndWhat) {
    const std::string head = "<?xml version='1.0'?>\n<r>\n<rec><name>a</name></rec>\n";
    const struct {
        std::string text;
        const char* message;
    } cases[] = {
        // The same messages, at the same places, as the whole-document path's.
        {head + "<rec><name>b</name>",
         "Start-end tags mismatch (status EndElementMismatch, 14) "
         "at line 4, column 19 (offset 70)"},
        {head + "<rec><name>b</na", "at line 4, column 15 (offset 66)"},
        {head + "</x>\n",
         "Start-end tags mismatch (status EndElementMismatch, 14) at line 4, "
         "column 3 (offset 54)"},
        {head + "</r>\ntext\n", "it holds text after the document element at line 5, column 1"},
        {head + "</r>\n<r/>", "it holds markup after the document element at line 5"},
        // Of the document element's own name, so that it ends like the
        // document element (found by the redact fuzz target).
        {head + "</r>\t<r><rec/></r>",
         "it holds a second element after the document element at line"},
        {head + "<rec><!-- open",
         "Error parsing comment (status BadComment, 7) at line 4, "
         "column 14 (offset 65)"},
        {head + "<rec><![CDATA[ open", "(status BadCData, 8) at line 4, column 15 (offset 66)"},
        {head + "<rec>a\0b</rec></r>"s, "NUL byte at line 4, column 7 (offset 58)"},
        {head + "</r><!-- \0 -->"s, "NUL byte at line 4, column 10"},
        {head, "Start-end tags mismatch (status EndElementMismatch, 14) at line 3, column 26"},
        {"<r a=1>\n<rec/></r>", "(status BadAttribute, 12) at line 1, column 6 (offset 5)"},
        // After the document element's end tag, and the tag itself.
        {head + "</r>\n<!-- open -\n", "Error parsing comment (status BadComment, 7) at line 5"},
        {head + "</r x>\n", "(status BadEndElement, 13) at line 4, column 5 (offset 56)"},
        {head + "</r>\n<?x\n", "(status BadPi, 6) at line 5"},
        {"<r>\n<rec/><!ELEMENT x>\n</r>", "(status UnrecognizedTag, 5) at line 2, column 9"},
    };
    for (const auto& c : cases) {
        for (const std::size_t batch : {std::size_t{1}, std::size_t{1} << 20}) {
            std::string output;
            const RecordRun run = RunOn(c.text, output, batch);
            EXPECT_EQ(run.end, RecordEnd::Failed) << c.text;
            EXPECT_NE(run.message.find(c.message), std::string::npos)
                << c.text << "\n"
                << run.message << "\n(batches of " << batch << ")";
            EXPECT_NE(run.message.find("cannot parse in.xml"), std::string::npos) << run.message;
        }
    }
}

TEST(RecordMode, LeavesToTheWholeDocumentPathWhatItCannotTake) {
    const struct {
        std::string text;
        std::vector<std::string> expressions;
        const char* reason;
    } cases[] = {
        {"<r><rec><name>a</name></rec></r>", {"//rec[1]/name"}, "'//rec[1]/name': a predicate"},
        {"<r>text<rec/></r>", {"//text()"}, "'//text()' selects text between the records"},
        {"<r a='1'><rec/></r>", {"//@a"}, "'//@a' selects an attribute of the document element"},
        {"<r><rec/></r>", {"/*"}, "'/*' selects the document element"},
        {"<r><rec/></r>", {"/"}, "'/' selects the document node"},
        {"<?xml version='1.0' encoding='ISO-8859-1'?><r><rec/></r>", {"//rec"}, ""},
        {"<r/>", {"//rec"}, ""},
    };
    for (const auto& c : cases) {
        TextSource input(c.text);
        RecordSettings settings;
        std::ostringstream out;
        const RecordRun run = RedactRecords(input, "in.xml", c.expressions, settings, out);
        EXPECT_EQ(run.end, RecordEnd::Whole) << c.text;
        EXPECT_EQ(run.reason.substr(0, std::string(c.reason).size()), c.reason) << c.text;
        EXPECT_EQ(run.reason.empty(), std::string(c.reason).empty()) << run.reason;
    }
    // Before any batch, what was read is handed over for a source that cannot
    // be read again.
    TextSource input("<r><rec><name>a</name></rec></r>");
    std::ostringstream out;
    const RecordRun run = RedactRecords(input, "in.xml", {"//rec[1]"}, RecordSettings{}, out);
    EXPECT_TRUE(run.consumedAll);
    EXPECT_EQ(run.consumed, "<r><rec><name>a</name></rec></r>"s.substr(0, run.consumed.size()));
    EXPECT_GE(run.consumed.size(), 3u);
}

// Markup that holds what looks like a record's end: the scanner must not cut
// inside it.
TEST(RecordMode, CutsOnlyBetweenRecords) {
    const std::string text =
        "<!DOCTYPE r [<!ENTITY e '</r>'> <!-- ]> </r> -->]>\r\n<r x='</r>' y=\"/>\">\r\n"
        "<rec a='>' b=\"/\" c='&gt;'><name>1</name><!-- </rec></r> --></rec>\r\n"
        "<rec><name><![CDATA[</name></rec></r>]]></name><?pi </rec> ?></rec>\r\n"
        "<rec/><rec\r\n/><name>top</name>\r\n</r >\r\n";
    for (const std::size_t batch : {1, 2, 40, 1 << 20}) {
        std::string output;
        const RecordRun run = RunOn(text, output, static_cast<std::size_t>(batch));
        ASSERT_EQ(run.end, RecordEnd::Done) << run.message << run.reason;
        const WholeRun whole = RedactWhole(text, {"//name"}, RedactionSettings{});
        EXPECT_EQ(output, whole.output);
        EXPECT_EQ(run.outcomes[0].redacted, 3u);
    }
}

}  // namespace

namespace {

TEST(ParseFailure, NamesEveryStatusAndPlacesOnlyThoseWithAPlace) {
    const char* const names[] = {"Ok",
                                 "FileNotFound",
                                 "IoError",
                                 "OutOfMemory",
                                 "InternalError",
                                 "UnrecognizedTag",
                                 "BadPi",
                                 "BadComment",
                                 "BadCData",
                                 "BadDoctype",
                                 "BadPCData",
                                 "BadStartElement",
                                 "BadAttribute",
                                 "BadEndElement",
                                 "EndElementMismatch",
                                 "AppendInvalidRoot",
                                 "NoDocumentElement",
                                 "Unmapped"};
    const qiv::redact::TextPosition position{3, 7};
    for (int status = 0; status < static_cast<int>(std::size(names)); ++status) {
        const qiv::LoadResult result{"what", static_cast<qiv::DataParserStatus>(status)};
        const std::string message =
            qiv::redact::DescribeParseFailure("in.xml", result, &position, 42);
        EXPECT_EQ(message.rfind("cannot parse in.xml: what (status " + std::string(names[status]) +
                                    ", " + std::to_string(status) + ")",
                                0),
                  0u)
            << message;
        const bool placed = status >= 5 && status != 17;
        EXPECT_EQ(message.find(" at line 3, column 7 (offset 42)") != std::string::npos, placed)
            << message;
    }
}

}  // namespace
