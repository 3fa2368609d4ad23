#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include <pugixml.hpp>

#include "Encoding.h"

namespace qiv::redact {

/// One replaced span of the input: bytes [begin, end) become replacement.
struct SourceEdit {
    std::size_t begin = 0;
    std::size_t end = 0;
    std::string replacement;
    bool drop = false;  // removes an item: edits inside it are dropped with it
};

/// Writes source[begin, end) with the edits applied: the one loop that
/// applies edits to bytes, for whole documents and record batches alike.
/// The edits are ordered, do not overlap and lie within [begin, end).
void ApplyEdits(std::string_view source, std::size_t begin, std::size_t end,
                const std::vector<SourceEdit>& edits, std::ostream& out);

/// Rewrites a comment inside an element that expression selected with its
/// whole content: false when the comment stays as it is.
using CommentRewriter =
    std::function<bool(std::size_t expression, std::string_view comment, std::string& out)>;

/// Turns the changes the tool makes to a parsed document into edits of the
/// bytes it was parsed from, so that everything the expressions did not
/// select is written back byte for byte.
///
/// Each item is noted right before it is changed, while pugixml still knows
/// where it came from. Capture() then takes the items' final values, after
/// which the document is no longer needed (and can be freed before the input
/// is read again). Resolve() finds where each noted span ends in the input and
/// scans the selected elements for the comments inside them, which the parser
/// does not keep.
class SourceSplicer {
public:
    /// deep: comments inside selected elements are blanked too; inputSize: the
    /// number of bytes the document was parsed from.
    SourceSplicer(bool deep, std::size_t inputSize);
    /// As a new splicer, keeping the memory of the tables, for the next of
    /// many small documents (record batches).
    void Reset(bool deep, std::size_t inputSize);

    /// Makes room for notes on items more items, so that the records are not
    /// moved while they grow.
    void Reserve(std::size_t items);
    /// A text or CDATA node about to change.
    void NoteText(const pugi::xml_node& text);
    /// An element (or the document) about to have its text set: its first text
    /// child changes, or a text child is added. False when the element has no
    /// place in the input (and the splice is given up).
    bool NoteElementText(const pugi::xml_node& element);
    /// An attribute of element about to change.
    void NoteAttribute(const pugi::xml_attribute& attribute, const pugi::xml_node& element);
    /// Right after the noted items were changed: takes their values while they
    /// are at hand (Capture() would otherwise read them all again).
    void TakeValues();
    /// As TakeValues(), after a rule wrote values of its own: from then on an
    /// item changed again is told by its later note (see Capture()), not by
    /// reading every value again.
    void TakeRewrittenValues();
    /// As TakeValues(), where the caller knows that every noted item now reads
    /// "redacted".
    void TakeRedactedValues();
    /// From now on, comments inside elements noted with NoteDeepElement are
    /// rewritten by their expressions (instead of all comments inside selected
    /// elements becoming "redacted" when deep is set).
    void SetCommentRewriter(CommentRewriter rewriter);
    /// How the document's values are read and its new values written: new
    /// values, given in UTF-8, are written in the output charset, a character
    /// it cannot hold as a character reference; comments are read in the
    /// values' charset.
    void SetCharsets(DocumentCharsets charsets) { charsets_ = charsets; }
    /// An element whose whole content expression changes: so do its comments.
    void NoteDeepElement(const pugi::xml_node& element, std::size_t expression);
    /// An element kept by expression: later expressions leave its comments alone.
    void NoteKeptElement(const pugi::xml_node& element, std::size_t expression);
    /// An element, attribute (with the blanks before it) or text removed from
    /// the output.
    void NoteDropElement(const pugi::xml_node& element);
    void NoteDropAttribute(const pugi::xml_attribute& attribute, const pugi::xml_node& element);
    void NoteDropText(const pugi::xml_node& text);
    /// A selected element whose text is all "redacted": whether a comment in it
    /// is left over is known only after Resolve().
    void NoteCommentCheck(std::size_t expression, const pugi::xml_node& element);
    /// The same, for the element NoteElementText() noted last.
    void NoteCommentCheck(std::size_t expression);

    /// After every change, while the document is still there: takes the final
    /// values. False when the changes cannot be placed in the input.
    bool Capture();
    /// Works out the edits of source, the bytes the document was parsed from.
    /// False when they cannot be placed; Problem() then says why.
    bool Resolve(std::string_view source);
    /// As Resolve(), for Latin-1 source: the parser read its UTF-8 form, so the
    /// edits are worked out there and then moved to the bytes of source, with
    /// new values in Latin-1.
    bool ResolveLatin1(std::string_view source);
    const std::string& Problem() const { return problem_; }

    /// After Resolve(): per expression (index of NoteCommentCheck), how many of
    /// its checked elements hold a comment other than "redacted".
    std::vector<std::size_t> ElementsWithOtherComments(std::size_t expressions) const;

