#pragma once

// The pass of the output audit over one stretch of the output: the whole of
// it, or the first or second half of a large one (see AuditFile).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ByteSource.h"
#include "ChangedValues.h"
#include "Markup.h"
#include "OutputAudit.h"
#include "Position.h"

namespace qiv::redact::audit {

enum class Phase { Prolog, Inside, After };
enum class Step { Ok, More, Stop };

// Where an auditor starts. A fragment is the second half of a large output,
// audited on another thread from a tag near its middle: what it finds that
// depends on what came before (end tags of elements opened earlier, text or
// a start tag where the document element may have ended) is noted and judged
// once the first half is done.
struct AuditStart {
    std::uint64_t offset = 0;  // of the source's first byte in the output
    bool fragment = false;
    bool latin1 = false;                // for a fragment: the output is Latin-1
    std::uint64_t limit = UINT64_MAX;   // where a first half stops, if it is a construct's start
    std::size_t show = shownLeftovers;  // leftovers located
};

// A place, with its position (in a fragment: from the fragment's start).
struct Place {
    std::uint64_t offset = 0;
    TextPosition position;
    bool set = false;
};

// One pass over the output, a buffer at a time.
class Auditor {
public:
    Auditor(ByteSource& source, const AuditTrail& trail, const AuditStart& start)
        : source_(source),
          trail_(trail),
          base_(start.offset),
          latin1_(start.latin1),
          fragment_(start.fragment),
          limit_(start.limit),
          show_(start.show) {
        if (fragment_) {
            phase_ = Phase::Inside;
            declarationAt_ = none;
        }
    }
    // False when the source cannot be read (result_.error says why).
    bool Run();

    // What the pass found, read by AuditFile to finish the result or to join
    // the two halves of a large output.
    OutputAuditResult result_;
    std::string problem_;  // the first problem found
    Place problemAt_;
    bool cut_ = false;               // a first half stopped at its limit
    std::vector<std::string> open_;  // names of the open elements (open_[0, depth_))
    std::size_t depth_ = 0;
    ElementShape shape_;
    // A fragment's end tags of elements opened before it, in order.
    struct Pop {
        std::string name;
        Place place;
    };
    std::vector<Pop> pops_;
    // A fragment's first text and first start tag at each depth at or above
    // its start: index n is n levels above it (after n such end tags).
    std::vector<Place> levelText_, levelElement_;
    std::uint64_t endOffset_ = 0;  // where the output ends, once read to its end
    TextPosition Here() const { return PositionAt(at_); }
    TextPosition End() const { return PositionAt(size_); }

private:
    void Mark(std::vector<Place>& marks, std::size_t at) {
        const std::size_t level = pops_.size();
        if (marks.size() <= level) {
            marks.resize(level + 1);
        }
        if (!marks[level].set) {
            marks[level] = {base_ + at, PositionAt(at), true};
        }
    }

    bool ReadMore();
    Step Next();
    Step Markup();
    bool TextRun(std::size_t from, std::size_t to);
    bool StartTag(std::size_t lt, std::size_t gt);
    bool EndTag(std::size_t lt, std::size_t gt);
    bool Attributes(std::size_t from, std::size_t to);
    bool Comment(std::size_t lt, std::size_t close);
    bool Instruction(std::size_t lt, std::size_t close);
    bool Doctype(std::size_t lt, std::size_t close);
    bool References(std::string_view text, std::size_t at);
    void Look(const char* kind, std::string_view raw, std::size_t at, bool references);
    void Found(const char* kind, std::size_t at, bool whole, std::uint32_t expression,
               std::uint64_t hash);
    bool Fail(const std::string& what, std::size_t at);
    TextPosition PositionAt(std::size_t at) const { return Advance(basePosition_, Text(), at); }
    std::string_view Text() const { return {buffer_.get(), size_}; }

    ByteSource& source_;
    const AuditTrail& trail_;
    // The bytes read and not yet passed (not a string: growing one would
    // fill each read's room with zeros first).
    std::unique_ptr<char[]> buffer_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
    std::size_t at_ = 0;             // in buffer_, where the next construct starts
    std::uint64_t base_ = 0;         // the output's offset of buffer_[0]
    TextPosition basePosition_;      // and its position
    bool end_ = false;               // the output is read to its end
    std::size_t declarationAt_ = 0;  // where an XML declaration may be (past a BOM)
    bool latin1_ = false;
    bool fragment_ = false;
    std::uint64_t limit_ = UINT64_MAX;
    std::size_t show_ = shownLeftovers;
    Phase phase_ = Phase::Prolog;
    bool doctype_ = false;
    std::vector<std::string_view> attributeNames_;
    std::string converted_, resolved_, normal_, name_;
};

}  // namespace qiv::redact::audit
