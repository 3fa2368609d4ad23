#include "OutputAudit.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <pugixml.hpp>

namespace qiv::redact {
namespace {

// The shape of a document as the routes take it from the parsed document.
ElementShape ShapeOf(const std::string& document) {
    pugi::xml_document parsed;
    parsed.load_string(document.c_str());
    ElementShape shape;
    for (pugi::xml_node top = parsed.first_child(); top; top = top.next_sibling()) {
        if (top.type() == pugi::node_element) {
            AddElementShape(top, shape);
        }
    }
    return shape;
}

std::string Replaced(std::string text, std::size_t at, const std::string& with) {
    return text.replace(at, 6, with);
}

OutputAuditResult Audit(const std::string& output, const AuditTrail& trail,
                        std::size_t piece = 1 << 16) {
    TextSource source(output, piece);
    return AuditOutput(source, trail);
}

struct Malformed {
    const char* output;
    const char* problem;  // how the problem starts
};

TEST(OutputAudit, FindsWhatIsNotWellFormed) {
    const Malformed rows[] = {
        {"<r>\n<a></b></r>", "the end tag </b> where </a> is due at line 2, column 4 (offset 7)"},
        {"<r a='1' a='2'/>", "the attribute a twice in one tag"},
        {"<r a=1/>", "an attribute value without quotes"},
        {"<r a='<'/>", "a '<' in an attribute value"},
        {"<r b='x'c='y'/>", "an attribute not set off by a blank"},
        {"<r>a & b</r>", "a '&' that starts no reference"},
        {"<r>&#xZZ;</r>", "a '&' that starts no reference"},
        {"<r>]]></r>", "\"]]>\" in a text"},
        {"<r><!-- a -- b --></r>", "\"--\" inside a comment"},
        {"<r/>text", "text outside the document element"},
        {"<r/><r/>", "a second element after the document element"},
        {"<r><a>", "the output ends before the end tag of its document element"},
        {"<!-- open", "the output ends inside markup"},
        {"<r><!-- open", "the output ends before the end tag of its document element"},
        {"<![CDATA[x]]><r/>", "a CDATA section outside the document element"},
        {"<r/><?xml version='1.0'?>", "an XML declaration that is not at the start"},
        {"<r/><!DOCTYPE r>", "a DOCTYPE that is not in the prolog"},
        {"<r></r></r>", "an end tag without its start tag"},
        {"  ", "the output holds no document element"},
    };
    for (const Malformed& row : rows) {
        const OutputAuditResult result = Audit(row.output, {});
        EXPECT_EQ(result.problem.rfind(row.problem, 0), 0u) << row.output << ": " << result.problem;
    }
}

TEST(OutputAudit, ComparesTheElementsWithTheRedactedDocument) {
    AuditTrail trail;
    trail.shape = ShapeOf("<r><a><b/></a><c/></r>");
    EXPECT_EQ(Audit("<?xml version='1.0'?><r><a><b></b></a><c/></r>", trail).problem, "");
    for (const char* other :
         {"<r><a/><b/><c/></r>", "<r><a><b/></a><d/></r>", "<r><a><b/></a></r>"}) {
        EXPECT_EQ(Audit(other, trail).problem.rfind("its elements are not those", 0), 0u) << other;
    }
}

// A value one rule wrote is not what another left behind, and neither are
// the words of a value a rule wrote.
TEST(OutputAudit, LeavesWhatRulesWroteAlone) {
    AuditTrail trail;
    trail.changed.Add("Ada King", "Bob", 0);
    trail.changed.Add("Bob", "redacted", 1);
    trail.changed.Add("Clarke", "Clarke Kent", 2);
    const std::string output = "<r><a>Bob</a><b>Clarke Kent</b><c>call Clarke</c></r>";
    trail.shape = ShapeOf(output);
    const OutputAuditResult result = Audit(output, trail);
    EXPECT_EQ(result.leftovers, 1u);
    ASSERT_EQ(result.shown.size(), 1u);
    EXPECT_EQ(result.shown[0].offset, output.find("Clarke</c>"));
}

// A large output is audited in two halves at once: whatever the second half
// holds, the result is the one of a single pass.
TEST(OutputAudit, TwoHalvesFindWhatOnePassFinds) {
    std::string clean = "<?xml version=\"1.0\"?>\n<r>\n";
    for (int index = 0; clean.size() < (10u << 20); ++index) {
        clean += "  <p id=\"" + std::to_string(index) + "\"><n>someone</n><c>a note</c></p>\n";
    }
    const std::string tail = "</r>\n";
    const std::size_t late = clean.rfind("  <p", clean.size() * 3 / 4);
    const std::size_t middle = clean.rfind("  <p", clean.size() / 2);
    const std::string comment = "<!-- " + std::string(200000, '<') + " -->";
    struct Variant {
        const char* name;
        std::string output;
    };
    const Variant variants[] = {
        {"clean", clean + tail},
        {"leftovers", Replaced(Replaced(clean, clean.find("a note", late), "call Lovelace"),
                               clean.find("a note"), "Lovelace") +
                          tail},
        {"wrong end tag", clean.substr(0, late) + "<p><n></c></p>" + clean.substr(late) + tail},
        {"document element ends early", clean.substr(0, late) + "</r>" + clean.substr(late) + tail},
        {"text after it", clean + tail + "text"},
        {"no end tag", clean},
        {"comment across the middle",
         clean.substr(0, middle) + comment + clean.substr(middle) + tail},
    };
    AuditTrail trail;
    trail.changed.Add("Lovelace", "redacted", 0);
    trail.changed.Seal();
    trail.shape = ShapeOf(clean + tail);
    char folder[] = "/tmp/orn-audit-test.XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string path = std::string(folder) + "/out.xml";
    for (const Variant& variant : variants) {
        std::ofstream(path, std::ios::binary) << variant.output;
        const OutputAuditResult halves = AuditFile(path, trail);
        const OutputAuditResult once = Audit(variant.output, trail, 1 << 20);
        EXPECT_EQ(halves.error, "") << variant.name;
        EXPECT_EQ(halves.problem, once.problem) << variant.name;
        EXPECT_EQ(halves.leftovers, once.leftovers) << variant.name;
        ASSERT_EQ(halves.shown.size(), once.shown.size()) << variant.name;
        for (std::size_t at = 0; at < once.shown.size(); ++at) {
            EXPECT_EQ(halves.shown[at].offset, once.shown[at].offset) << variant.name;
            EXPECT_EQ(halves.shown[at].position.line, once.shown[at].position.line);
            EXPECT_EQ(halves.shown[at].position.column, once.shown[at].position.column);
        }
        const std::string name = variant.name;
        EXPECT_EQ(once.problem.empty(),
                  name == "clean" || name == "leftovers" || name == "comment across the middle")
            << variant.name << ": " << once.problem;
    }
    std::remove(path.c_str());
    ::rmdir(folder);
}

// The filter a sealed set asks first lets every noted value through, also
// those merged in after it was sealed.
TEST(ChangedValues, FindsEveryValueNotedBeforeAndAfterSealing) {
    ChangedValues values;
    ChangedValues later;
    for (int index = 0; index < 5000; ++index) {
        values.Add("value " + std::to_string(index), "x", 1);
        later.Add("later " + std::to_string(index), "x", 2);
    }
    values.Seal();
    std::size_t strangers = 0;
    for (int index = 0; index < 5000; ++index) {
        ASSERT_EQ(values.Find("value " + std::to_string(index)), 1u) << index;
        strangers += values.Find("other " + std::to_string(index)) != ChangedValues::notFound;
    }
    EXPECT_EQ(strangers, 0u);
    values.Merge(later);
    EXPECT_EQ(values.Find("later 4999"), 2u);
    EXPECT_EQ(values.Find("value 0"), 1u);
}

TEST(ElementShape, PartsAppendedInOrderMakeTheWhole) {
    ElementShape whole = ShapeOf("<r><a><b/></a><c/></r>");
    ElementShape parts;
    parts.Open("r");
    ElementShape records = ShapeOf("<a><b/></a>");
    records.Append(ShapeOf("<c/>"));
    parts.Append(records);
    parts.Close();
    EXPECT_EQ(parts, whole);
    ElementShape swapped;
    swapped.Open("r");
    swapped.Append(ShapeOf("<c/>"));
    swapped.Append(ShapeOf("<a><b/></a>"));
    swapped.Close();
    EXPECT_NE(swapped, whole);
}

}  // namespace
}  // namespace qiv::redact
