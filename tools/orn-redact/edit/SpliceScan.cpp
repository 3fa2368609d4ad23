#include "SourceSplice.h"
#include "SpliceParts.h"

#include <algorithm>
#include <string>
#include <utility>

#include "Markup.h"

namespace qiv::redact {

using splice::cdataOpen;
using splice::redactedText;

struct SourceSplicer::Open {
    std::size_t element;  // index into elements_
    std::size_t depth;    // nesting depth at which it was opened
    std::size_t extent;   // index into extents_, or none
};

namespace {

// A comment may not hold "--" nor end with '-'.
std::string CommentSafe(std::string value) {
    for (std::size_t at = value.find("--"); at != none; at = value.find("--", at)) {
        value.insert(at + 1, 1, ' ');
    }
    if (!value.empty() && value.back() == '-') {
        value += ' ';
    }
    return value;
}

}  // namespace

// The actions of the deep expressions around a comment, in order, as far as
// no element around it was kept before them.
bool SourceSplicer::RewriteComment(const std::vector<Open>& open, std::string_view comment,
                                   std::string& out) const {
    std::size_t keptFrom = none;
    std::vector<std::size_t> expressions;
    const auto marksOf = [](const std::vector<std::pair<std::size_t, std::size_t>>& marks,
                            std::size_t name) {
        return std::equal_range(marks.begin(), marks.end(), std::make_pair(name, std::size_t{0}),
                                [](const auto& a, const auto& b) { return a.first < b.first; });
    };
    for (const Open& entry : open) {
        const std::size_t name = elements_[entry.element].name;
        for (auto [at, end] = marksOf(keepMarks_, name); at != end; ++at) {
            keptFrom = std::min(keptFrom, at->second);
        }
        for (auto [at, end] = marksOf(deepMarks_, name); at != end; ++at) {
            expressions.push_back(at->second);
        }
    }
    std::sort(expressions.begin(), expressions.end());
    expressions.erase(std::unique(expressions.begin(), expressions.end()), expressions.end());
    // Rules work on UTF-8, whatever the document's charset.
    std::string value;
    AppendUtf8(value, comment, charsets_.values);
    std::string next;
    bool changed = false;
    for (const std::size_t expression : expressions) {
        if (expression < keptFrom && rewriter_(expression, value, next)) {
            value.swap(next);
            changed = true;
        }
    }
    if (changed) {
        // A character the output cannot hold is written as a reference's
        // text: a comment has no references.
        out.clear();
        AppendInCharset(out, CommentSafe(std::move(value)), charsets_.output, false);
    }
    return changed;
}

// A comment inside the selected elements open: rewritten by their deep
// expressions, blanked when deep, or else noted as a comment other than
// "redacted" in the innermost element.
void SourceSplicer::ScanComment(const std::vector<Open>& open, std::size_t begin, std::size_t end,
                                std::vector<SourceEdit>& comments) {
    const std::string_view comment = source_.substr(begin, end - begin);
    std::string rewritten;
    if (rewriter_ && RewriteComment(open, comment, rewritten)) {
        if (rewritten != comment) {
            comments.push_back({begin, end, std::move(rewritten)});
        }
    } else if (rewriter_ && comment != redactedText) {
        elements_[open.back().element].otherComment = true;
        anyOtherComment_ = true;
    } else if (comment != redactedText) {
        if (deep_) {
            comments.push_back({begin, end, std::string(redactedText)});
        } else {
            elements_[open.back().element].otherComment = true;
            anyOtherComment_ = true;
        }
    }
}

// An end tag: when it closes the innermost selected element, that element's
// extent gets its end, and a comment other than "redacted" counts for the
// selected element around it too.
void SourceSplicer::ScanEndTag(std::vector<Open>& open, std::size_t depth, std::size_t lt,
                               std::size_t end, std::size_t markupEnd) {
    if (open.back().depth != depth) {
        return;
    }
    const Element& closed = elements_[open.back().element];
    if (open.back().extent != none) {
        extents_[open.back().extent].endTag = lt;
        extents_[open.back().extent].gapBegin = markupEnd;
        extents_[open.back().extent].close = end == none ? 0 : end + 1;
    }
    const bool other = closed.otherComment;
    open.pop_back();
    if (!open.empty() && other) {
        elements_[open.back().element].otherComment = true;
    }
}

// A start tag: a selected element is opened (with an extent when text goes in
// or it goes), and next moves past it.
void SourceSplicer::ScanStartTag(std::vector<Open>& open, std::size_t& depth, std::size_t& next,
                                 std::size_t lt, std::size_t tagEnd) {
    const bool empty = source_[tagEnd - 1] == '/';
    const bool selected = next < elements_.size() && elements_[next].name == lt + 1;
    std::size_t extent = none;
    if (selected && (elements_[next].insert || elements_[next].drop)) {
        extent = extents_.size();
        extents_.push_back(
            {lt + 1, empty ? tagEnd - 1 : tagEnd, 0, 0, empty ? tagEnd + 1 : 0, empty});
    }
    if (!empty) {
        ++depth;
        if (selected) {
            open.push_back({next, depth, extent});
        }
    }
    next += selected ? 1 : 0;
}

// One forward pass over the selected elements' extents (jumping over what
// lies between them) that finds where each start tag ends, where its end tag
// begins, and the comments inside. Nested selections share the pass, so no
// byte is scanned twice.
bool SourceSplicer::ScanElements(std::vector<SourceEdit>& comments, std::string& problem) {
    const auto fail = [&problem](const char* why) {
        problem = why;
        return false;
    };
    extents_.clear();
    std::vector<Open> open;
    std::size_t depth = 0;
    std::size_t next = 0;  // the next selected element not yet reached
    std::size_t at = 0;
    std::size_t markupEnd = 0;  // just past the last markup seen
    const std::string_view text = source_;

    while (next < elements_.size() || !open.empty()) {
        if (open.empty()) {
            at = elements_[next].name - 1;
            depth = 0;
        }
        const std::size_t lt = text.find('<', at);
        if (lt == none || lt + 1 >= text.size()) {
            return fail("an element in the input has no end");
        }
        if (next < elements_.size() && elements_[next].name <= lt) {
            return fail("a selected element was not found where the parser put it");
        }
        const char kind = text[lt + 1];
        std::size_t end = none;
        if (text.compare(lt, 4, "<!--") == 0) {
            end = text.find("-->", lt + 4);
            if (end == none) {
                return fail("a comment in the input has no end");
            }
            ScanComment(open, lt + 4, end, comments);
            end += 3;
        } else if (text.compare(lt, cdataOpen.size(), cdataOpen) == 0) {
            end = Past(text, lt + cdataOpen.size(), "]]>");
        } else if (kind == '?') {
            end = Past(text, lt + 2, "?>");
        } else if (kind == '!') {
            end = Past(text, lt + 2, ">");
        } else if (kind == '/') {
            end = text.find('>', lt + 2);
            if (end == none || open.empty()) {
                return fail("an end tag in the input does not match");
            }
            ScanEndTag(open, depth, lt, end, markupEnd);
            --depth;
            ++end;
        } else {
            const std::size_t scan = StartTagEnd(text, lt);
            if (scan == none) {
                return fail("a start tag in the input has no end");
            }
            ScanStartTag(open, depth, next, lt, scan);
            end = scan + 1;
        }
        if (end == none) {
            return fail("markup in the input has no end");
        }
        at = markupEnd = end;
    }
    return true;
}

}  // namespace qiv::redact