    /// After Resolve(): adds edits that lie before every other one (in the
    /// prolog), ordered and not overlapping.
    void PrependEdits(const std::vector<SourceEdit>& edits) {
        edits_.insert(edits_.begin(), edits.begin(), edits.end());
    }
    /// After Resolve(): the edits, ordered and not overlapping.
    const std::vector<SourceEdit>& Edits() const { return edits_; }
    /// The source with the edits applied.
    void Write(std::ostream& out) const;

private:
    enum class Kind : unsigned char {
        Text,
        CData,
        Attribute,
        Insert,
        DropText,
        DropCData,
        DropAttribute,  // begin: the attribute's name
        DropElement     // begin: the element's name
    };
    struct Note {
        std::size_t begin;   // value start; for Insert, the element's name
        const void* item;    // the pugixml node or attribute structure
        std::uint32_t text;  // after Capture(): index of the final value in texts_
        Kind kind;
    };
    struct Element {
        std::size_t name = 0;        // offset of the name in the start tag
        std::uint32_t nameText = 0;  // index of the name in texts_
        bool insert = false;         // gets text where its content ends
        bool drop = false;           // removed with all it holds
        bool otherComment = false;   // holds a comment other than "redacted"
    };
    // Where the content of an element that gets text inserted ends.
    struct Extent {
        std::size_t name = 0;
        std::size_t tagEnd = 0;    // the start tag's '>' (its "/>" when empty)
        std::size_t gapBegin = 0;  // blanks before the end tag start here
        std::size_t endTag = 0;    // "</" of the end tag
        std::size_t close = 0;     // just past the end tag (or "/>")
        bool empty = false;        // written as <e/>
    };
    struct Open;

    bool Fail(std::string problem);
    std::ptrdiff_t OffsetOf(const pugi::xml_node& node) const;
    const char* CurrentValue(const Note& note) const;
    std::uint32_t Intern(std::string_view text);
    bool NoteElement(const pugi::xml_node& element);
    bool ScanElements(std::vector<SourceEdit>& comments, std::string& problem);
    // Parts of ScanElements: a comment's content [begin, end) inside the
    // elements open; an end tag at lt whose '>' is at end; a start tag at lt
    // whose '>' is at tagEnd.
    void ScanComment(const std::vector<Open>& open, std::size_t begin, std::size_t end,
                     std::vector<SourceEdit>& comments);
    void ScanEndTag(std::vector<Open>& open, std::size_t depth, std::size_t lt, std::size_t end,
                    std::size_t markupEnd);
    void ScanStartTag(std::vector<Open>& open, std::size_t& depth, std::size_t& next,
                      std::size_t lt, std::size_t tagEnd);
    const Element* FindElement(std::size_t name) const;
    std::string Escaped(std::uint32_t text, char context);
    // An escaped new value (in UTF-8) in the output charset; context as for
    // Escaped().
    void InOutputCharset(std::string& escaped, char context) const;
    // A value read from the document: "redacted" is shared, any other is kept
    // on its own (rules write a different value for nearly every item).
    std::uint32_t Store(const char* value);
    std::string_view TextOf(std::uint32_t text) const {
        if ((text & valueFlag) == 0) {
            return texts_[text];
        }
        const auto [begin, size] = values_[text & ~valueFlag];
        return std::string_view(valueBytes_).substr(begin, size);
    }
    bool AddEdit(const Note& note, std::vector<SourceEdit>& edits);
    // AddEdit for each kind of note.
    bool AddAttributeDrop(const Note& note, std::vector<SourceEdit>& edits);
    bool AddAttributeEdit(const Note& note, std::vector<SourceEdit>& edits);
    bool AddTextEdit(const Note& note, std::vector<SourceEdit>& edits);
    bool AddCDataEdit(const Note& note, std::vector<SourceEdit>& edits);
    bool AddElementEdit(const Note& note, std::vector<SourceEdit>& edits);
    // Parts of Resolve: the parser's positions checked against the input; the
    // edits put in order; one edit kept of those of one span, none inside a
    // removed span.
    bool CheckPlaces();
    void OrderEdits(std::ptrdiff_t plain, std::vector<SourceEdit>& comments);
    bool KeepFinalEdits();
    bool RewriteComment(const std::vector<Open>& open, std::string_view comment,
                        std::string& out) const;
    std::ptrdiff_t AttributeOffset(const char* text, const pugi::xml_node& element) const;

    bool deep_;
    std::size_t bufferSize_;
    DocumentCharsets charsets_{};
    std::string_view source_;
    std::vector<Note> notes_;
    std::size_t valuesTaken_ = 0;  // notes_ before this one have their values
    // Changed items without a source position, and whether each is an attribute.
    std::vector<std::pair<const void*, bool>> unplaced_;
    std::vector<Element> elements_;
    std::vector<Extent> extents_;  // of the elements with insert or drop, in order
    CommentRewriter rewriter_;
    // Elements' name offsets and the expressions that changed their whole
    // content (deep) or kept them.
    std::vector<std::pair<std::size_t, std::size_t>> deepMarks_;
    std::vector<std::pair<std::size_t, std::size_t>> keepMarks_;
    std::vector<std::pair<std::size_t, std::size_t>> commentChecks_;  // expression, name
    static constexpr std::uint32_t valueFlag = 0x80000000u;           // text indexes values_
    std::vector<std::string> texts_;  // "redacted" and element names, each once
    // The other values read, in order: where each lies in valueBytes_, one
    // block rather than an allocation per value.
    std::vector<std::pair<std::size_t, std::size_t>> values_;
    std::string valueBytes_;
    std::unordered_map<std::string, std::uint32_t> textIndex_;
    std::uint32_t lastText_ = 0;
    std::uint32_t redactedIndex_ = 0;   // of "redacted" in texts_
    std::vector<std::string> escaped_;  // see Escaped()
    std::vector<bool> escapedReady_;
    std::uint32_t lastValue_ = 0;  // the value last escaped (an index into values_)
    char lastContext_ = 0;
    std::string lastEscaped_;
    bool anyOtherComment_ = false;
    bool rewritten_ = false;  // a rule wrote a value other than "redacted"
    // Where the texts noted so far begin, for one dropped after its value was set.
    std::unordered_map<const void*, std::size_t> textPlaces_;
    std::size_t placesFrom_ = 0;  // notes_ before this one are in textPlaces_
    std::vector<SourceEdit> edits_;
    std::string problem_;
};

}  // namespace qiv::redact
