#pragma once

// Rules with actions chosen by bytes, for the property tests and fuzz targets
// that check every action the way they check plain redaction.

#include <memory>
#include <string_view>
#include <vector>

#include "Actions.h"
#include "Redaction.h"

namespace qiv::redact {

/// Actions for expressions, chosen by bytes: each expression gets one of
/// redact, replace (with markup-like text), mask, pseudonym (a fixed key),
/// drop or keep, deep and attributes on or off. The actions live in storage.
inline std::vector<ExpressionPlan> ChoosePlans(std::string_view choices, std::size_t count,
                                               std::vector<std::unique_ptr<RuleAction>>& storage) {
    std::vector<ExpressionPlan> plans;
    for (std::size_t index = 0; index < count; ++index) {
        const auto choice =
            static_cast<unsigned char>(choices.empty() ? 0 : choices[index % choices.size()]);
        Rule rule;
        rule.action = static_cast<Action>(choice % 6);
        rule.replacement = choice & 0x40 ? "a<b&c]]>\"'--" : "";
        rule.mask.keepLast = choice % 3;
        rule.mask.keepSeparators = (choice & 0x80) != 0;
        rule.mask.character = choice & 0x40 ? "\u2022" : "-";
        rule.pseudonym.prefix = choice & 0x40 ? "<&>" : "";
        rule.pseudonym.alphabet = choice & 0x80 ? Alphabet::Hex : Alphabet::Base32;
        storage.push_back(std::make_unique<RuleAction>(rule, "fuzz key"));
        plans.push_back({storage.back().get(), (choice & 0x08) != 0, (choice & 0x10) != 0});
    }
    return plans;
}

}  // namespace qiv::redact
