#include "VerifyWritten.h"

#include "OutputAudit.h"

namespace qiv::redact {

void VerifyWritten(const std::string& path, const AuditTrail& trail,
                   const std::vector<std::string>& expressions, const MessageSink& message,
                   FileResult& result) {
    const OutputAuditResult audit = AuditFile(path, trail);
    result.verified = true;
    if (!audit.error.empty()) {
        message("cannot read " + path + " back (--verify): " + audit.error);
        result.status = ExitFailure;
        return;
    }
    for (const Leftover& leftover : audit.shown) {
        const std::string by = leftover.expression < expressions.size()
                                   ? " by '" + expressions[leftover.expression] + "'"
                                   : std::string();
        message("warning: " + path + ": a value changed" + by + " is still " +
                (leftover.whole ? "the whole of " : "a word in ") + leftover.kind +
                At(leftover.position, leftover.offset));
    }
    if (audit.leftovers > audit.shown.size()) {
        message("warning: " + path + ": " + std::to_string(audit.leftovers - audit.shown.size()) +
                " more places still hold a value that a rule changed");
    }
    if (!audit.problem.empty()) {
        message("warning: " + path + " as written fails --verify: " + audit.problem);
    }
    result.leftovers = audit.leftovers;
    result.verifyProblem = audit.problem;
    if (audit.leftovers > 0 || !audit.problem.empty()) {
        result.status = ExitLeftReadable;
    }
}

}  // namespace qiv::redact
