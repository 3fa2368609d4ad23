#pragma once

// One batch of records on the workers: parsed (wrapped in the prolog and the
// document element's tags), selected, redacted and spliced; and the outcomes of
// the batches added up in input order.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ChangedValues.h"
#include "DataParserIF.h"
#include "Markup.h"
#include "Position.h"
#include "Redaction.h"
#include "SourceSplice.h"

namespace qiv::redact {

using Clock = std::chrono::steady_clock;

/// Adds the time since start to seconds, and restarts start.
inline void Lap(Clock::time_point& start, double& seconds) {
    const Clock::time_point now = Clock::now();
    seconds += std::chrono::duration<double>(now - start).count();
    start = now;
}

// One batch of records on its way through the workers.
struct Slot {
    enum class Result { Ok, Nul, Parse, Outside, Usage, Splice, Failed };

    std::string text;                      // prolog, start tag, content, end tag
    std::size_t prefix = 0;                // the content starts here
    std::size_t content = 0;               // bytes of content
    std::uint64_t offset = 0;              // of the content in the input
    std::unique_ptr<DataParserIF> parser;  // holds no document between batches
    std::optional<SourceSplicer> splicer;
    std::vector<ExpressionOutcome> outcomes;
    Result result = Result::Ok;
    std::size_t at = 0;  // in text, where it failed
    LoadResult load;
    std::string error;
    double parse = 0, redact = 0, splice = 0;  // seconds this batch took
    TextPosition end;     // where the content ends, from its start (worked out on the worker)
    BareAmpersands bare;  // in text, the '&' that start no reference
    std::vector<std::size_t> opaque;  // in text, where comments, CDATA sections and PIs lie
    // For the audit of the output: the values this batch changed and the
    // shape of its records.
    ChangedValues changed;
    ElementShape shape;
    std::atomic<bool> done{false};

    std::string_view Content() const { return std::string_view(text).substr(prefix, content); }
};

/// Parses, selects, redacts and splices one batch, on a worker; with audit,
/// keeps the values changed and the shape of its records for --verify.
void RedactSlot(Slot& slot, const std::vector<std::string>& expressions,
                const RedactionSettings& settings, bool audit);

/// Adds one batch's outcomes to the run's.
void Accumulate(std::vector<ExpressionOutcome>& total, const std::vector<ExpressionOutcome>& part);

}  // namespace qiv::redact
