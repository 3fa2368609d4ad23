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
    /// The prefixes the expressions bind (the redaction's queries resolve them).
    NamespaceMap namespaces;
    /// Input with an '&' that starts no reference fails the run (else it is
    /// counted in RecordRun::bareAmpersands).
    bool strict = false;
    /// When set, takes the values the records' rules changed and the shape of
    /// the elements written, for the audit of the output.
    AuditTrail* audit = nullptr;
    /// out is flushed after each batch, so that what reads it gets every
    /// record as soon as it is written (--stream).
    bool flushBatches = false;
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
    /// '&' in text and attribute values that start no reference, and At(...)
    /// of the first.
    std::uint64_t bareAmpersands = 0;
    std::string bareWhere;

    /// Seconds spent per step, summed over the threads that did it: reading
    /// (and decompressing), scanning for record ends, parsing, selecting and
    /// redacting, working out the splice, writing; and the reading thread's
    /// time waiting for the workers.
    struct Steps {
        double read = 0, scan = 0, parse = 0, redact = 0, splice = 0, write = 0, wait = 0;
    } seconds;
};

/// What is read before any output exists: the prolog and the document
/// element's start tag, and whether the record route applies to them and the
/// expressions.
struct RecordStart {
    std::string head;           // every byte taken from the source so far
    bool end = false;           // head is the whole input
    std::size_t prologEnd = 0;  // just past the document element's start tag
    std::string name;           // the document element's name
    /// Else the whole-document route runs; reason says why (empty: nothing
    /// to tell, or the whole-document route reports what is wrong).
    bool applies = false;
    std::string reason;
    double readSeconds = 0;
};

/// Reads the prolog and the document element's start tag from source and
/// checks them and the expressions against the class that gives the same
/// selection per batch as on the whole document (RecordModeProblem). False
/// with a message when the source cannot be read, or when its first
/// character cannot begin a document (then nothing more is read).
bool ReadRecordStart(ByteSource& source, const std::string& sourceName,
                     const std::vector<std::string>& expressions, RecordStart& start,
                     std::string& error, const NamespaceMap& namespaces = {});

/// Redacts a document record by record: the children of its document element
/// are cut into batches of whole records by a light scan of the markup; each
/// batch, wrapped in the prolog and the document element's own start and end
/// tags, is parsed, selected, redacted and spliced on the shared workers; the
/// spliced records are written to out in input order, between the input's own
/// prolog and epilog. start is what ReadRecordStart read, where it applies.
/// An item selected outside the records (found only as the batches run) stops
/// the run with Whole. Whatever was written to out before a run ends other than
/// Done must be thrown away.
RecordRun RedactRecords(ByteSource& source, RecordStart start, const std::string& sourceName,
                        const std::vector<std::string>& expressions, const RecordSettings& settings,
                        std::ostream& out);

/// Both steps at once: a start that does not apply ends the run with Whole,
/// with the bytes taken so far in consumed.
RecordRun RedactRecords(ByteSource& source, const std::string& sourceName,
                        const std::vector<std::string>& expressions, const RecordSettings& settings,
                        std::ostream& out);

}  // namespace qiv::redact
