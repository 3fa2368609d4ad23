#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "Pseudonym.h"
#include "Rules.h"

namespace qiv::redact {

/// What a rule writes in place of a value. Mask and pseudonym work on the
/// value without its leading and trailing blanks (space, tab, CR, LF), which
/// stay as they are: the same value gives the same token however it is
/// indented, and an empty or blank value is left alone.
class RuleAction {
public:
    /// key: the pseudonym key (used only by pseudonym rules).
    RuleAction(const Rule& rule, std::string_view key);

    Action Kind() const { return rule_.action; }
    const Rule& Source() const { return rule_; }
    /// Whether the action writes new values (redact, replace, mask, pseudonym).
    bool Rewrites() const;
    /// The new value for value; false when the value stays as it is.
    bool Rewrite(std::string_view value, std::string& out) const;

private:
    Rule rule_;
    std::uint64_t serial_;
    std::unique_ptr<Pseudonymizer> pseudonymizer_;
};

}  // namespace qiv::redact
