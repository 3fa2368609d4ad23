#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <pugixml.hpp>

#include "ChangedValues.h"
#include "DataParserIF.h"
#include "Encoding.h"
#include "NameCensus.h"
#include "Plan.h"
#include "Seam.h"
#include "SourceSplice.h"

namespace qiv::redact {

class SourceSplicer;

struct RedactionSettings {
    bool deep = false;         // every text, CDATA and comment inside a selected element
    bool attributes = false;   // the values of selected attributes
    unsigned int threads = 1;  // expressions selected at once, where the order allows
    /// The document is one batch of records (the children of the document
    /// element): an expression that selects anything outside them stops the
    /// redaction before it changes that expression's items.
    bool recordsOnly = false;
    /// Per expression, in order; when empty, every expression redacts with
    /// deep and attributes above.
    std::vector<ExpressionPlan> plans{};
    /// Per expression, the text evaluated (bound prefixes resolved); empty:
    /// the expressions as given.
    std::vector<std::string> queries{};
    /// The prefixes the expressions bind: where a document declares
    /// namespaces only on its document element, its bound names are
    /// evaluated as plain names (see Redact's parsedText).
    NamespaceMap namespaces{};
    /// Per expression, its name tests: an expression that selects nothing
    /// gets a census of where its names are (ExpressionOutcome::names).
    std::vector<std::vector<NameTest>> names{};
    /// How the document's values are read and its new values written. Rules
    /// work on UTF-8: values in an 8-bit charset are converted before. With
    /// a splicer, new values stay UTF-8 in the document and the splicer
    /// writes them in the output charset; without one (the document is
    /// written anew), a new value must be one the output charset holds, and
    /// is put into the document in the values' charset.
    DocumentCharsets charsets{};
};

/// Told the name of each step as it ends (for --timings).
using StepDone = std::function<void(const char*)>;

/// What one expression selected and what became of it.
struct ExpressionOutcome {
    std::string expression;
    std::size_t selected = 0;    // items of any kind
    std::size_t attributes = 0;  // attribute items among them
    std::size_t redacted = 0;    // items changed: given a new text or value, or dropped
    std::size_t skipped = 0;     // items left alone: kept or dropped by an earlier expression
    std::size_t elements = 0;    // element (or document) items among them
    /// Elements that, after all expressions were applied, still hold text no
    /// expression changed in a further text run, a child element or a comment.
    std::size_t elementsWithOtherText = 0;
    /// Names of the entity references (&name;) in the text and attribute values
    /// it changed, each once, as first met: the parser keeps a reference to an
    /// entity declared in the DOCTYPE as text, so the change replaces the
    /// reference while the entity's value stays in the DOCTYPE.
    std::vector<std::string> entities;
    /// With recordsOnly: what the expression selected outside the records
    /// ("the document element", ...), when it did.
    std::string outsideRecords;
    /// When it selected nothing: the elements and attributes with the local
    /// names it tests, by name and namespace.
    std::vector<NameFound> names;
    /// The first element (in the parsed text, or -1) that holds what the
    /// expression left readable: an attribute not changed, text left; and
    /// where that is in the input, once a route has placed it (" at line L,
    /// column C (offset O)").
    std::ptrdiff_t leftAt = -1;
    std::string leftWhere;
};

/// Selects each expression once, in order, and sets what it selected the way
/// the library's redaction does, plus what the settings ask for; then checks
/// every selected element for text that survived. False (with a reason) when an expression cannot
/// be run. With a splicer, every change is also noted there and captured at the end; elements whose
/// comments are still to be checked are noted there too (see AddCommentLeftovers).
/// stepDone, if set, hears "select" once the expressions that can be selected
/// before any change are, and "redact" at the end. With settings.recordsOnly,
/// an expression that selects outside the records makes it return false with
/// outcomes.back().outsideRecords set.
///
/// With plans, each expression's items get its action: a new value (written
/// like "redacted"), keep (left alone by every later expression, with all
/// they hold) or drop (removed from the document once every expression has
/// run, so later expressions still see them in their conditions but change
/// nothing in them; an element holding a kept item is not dropped).
///
/// parsedText, when given, is the text the parser read: with bound prefixes,
/// a document whose only namespace declarations are its document element's
/// has them resolved to plain names. changed, if given, takes the old values
/// of the texts and attribute values that got a new value, and of the texts
/// and attributes dropped.
bool Redact(DataParserIF& parser, const std::vector<std::string>& expressions,
            const RedactionSettings& settings, std::vector<ExpressionOutcome>& outcomes,
            std::string& error, SourceSplicer* splicer = nullptr, const StepDone& stepDone = {},
            std::string_view parsedText = {}, ChangedValues* changed = nullptr);

/// Edits of source's DOCTYPE that replace the value of each internal entity an
/// expression changed a reference to (ExpressionOutcome::entities) with that
/// expression's new value (the first such expression's), escaped so that the
/// entity reads as that value where it is referred to. plans as in
/// RedactionSettings.
std::vector<SourceEdit> EntityValueEdits(std::string_view source,
                                         const std::vector<ExpressionOutcome>& outcomes,
                                         const std::vector<ExpressionPlan>& plans);

/// After the splicer resolved its edits: counts the selected elements whose
/// only leftover is a comment.
void AddCommentLeftovers(const SourceSplicer& splicer, std::vector<ExpressionOutcome>& outcomes);

}  // namespace qiv::redact
