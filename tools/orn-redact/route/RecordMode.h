#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ByteSource.h"
#include "Redaction.h"

namespace qiv::redact {

struct RecordSettings {
    RedactionSettings redaction;
    /// A batch is cut at the first record end at least this many bytes
    /// after its start (1: every record is a batch of its own).
    std::size_t batchBytes = 1 << 20;
    /// Batches being filled, redacted or written at once; 0: two more than
    /// the threads that redact them.
    std::size_t batchesInFlight = 0;
    /// Told the input bytes taken so far, now and then (for a progress line).
    std::function<void(std::uint64_t)> progress;
};

/// How a record-mode run ended.
enum class RecordEnd {
    Done,    // every record written
    Failed,  // the input is malformed or unreadable; message says why
    Whole,   // record mode does not apply; reason says why (empty: nothing to tell)
    Usage,   // an expression could not be run
};

struct RecordRun {
    RecordEnd end = RecordEnd::Failed;
    std::string message;  // for Failed and Usage: the message, ending "; nothing written"
    std::string reason;   // for Whole
    std::vector<ExpressionOutcome> outcomes;
    std::uint64_t bytes = 0;    // input bytes read
    std::uint64_t batches = 0;  // batches redacted
    /// For Whole: the bytes already taken from the source, so that a source
    /// that cannot be read again can still be redacted whole.
    std::string consumed;
    bool consumedAll = false;  // consumed holds every byte taken (else some are gone)
    bool readAll = false;      // consumed is the whole input

    /// Seconds spent per step, summed over the threads that did it: reading
    /// (and decompressing), scanning for record ends, parsing, selecting and
    /// redacting, working out the splice, writing; and the reading thread's
    /// time waiting for the workers.
    struct Steps {
        double read = 0, scan = 0, parse = 0, redact = 0, splice = 0, write = 0, wait = 0;
    } seconds;
};

/// Redacts a document record by record: the children of its document element
/// are cut into batches of whole records by a light scan of the markup; each
/// batch, wrapped in the prolog and the document element's own start and end
/// tags, is parsed, selected, redacted and spliced on the shared workers; the
/// spliced records are written to out in input order, between the input's own
/// prolog and epilog. Before any batch is cut, the expressions are checked
/// against the class that gives the same selection per batch as on the whole
/// document (RecordModeProblem); an item selected outside the records stops
/// the run with Whole. Whatever was written to out before a run ends other than
/// Done must be thrown away.
RecordRun RedactRecords(ByteSource& source, const std::string& sourceName,
                        const std::vector<std::string>& expressions, const RecordSettings& settings,
                        std::ostream& out);

}  // namespace qiv::redact
