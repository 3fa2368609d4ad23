#include "RecordMode.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <istream>
#include <memory>
#include <optional>

#include <pugixml.hpp>

#include "DataParserIF.h"
#include "DocumentInput.h"
#include "InterfaceFactory.h"
#include "Markup.h"
#include "ParseFailure.h"
#include "PerRecord.h"
#include "Position.h"
#include "RecordBatch.h"
#include "SourceSplice.h"
#include "Workers.h"

namespace qiv::redact {

namespace {

constexpr std::size_t readSize = 256 * 1024;

// Reads up to readSize more bytes onto the end of text; false on a failure.
bool ReadMore(ByteSource& source, std::string& text, bool& end, double& seconds) {
    Clock::time_point start = Clock::now();
    struct Timed {
        Clock::time_point& start;
        double& seconds;
        ~Timed() { Lap(start, seconds); }
    } timed{start, seconds};
    // Small inputs take small reads: every large buffer would be fresh
    // pages for each small file of a batch.
    const std::size_t used = text.size();
    const std::size_t size = std::min(readSize, std::max<std::size_t>(16 * 1024, used));
    text.resize(used + size);
    std::size_t got = 0;
    const bool read = source.Read(text.data() + used, size, got);
    text.resize(used + got);
    end = read && got == 0;
    return read;
}

}  // namespace

bool ReadRecordStart(ByteSource& source, const std::string& sourceName,
                     const std::vector<std::string>& expressions, RecordStart& start,
                     std::string& error, const NamespaceMap& namespaces) {
    start = RecordStart{};
    std::string& head = start.head;
    bool empty = false;
    Prolog prolog = Prolog::More;
    while ((prolog = FindDocumentStart(head, start.prologEnd, start.name, empty)) == Prolog::More &&
           !start.end) {
        if (!ReadMore(source, head, start.end, start.readSeconds)) {
            error = source.Error();
            return false;
        }
    }
    // Bytes that cannot begin a document are refused here: handed to the
    // whole-document route, a pipe or device would be read whole first, and
    // one that never ends would be read until memory runs out.
    std::size_t opening = 0;
    if (prolog != Prolog::Found && DocumentOpening(head, opening) == Opening::Other) {
        error = DescribeNotDocument(sourceName, head, opening);
        return false;
    }
    if (prolog != Prolog::Found || empty) {
        return true;  // the whole-document route says what is wrong, if anything
    }
    const std::string_view prefix = std::string_view(head).substr(0, start.prologEnd);
    std::size_t extraAt = 0;
    if (!ConvertedEncoding(head).empty() || prefix.find('\0') != none ||
        !TopLevelExtra(std::string(prefix) + "</" + start.name + ">", extraAt).empty()) {
        return true;
    }
    for (const std::string& expression : expressions) {
        const std::string problem = RecordModeProblem(expression, start.name, namespaces);
        if (!problem.empty()) {
            start.reason = "'" + expression + "': " + problem;
            return true;
        }
    }
    start.applies = true;
    return true;
}

RecordRun RedactRecords(ByteSource& source, const std::string& sourceName,
                        const std::vector<std::string>& expressions, const RecordSettings& settings,
                        std::ostream& out) {
    RecordStart start;
    RecordRun run;
    if (!ReadRecordStart(source, sourceName, expressions, start, run.message,
                         settings.namespaces)) {
        run.end = RecordEnd::Failed;
        return run;
    }
    if (!start.applies) {
        run.end = RecordEnd::Whole;
        run.reason = std::move(start.reason);
        run.bytes = start.head.size();
        run.seconds.read = start.readSeconds;
        run.consumed = std::move(start.head);
        run.consumedAll = true;
        run.readAll = start.end;
        return run;
    }
    return RedactRecords(source, std::move(start), sourceName, expressions, settings, out);
}

namespace {

// One record-mode run: the reading thread cuts batches into the slots, the
// workers redact them, and the reading thread writes them back in order.
class RecordRunner {
public:
    RecordRunner(ByteSource& source, RecordStart& start, const std::string& sourceName,
                 const std::vector<std::string>& expressions, const RecordSettings& settings,
                 std::ostream& out)
        : source_(source),
          start_(start),
          sourceName_(sourceName),
          expressions_(expressions),
          settings_(settings),
          out_(out),
          pool_(WorkerPool::Shared()),
          prefix_(std::string_view(start.head).substr(0, start.prologEnd)),
          end_(start.end),
          offset_(start.prologEnd) {}
    RecordRunner(const RecordRunner&) = delete;
    RecordRunner& operator=(const RecordRunner&) = delete;
    ~RecordRunner() {
        Stop();
        kept = std::move(slots_);
    }

