#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ByteSource.h"
#include "ChangedValues.h"
#include "Position.h"

namespace qiv::redact {

/// A place in the output that still holds a value a rule changed.
struct Leftover {
    std::uint64_t offset = 0;
    TextPosition position;
    const char* kind = "";  // "a text", "an attribute value", ...
    bool whole = false;     // the whole of it (else one of its words)
    std::uint32_t expression = 0;
    std::uint64_t value = 0;  // the value's hash, as ChangedValues takes it
};

/// What the audit of a written document found.
struct OutputAuditResult {
    std::string error;    // the output could not be read (nothing else is set)
    std::string problem;  // not well-formed, or not the expected elements: what and where
    std::uint64_t leftovers = 0;
    std::vector<Leftover> shown;  // the first few leftovers, in output order
};

/// How many leftovers are located in the result; the others are only counted.
inline constexpr std::size_t shownLeftovers = 20;

/// Reads a written document from source in bounded pieces, with the tool's
/// markup scanner, and checks that:
/// - it is well-formed: one document element, tags that nest and match,
///   attributes that are quoted and not repeated, references that are whole,
///   comments without "--", nothing but blanks, comments and PIs outside;
/// - its elements, names and depths in document order, hash to trail.shape;
/// - no text, CDATA section, attribute value, comment, PI or literal of an
///   entity declaration holds a value of trail.changed as the whole of it
///   (compared without leading and trailing blanks, inner blanks as one space,
///   references resolved), nor, for such values of 4 or more bytes, as one
///   of its blank-separated words (unless the whole is a value a rule wrote).
/// show: how many leftovers are located.
/// A document in Latin-1 is compared in its UTF-8 form; memory stays within a
/// read buffer and the largest single construct of the document.
OutputAuditResult AuditOutput(ByteSource& source, const AuditTrail& trail,
                              std::size_t show = shownLeftovers);

/// The same for the file at path (through its compression). A large file
/// that is not compressed is audited in two halves at once, the second on a
/// worker from a tag near its middle; the result is the same as in one pass
/// (were the middle inside a comment, CDATA section or PI, the first half
/// goes on alone).
OutputAuditResult AuditFile(const std::string& path, const AuditTrail& trail);

}  // namespace qiv::redact
