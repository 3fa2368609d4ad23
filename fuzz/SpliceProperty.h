#pragma once

// The property every byte-preserving redaction must have, shared by the
// splice fuzz target and the tool's tests: the spliced output, parsed again,
// is the document the library redacted (same saved form), and it differs from
// the input only inside the spans the splicer reports, none of which holds
// markup. And as --verify reads it back, no value that a rule changed and
// that occurs once in the input is left in the output.

#include <algorithm>
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <unordered_map>
#include <vector>

#include "ActionChoices.h"
#include "AuditProperty.h"
#include "DataParserIF.h"
#include "InterfaceFactory.h"
#include "PugiXMLParser.h"
#include "PugiXPathNodeSet.h"
#include "Redaction.h"
#include "SourceSplice.h"

namespace qiv::redact {

struct SpliceRun {
    std::string output;    // the spliced document; empty when it fell back
    std::string fallback;  // why the splice was given up, if it was
    std::string problem;   // a broken property; empty when all hold
    std::vector<SourceEdit> edits;
};

inline std::string SavedRaw(DataParserIF& parser) {
    std::ostringstream out;
    parser.SaveToStream(out, 0x04);
    return out.str();
}

/// A saved document as compared with another. Where items were dropped,
/// the blanks beside them, which the parser did not keep as text, join the
/// texts around them: blanks are then left out of both. (Each removed span
/// is checked on its own to be one whole item.)
/// A character the input's encoding cannot hold is written as a reference
/// between two CDATA sections where it stands inside one: parsed again, it is
/// a text between two sections, joined back into one here.
inline std::string JoinedCData(const std::string& saved) {
    static const std::string close = "]]>", open = "<![CDATA[";
    std::string out;
    std::size_t at = 0;
    for (std::size_t found = saved.find(close); found != std::string::npos;
         found = saved.find(close, found + 1)) {
        std::size_t end = found + close.size();
        while (end < saved.size() && static_cast<unsigned char>(saved[end]) >= 0x80) {
            ++end;
        }
        if (end > found + close.size() && saved.compare(end, open.size(), open) == 0) {
            out.append(saved, at, found - at)
                .append(saved, found + close.size(), end - found - close.size());
            at = end + open.size();
            found = at - 1;
        }
    }
    return out.append(saved, at, std::string::npos);
}

inline std::string Comparable(const std::string& joined, bool dropped) {
    const std::string saved = JoinedCData(joined);
    if (!dropped) {
        return saved;
    }
    std::string out;
    for (const char character : saved) {
        if (character != ' ' && character != '\t' && character != '\r' && character != '\n') {
            out += character;
        }
    }
    return out;
}

inline SpliceRun RunSplice(const std::string& source, const std::vector<std::string>& expressions,
                           const RedactionSettings& settings) {
    SpliceRun run;
    auto parser = InterfaceFactory::Create<DataParserIF>("XML");
    std::istringstream input(source);
    // Latin-1 is parsed in its UTF-8 form and spliced back into its own bytes.
    const std::string encoding = ConvertedEncoding(source);
    const bool latin1 = encoding == "Latin-1";
    if (parser->LoadStream(input).second != DataParserStatus::Ok ||
        (!encoding.empty() && !latin1)) {
        run.fallback = "not a document whose bytes the parser keeps";
        return run;
    }
    SourceSplicer splicer(settings.deep, latin1 ? 2 * source.size() : source.size());
    std::vector<ExpressionOutcome> outcomes;
    std::string error;
    ChangedValues changed;
    if (!Redact(*parser, expressions, settings, outcomes, error, &splicer, {}, {}, &changed)) {
        run.fallback = error;
        return run;
    }
    // The splice must not need the document any more, as in the tool. A text
    // set to nothing is no text once written: the parse sees none.
    std::vector<pugi::xml_node> empty;
    for (pugi::xml_node node = DocumentNode(*parser); node;) {
        if (node.type() == pugi::node_pcdata && *node.value() == '\0') {
            empty.push_back(node);
        }
        if (node.first_child()) {
            node = node.first_child();
            continue;
        }
        while (node && !node.next_sibling()) {
            node = node.parent();
        }
        node = node ? node.next_sibling() : node;
    }
    for (const pugi::xml_node& node : empty) {
        node.parent().remove_child(node);
    }
    const std::string redacted = SavedRaw(*parser);
    if (!settings.deep && !settings.attributes && settings.plans.empty()) {
        // Without the tool's extras, the redaction is the library's own, with
        // each expression seeing the changes of the ones before it; only where
        // an expression selects the document node, the tool takes its
        // document element instead.
        auto library = InterfaceFactory::Create<DataParserIF>("XML");
        std::istringstream again(source);
        library->LoadStream(again);
        auto* xml = dynamic_cast<PugiXMLParser*>(library.get());
        for (std::size_t index = 0; index < expressions.size(); ++index) {
            // Bound prefixes are evaluated as the tool resolves them.
            const std::string& given =
                settings.queries.empty() ? expressions[index] : settings.queries[index];
            // Expressions are read as C strings: up to a NUL.
            const std::string expression = given.substr(0, given.find('\0'));
            const std::unique_ptr<PugiXPathNodeSet> set = xml->SelectNodes(expression);
            const bool document =
                set && std::any_of(set->Begin(), set->End(), [](const pugi::xpath_node& item) {
                    return item.node().type() == pugi::node_document;
                });
            library->RedactNodes(
                {document ? "(" + expression + ")[parent::node()] | /*" : expression});
        }
        if (SavedRaw(*library) != redacted) {
            run.problem = "the tool's redaction differs from the library's:\n" +
                          SavedRaw(*library) + "\n" + redacted;
            return run;
        }
    }
    parser->Reset();
    if (!splicer.Problem().empty() ||
        !(latin1 ? splicer.ResolveLatin1(source) : splicer.Resolve(source))) {
        run.fallback = splicer.Problem();
        return run;
    }
    std::ostringstream out;
    splicer.Write(out);
    run.output = out.str();
    run.edits = splicer.Edits();

    // Outside the edits the output is the input. Inside, no markup is touched:
    // a span holds no '<' unless it is a whole attribute value's, CDATA
    // section's or comment's content, and only an empty element's "/>" becomes
    // a start and an end tag.
    std::size_t at = 0;
    std::size_t outAt = 0;
    long markupChange = 0;
    const auto between = [&source](const SourceEdit& edit, const char* open, const char* close) {
        const std::string_view before(open), after(close);
        return edit.begin >= before.size() &&
               source.compare(edit.begin - before.size(), before.size(), before) == 0 &&
               source.compare(edit.end, after.size(), after) == 0;
    };
    for (const SourceEdit& edit : run.edits) {
        if (edit.begin < at || edit.end < edit.begin || edit.end > source.size()) {
            run.problem = "edits out of order or out of bounds";
            return run;
        }
        if (edit.drop) {
            // One whole item: an element or CDATA section from '<' to '>', an
            // attribute from the blanks before it to its closing quote (its
            // value may hold '<'), or a text without markup.
            const std::string_view span(source.data() + edit.begin, edit.end - edit.begin);
            const bool item = !span.empty() && ((span.front() == '<' && span.back() == '>') ||
                                                ((span.front() == ' ' || span.front() == '\t' ||
                                                  span.front() == '\r' || span.front() == '\n') &&
                                                 (span.back() == '"' || span.back() == '\'') &&
                                                 span.find('=') != std::string_view::npos) ||
                                                span.find('<') == std::string_view::npos);
            if (!edit.replacement.empty() || !item) {
                run.problem = "a removal is not one whole item: " + std::string(span);
                return run;
            }
        }
        const std::string_view kept(source.data() + at, edit.begin - at);
        if (run.output.compare(outAt, kept.size(), kept) != 0) {
            run.problem = "bytes outside the edits changed";
            return run;
        }
        const std::string_view replaced(source.data() + edit.begin, edit.end - edit.begin);
        const auto removed = std::count(replaced.begin(), replaced.end(), '<');
        // pugixml takes '<' inside attribute values too.
        const bool quoted =
            (between(edit, "\"", "\"") && replaced.find('"') == std::string_view::npos) ||
            (between(edit, "'", "'") && replaced.find('\'') == std::string_view::npos);
        // A removal takes whole items, markup included; the parse below
        // shows whether they were the right ones.
        if (removed != 0 && !edit.drop && !quoted && !between(edit, "<![CDATA[", "]]>") &&
            !between(edit, "<!--", "-->")) {
            run.problem = "an edit replaces markup: " + std::string(replaced);
            return run;
        }
        markupChange += std::count(edit.replacement.begin(), edit.replacement.end(), '<') - removed;
        outAt += kept.size() + edit.replacement.size();
        at = edit.end;
    }
    if (run.output.compare(outAt, std::string::npos, source, at) != 0) {
        run.problem = "bytes after the last edit changed";
        return run;
    }
    if (std::count(run.output.begin(), run.output.end(), '<') !=
        std::count(source.begin(), source.end(), '<') + markupChange) {
        run.problem = "markup added or lost";
        return run;
    }

    const bool dropped = std::any_of(run.edits.begin(), run.edits.end(),
                                     [](const SourceEdit& edit) { return edit.drop; });
    auto reparsed = InterfaceFactory::Create<DataParserIF>("XML");
    std::istringstream again(run.output);
    if (reparsed->LoadStream(again).second != DataParserStatus::Ok) {
        run.problem = "the output does not parse";
    } else if (Comparable(SavedRaw(*reparsed), dropped) != Comparable(redacted, dropped)) {
        run.problem = "the output parses to another document than the redacted one:\n" +
                      SavedRaw(*reparsed) + "\n" + redacted;
    } else {
        run.problem = LeftoverProblem(source, run.output, changed);
    }
    return run;
}

}  // namespace qiv::redact