    RecordRun Run();

private:
    void TakeSlots();
    bool Fill(Slot& slot);
    void Dispatch(Slot& slot);
    bool Collect();
    bool Failed(const Slot& slot);
    bool ReadEpilog();
    bool CheckEpilog();
    void NoteBareAmpersands(std::uint64_t count, const TextPosition& first, std::uint64_t offset) {
        if (run_.bareAmpersands == 0) {
            run_.bareWhere = At(first, offset);
        }
        run_.bareAmpersands += count;
    }
    RecordRun Fail(std::string message) {
        run_.end = RecordEnd::Failed;
        run_.message = std::move(message);
        return run_;
    }
    // Where the batch being written starts: the workers count each batch's
    // end, the prolog is counted only when a message needs it.
    TextPosition Start() const { return Advance(PositionOf(prefix_, prefix_.size()), position_); }
    // Ends the run early: every batch still with the workers is waited for,
    // as they use the slots.
    void Stop() {
        for (Slot* slot : busy_) {
            pool_.HelpUntil([slot]() { return slot->done.load(); });
        }
        busy_.clear();
    }

    // The slots, their buffers and parsers are kept for the next document
    // this thread redacts: a batch of many files then takes no fresh pages
    // for each one.
    static thread_local std::vector<std::unique_ptr<Slot>> kept;

