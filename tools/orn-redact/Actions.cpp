#include "Actions.h"

#include "Mask.h"

namespace qiv::redact {

namespace {

bool IsBlank(char character) {
    return character == ' ' || character == '\t' || character == '\r' || character == '\n';
}

}  // namespace

RuleAction::RuleAction(const Rule& rule, std::string_view key) : rule_(rule) {
    if (rule_.action == Action::Pseudonym) {
        pseudonymizer_ = std::make_unique<Pseudonymizer>(key, rule_.pseudonym);
    }
}

bool RuleAction::Rewrites() const {
    return rule_.action != Action::Drop && rule_.action != Action::Keep;
}

bool RuleAction::Rewrite(std::string_view value, std::string& out) const {
    switch (rule_.action) {
        case Action::Redact:
            out = "redacted";
            return true;
        case Action::Replace:
            out = rule_.replacement;
            return true;
        case Action::Mask:
        case Action::Pseudonym:
            break;
        case Action::Drop:
        case Action::Keep:
            return false;
    }
    std::size_t begin = 0;
    std::size_t end = value.size();
    while (begin < end && IsBlank(value[begin])) {
        ++begin;
    }
    while (end > begin && IsBlank(value[end - 1])) {
        --end;
    }
    if (begin == end) {
        return false;
    }
    const std::string_view core = value.substr(begin, end - begin);
    out.assign(value.substr(0, begin));
    out += rule_.action == Action::Mask ? Masked(core, rule_.mask) : pseudonymizer_->Token(core);
    out += value.substr(end);
    return true;
}

}  // namespace qiv::redact
