// The redact fuzz target's judgement (RedactOracle.h) on outputs whose
// verdict is known: faulty ones that the tool has written must be caught,
// and correct ones, including the unusual but allowed, must pass. Prints
// "N passed, N failed" and fails when any case does.

#include <cstdio>
#include <string>
#include <vector>

#include "RedactOracle.h"

namespace {

using qiv::fuzz::OutputProblem;
using qiv::fuzz::RedactRequest;

struct Case {
    const char* name;
    std::string source;
    std::string output;
    RedactRequest request;
    const char* expected;  // part of the problem; empty: none
};

std::string Nested(std::size_t depth, const std::string& inner) {
    std::string text;
    for (std::size_t level = 0; level < depth; ++level) {
        text += "<a>";
    }
    text += inner;
    for (std::size_t level = 0; level < depth; ++level) {
        text += "</a>";
    }
    return text;
}

std::string Utf16Le(const std::string& text) {
    std::string wide = "\xFF\xFE";
    for (const char c : text) {
        wide += c;
        wide += '\0';
    }
    return wide;
}

const std::string nul(1, '\0');
const std::string latin1Padded =
    "<?xml version=\"1.0\"" + std::string(4100, ' ') + " encoding=\"ISO-8859-1\"?><r><a>x</a></r>";

const RedactRequest byA{{"//a"}, false, false};

std::vector<Case> Cases() {
    return {
        // Faulty outputs.
        {"empty document for a document", latin1Padded, "<?xml version=\"1.0\"?>\n", byA,
         "no document element"},
        {"bytes after a NUL copied", "<r><a>x</a></r>" + nul + "<a>secret</a>",
         "<r><a>redacted</a></r>" + nul + "<a>secret</a>", byA, "NUL byte"},
        {"bytes after a NUL copied, not UTF-8", "<r><a>x</a></r>" + nul + "\xFF<a>y</a>",
         "<r><a>redacted</a></r>" + nul + "\xFF<a>y</a>", byA, "NUL byte"},
        {"text after a NUL copied without the NUL", "<r><a>x</a></r>" + nul + "<!--secret-->",
         "<r><a>redacted</a></r><!--secret-->", byA, "only follows a NUL"},
        {"text after the document element",
         "<r><a>x</a></r>",
         "<?xml version=\"1.0\"?>\n<r>\n\t<a>x</a>\n</r>redacted",
         {{"/"}, false, false},
         "text beside the document element"},
        {"second document element", "<r><a>x</a></r>" + nul + "<a>y</a>",
         "<r><a>redacted</a></r><a>redacted</a>", byA, "second top-level element"},
        {"DOCTYPE after the document element", "<r><a>x</a></r>",
         "<r><a>redacted</a></r><!DOCTYPE r>", byA, "DOCTYPE after"},
        {"an input with text beside its element written as nothing", "<r><a>x</a></r>junk",
         "<?xml version=\"1.0\"?>", byA, "no document element"},
        {"8-bit encoding undeclared",
         "<?xml version=\"1.0\" encoding=\"windows-1252\"?><r><a>x</a><b>\x80</b></r>",
         "<?xml version=\"1.0\"?>\n<r>\n\t<a>redacted</a>\n\t<b>\x80</b>\n</r>\n", byA,
         "declares no encoding"},
        {"unknown Latin-1 alias undeclared",
         "<?xml version=\"1.0\" encoding=\"ISO_8859-1\"?><r><a>x</a></r>",
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?><r><a>redacted</a></r>", byA, "declares UTF-8"},
        {"entity reference made text", "<!DOCTYPE r [<!ENTITY co \"C\">]><r><a>x</a>&co;</r>",
         "<?xml version=\"1.0\"?>\n<r>\n\t<a>redacted</a>&amp;co;</r>\n", byA, "became the text"},
        {"UTF-8 cut inside a character", "<r><a>x</a><b>\xC3\xA9</b></r>",
         "<r><a>redacted</a><b>\xC3</b></r>", byA, "not valid UTF-8"},
        {"selected value kept", "<r><a>secret</a></r>", "<r><a>secret</a></r>", byA,
         "\"secret\" is still"},
        {"selected value kept in a nested element", Nested(3000, "secret"),
         Nested(2999, "<a>secret</a>"), byA, "\"secret\" is still"},
        {"deep: a text below a selected element kept",
         "<r><a>one<b>deeper</b></a></r>",
         "<r><a>redacted<b>deeper</b></a></r>",
         {{"//a"}, true, false},
         "\"deeper\" is still"},
        {"selected attribute kept",
         "<r a=\"secret\"/>",
         "<r a=\"secret\"/>",
         {{"//@a"}, false, true},
         "\"secret\" is still"},
        {"unselected value lost", "<r><a>x</a><b>keep</b></r>",
         "<r><a>redacted</a><b>redacted</b></r>", byA, "\"keep\", which nothing selected"},

        // Correct outputs.
        {"spliced", "<r><a>secret</a><b>keep</b></r>", "<r><a>redacted</a><b>keep</b></r>", byA,
         ""},
        {"comments and processing instructions after the document element",
         "<r><a>x</a></r><!--c--><?p q?>\n", "<r><a>redacted</a></r><!--c--><?p q?>\n", byA, ""},
        {"cut at the NUL", "<r><a>x</a></r>" + nul + "<a>secret</a>", "<r><a>redacted</a></r>", byA,
         ""},
        {"Latin-1 written anew as UTF-8",
         "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r><a>x</a><b>\xE9t\xE9</b></r>",
         "<?xml version=\"1.0\"?>\n<r>\n\t<a>redacted</a>\n\t<b>\xC3\xA9t\xC3\xA9</b>\n</r>\n", byA,
         ""},
        {"8-bit encoding declared again",
         "<?xml version=\"1.0\" encoding=\"windows-1252\"?><r><a>x</a><b>\x80</b></r>",
         "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\n<r>\n\t<a>redacted</a>\n\t<b>\x80</b>"
         "\n</r>\n",
         byA, ""},
        {"UTF-16 written anew as UTF-8", Utf16Le("<r><a>secret</a><b>keep</b></r>"),
         "<?xml version=\"1.0\"?>\n<r>\n\t<a>redacted</a>\n\t<b>keep</b>\n</r>\n", byA, ""},
        {"document node selected: its element's text",
         "<r>secret<a>x</a></r>",
         "<r>redacted<a>x</a></r>",
         {{"/"}, false, false},
         ""},
        {"document node selected: every top-level element's text",
         "<r>one</r><s>secret</s>",
         "<r>redacted</r><s>redacted</s>",
         {{"/"}, false, false},
         ""},
        {"document node selected: a second top-level element's text kept",
         "<r>one</r><s>secret</s>",
         "<r>redacted</r><s>secret</s>",
         {{"/"}, false, false},
         "\"secret\" is still"},
        {"not deep: a text below a selected element stays", "<r><a>one<b>deeper</b></a></r>",
         "<r><a>redacted<b>deeper</b></a></r>", byA, ""},
        {"attribute not redacted without --attributes",
         "<r a=\"keep\"/>",
         "<r a=\"keep\"/>",
         {{"//@a"}, false, false},
         ""},
        {"a selected token also in a comment", "<r><a>secret</a><!--secret--></r>",
         "<r><a>redacted</a><!--secret--></r>", byA, ""},
        {"a selected token spelled by a character reference", "<r><a>&#115;ecret</a>secret</r>",
         "<r><a>redacted</a>secret</r>", byA, ""},
        {"text beside the element of the input kept", "<r><a>x</a></r>junk<b/>",
         "<r><a>redacted</a></r>junk<b/>", byA, ""},
        {"text beside the element of the input kept, strictly",
         "<r><a>x</a></r>junk<b/>",
         "<r><a>redacted</a></r>junk<b/>",
         {{"//a"}, false, false, false, true},
         "text beside"},
        {"entity reference made text when written anew on request",
         "<!DOCTYPE r [<!ENTITY co \"C\">]><r><a>x</a>&co;</r>",
         "<?xml version=\"1.0\"?>\n<r>\n\t<a>redacted</a>&amp;co;</r>\n",
         {{"//a"}, false, false, true},
         ""},
        {"escaped ampersand stays escaped", "<r><a>x</a>&amp;co;</r>",
         "<r><a>redacted</a>&amp;co;</r>", byA, ""},
        {"value of another expression gone",
         "<r><a>x</a><b>gone</b></r>",
         "<r><a>redacted</a><b>redacted</b></r>",
         {{"//a", "//b[1]"}, false, false},
         ""},
        {"deeply nested, every level selected",
         Nested(20000, "secret"),
         Nested(20000, "redacted"),
         {{"//a"}, true, false},
         ""},
    };
}

// The encoding a reader takes from the start of a text, as pugixml finds it.
struct EncodingCase {
    const char* name;
    std::string text;
    const char* declared;
    bool wide;
};

std::vector<EncodingCase> EncodingCases() {
    return {
        {"double quotes", "<?xml version=\"1.0\" encoding=\"windows-1252\"?><r/>", "windows-1252",
         false},
        {"single quotes and blanks", "<?xml version='1.0' encoding = 'latin1' ?><r/>", "latin1",
         false},
        {"past 4 KiB", latin1Padded, "ISO-8859-1", false},
        {"after standalone", "<?xml version='1.0' standalone='yes' encoding='US-ASCII'?>",
         "US-ASCII", false},
        {"only in the declaration", "<?xml version=\"1.0\"?><r encoding=\"latin1\"/>", "", false},
        {"not a declaration", "<?xml-stylesheet encoding=\"latin1\"?><r/>", "", false},
        {"not at the start", " <?xml version=\"1.0\" encoding=\"latin1\"?><r/>", "", false},
        {"a UTF-8 byte order mark wins",
         "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"latin1\"?><r/>", "", false},
        {"UTF-16 by its byte order mark", Utf16Le("<r/>"), "", true},
        {"UTF-16 by its first character", std::string("<\0r\0/\0>\0", 8), "", true},
    };
}

}  // namespace

int main() {
    std::size_t passed = 0;
    std::size_t failed = 0;
    for (const EncodingCase& test : EncodingCases()) {
        const qiv::fuzz::Sniffed sniffed = qiv::fuzz::Sniff(test.text);
        if (sniffed.declared == test.declared && sniffed.wide == test.wide) {
            ++passed;
        } else {
            ++failed;
            std::printf("FAILED: encoding %s: got \"%s\"%s\n", test.name, sniffed.declared.c_str(),
                        sniffed.wide ? ", wide" : "");
        }
    }
    for (const Case& test : Cases()) {
        const std::string problem = OutputProblem(test.source, test.output, test.request);
        const std::string expected = test.expected;
        const bool ok =
            expected.empty() ? problem.empty() : problem.find(expected) != std::string::npos;
        if (ok) {
            ++passed;
        } else {
            ++failed;
            std::printf("FAILED: %s\n  expected: %s\n  got: %s\n", test.name,
                        expected.empty() ? "(no problem)" : expected.c_str(),
                        problem.empty() ? "(no problem)" : problem.c_str());
        }
    }
    std::printf("%zu passed, %zu failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
