#include "WholeRoute.h"

#include <atomic>
#include <memory>
#include <optional>

#include "InterfaceFactory.h"
#include "Outcomes.h"
#include "OutputChain.h"
#include "ParseMemory.h"
#include "ReadInput.h"
#include "ReformatWriter.h"
#include "SourceSplice.h"
#include "Workers.h"

namespace qiv::redact {

namespace {

// A small document is selected and freed on this thread alone: handing work
// to a sleeping worker would cost more than it saves.
constexpr std::size_t workersFrom = 4 << 20;

// One document on the whole-document route, from loading to writing.
struct WholeRun {
    const FileTask& task;
    const Options& options;
    const RedactionPlan& plan;
    const MessageSink& message;
    Timings& timings;
    InputDocument& input;
    InputDigest& digest;
    std::string sourceName;
    // The parse tree's memory; declared before the parser, so that it
    // outlives the document in every case.
    std::optional<ParseArena> arena{};
    std::unique_ptr<DataParserIF> parser{};
    std::string encoding{};       // the one the parser converts from, if any
    std::string rewriteReason{};  // why the document is written anew, when it is
    std::optional<SourceSplicer> splicer{};
    RedactionSettings settings{};
    std::vector<ExpressionOutcome> outcomes{};
    bool large = false;
    bool freed = false;              // the document was freed for the splice
    bool spliced = false;            // it was redacted for a splice
    bool ampersandsChecked = false;  // the bytes were checked for '&' that starts no reference
    AuditTrail* audit = nullptr;

    // The parser takes bytes a document may not hold: a NUL (it reads nothing
    // after one), text or markup outside the document element and '&' that
    // starts no reference (refused with --strict, else a warning). True when
    // the input has any it refuses, after saying so.
    bool Refused() {
        const std::size_t unit = CodeUnit(input.head);
        const std::size_t nul = NulOffset(input.source, unit);
        if (nul != none) {
            message(DescribeNul(sourceName, input.source, nul));
            return true;
        }
        std::size_t offset = 0;
        const std::string extra = unit == 1 ? TopLevelExtra(input.source, offset) : std::string();
        if (!extra.empty()) {
            message(DescribeMisplaced(sourceName, extra, At(input.source, offset)));
            return true;
        }
        // Bytes in an encoding that keeps ASCII as it is; the others are
        // converted by the parser and not looked at here.
        if (unit == 1 && !ampersandsChecked) {
            ampersandsChecked = true;
            BareAmpersands bare;
            FindBareAmpersands(input.source, 0, input.source.size(), bare);
            if (bare.count > 0) {
                const std::string where = At(input.source, bare.first);
                if (options.strict) {
                    message(DescribeBareAmpersandsRefused(sourceName, bare.count, where));
                    return true;
                }
                WarnBareAmpersands(sourceName, bare.count, where, message);
            }
        }
        return false;
    }

    bool Load(FileResult& result) {
        parser = InterfaceFactory::Create<DataParserIF>("XML");
        std::string error;
        // Input read whole before parsing is checked for a NUL right away; a
        // file the library parsed from its path is checked once it is read.
        arena.emplace();
        bool loaded = false;
        {
            const ParseInto into(*arena);
            loaded = LoadDocument(*parser, input, error);
        }
        if (input.haveSource && Refused()) {
            return false;
        }
        if (!loaded || !CheckTopLevel(*parser, input, error)) {
            message(error);
            return false;
        }
        result.bytes = input.size;
        timings.Lap("load");
        return true;
    }

