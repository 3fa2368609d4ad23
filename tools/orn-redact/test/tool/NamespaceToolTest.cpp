// Names with a bound prefix select by namespace, whatever prefix the document
// uses, on both routes; an expression that selects nothing says where its
// names are.
#include <string>
#include <vector>

#include "RedactToolFixture.h"

namespace redact_tool_test {
namespace {

// Two namespaces, one of them the default, and a prefix no expression uses.
const std::string document =
    "<x:list xmlns:x=\"urn:l\" xmlns=\"urn:d\">\n"
    "  <x:rec x:id=\"1\" id=\"a\"><name>Ann</name><x:name>Bo</x:name></x:rec>\n"
    "  <x:rec x:id=\"2\"><name>Cy</name></x:rec>\n"
    "</x:list>\n";

// The document with the values named (each with the character before and
// after it) changed to "redacted".
std::string With(std::vector<std::string> values) {
    std::string text = document;
    for (const std::string& value : values) {
        const std::size_t at = text.find(value);
        text.replace(at + 1, value.size() - 2, "redacted");
    }
    return text;
}

TEST_F(RedactTool, BoundPrefixesSelectByNamespaceOnEveryRoute) {
    const struct {
        std::vector<std::string> arguments;
        std::string expected;
    } cases[] = {
        // The default namespace, under a prefix of the user's.
        {{"-N", "d=urn:d", "//d:name"}, With({">Ann<", ">Cy<"})},
        // Another prefix than the document's, in a path and a predicate.
        {{"--namespace=q=urn:l", "/q:list/q:rec[@q:id='1']/q:name"}, With({">Bo<"})},
        {{"-N", "q=urn:l", "--attributes", "//q:rec/@q:*"}, With({"\"1\"", "\"2\""})},
        // Unbound names keep their literal meaning.
        {{"//name", "--attributes", "//@id"}, With({">Ann<", ">Cy<", "\"a\""})},
        {{"//x:name"}, With({">Bo<"})},
    };
    WriteFile(Path("in.xml"), document);
    for (const auto& c : cases) {
        for (const char* route : {"--records", "--whole"}) {
            SCOPED_TRACE(c.arguments.back() + " " + route);
            std::vector<std::string> arguments = c.arguments;
            arguments.insert(arguments.end(), {route, "-i", Path("in.xml")});
            const Outcome result = Run(arguments);
            ExpectExit(result, 0);
            EXPECT_EQ(result.out, c.expected);
            EXPECT_THAT(result.err, Not(HasSubstr("warning")));
        }
    }
}

// A record that declares a namespace of its own changes what its names mean.
TEST_F(RedactTool, DeclarationsInsideRecordsAreHonoured) {
    const std::string redeclared =
        "<r xmlns=\"urn:d\"><rec><name>A</name></rec><rec xmlns=\"urn:e\"><name>B</name>"
        "</rec><d:rec xmlns:d=\"urn:d\"><d:name>C</d:name></d:rec></r>";
    WriteFile(Path("in.xml"), redeclared);
    for (const char* route : {"--records", "--whole"}) {
        const Outcome result = Run({"-N", "d=urn:d", "//d:name", route, "-i", Path("in.xml")});
        ExpectExit(result, 0);
        EXPECT_EQ(result.out,
                  "<r xmlns=\"urn:d\"><rec><name>redacted</name></rec><rec xmlns=\"urn:e\"><name>B"
                  "</name></rec><d:rec xmlns:d=\"urn:d\"><d:name>redacted</d:name></d:rec></r>");
    }
}

TEST_F(RedactTool, NamesMissedForTheirPrefixAreNamed) {
    WriteFile(Path("in.xml"), document);
    const struct {
        std::vector<std::string> arguments;
        std::string message;
    } cases[] = {
        {{"//rec"},
         "'//rec' selected nothing, but the document has 2 elements 'x:rec' in "
         "namespace 'urn:l'; bind a prefix to the namespace to select them "
         "(-N p=urn:l and p:rec)"},
        {{"-N", "z=urn:z", "//z:name"},
         "'//z:name' selected nothing, but the document has 2 elements 'name' in namespace "
         "'urn:d', 1 element 'x:name' in namespace 'urn:l'; bind a prefix to the namespace to "
         "select them (-N z=urn:d and z:name)"},
        {{"-N", "z=urn:d", "//@z:id"},
         "'//@z:id' selected nothing, but the document has 2 attributes 'x:id' in namespace "
         "'urn:l', 1 attribute 'id' in no namespace; bind a prefix to the namespace to select "
         "them (-N z=urn:l and @z:id)"},
    };
    for (const auto& c : cases) {
        for (const char* route : {"--records", "--whole"}) {
            SCOPED_TRACE(c.arguments.back() + " " + route);
            std::vector<std::string> arguments = c.arguments;
            arguments.insert(arguments.end(), {route, "-i", Path("in.xml")});
            const Outcome result = Run(arguments);
            ExpectExit(result, 4, {"warning: " + c.message});
            EXPECT_EQ(result.out, document);
        }
    }
    // Found under its own name, it is not a namespace miss.
    EXPECT_THAT(Run({"//x:rec[@x:id='9']", "-i", Path("in.xml")}).err, Not(HasSubstr("warning")));
}

TEST_F(RedactTool, RulesFilesBindPrefixesToo) {
    WriteFile(Path("in.xml"), document);
    WriteFile(Path("rules.yaml"),
              "namespaces:\n  l: urn:l\nrules:\n  - select: //l:name\n    action: redact\n");
    Outcome result = Run({"--rules", Path("rules.yaml"), "-i", Path("in.xml")});
    ExpectExit(result, 0);
    EXPECT_EQ(result.out, With({">Bo<"}));
    // One prefix, two namespaces: refused before anything is read.
    result = Run({"--rules", Path("rules.yaml"), "-N", "l=urn:d", "-i", Path("in.xml")});
    ExpectExit(result, 2, {"option -N l=urn:d: the prefix 'l' is bound to 'urn:l' already ("});
    EXPECT_EQ(result.out, "");
    ExpectExit(Run({"-N", "1x=urn:d", "//a"}), 2, {"'1x' is not a namespace prefix"});
    ExpectExit(Run({"-N", "urn:d", "//a"}), 2, {"needs PREFIX=URI"});
}

}  // namespace
}  // namespace redact_tool_test
