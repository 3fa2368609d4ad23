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
#include "Markup.h"
#include "ParseFailure.h"
#include "Position.h"
#include "InterfaceFactory.h"
#include "PerRecord.h"
#include "SourceSplice.h"
#include "Workers.h"

namespace qiv::redact {

namespace {

using Clock = std::chrono::steady_clock;

// Adds the time since start to seconds, and restarts start.
void Lap(Clock::time_point& start, double& seconds) {
    const Clock::time_point now = Clock::now();
    seconds += std::chrono::duration<double>(now - start).count();
    start = now;
}
constexpr std::size_t readSize = 256 * 1024;

// One batch of records on its way through the workers.
struct Slot {
    enum class Result { Ok, Nul, Parse, Outside, Usage, Splice, Failed };

    std::string text;          // prolog, start tag, content, end tag
    std::size_t prefix = 0;    // the content starts here
    std::size_t content = 0;   // bytes of content
    std::uint64_t offset = 0;  // of the content in the input
    std::unique_ptr<DataParserIF> parser;
    std::optional<SourceSplicer> splicer;
    std::vector<ExpressionOutcome> outcomes;
    Result result = Result::Ok;
    std::size_t at = 0;  // in text, where it failed
    LoadResult load;
    std::string error;
    double parse = 0, redact = 0, splice = 0;  // seconds this batch took
    TextPosition end;  // where the content ends, from its start (worked out on the worker)
    std::atomic<bool> done{false};

