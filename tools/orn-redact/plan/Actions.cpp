#include "Actions.h"

#include <atomic>
#include <cstdint>

#include "Characters.h"
#include "Mask.h"

namespace qiv::redact {

namespace {

// Told apart per object ever made, so that a new one at an old one's address
// never finds the old one's token.
std::uint64_t NextSerial() {
    static std::atomic<std::uint64_t> next{1};
    return next.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

RuleAction::RuleAction(const Rule& rule, std::string_view key)
    : rule_(rule), serial_(NextSerial()) {
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
    const auto [begin, end] = TrimBlanks(value);
    if (begin == end) {
        return false;
    }
    const std::string_view core = value.substr(begin, end - begin);
    out.assign(value.substr(0, begin));
    if (rule_.action == Action::Mask) {
        out += Masked(core, rule_.mask);
        out += value.substr(end);
        return true;
    }
    // Exports repeat values record after record (a status, a country, a
    // template's words): the last token is kept per thread.
    struct LastToken {
        std::uint64_t action = 0;
        std::string value;
        std::string token;
    };
    thread_local LastToken last;
    if (last.action != serial_ || last.value != core) {
        last.token.clear();
        pseudonymizer_->AppendToken(core, last.token);
        last.value.assign(core);
        last.action = serial_;
    }
    out += last.token;
    out += value.substr(end);
    return true;
}

}  // namespace qiv::redact