    // The input's own bytes are written back with only the changed spans
    // replaced, unless the positions the parser reports cannot map to them.
    // The head reaches to the end of the XML declaration, so the encoding
    // decided here is the one the parser read.
    bool Redact(unsigned int threads, FileResult& result) {
        encoding = ConvertedEncoding(input.head);
        const bool latin1 = encoding == "Latin-1";
        if (!options.reformat && !encoding.empty() && !latin1) {
            rewriteReason = "the input is " + encoding + ", which the parser converts";
        }
        if (!options.reformat && rewriteReason.empty()) {
            // Latin-1 is parsed in its UTF-8 form, up to twice as long.
            splicer.emplace(options.deep, latin1 ? 2 * input.size : input.size);
            spliced = true;
        }
        large = input.size >= workersFrom;
        settings = RedactionSettings{options.deep, options.attributes, large ? threads : 1};
        settings.plans = plan.plans;
        settings.queries = plan.queries;
        settings.names = plan.names;
        settings.namespaces = plan.namespaces;
        settings.charsets = CharsetsOf(input.head);
        StepDone stepDone;
        if (options.timings) {
            stepDone = [this](const char* step) { timings.Lap(step); };
        }
        std::string error;
        if (!qiv::redact::Redact(*parser, plan.expressions, settings, outcomes, error,
                                 splicer ? &*splicer : nullptr, stepDone, {},
                                 audit != nullptr ? &audit->changed : nullptr)) {
            message(error + "; nothing written");
            result.status = ExitUsage;
            return false;
        }
        if (audit != nullptr) {
            for (pugi::xml_node top = DocumentNode(*parser).first_child(); top;
                 top = top.next_sibling()) {
                if (top.type() == pugi::node_element) {
                    AddElementShape(top, audit->shape);
                }
            }
        }
        result.outcomes = outcomes;
        return true;
    }

    // Only the edits are needed now. The document is freed by a worker while
    // this thread reads the input: freeing takes a fraction of the read's
    // time, so the two are hardly ever in memory at once.
    bool Splice() {
        WorkerPool& pool = WorkerPool::Shared();
        std::atomic<bool> documentFreed{!large};
        if (!large) {
            parser->Reset();
            arena.reset();
        } else {
            pool.Submit(
                [this, &documentFreed, &pool]() {
                    parser->Reset();
                    arena.reset();
                    documentFreed = true;
                    pool.Notify();
                },
                true);
        }
        std::string error;
        const bool read = ReadSource(input, error);
        if (read && !input.preread) {
            digest.FromBytes(input.source);
        }
        timings.Lap("read");
        const bool refused = read && Refused();
        if (read && !refused) {
            if (ConvertedEncoding(input.source) != encoding) {
                rewriteReason = "the input's encoding could not be told from its start";
            } else if (encoding == "Latin-1" ? splicer->ResolveLatin1(input.source)
                                             : splicer->Resolve(input.source)) {
                AddCommentLeftovers(*splicer, outcomes);
                if (options.entities) {
                    splicer->PrependEdits(EntityValueEdits(input.source, outcomes, plan.plans));
                }
            }
        }
        timings.Lap("splice");
        pool.HelpUntil([&documentFreed]() { return documentFreed.load(); });
        timings.Lap("free");
        freed = true;
        if (!read) {
            message(error);
        }
        if (!read || refused) {
            return false;
        }
        if (!rewriteReason.empty()) {
            splicer.reset();
        }
        return true;
    }

    // Written anew. The bytes are read all the same: to refuse what the
    // parser did not read and to say what the new document leaves out. Never
    // write a document other than the one redacted: a document freed for the
    // splice is loaded and redacted again, from the bytes just checked.
    bool PrepareAnew(FileResult& result) {
        std::string error;
        if (!ReadSource(input, error)) {
            message(error);
            return false;
        }
        if (!input.preread) {
            digest.FromBytes(input.source);
        }
        if (Refused()) {
            return false;
        }
        // New values were put into the document for the splice, not as the
        // parser writes a document in an 8-bit charset: it is redacted again.
        const bool again = freed || (spliced && settings.charsets.output != Charset::Utf8);
        if (again && (!LoadAgain(*parser, input, error) ||
                      !qiv::redact::Redact(*parser, plan.expressions, settings, outcomes, error))) {
            message(error + "; nothing written");
            return false;
        }
        result.outcomes = outcomes;
        return true;
    }

