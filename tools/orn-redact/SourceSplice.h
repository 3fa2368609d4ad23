#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <pugixml.hpp>

namespace qiv::redact {

/// One replaced span of the input: bytes [begin, end) become replacement.
struct SourceEdit {
    std::size_t begin = 0;
    std::size_t end = 0;
    std::string replacement;
};

/// The encoding pugixml converts the input from ("UTF-16LE", "Latin-1", ...),
/// or empty when it parses the bytes as they are, so that positions in the
/// parsed document are positions in the input.
std::string ConvertedEncoding(std::string_view source);

/// Turns the changes the tool makes to a document loaded from source into
/// edits of source itself, so that everything the expressions did not select
/// is written back byte for byte.
///
/// Each item is noted right before it is changed, while pugixml still knows
/// where it came from; Resolve() then finds where each noted span ends in the
/// source, reads the items' final values and scans the selected elements for
/// the comments inside them (which the parser does not keep).
class SourceSplicer {
public:
    /// deep: comments inside selected elements are blanked too.
    SourceSplicer(std::string_view source, bool deep);

    /// A text or CDATA node about to change.
    void NoteText(const pugi::xml_node& text);
    /// An element (or the document) about to have its text set: its first text
    /// child changes, or a text child is added.
    void NoteElementText(const pugi::xml_node& element);
    /// An attribute of element about to change.
    void NoteAttribute(const pugi::xml_attribute& attribute, const pugi::xml_node& element);

    /// After every change: works out the edits. False when the changes cannot be
    /// placed in the source; Problem() then says why.
    bool Resolve();
    const std::string& Problem() const { return problem_; }

    /// After Resolve(): whether a comment inside the selected element still
    /// holds text other than "redacted".
    bool HoldsOtherComment(const pugi::xml_node& element) const;

    /// After Resolve(): the edits, ordered and not overlapping.
    const std::vector<SourceEdit>& Edits() const { return edits_; }
    /// The source with the edits applied.
    void Write(std::ostream& out) const;

private:
    enum class Kind : unsigned char { Text, CData, Attribute, Insert };
    struct Note {
        std::size_t begin;  // value start; for Insert, the element's name
        const void* item;   // the pugixml node or attribute structure
        Kind kind;
    };
    struct Element {
        std::size_t name = 0;  // offset of the name in the start tag
        pugi::xml_node node;
        std::size_t tagEnd = 0;     // the start tag's '>' (its "/>" when empty)
        bool empty = false;         // written as <e/>
        std::size_t gapBegin = 0;   // blanks before the end tag start here
        std::size_t endTag = 0;     // "</" of the end tag
        bool otherComment = false;  // holds a comment other than "redacted"
    };

    bool Fail(std::string problem);
    std::ptrdiff_t OffsetOf(const pugi::xml_node& node) const;
    void NoteElement(const pugi::xml_node& element);
    bool ScanElements();
    const Element* FindElement(std::size_t name) const;
    bool AddEdit(const Note& note);

    std::string_view source_;
    bool deep_;
    std::vector<Note> notes_;
    // Changed items without a source position, and whether each is an attribute.
    std::vector<std::pair<const void*, bool>> unplaced_;
    std::vector<Element> elements_;
    std::vector<SourceEdit> edits_;
    std::string problem_;
};

}  // namespace qiv::redact
