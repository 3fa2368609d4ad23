// The markup scanner every route shares, and positions in messages.
#include <cstddef>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Encoding.h"
#include "Markup.h"
#include "Position.h"

namespace {

using namespace qiv::redact;

TEST(Position, EndOfCountsAsPositionOfDoes) {
    // Lines and UTF-8 characters across the word boundaries of the fast count.
    const std::string pieces[] = {"a",   "\n",  "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80",
                                  "<b>", "\r\n"};
    std::mt19937 random(7);
    for (int round = 0; round < 400; ++round) {
        std::string text;
        const int count = static_cast<int>(random() % 40);
        for (int index = 0; index < count; ++index) {
            text += pieces[random() % std::size(pieces)];
        }
        const TextPosition slow = PositionOf(text, text.size());
        const TextPosition fast = EndOf(text);
        ASSERT_EQ(fast.line, slow.line) << text;
        ASSERT_EQ(fast.column, slow.column) << text;
        // Advancing over two parts gives the position over the whole.
        const std::size_t split = text.empty() ? 0 : random() % text.size();
        const TextPosition joined =
            Advance(EndOf(text.substr(0, split)), EndOf(text.substr(split)));
        ASSERT_EQ(joined.line, slow.line) << text << " split at " << split;
        ASSERT_EQ(joined.column, slow.column) << text << " split at " << split;
    }
    EXPECT_EQ(At("ab\n\xC3\xA9x", 6), " at line 2, column 3 (offset 6)");
}

TEST(Markup, WhatStandsOutsideTheDocumentElement) {
    struct Case {
        const char* text;
        const char* what;  // empty: nothing
        std::size_t offset;
    } const cases[] = {
        {"<r/>", "", 0},
        {"\xEF\xBB\xBF<?xml version='1.0'?>\n<!-- c --><r>x</r>\n<?pi?>\n", "", 0},
        {"<!DOCTYPE r [<!ENTITY e '>'><!-- ] > --><?pi ]> ?>]><r/>", "", 0},
        {"x<r/>", "text before the document element", 0},
        {"<r/>x", "text after the document element", 4},
        {"<r a='>'>t</r> <![CDATA[c]]>", "a CDATA section after the document element", 15},
        {"<r><r/></r><r/>", "markup after the document element", 11},
        {"<r>x</r><!-- c --> y", "text after the document element", 19},
        {"<r><a>x</a></r></b>", "markup after the document element", 15},
        {"<r><!-- </r> --></r>", "", 0},
        {"<r>unclosed", "", 0},
    };
    for (const Case& c : cases) {
        std::size_t offset = 0;
        EXPECT_EQ(TopLevelExtra(c.text, offset), c.what) << c.text;
        if (*c.what != '\0') {
            EXPECT_EQ(offset, c.offset) << c.text;
        }
    }
}

TEST(Markup, DocumentStartIsFoundOnlyWhenWhole) {
    struct Case {
        const char* text;
        Prolog expected;
        const char* name;
    } const cases[] = {
        {"<?xml version='1.0'?><!DOCTYPE r [<!ENTITY e '<x>'>]><r a='/>'>", Prolog::Found, "r"},
        {"<!DOCTYPE r [<?pi ]> ?>]><rec:s/>\n<!-- end -->", Prolog::Found, "rec:s"},
        // The internal subset by its grammar: literals, comments and PIs may
        // hold "]>", '>', '[' and the other quote; parameter entities.
        {"<!DOCTYPE r PUBLIC \"-//a]>[\" 'b>'[<!ENTITY % p \"<!ELEMENT a (b)*>\"> %p;"
         "<!ATTLIST r a CDATA \"]>\" b CDATA '\"'><!-- it's ]> --><?pi a \"]> ?>]><r>\n<a/>\n",
         Prolog::Found, "r"},
        {"<!DOCTYPE r [<!ENTITY e SYSTEM 'x]>.dtd' NDATA n>]  >\n<doc x='1'>", Prolog::Found,
         "doc"},
        {"<r/>", Prolog::More, ""},  // too short to tell yet
        {"<!-- not closed", Prolog::More, ""},
        {"<!DOCT", Prolog::More, ""},
        {"<r a='>", Prolog::More, ""},
        {"text <r/>", Prolog::Other, ""},
        {"</r>      ", Prolog::Other, ""},
    };
    for (const Case& c : cases) {
        std::size_t end = 0;
        std::string name;
        bool empty = false;
        EXPECT_EQ(FindDocumentStart(c.text, end, name, empty), c.expected) << c.text;
        if (c.expected == Prolog::Found) {
            EXPECT_EQ(name, c.name);
            EXPECT_EQ(std::string(c.text).substr(end - 1, 1), ">");
        }
    }
}

// Only internal general entities of the internal subset: each as "name=value".
TEST(Markup, InternalEntitiesAreFoundInTheSubsetOnly) {
    struct Case {
        const char* text;
        std::vector<std::string> expected;
    } const cases[] = {
        {"<?xml version='1.0'?>\n<!-- <!DOCTYPE x [<!ENTITY c 'no'>]> -->\n"
         "<!DOCTYPE r [\n <!ENTITY a \"1 '>' 2\">\t<!ENTITY\nb\n'x\"y'>]><r>&a;</r>",
         {"a=1 '>' 2", "b=x\"y"}},
        {"<!DOCTYPE r [<!ENTITY % p 'no'><!ENTITY e SYSTEM 'e.xml'>"
         "<!ENTITY f PUBLIC 'id' 'f.xml'><!-- <!ENTITY c 'no'> --><?pi <!ENTITY d 'no'>?>"
         "<!ATTLIST r a CDATA '<!ENTITY g \"no\">'><!ENTITY h ''>]><r/>",
         {"h="}},
        {"<!DOCTYPE r SYSTEM 'r.dtd'><r>&a;</r>", {}},
        {"<r><!DOCTYPE r [<!ENTITY a 'no'>]></r>", {}},  // not a prolog
        {"<!DOCTYPE r [<!ENTITY a 'cut", {}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> found;
        for (const EntityDeclaration& entity : InternalEntities(c.text)) {
            const std::string text = c.text;
            EXPECT_EQ(text.compare(entity.declaration, 8, "<!ENTITY"), 0) << c.text;
            found.push_back(entity.name + "=" +
                            text.substr(entity.valueBegin, entity.valueEnd - entity.valueBegin));
        }
        EXPECT_EQ(found, c.expected) << c.text;
    }
}

TEST(Markup, ContentIsCutOnlyBetweenRecords) {
    const std::string text = "<a x='</r>'>1</a><!-- <b> --><a><![CDATA[</r>]]></a><?p </r>?></r>";
    std::size_t at = 0, depth = 0;
    // Each cut lands after a whole record, never inside a quoted value,
    // comment, CDATA section or PI.
    EXPECT_EQ(ScanContent(text, at, depth, 1, "r", true), Scan::Cut);
    EXPECT_EQ(text.substr(0, at), "<a x='</r>'>1</a>");
    EXPECT_EQ(ScanContent(text, at, depth, 1, "r", true), Scan::Cut);
    EXPECT_EQ(text.substr(at - 12, 12), "<!-- <b> -->");
    EXPECT_EQ(ScanContent(text, at, depth, 1, "r", true), Scan::Cut);
    EXPECT_EQ(ScanContent(text, at, depth, 1, "r", true), Scan::Cut);
    EXPECT_EQ(ScanContent(text, at, depth, 1, "r", true), Scan::End);
    EXPECT_EQ(text.substr(at), "</r>");
    std::size_t from = 0;
    EXPECT_EQ(ScanContent("<a>1</a", from, depth, 100, "r", false), Scan::More);
}

// Only an '&' in text or an attribute value that starts no reference counts;
// '&' in comments, CDATA sections, PIs and the DOCTYPE do not.
TEST(Markup, AmpersandsThatStartNoReferenceAreFoundInTextAndValues) {
    const struct {
        const char* text;
        std::uint64_t count;
        std::size_t first;
    } cases[] = {
        {"<r a='&amp;&#38;&#x26;&e.x-1;&_:\xC3\xA9;'>&lt;</r>", 0, 0},
        {"<r>A & B</r>", 1, 5},
        {"<r a=\"x&y\" b='&#;'>&#x;&#12a;&1a;&a b;&</r>", 7, 7},
        {"<!DOCTYPE r [<!ENTITY e '& ]>'>]><r><!-- & --><![CDATA[&]]><?p & ?></r>", 0, 0},
        {"<?xml version='1.0'?><r><a x='>' y=\"'&\"/>&amp</r>", 2, 37},
        {"<r>&amp; <!-- & --> & <![CDATA[ & ]]></r>", 1, 20},
    };
    for (const auto& c : cases) {
        const std::string_view text = c.text;
        BareAmpersands found;
        FindBareAmpersands(text, 0, text.size(), found);
        EXPECT_EQ(found.count, c.count) << text;
        if (c.count > 0) {
            EXPECT_EQ(found.first, c.first) << text;
        }
    }
}

TEST(Markup, NulIsFoundByCodeUnit) {
    EXPECT_EQ(NulOffset(std::string("ab\0c", 4)), 2u);
    // UTF-16: a zero byte is half of most characters; only a zero unit counts.
    EXPECT_EQ(NulOffset(std::string("<\0a\0\0\0", 6), 2), 4u);
    EXPECT_EQ(NulOffset(std::string("<\0a\0", 4), 2), none);
    EXPECT_EQ(CodeUnit(std::string("<\0r\0", 4)), 2u);
    EXPECT_EQ(CodeUnit("<?xml version='1.0' encoding='ISO-8859-1'?>"), 1u);
}

TEST(Encoding, TheDeclaredEncodingIsReadAsTheParserReadsIt) {
    struct Case {
        const char* head;
        const char* converted;  // the encoding the parser converts from, if any
    } const cases[] = {
        {"<?xml version='1.0' encoding='ISO-8859-1'?><r/>", "Latin-1"},
        {"<?xml version=\"1.0\" encoding = \"latin1\"?><r/>", "Latin-1"},
        {"<?xml version='1.0' encoding='UTF-8'?><r/>", ""},
        // The parser takes a name only with its closing quote right after it.
        {"<?xml encoding=\"latin1<x\"?><r/>", ""},
        {"<?xml encoding='latin1\"?><r/>", ""},
        // The first "en" must start "encoding".
        {"<?xml x='en' encoding='latin1'?><r/>", ""},
        {"<?xml version='1.0' standalone='yes' encoding='latin1'?><r/>", "Latin-1"},
        {"<?xml version='1.0'?><r a='encoding=\"latin1\"'/>", ""},
        {"\xEF\xBB\xBF<?xml encoding='latin1'?><r/>", ""},
        {"<\0r\0", "UTF-16LE"},
    };
    for (const Case& c : cases) {
        const std::string head = std::string(
            c.head, std::char_traits<char>::length(c.head) + (c.head[1] == '\0' ? 3 : 0));
        EXPECT_EQ(ConvertedEncoding(head), c.converted) << head;
    }
}

TEST(Encoding, CharsetsComeFromTheDeclarationAsTheParserReadsIt) {
    struct Case {
        const char* head;
        Charset values;
        Charset output;
    } const cases[] = {
        {"<?xml version='1.0' encoding='windows-1252'?>", Charset::Windows1252,
         Charset::Windows1252},
        {"<?xml version='1.0' encoding='Latin-9'?>", Charset::Latin9, Charset::Latin9},
        // The parser converts these names of Latin-1 to UTF-8, but not others.
        {"<?xml version='1.0' encoding='latin1'?>", Charset::Utf8, Charset::Latin1},
        {"<?xml version='1.0' encoding='ISO_8859-1'?>", Charset::Latin1, Charset::Latin1},
        {"<?xml version='1.0' encoding='us-ascii'?>", Charset::Utf8, Charset::Ascii},
        {"\xEF\xBB\xBF<?xml version='1.0' encoding='windows-1252'?>", Charset::Utf8, Charset::Utf8},
        {"<?xml version='1.0' encoding='Shift_JIS'?>", Charset::Utf8, Charset::Utf8},
    };
    for (const Case& c : cases) {
        const DocumentCharsets charsets = CharsetsOf(c.head);
        EXPECT_EQ(charsets.values, c.values) << c.head;
        EXPECT_EQ(charsets.output, c.output) << c.head;
    }
}

TEST(Encoding, EveryByteOfAn8BitCharsetIsWrittenBackAsItself) {
    for (const Charset charset : {Charset::Latin1, Charset::Windows1252, Charset::Latin9}) {
        for (int byte = 0; byte < 256; ++byte) {
            const std::string original(1, static_cast<char>(byte));
            std::string utf8, back;
            AppendUtf8(utf8, original, charset);
            AppendInCharset(back, utf8, charset, false);
            EXPECT_EQ(back, original) << CharsetName(charset) << " byte " << byte;
            EXPECT_EQ(FirstUnheld(utf8, charset), 0u);
        }
    }
    struct Case {
        Charset charset;
        const char* utf8;
        const char* text;   // as written in text
        const char* cdata;  // inside a CDATA section
    } const cases[] = {
        {Charset::Windows1252, "\xE2\x82\xAC\xC5\xB8", "\x80\x9F", "\x80\x9F"},
        {Charset::Latin9, "\xE2\x82\xAC\xC2\xA4", "\xA4&#164;", "\xA4]]>&#164;<![CDATA["},
        {Charset::Latin1, "\xC3\xA9\xE2\x82\xAC", "\xE9&#8364;", "\xE9]]>&#8364;<![CDATA["},
        {Charset::Ascii, "a\xF0\x9F\x98\x80", "a&#128512;", "a]]>&#128512;<![CDATA["},
        // A byte outside a well-formed sequence is copied as it is.
        {Charset::Latin1, "\xC3(\xED\xA0\x80", "\xC3(\xED\xA0\x80", "\xC3(\xED\xA0\x80"},
    };
    for (const Case& c : cases) {
        std::string text, cdata;
        AppendInCharset(text, c.utf8, c.charset, false);
        AppendInCharset(cdata, c.utf8, c.charset, true);
        EXPECT_EQ(text, c.text) << c.utf8;
        EXPECT_EQ(cdata, c.cdata) << c.utf8;
    }
}

}  // namespace
