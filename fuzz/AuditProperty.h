#pragma once

// What --verify reads back from an output, as a property the splice and
// record-mode checks share: no value a rule changed that occurs once in the
// input is left, and the elements written are the ones the run noted.

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>

#include <pugixml.hpp>

#include "ByteSource.h"
#include "ChangedValues.h"
#include "OutputAudit.h"

namespace qiv::redact {

/// The element shape of a document as the parser reads it.
inline ElementShape ParsedShape(const std::string& document) {
    ElementShape shape;
    pugi::xml_document parsed;
    parsed.load_buffer(document.data(), document.size());
    for (pugi::xml_node top = parsed.first_child(); top; top = top.next_sibling()) {
        if (top.type() == pugi::node_element) {
            AddElementShape(top, shape);
        }
    }
    return shape;
}

/// Where the output still holds a value a rule changed that occurs once in the
/// input, as the audit of --verify finds them; empty when nowhere. Inputs the
/// audit does not read through as the parser did are left out.
inline std::string LeftoverProblem(const std::string& input, const std::string& output,
                                   const ChangedValues& changed) {
    AuditTrail trail;
    trail.changed = changed;
    trail.shape = ParsedShape(input);
    TextSource in(input);
    const OutputAuditResult before = AuditOutput(in, trail, SIZE_MAX);
    if (!before.problem.empty() || !before.error.empty()) {
        return {};
    }
    std::unordered_map<std::uint64_t, std::size_t> occurrences;
    for (const Leftover& place : before.shown) {
        ++occurrences[place.value];
    }
    TextSource out(output);
    const OutputAuditResult after = AuditOutput(out, trail, SIZE_MAX);
    for (const Leftover& place : after.shown) {
        if (occurrences[place.value] == 1) {
            return "a value that occurs once in the input is still in the output at offset " +
                   std::to_string(place.offset);
        }
    }
    return {};
}

}  // namespace qiv::redact
