#pragma once

// Record mode must write byte for byte what the whole-document path writes,
// with the same counts, for every batch size: shared by the records fuzz
// target and the tool's tests. Documents and expressions are generated from a
// stream of choices, so that a fuzzer steers the generator and a test drives
// it from a seeded random source.

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "ActionChoices.h"
#include "AuditProperty.h"
#include "DataParserIF.h"
#include "DocumentInput.h"
#include "Expression.h"
#include "InterfaceFactory.h"
#include "Namespaces.h"
#include "RecordMode.h"
#include "Redaction.h"
#include "SourceSplice.h"

namespace qiv::redact {

/// Choices taken from bytes; 0 once they run out.
class Choices {
public:
    explicit Choices(std::string_view bytes) : bytes_(bytes) {}
    /// A number below count (count > 0).
    std::size_t Below(std::size_t count) {
        const std::size_t byte = at_ < bytes_.size() ? static_cast<unsigned char>(bytes_[at_]) : 0;
        ++at_;
        return byte % count;
    }
    bool Chance(std::size_t inEight) { return Below(8) < inEight; }
    template <typename Item, std::size_t size>
    const Item& Pick(const Item (&items)[size]) {
        return items[Below(size)];
    }

private:
    std::string_view bytes_;
    std::size_t at_ = 0;
};

/// A document of records: a prolog with a DOCTYPE and an internal subset,
/// namespaces and attributes on the document element, records with
/// attributes, mixed content, CDATA, comments, PIs, entity and character
/// references, with markup and text between the records, LF or CRLF.
inline std::string GenerateRecords(Choices& choose) {
    const std::string end = choose.Chance(3) ? "\r\n" : "\n";
    static const char* const root[] = {"r", "p:r", "rec"};
    const std::string name = choose.Pick(root);
    std::string text;
    if (choose.Chance(6)) {
        text += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>" + end;
    }
    if (choose.Chance(4)) {
        text += "<!DOCTYPE " + name + " [ <!ENTITY co \"ACME\"> <!-- a > or </rec> --> " +
                "<!ATTLIST rec id CDATA \"x>/\"> ]>" + end;
    }
    if (choose.Chance(3)) {
        text += "<!-- export <rec> -->" + end + "<?pi a > b?>" + end;
    }
    text +=
        "<" + name + " xmlns:p=\"urn:p\" a='1' b=\"x>y/\"" + (choose.Chance(2) ? " " : "") + ">";
    static const char* const records[] = {"rec", "rec", "item", "p:rec", "r", "name"};
    static const char* const fields[] = {"name", "email", "notes", "b", "p:x", "rec"};
    static const char* const values[] = {"Ada",
                                         "Bob &amp; Co",
                                         "&co; Ltd",
                                         "&#65;&#x42;",
                                         "x &lt; y &gt; z",
                                         "",
                                         " ",
                                         "a]]&gt;b",
                                         "\xC3\xA9t\xC3\xA9",
                                         "multi"
                                         "\n"
                                         "line"};
    static const char* const between[] = {
        "", " ", "\n  ", "<!-- between -->", "<?pi x?>", "stray text", "<![CDATA[cd]]>"};
    const std::size_t count = choose.Below(7);
    for (std::size_t record = 0; record < count; ++record) {
        text += end + "  ";
        if (choose.Chance(1)) {
            text += choose.Pick(between);
        }
        const std::string tag = choose.Pick(records);
        text += "<" + tag;
        if (choose.Chance(5)) {
            text += " id=\"" + std::to_string(record) + "\"";
        }
        if (choose.Chance(2)) {
            text += " q='a>b/c'";
        }
        if (choose.Chance(1)) {
            text += "/>";
            continue;
        }
        text += ">";
        const std::size_t children = choose.Below(5);
        for (std::size_t child = 0; child < children; ++child) {
            switch (choose.Below(7)) {
                case 0:
                    text += choose.Pick(values);
                    break;
                case 1:
                    text += "<![CDATA[" + std::string(choose.Pick(values)) + "<b>]]>";
                    break;
                case 2:
                    text += "<!-- c " + std::string(choose.Pick(values)) + " -->";
                    break;
                case 3:
                    text += "<?pi " + std::to_string(child) + "?>";
                    break;
                default: {
                    const std::string field = choose.Pick(fields);
                    text += "<" + field + (choose.Chance(2) ? " id='f'" : "") + ">";
                    text += choose.Pick(values);
                    if (choose.Chance(3)) {
                        text +=
                            "<b>" + std::string(choose.Pick(values)) + "</b>" + choose.Pick(values);
                    }
                    if (choose.Chance(1)) {
                        text += "<name/>";
                    }
                    text += "</" + field + ">";
                }
            }
            if (choose.Chance(1)) {
                text += end;
            }
        }
        text += "</" + tag + ">";
    }
    text += end;
    if (choose.Chance(1)) {
        text += choose.Pick(between);
    }
    text += "</" + name + ">" + end;
    if (choose.Chance(2)) {
        text += "<!-- end -->" + end;
    }
    return text;
}

/// An expression: often in the record class, often just outside it.
inline std::string GenerateExpression(Choices& choose) {
    static const char* const starts[] = {"/", "//", "/*/", "/r/", "/p:r/", "/rec/", "//rec/"};
    static const char* const steps[] = {"rec",
                                        "name",
                                        "*",
                                        "email",
                                        "notes",
                                        "b",
                                        "p:rec",
                                        "p:*",
                                        "text()",
                                        "node()",
                                        "@id",
                                        "@*",
                                        "item",
                                        ".",
                                        "..",
                                        "following-sibling::*",
                                        "preceding::name",
                                        "ancestor::*",
                                        "self::rec",
                                        "descendant::name",
                                        "comment()",
                                        "r"};
    static const char* const predicates[] = {"[1]",
                                             "[2]",
                                             "[last()]",
                                             "[position() > 1]",
                                             "[@id]",
                                             "[@id = '1']",
                                             "[name]",
                                             "[name = 'Ada']",
                                             "[count(*) > 1]",
                                             "[b]",
                                             "[contains(., 'a')]",
                                             "[../@a]",
                                             "[//rec]",
                                             "[id('1')]",
                                             "[@a = '1']",
                                             "[string-length() > 2]",
                                             "[not(b)]",
                                             "[name[1]]",
                                             "[*[2]]",
                                             "[. = 'Ada']",
                                             "[(name | email)[1]]",
                                             "[@q]"};
    std::string expression;
    const std::size_t paths = choose.Chance(1) ? 2 : 1;
    for (std::size_t path = 0; path < paths; ++path) {
        if (path > 0) {
            expression += " | ";
        }
        const bool filtered = choose.Chance(1);
        if (filtered) {
            expression += "(";
        }
        expression += choose.Pick(starts);
        const std::size_t count = 1 + choose.Below(3);
        for (std::size_t step = 0; step < count; ++step) {
            if (step > 0) {
                expression += choose.Chance(2) ? "//" : "/";
            }
            expression += choose.Pick(steps);
            if (choose.Chance(3)) {
                expression += choose.Pick(predicates);
            }
        }
        if (filtered) {
            expression += ")";
            expression += choose.Chance(4) ? "[1]" : "";
        }
    }
    return expression;
}

/// Binds prefix to urn:p, the namespace of the generated documents' p:
/// names; the expressions' p: names take the new prefix, and the redaction
/// evaluates them by namespace. The binding, for record mode's classifier.
inline NamespaceMap BindPrefix(const std::string& prefix, std::vector<std::string>& expressions,
                               RedactionSettings& settings) {
    NamespaceMap bindings;
    AddBinding(bindings, {prefix, "urn:p", {}});
    settings.queries.clear();
    settings.namespaces = bindings;
    for (std::string& expression : expressions) {
        for (std::size_t at = expression.find("p:"); at != std::string::npos;
             at = expression.find("p:", at + prefix.size() + 1)) {
            expression.replace(at, 1, prefix);
        }
        settings.queries.push_back(ResolvePrefixes(expression, bindings));
    }
    return bindings;
}

/// What the whole-document path writes (empty when it gives up the splice)
/// and counts.
struct WholeRun {
    bool parsed = false;
    bool spliced = false;
    std::string output;
    std::vector<ExpressionOutcome> outcomes;
};

inline WholeRun RedactWhole(const std::string& source, const std::vector<std::string>& expressions,
                            RedactionSettings settings) {
    WholeRun run;
    // As the tool: values read and written in the document's encoding.
    settings.charsets = CharsetsOf(source);
    auto parser = InterfaceFactory::Create<DataParserIF>("XML");
    std::istringstream input(source);
    // The tool refuses what the parser takes but does not read in full.
    std::size_t extraAt = 0;
    if (parser->LoadStream(input).second != DataParserStatus::Ok ||
        NulOffset(source) != std::string::npos || !TopLevelExtra(source, extraAt).empty()) {
        return run;
    }
    run.parsed = true;
    SourceSplicer splicer(settings.deep, source.size());
    std::string error;
    if (!Redact(*parser, expressions, settings, run.outcomes, error, &splicer)) {
        return run;
    }
    parser->Reset();
    if (!splicer.Problem().empty() || !splicer.Resolve(source)) {
        return run;
    }
    AddCommentLeftovers(splicer, run.outcomes);
    std::ostringstream out;
    splicer.Write(out);
    run.output = out.str();
    run.spliced = true;
    return run;
}

/// Runs record mode with each batch size on source and compares it with the
/// whole-document path: empty when they agree wherever record mode ran to
/// its end, else what differs. ran counts the runs that did.
inline std::string CompareRecordsWithWhole(const std::string& source,
                                           const std::vector<std::string>& expressions,
                                           const RedactionSettings& settings,
                                           const std::vector<std::size_t>& batchSizes,
                                           std::size_t* ran = nullptr,
                                           const NamespaceMap& namespaces = {}) {
    const WholeRun whole = RedactWhole(source, expressions, settings);
    for (const std::size_t batchBytes : batchSizes) {
        TextSource input(source, 1 + batchBytes % 97);
        RecordSettings records;
        records.redaction = settings;
        records.batchBytes = batchBytes;
        records.namespaces = namespaces;
        AuditTrail trail;
        records.audit = &trail;
        std::ostringstream out;
        const RecordRun run = RedactRecords(input, "input", expressions, records, out);
        const std::string where = " (batches of " + std::to_string(batchBytes) + " bytes)";
        if (run.end == RecordEnd::Whole) {
            continue;
        }
        if (run.end != RecordEnd::Done) {
            if (whole.parsed) {
                return "record mode failed where the whole document parses" + where + ": " +
                       run.message;
            }
            continue;
        }
        if (!whole.parsed) {
            return "record mode took a document the parser rejects" + where;
        }
        if (!whole.spliced) {
            continue;  // written anew by the whole-document path
        }
        if (out.str() != whole.output) {
            return "record mode wrote other bytes" + where + ":\n" + out.str() + "\n---\n" +
                   whole.output;
        }
        for (std::size_t index = 0; index < expressions.size(); ++index) {
            const ExpressionOutcome& a = run.outcomes[index];
            const ExpressionOutcome& b = whole.outcomes[index];
            if (a.selected != b.selected || a.redacted != b.redacted ||
                a.attributes != b.attributes || a.elements != b.elements ||
                a.skipped != b.skipped || a.elementsWithOtherText != b.elementsWithOtherText) {
                const auto counts = [](const ExpressionOutcome& outcome) {
                    return std::to_string(outcome.selected) + " selected, " +
                           std::to_string(outcome.redacted) + " changed, " +
                           std::to_string(outcome.attributes) + " attributes, " +
                           std::to_string(outcome.elements) + " elements, " +
                           std::to_string(outcome.skipped) + " left alone, " +
                           std::to_string(outcome.elementsWithOtherText) + " with other text";
                };
                return "record mode counted otherwise for '" + expressions[index] + "'" + where +
                       ": " + counts(a) + " against " + counts(b);
            }
        }
        // What --verify would compare the output with.
        if (trail.shape != ParsedShape(whole.output)) {
            return "record mode noted other elements than it wrote" + where;
        }
        if (const std::string left = LeftoverProblem(source, whole.output, trail.changed);
            !left.empty()) {
            return left + where;
        }
        if (ran != nullptr) {
            ++*ran;
        }
    }
    return {};
}

}  // namespace qiv::redact