    // Says what the new document leaves out, and checks it is not far larger
    // than the input.
    bool NoteAnew(ReformatWriter& anew) {
        std::vector<std::string> lost = anew.Lost();
        if (!rewriteReason.empty()) {
            lost.emplace_back("its layout");
            message("note: " + rewriteReason + "; writing the document anew, without " +
                    JoinedList(lost) + " (as with --reformat)");
        } else if (!lost.empty()) {
            message("note: written anew (--reformat), without " + JoinedList(lost));
        }
        std::string error;
        if (!anew.CheckSize(input.source.size(), error)) {
            message(error + "; nothing written");
            return false;
        }
        return true;
    }
};

}  // namespace

FileResult RedactWhole(const FileTask& task, const Options& options, const RedactionPlan& plan,
                       unsigned int threads, WholeStart start, Timings& timings,
                       const MessageSink& message, std::streambuf* standardOutput) {
    FileResult result;
    result.status = ExitFailure;
    WholeRun run{task,    options,     plan,         message,
                 timings, start.input, start.digest, task.input ? *task.input : "standard input"};
    run.audit = start.audit;
    if (!run.Load(result) || !run.Redact(threads, result)) {
        return result;
    }
    if (run.splicer && run.splicer->Problem().empty() && !run.Splice()) {
        return result;
    }
    if (run.splicer && !run.splicer->Problem().empty()) {
        run.rewriteReason = run.splicer->Problem();
        run.splicer.reset();
    }
    if (!run.splicer && !run.PrepareAnew(result)) {
        return result;
    }
    if (options.requireMatch && !AllMatched(run.outcomes, message)) {
        result.status = ExitNothingMatched;
        return result;
    }
    // The parser's offsets are the input's own unless it converted the encoding.
    if (run.encoding.empty() && !run.input.source.empty()) {
        for (ExpressionOutcome& outcome : run.outcomes) {
            if (outcome.leftAt >= 0 &&
                static_cast<std::size_t>(outcome.leftAt) < run.input.source.size()) {
                outcome.leftWhere = At(run.input.source, static_cast<std::size_t>(outcome.leftAt));
            }
        }
    }
    bool left = PrintOutcomes(run.outcomes, options, plan, message);
    // Written anew, the document has no DOCTYPE.
    left = NoteEntities(run.outcomes, run.splicer ? run.input.source : std::string_view(),
                        options.entities, message) ||
           left;
    if (run.splicer) {
        result.route = "whole document";
        result.reason = !start.reason.empty() ? start.reason : options.whole ? "--whole" : "";
    } else {
        result.route = "written anew";
        result.reason = !run.rewriteReason.empty() ? run.rewriteReason : "--reformat";
    }
    std::optional<ReformatWriter> anew;
    if (!run.splicer) {
        anew.emplace(run.input.source, *run.parser, options.raw);
        if (!run.NoteAnew(*anew)) {
            return result;
        }
        run.input.text = std::string();  // not needed any more
        run.input.pages.reset();
        run.input.source = {};
    } else {
        NoteLayoutUnused(options, message);
    }
    // The document is streamed straight to its destination: a further copy
    // of a large document in memory would cost as much as the document itself.
    const ContentWriter save = [&](std::ostream& out) {
        timings.Lap(nullptr);
        if (run.splicer) {
            run.splicer->Write(out);
        } else {
            anew->Write(out);
        }
    };
    std::optional<Sha256> digest;
    if (task.digests) {
        digest.emplace();
    }
    start.digest.Ensure();  // before an input written in place is replaced
    std::string error;
    if (!Deliver(task, save, OutputCompression(task, options, start.format),
                 digest ? &*digest : nullptr, standardOutput, false, error)) {
        message(error);
        return result;
    }
    if (digest) {
        result.outputBytes = digest->Bytes();
        result.outputDigest = digest->HexDigest();
    }
    timings.Lap("write");
    result.status = left ? ExitLeftReadable : ExitOk;
    result.redacted = Redacted(run.outcomes);
    return result;
}

}  // namespace qiv::redact