    ByteSource& source_;
    RecordStart& start_;
    const std::string& sourceName_;
    const std::vector<std::string>& expressions_;
    const RecordSettings& settings_;
    std::ostream& out_;
    WorkerPool& pool_;
    RecordRun run_;
    RedactionSettings redaction_;
    std::vector<std::unique_ptr<Slot>> slots_;
    std::vector<Slot*> idle_;
    std::deque<Slot*> busy_;
    std::string_view prefix_;  // the prolog and the document element's start tag
    std::string carry_;        // read, not yet in a batch
    std::string epilog_;       // the document element's end tag and what follows
    bool end_;                 // the source is read to its end
    bool cut_ = false;         // no more batches to cut
    bool closed_ = false;      // the document element's end tag was found
    std::uint64_t offset_;     // of the next batch's content in the input
    TextPosition position_;    // where the next batch starts, from the content's start
};

thread_local std::vector<std::unique_ptr<Slot>> RecordRunner::kept;

void RecordRunner::TakeSlots() {
    const std::size_t slotCount = settings_.batchesInFlight != 0
                                      ? settings_.batchesInFlight
                                      : static_cast<std::size_t>(pool_.Threads()) + 3;
    slots_ = std::move(kept);
    slots_.resize(std::max(slots_.size(), slotCount));
    for (std::size_t index = 0; index < slotCount; ++index) {
        if (!slots_[index]) {
            slots_[index] = std::make_unique<Slot>();
        }
        idle_.push_back(slots_[index].get());
    }
}

// Cuts the next batch into slot: whole records from the carry and the
// source, up to the first record end at least batchBytes in. False when the
// source fails.
bool RecordRunner::Fill(Slot& slot) {
    slot.text.assign(prefix_);
    slot.text += carry_;
    slot.opaque.clear();
    slot.prefix = prefix_.size();
    bool wrapped = true;
    std::size_t at = slot.prefix;
    std::size_t depth = 0;
    for (;;) {
        Clock::time_point scanStart = Clock::now();
        const Scan scan = ScanContent(slot.text, at, depth, slot.prefix + settings_.batchBytes,
                                      start_.name, end_, &slot.opaque);
        Lap(scanStart, run_.seconds.scan);
        if (scan == Scan::Cut) {
            carry_.assign(slot.text, at, none);
            slot.text.resize(at);
            break;
        }
        if (scan == Scan::End || scan == Scan::BadEnd) {
            epilog_.assign(slot.text, at, none);
            slot.text.resize(at);
            closed_ = scan == Scan::End;
            wrapped = closed_;
            cut_ = true;
            break;
        }
        if (end_) {
            wrapped = false;  // cut off: the parser says where
            cut_ = true;
            break;
        }
        const std::size_t before = slot.text.size();
        if (!ReadMore(source_, slot.text, end_, run_.seconds.read)) {
            return false;
        }
        run_.bytes += slot.text.size() - before;
    }
    slot.content = slot.text.size() - slot.prefix;
    slot.offset = offset_;
    offset_ += slot.content;
    if (wrapped) {
        slot.text += "</" + start_.name + ">";
    }
    return true;
}

void RecordRunner::Dispatch(Slot& slot) {
    busy_.push_back(&slot);
    if (cut_ && busy_.size() == 1) {
        // The last batch, and nothing else in flight: handing it to a worker
        // would only make this thread wait for it (and waking a sleeping
        // worker costs more than a small batch).
        RedactSlot(slot, expressions_, redaction_, settings_.audit != nullptr);
        slot.done = true;
        return;
    }
    slot.done = false;
    pool_.Submit(
        [&slot, this]() {
            RedactSlot(slot, expressions_, redaction_, settings_.audit != nullptr);
            slot.done = true;
            pool_.Notify();
        },
        true);
}

// The run ends at a batch that could not be redacted: says why in run_.
bool RecordRunner::Failed(const Slot& slot) {
    Stop();
    const std::string_view content = slot.Content();
    switch (slot.result) {
        case Slot::Result::Ok:
            return false;
        case Slot::Result::Nul: {
            const std::size_t at = slot.at - slot.prefix;
            Fail(DescribeNul(sourceName_, Advance(Start(), content, at), slot.offset + at));
            break;
        }
        case Slot::Result::Parse: {
            TextPosition where;
            std::uint64_t at = slot.at;
            if (slot.at < slot.prefix) {
                where = PositionOf(prefix_, slot.at);
            } else {
                const std::size_t within = std::min(slot.at - slot.prefix, slot.content);
                where = Advance(Start(), content, within);
                at = slot.offset + within;
            }
            Fail(
                DescribeParseFailure(sourceName_, slot.load, &where, static_cast<std::size_t>(at)));
            break;
        }
        case Slot::Result::Outside:
        case Slot::Result::Splice:
            run_.end = RecordEnd::Whole;
            run_.reason = slot.error;
            break;
        case Slot::Result::Usage:
            run_.end = RecordEnd::Usage;
            run_.message = slot.error + "; nothing written";
            break;
        case Slot::Result::Failed:
            Fail(slot.error + "; nothing written");
            break;
    }
    return true;
}

// Waits for the oldest batch and writes it. False when the run ends there.
bool RecordRunner::Collect() {
    Slot& slot = *busy_.front();
    Clock::time_point waitStart = Clock::now();
    pool_.HelpUntil([&slot]() { return slot.done.load(); });
    Lap(waitStart, run_.seconds.wait);
    busy_.pop_front();
    idle_.push_back(&slot);
    if (slot.result != Slot::Result::Ok) {
        Failed(slot);
        return false;
    }
    if (slot.bare.count > 0) {
        const std::size_t at = slot.bare.first - slot.prefix;
        NoteBareAmpersands(slot.bare.count, Advance(Start(), slot.Content(), at), slot.offset + at);
    }
    ApplyEdits(slot.text, slot.prefix, slot.prefix + slot.content, slot.splicer->Edits(), out_);
    if (settings_.flushBatches) {
        out_.flush();
    }
    Lap(waitStart, run_.seconds.write);
    run_.seconds.parse += slot.parse;
    run_.seconds.redact += slot.redact;
    run_.seconds.splice += slot.splice;
    slot.splicer.reset();
    // The first place of what an expression left readable, in the input.
    for (std::size_t index = 0; index < slot.outcomes.size() && index < run_.outcomes.size();
         ++index) {
        const std::ptrdiff_t left = slot.outcomes[index].leftAt;
        if (run_.outcomes[index].leftWhere.empty() && left >= 0 &&
            static_cast<std::size_t>(left) >= slot.prefix) {
            const std::size_t at = static_cast<std::size_t>(left) - slot.prefix;
            run_.outcomes[index].leftWhere =
                At(Advance(Start(), slot.Content(), at), slot.offset + at);
        }
    }
    Accumulate(run_.outcomes, slot.outcomes);
    if (settings_.audit != nullptr) {
        settings_.audit->changed.Merge(slot.changed);
        settings_.audit->shape.Append(slot.shape);
    }
    position_ = Advance(position_, slot.end);
    ++run_.batches;
    if (settings_.progress) {
        settings_.progress(source_.SourceBytes());
    }
    return true;
}

bool RecordRunner::ReadEpilog() {
    if (!closed_) {
        // The parser took the last batch without the document element's end.
        Fail("cannot parse " + sourceName_ +
             ": the document ends before the end tag of its document element" +
             At(Start(), offset_) + "; nothing written");
        return false;
    }
    while (!end_) {
        const std::size_t before = epilog_.size();
        if (!ReadMore(source_, epilog_, end_, run_.seconds.read)) {
            Fail(source_.Error());
            return false;
        }
        run_.bytes += epilog_.size() - before;
    }
    if (const std::size_t nul = epilog_.find('\0'); nul != none) {
        Fail(DescribeNul(sourceName_, Advance(Start(), epilog_, nul), offset_ + nul));
        return false;
    }
    return true;
}

// The document element's end tag and what follows it are parsed as well,
// after a start tag of the same name: the parser must take them as it would
// in the whole document (an unclosed comment, a malformed end tag).
bool RecordRunner::CheckEpilog() {
    const std::string opened = "<" + start_.name + ">";
    std::string tail = opened + epilog_;
    const auto where = [&](std::size_t at) { return Advance(Start(), epilog_, at); };
    const std::unique_ptr<DataParserIF> parser = InterfaceFactory::Create<DataParserIF>("XML");
    TextBuffer buffer(tail);
    std::istream stream(&buffer);
    const LoadResult loaded = parser->LoadStream(stream);
    if (loaded.second != DataParserStatus::Ok) {
        const std::size_t failed = FailureOffset(tail);
        const std::size_t at =
            std::min(failed > opened.size() ? failed - opened.size() : 0, epilog_.size());
        const TextPosition position = where(at);
        Fail(DescribeParseFailure(sourceName_, loaded, &position,
                                  static_cast<std::size_t>(offset_ + at)));
        return false;
    }
    std::size_t extraAt = 0;
    const std::string extra = TopLevelExtra(tail, extraAt);
    if (!extra.empty()) {
        const std::size_t at = extraAt - opened.size();
        Fail(DescribeMisplaced(sourceName_, extra, At(where(at), offset_ + at)));
        return false;
    }
    // A second element of the document element's own name looks like its
    // end from the back: the parse shows it.
    std::size_t elements = 0;
    for (pugi::xml_node top = DocumentNode(*parser).first_child(); top; top = top.next_sibling()) {
        if (top.type() == pugi::node_element && ++elements == 2) {
            const auto name = static_cast<std::size_t>(std::max<std::ptrdiff_t>(
                top.offset_debug(), static_cast<std::ptrdiff_t>(opened.size())));
            const std::size_t at = std::min(name - opened.size(), epilog_.size());
            Fail(DescribeMisplaced(sourceName_, "a second element after the document element",
                                   At(where(at), offset_ + at)));
            return false;
        }
    }
    return true;
}

RecordRun RecordRunner::Run() {
    run_.bytes = start_.head.size();
    run_.seconds.read = start_.readSeconds;
    TakeSlots();
    redaction_ = settings_.redaction;
    redaction_.threads = 1;
    redaction_.recordsOnly = true;
    redaction_.charsets = CharsetsOf(prefix_);
    run_.outcomes.resize(expressions_.size());
    for (std::size_t index = 0; index < expressions_.size(); ++index) {
        run_.outcomes[index].expression = expressions_[index];
    }
    carry_ = start_.head.substr(start_.prologEnd);
    BareAmpersands bare;  // in the document element's attributes
    FindBareAmpersands(prefix_, 0, prefix_.size(), bare);
    if (bare.count > 0) {
        NoteBareAmpersands(bare.count, PositionOf(prefix_, bare.first), bare.first);
    }
    if (settings_.audit != nullptr) {
        settings_.audit->shape.Open(start_.name);
    }
    out_.write(prefix_.data(), static_cast<std::streamsize>(prefix_.size()));
    while (!cut_ || !busy_.empty()) {
        if (!cut_ && !idle_.empty()) {
            Slot& slot = *idle_.back();
            idle_.pop_back();
            if (!Fill(slot)) {
                Stop();
                idle_.push_back(&slot);
                return Fail(source_.Error());
            }
            Dispatch(slot);
        } else if (!Collect()) {
            return run_;
        }
    }
    if (!ReadEpilog() || !CheckEpilog()) {
        return run_;
    }
    // Refused only now, with the count over the whole input.
    if (settings_.strict && run_.bareAmpersands > 0) {
        return Fail(
            DescribeBareAmpersandsRefused(sourceName_, run_.bareAmpersands, run_.bareWhere));
    }
    out_.write(epilog_.data(), static_cast<std::streamsize>(epilog_.size()));
    if (settings_.audit != nullptr) {
        settings_.audit->shape.Close();
    }
    if (settings_.progress) {
        settings_.progress(source_.SourceBytes());
    }
    run_.end = RecordEnd::Done;
    return run_;
}

}  // namespace

RecordRun RedactRecords(ByteSource& source, RecordStart start, const std::string& sourceName,
                        const std::vector<std::string>& expressions, const RecordSettings& settings,
                        std::ostream& out) {
    RecordRunner runner(source, start, sourceName, expressions, settings, out);
    return runner.Run();
}

}  // namespace qiv::redact