    std::string_view Content() const { return std::string_view(text).substr(prefix, content); }
};

void RedactSlot(Slot& slot, const std::vector<std::string>& expressions,
                const RedactionSettings& settings) {
    try {
        slot.result = Slot::Result::Ok;
        slot.parse = slot.redact = slot.splice = 0;
        Clock::time_point start = Clock::now();
        const std::string_view content = slot.Content();
        if (const void* nul = std::memchr(content.data(), 0, content.size())) {
            slot.result = Slot::Result::Nul;
            slot.at = slot.prefix +
                      static_cast<std::size_t>(static_cast<const char*>(nul) - content.data());
            return;
        }
        if (!slot.parser) {
            slot.parser = InterfaceFactory::Create<DataParserIF>("XML");
        }
        TextBuffer buffer(slot.text);
        std::istream stream(&buffer);
        slot.load = slot.parser->LoadStream(stream);
        Lap(start, slot.parse);
        if (slot.load.second != DataParserStatus::Ok) {
            slot.result = Slot::Result::Parse;
            slot.at = FailureOffset(slot.text);
            slot.parser->Reset();
            return;
        }
        // The tables' memory is kept from batch to batch.
        if (slot.splicer) {
            slot.splicer->Reset(settings.deep, slot.text.size());
        } else {
            slot.splicer.emplace(settings.deep, slot.text.size());
        }
        std::string error;
        if (!Redact(*slot.parser, expressions, settings, slot.outcomes, error, &*slot.splicer)) {
            const bool outside =
                !slot.outcomes.empty() && !slot.outcomes.back().outsideRecords.empty();
            slot.result = outside ? Slot::Result::Outside : Slot::Result::Usage;
            slot.error = error;
            slot.parser->Reset();
            return;
        }
        slot.parser->Reset();
        Lap(start, slot.redact);
        if (!slot.splicer->Problem().empty() || !slot.splicer->Resolve(slot.text)) {
            slot.result = Slot::Result::Splice;
            slot.error = slot.splicer->Problem();
            return;
        }
        AddCommentLeftovers(*slot.splicer, slot.outcomes);
        slot.end = EndOf(content);
        Lap(start, slot.splice);
        for (const SourceEdit& edit : slot.splicer->Edits()) {
            if (edit.begin < slot.prefix || edit.end > slot.prefix + slot.content) {
                slot.result = Slot::Result::Outside;
                slot.error = "a change falls outside the records";
                return;
            }
        }
    } catch (const std::exception& failure) {
        slot.result = Slot::Result::Failed;
        slot.error = std::string("failed: ") + failure.what();
    }
}

// Writes the slot's content with its edits applied.
void WriteSlot(const Slot& slot, std::ostream& out) {
    std::size_t from = slot.prefix;
    for (const SourceEdit& edit : slot.splicer->Edits()) {
        out.write(slot.text.data() + from, static_cast<std::streamsize>(edit.begin - from));
        out.write(edit.replacement.data(), static_cast<std::streamsize>(edit.replacement.size()));
        from = edit.end;
    }
    out.write(slot.text.data() + from,
              static_cast<std::streamsize>(slot.prefix + slot.content - from));
}

void Accumulate(std::vector<ExpressionOutcome>& total, const std::vector<ExpressionOutcome>& part) {
    for (std::size_t index = 0; index < total.size() && index < part.size(); ++index) {
        total[index].selected += part[index].selected;
        total[index].attributes += part[index].attributes;
        total[index].redacted += part[index].redacted;
        total[index].elements += part[index].elements;
        total[index].elementsWithOtherText += part[index].elementsWithOtherText;
        total[index].skipped += part[index].skipped;
    }
}

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

bool ReadRecordStart(ByteSource& source, const std::vector<std::string>& expressions,
                     RecordStart& start, std::string& error) {
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
        const std::string problem = RecordModeProblem(expression, start.name);
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
    if (!ReadRecordStart(source, expressions, start, run.message)) {
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

RecordRun RedactRecords(ByteSource& source, RecordStart start, const std::string& sourceName,
                        const std::vector<std::string>& expressions, const RecordSettings& settings,
                        std::ostream& out) {
    RecordRun run;
    const auto fail = [&run](std::string message) {
        run.end = RecordEnd::Failed;
        run.message = std::move(message);
        return run;
    };
    const std::string& head = start.head;
    const std::string& name = start.name;
    const std::size_t prologEnd = start.prologEnd;
    bool end = start.end;
    run.bytes = head.size();
    run.seconds.read = start.readSeconds;
    const std::string_view prefix = std::string_view(head).substr(0, prologEnd);
    std::size_t extraAt = 0;

    // The records, in batches on the shared workers.
    WorkerPool& pool = WorkerPool::Shared();
    const std::size_t slotCount = settings.batchesInFlight != 0
                                      ? settings.batchesInFlight
                                      : static_cast<std::size_t>(pool.Threads()) + 3;
    // The slots, their buffers and parsers are kept for the next document
    // this thread redacts: a batch of many files then takes no fresh pages
    // for each one.
    thread_local std::vector<std::unique_ptr<Slot>> kept;
    std::vector<std::unique_ptr<Slot>> slots = std::move(kept);
    struct KeepSlots {
        std::vector<std::unique_ptr<Slot>>& slots;
        ~KeepSlots() { kept = std::move(slots); }
    } keepSlots{slots};
    slots.resize(std::max(slots.size(), slotCount));
    std::vector<Slot*> idle;
    for (std::size_t index = 0; index < slotCount; ++index) {
        if (!slots[index]) {
            slots[index] = std::make_unique<Slot>();
        }
        idle.push_back(slots[index].get());
    }
    std::deque<Slot*> busy;
    RedactionSettings redaction = settings.redaction;
    redaction.threads = 1;
    redaction.recordsOnly = true;
    run.outcomes.resize(expressions.size());
    for (std::size_t index = 0; index < expressions.size(); ++index) {
        run.outcomes[index].expression = expressions[index];
    }

    const std::string endTag = "</" + name + ">";
    std::string carry = head.substr(prologEnd);
    std::string epilog;
    bool cut = false;     // no more batches to cut
    bool closed = false;  // the document element's end tag was found
    std::uint64_t offset = prologEnd;
    // Where the batch being written ends, counted from the content's start
    // by the workers; the prolog is counted only when a message needs it.
    TextPosition position;
    const auto Start = [&prefix, &position]() {
        return Advance(PositionOf(prefix, prefix.size()), position);
    };
    out.write(prefix.data(), static_cast<std::streamsize>(prefix.size()));

    // Ends the run early: every batch still with the workers is waited for,
    // as they use the slots.
    const auto stop = [&]() {
        for (Slot* slot : busy) {
            pool.HelpUntil([slot]() { return slot->done.load(); });
        }
        busy.clear();
    };
    struct StopOnExit {
        const decltype(stop)& atExit;
        ~StopOnExit() { atExit(); }
    } stopOnExit{stop};
    while (!cut || !busy.empty()) {
        if (!cut && !idle.empty()) {
            Slot& slot = *idle.back();
            idle.pop_back();
            slot.text.assign(prefix);
            slot.text += carry;
            slot.prefix = prefix.size();
            bool wrapped = true;
            std::size_t at = slot.prefix;
            std::size_t depth = 0;
            for (;;) {
                Clock::time_point scanStart = Clock::now();
                const Scan scan =
                    ScanContent(slot.text, at, depth, slot.prefix + settings.batchBytes, name, end);
                Lap(scanStart, run.seconds.scan);
                if (scan == Scan::Cut) {
                    carry.assign(slot.text, at, none);
                    slot.text.resize(at);
                    break;
                }
                if (scan == Scan::End || scan == Scan::BadEnd) {
                    epilog.assign(slot.text, at, none);
                    slot.text.resize(at);
                    closed = scan == Scan::End;
                    wrapped = closed;
                    cut = true;
                    break;
                }
                if (end) {
                    wrapped = false;  // cut off: the parser says where
                    cut = true;
                    break;
                }
                const std::size_t before = slot.text.size();
                if (!ReadMore(source, slot.text, end, run.seconds.read)) {
                    stop();
                    idle.push_back(&slot);
                    return fail(source.Error());
                }
                run.bytes += slot.text.size() - before;
            }
            slot.content = slot.text.size() - slot.prefix;
            slot.offset = offset;
            offset += slot.content;
            if (wrapped) {
                slot.text += endTag;
            }
            busy.push_back(&slot);
            if (cut && busy.size() == 1) {
                // The last batch, and nothing else in flight: handing it to
                // a worker would only make this thread wait for it (and
                // waking a sleeping worker costs more than a small batch).
                RedactSlot(slot, expressions, redaction);
                slot.done = true;
                continue;
            }
            slot.done = false;
            pool.Submit(
                [&slot, &expressions, &redaction, &pool]() {
                    RedactSlot(slot, expressions, redaction);
                    slot.done = true;
                    pool.Notify();
                },
                true);
            continue;
        }

        Slot& slot = *busy.front();
        Clock::time_point waitStart = Clock::now();
        pool.HelpUntil([&slot]() { return slot.done.load(); });
        Lap(waitStart, run.seconds.wait);
        busy.pop_front();
        idle.push_back(&slot);
        const std::string_view content = slot.Content();
        switch (slot.result) {
            case Slot::Result::Ok:
                break;
            case Slot::Result::Nul: {
                stop();
                const std::size_t at = slot.at - slot.prefix;
                return fail(
                    DescribeNul(sourceName, Advance(Start(), content, at), slot.offset + at));
            }
            case Slot::Result::Parse: {
                stop();
                TextPosition where;
                std::uint64_t at = slot.at;
                if (slot.at < slot.prefix) {
                    where = PositionOf(prefix, slot.at);
                } else {
                    const std::size_t within = std::min(slot.at - slot.prefix, slot.content);
                    where = Advance(Start(), content, within);
                    at = slot.offset + within;
                }
                return fail(DescribeParseFailure(sourceName, slot.load, &where,
                                                 static_cast<std::size_t>(at)));
            }
            case Slot::Result::Outside:
            case Slot::Result::Splice:
                stop();
                run.end = RecordEnd::Whole;
                run.reason = slot.error;
                return run;
            case Slot::Result::Usage:
                stop();
                run.end = RecordEnd::Usage;
                run.message = slot.error + "; nothing written";
                return run;
            case Slot::Result::Failed:
                stop();
                return fail(slot.error + "; nothing written");
        }
        WriteSlot(slot, out);
        Lap(waitStart, run.seconds.write);
        run.seconds.parse += slot.parse;
        run.seconds.redact += slot.redact;
        run.seconds.splice += slot.splice;
        slot.splicer.reset();
        Accumulate(run.outcomes, slot.outcomes);
        position = Advance(position, slot.end);
        ++run.batches;
        if (settings.progress) {
            settings.progress(source.SourceBytes());
        }
    }

    if (!closed) {
        // The parser took the last batch without the document element's end.
        return fail("cannot parse " + sourceName +
                    ": the document ends before the end tag of its document element" +
                    At(Start(), offset) + "; nothing written");
    }
    while (!end) {
        const std::size_t before = epilog.size();
        if (!ReadMore(source, epilog, end, run.seconds.read)) {
            return fail(source.Error());
        }
        run.bytes += epilog.size() - before;
    }
    if (const std::size_t nul = epilog.find('\0'); nul != none) {
        return fail(DescribeNul(sourceName, Advance(Start(), epilog, nul), offset + nul));
    }
    // The document element's end tag and what follows it are parsed as well,
    // after a start tag of the same name: the parser must take them as it
    // would in the whole document (an unclosed comment, a malformed end tag).
    const std::string opened = "<" + name + ">";
    std::string tail = opened + epilog;
    const std::unique_ptr<DataParserIF> parser = InterfaceFactory::Create<DataParserIF>("XML");
    {
        TextBuffer buffer(tail);
        std::istream stream(&buffer);
        const LoadResult loaded = parser->LoadStream(stream);
        if (loaded.second != DataParserStatus::Ok) {
            const std::size_t failed = FailureOffset(tail);
            const std::size_t at =
                std::min(failed > opened.size() ? failed - opened.size() : 0, epilog.size());
            const TextPosition where = Advance(Start(), epilog, at);
            return fail(DescribeParseFailure(sourceName, loaded, &where,
                                             static_cast<std::size_t>(offset + at)));
        }
    }
    const std::string extra = TopLevelExtra(tail, extraAt);
    if (!extra.empty()) {
        const std::size_t at = extraAt - opened.size();
        return fail(DescribeMisplaced(sourceName, extra,
                                      At(Advance(Start(), epilog, at), offset + at)));
    }
    {
        // A second element of the document element's own name looks like its
        // end from the back: the parse shows it.
        const pugi::xml_node document = DocumentNode(*parser);
        std::size_t elements = 0;
        for (pugi::xml_node top = document.first_child(); top; top = top.next_sibling()) {
            if (top.type() == pugi::node_element && ++elements == 2) {
                const auto name = static_cast<std::size_t>(std::max<std::ptrdiff_t>(
                    top.offset_debug(), static_cast<std::ptrdiff_t>(opened.size())));
                const std::size_t at = std::min(name - opened.size(), epilog.size());
                return fail(DescribeMisplaced(sourceName,
                                              "a second element after the document element",
                                              At(Advance(Start(), epilog, at), offset + at)));
            }
        }
    }
    out.write(epilog.data(), static_cast<std::streamsize>(epilog.size()));
    if (settings.progress) {
        settings.progress(source.SourceBytes());
    }
    run.end = RecordEnd::Done;
    return run;
}

}  // namespace qiv::redact
