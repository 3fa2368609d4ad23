#include "SourceSplice.h"
#include "SpliceParts.h"

#include <algorithm>
#include <iterator>
#include <system_error>
#include <thread>
#include <utility>

#include "Characters.h"
#include "Markup.h"

namespace qiv::redact {

using splice::cdataOpen;
using splice::SortRuns;

bool SourceSplicer::AddEdit(const Note& note, std::vector<SourceEdit>& edits) {
    switch (note.kind) {
        case Kind::DropAttribute:
            return AddAttributeDrop(note, edits);
        case Kind::Attribute:
            return AddAttributeEdit(note, edits);
        case Kind::Text:
        case Kind::DropText:
            return AddTextEdit(note, edits);
        case Kind::CData:
        case Kind::DropCData:
            return AddCDataEdit(note, edits);
        case Kind::Insert:
        case Kind::DropElement:
            break;
    }
    return AddElementEdit(note, edits);
}

bool SourceSplicer::AddAttributeDrop(const Note& note, std::vector<SourceEdit>& edits) {
    const std::string_view text = source_;
    // From the blanks before the name to the closing quote.
    std::size_t at = note.begin;
    while (at < text.size() && !IsBlank(text[at]) && text[at] != '=') {
        ++at;
    }
    while (at < text.size() && IsBlank(text[at])) {
        ++at;
    }
    at += at < text.size() && text[at] == '=' ? 1 : text.size();
    while (at < text.size() && IsBlank(text[at])) {
        ++at;
    }
    const std::size_t end = at < text.size() && (text[at] == '"' || text[at] == '\'')
                                ? text.find(text[at], at + 1)
                                : none;
    std::size_t begin = note.begin;
    while (begin > 0 && IsBlank(text[begin - 1])) {
        --begin;
    }
    if (end == none || begin == note.begin) {
        return Fail("a dropped attribute was not found where the parser put it");
    }
    edits.push_back({begin, end + 1, {}, true});
    return true;
}

bool SourceSplicer::AddAttributeEdit(const Note& note, std::vector<SourceEdit>& edits) {
    const std::string_view text = source_;
    const char quote = note.begin > 0 ? text[note.begin - 1] : 0;
    const std::size_t end = text.find(quote, note.begin);
    if ((quote != '"' && quote != '\'') || end == none) {
        return Fail("an attribute value was not found where the parser put it");
    }
    SourceEdit edit{note.begin, end, {}};
    edit.replacement = Escaped(note.text, quote);
    edits.push_back(std::move(edit));
    return true;
}

// A text's new value replaces its content; a dropped text goes whole (a CDATA
// section with its delimiters).
bool SourceSplicer::AddTextEdit(const Note& note, std::vector<SourceEdit>& edits) {
    const std::string_view text = source_;
    const bool drop = note.kind == Kind::DropText;
    const std::size_t end = text.find('<', note.begin);
    if (note.begin == 0 || text[note.begin - 1] != '>' || end == none) {
        return Fail(drop ? "a dropped text was not found where the parser put it"
                         : "a text was not found where the parser put it");
    }
    edits.push_back(drop ? SourceEdit{note.begin, end, {}, true}
                         : SourceEdit{note.begin, end, Escaped(note.text, 0)});
    return true;
}

bool SourceSplicer::AddCDataEdit(const Note& note, std::vector<SourceEdit>& edits) {
    const std::string_view text = source_;
    const bool drop = note.kind == Kind::DropCData;
    const std::size_t end = text.find("]]>", note.begin);
    if (note.begin < cdataOpen.size() ||
        text.compare(note.begin - cdataOpen.size(), cdataOpen.size(), cdataOpen) != 0 ||
        end == none) {
        return Fail(drop ? "a dropped CDATA section was not found where the parser put it"
                         : "a CDATA section was not found where the parser put it");
    }
    edits.push_back(drop ? SourceEdit{note.begin - cdataOpen.size(), end + 3, {}, true}
                         : SourceEdit{note.begin, end, Escaped(note.text, 'C')});
    return true;
}

// A dropped element goes from its '<' to the end of its end tag. Insert: the
// element had no text; the text added to it goes where its content ends, in
// place of the blanks before the end tag.
bool SourceSplicer::AddElementEdit(const Note& note, std::vector<SourceEdit>& edits) {
    const std::string_view text = source_;
    const Element* element = FindElement(note.begin);
    const auto extent = std::lower_bound(
        extents_.begin(), extents_.end(), note.begin,
        [](const Extent& found, std::size_t offset) { return found.name < offset; });
    if (note.kind == Kind::DropElement) {
        if (element == nullptr || extent == extents_.end() || extent->name != note.begin ||
            extent->close == 0) {
            return Fail("a dropped element was not found in the input");
        }
        edits.push_back({note.begin - 1, extent->close, {}, true});
        return true;
    }
    if (element == nullptr || extent == extents_.end() || extent->name != note.begin ||
        extent->tagEnd == 0) {
        return Fail("an element without text was not found in the input");
    }
    if (extent->empty) {
        // The name is read from the parsed document, in the values' charset.
        std::string close = "</";
        if (charsets_.values == Charset::Utf8) {
            AppendInCharset(close, TextOf(element->nameText), charsets_.output, false);
        } else {
            close += TextOf(element->nameText);
        }
        edits.push_back(
            {extent->tagEnd, extent->tagEnd + 2, ">" + Escaped(note.text, 0) + close + ">"});
        return true;
    }
    if (extent->endTag < extent->gapBegin) {
        return Fail("an element without text has no end in the input");
    }
    const std::string_view gap = text.substr(extent->gapBegin, extent->endTag - extent->gapBegin);
    if (!std::all_of(gap.begin(), gap.end(), IsBlank)) {
        return Fail("an element without text holds text in the input");
    }
    edits.push_back({extent->gapBegin, extent->endTag, Escaped(note.text, 0)});
    return true;
}

bool SourceSplicer::Resolve(std::string_view source) {
    if (!problem_.empty()) {
        return false;
    }
    source_ = source;
    if (!CheckPlaces()) {
        return false;
    }
    // The selected elements are scanned on another thread while the other
    // notes become edits here; insertions need what the scan finds.
    std::sort(deepMarks_.begin(), deepMarks_.end());
    std::sort(keepMarks_.begin(), keepMarks_.end());
    std::vector<SourceEdit> comments;
    std::string scanProblem;
    bool scanned = false;
    const auto scan = [this, &comments, &scanProblem, &scanned]() {
        scanned = ScanElements(comments, scanProblem);
    };
    std::thread scanning;
    constexpr std::size_t worthAThread = 4096;
    if (elements_.size() >= worthAThread && notes_.size() >= worthAThread) {
        try {
            scanning = std::thread(scan);
        } catch (const std::system_error&) {
        }
    }
    if (!scanning.joinable()) {
        scan();
    }
    // Each expression noted its items in order; the insertions come last.
    SortRuns(notes_, [](const Note& note) { return note.begin; });
    edits_.clear();
    edits_.reserve(notes_.size());
    bool placed = true;
    const auto afterScan = [](const Note& note) {
        return note.kind == Kind::Insert || note.kind == Kind::DropElement;
    };
    for (const Note& note : notes_) {
        if (!afterScan(note) && !AddEdit(note, edits_)) {
            placed = false;
            break;
        }
    }
    if (scanning.joinable()) {
        scanning.join();
    }
    if (!scanned) {
        problem_ = scanProblem;  // the input's structure is the first problem
        return false;
    }
    if (!placed) {
        return false;
    }
    const auto plain = static_cast<std::ptrdiff_t>(edits_.size());
    for (const Note& note : notes_) {
        if (afterScan(note) && !AddEdit(note, edits_)) {
            return false;
        }
    }
    OrderEdits(plain, comments);
    return KeepFinalEdits();
}

// Checks the positions pugixml gave against the input before trusting them.
bool SourceSplicer::CheckPlaces() {
    for (const Element& element : elements_) {
        const std::string_view name = TextOf(element.nameText);
        if (element.name >= source_.size() || source_[element.name - 1] != '<' ||
            source_.compare(element.name, name.size(), name) != 0) {
            return Fail("a selected element was not found where the parser put it");
        }
    }
    for (const Note& note : notes_) {
        if (note.begin >= source_.size()) {
            return Fail("a changed item lies beyond the end of the input");
        }
    }
    return true;
}

// The first plain edits come from the notes in order of place; insertions and
// removed elements follow them, and the scan made the comment edits.
void SourceSplicer::OrderEdits(std::ptrdiff_t plain, std::vector<SourceEdit>& comments) {
    // A removal comes before any other edit of the same span, so that it is
    // the one kept.
    const auto order = [](const SourceEdit& a, const SourceEdit& b) {
        return a.begin != b.begin ? a.begin < b.begin
               : a.end != b.end   ? a.end < b.end
                                  : a.drop > b.drop;
    };
    // Insertions sit at their element's end, after the other edits here, and
    // the scan made the comment edits in order: merge all three.
    if (!std::is_sorted(edits_.begin(), edits_.begin() + plain, order)) {
        std::stable_sort(edits_.begin(), edits_.begin() + plain, order);
    }
    std::stable_sort(edits_.begin() + plain, edits_.end(), order);
    std::inplace_merge(edits_.begin(), edits_.begin() + plain, edits_.end(), order);
    if (!comments.empty()) {
        const auto notes = static_cast<std::ptrdiff_t>(edits_.size());
        edits_.insert(edits_.end(), std::make_move_iterator(comments.begin()),
                      std::make_move_iterator(comments.end()));
        std::inplace_merge(edits_.begin(), edits_.begin() + notes, edits_.end(), order);
    }
}

bool SourceSplicer::KeepFinalEdits() {
    // One span edited twice (an item changed by two expressions): the later
    // change is the final one, and a removal outranks both.
    std::size_t distinct = 0;
    for (std::size_t index = 0; index < edits_.size(); ++index) {
        if (distinct > 0 && edits_[distinct - 1].begin == edits_[index].begin &&
            edits_[distinct - 1].end == edits_[index].end) {
            if (!edits_[distinct - 1].drop) {
                edits_[distinct - 1] = std::move(edits_[index]);
            }
            continue;
        }
        if (distinct != index) {
            edits_[distinct] = std::move(edits_[index]);
        }
        ++distinct;
    }
    edits_.resize(distinct);
    // Edits inside a removed span go with it.
    std::size_t removedEnd = 0;
    std::size_t kept = 0;
    for (std::size_t index = 0; index < edits_.size(); ++index) {
        if (edits_[index].begin < removedEnd && edits_[index].end <= removedEnd && kept > 0) {
            continue;
        }
        if (edits_[index].drop) {
            removedEnd = std::max(removedEnd, edits_[index].end);
        }
        if (kept != index) {
            edits_[kept] = std::move(edits_[index]);
        }
        ++kept;
    }
    edits_.resize(kept);
    for (std::size_t index = 1; index < edits_.size(); ++index) {
        if (edits_[index].begin < edits_[index - 1].end) {
            return Fail("two changes overlap in the input");
        }
    }
    return true;
}

bool SourceSplicer::ResolveLatin1(std::string_view source) {
    // The edits are worked out on UTF-8 and written in Latin-1.
    charsets_ = {Charset::Utf8, Charset::Latin1};
    // Each byte from 0x80 up is a two-byte character in the UTF-8 form.
    std::string converted;
    std::vector<std::size_t> wide;  // where those start in converted
    converted.reserve(source.size() + source.size() / 8);
    for (const char byte : source) {
        const auto value = static_cast<unsigned char>(byte);
        if (value < 0x80) {
            converted += byte;
        } else {
            wide.push_back(converted.size());
            converted += static_cast<char>(0xC0 | (value >> 6));
            converted += static_cast<char>(0x80 | (value & 0x3F));
        }
    }
    if (!Resolve(converted)) {
        source_ = {};
        return false;
    }
    // Edits are ordered and do not overlap, so their ends only grow.
    std::size_t passed = 0;  // wide characters before the offset last mapped
    bool split = false;
    const auto toSource = [&](std::size_t offset) {
        while (passed < wide.size() && wide[passed] < offset) {
            ++passed;
        }
        split = split || (passed > 0 && wide[passed - 1] + 1 == offset);
        return offset - passed;
    };
    for (SourceEdit& edit : edits_) {
        edit.begin = toSource(edit.begin);
        edit.end = toSource(edit.end);
    }
    if (split) {
        source_ = {};
        return Fail("a change would split a character of the input");
    }
    source_ = source;
    return true;
}

}  // namespace qiv::redact
