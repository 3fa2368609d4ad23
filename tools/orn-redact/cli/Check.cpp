#include "Check.h"

#include "PerRecord.h"

namespace qiv::redact {

void PrintRulePaths(const std::vector<Rule>& rules, std::ostream& out) {
    for (std::size_t index = 0; index < rules.size(); ++index) {
        const Rule& rule = rules[index];
        const std::string problem = RecordModeProblem(rule.select, {});
        out << "rule " << index + 1 << " (" << (rule.origin.empty() ? "command line" : rule.origin)
            << "): " << ActionName(rule.action) << " '" << rule.select
            << "': " << (problem.empty() ? "record by record" : "whole document, " + problem)
            << '\n';
    }
    out.flush();
}

int PrintCheck(const std::vector<Rule>& rules, const std::vector<ReportedFile>& files,
               bool requireMatch, std::ostream& out) {
    bool unmatched = false;
    bool failed = false;
    for (const ReportedFile& file : files) {
        const std::string name = file.input.value_or("standard input");
        const FileResult& result = file.result;
        if (result.status != ExitOk && result.status != ExitNothingMatched &&
            result.status != ExitLeftReadable) {
            out << name << ": cannot be redacted (see the messages above)\n";
            failed = true;
            continue;
        }
        out << name << ": " << (result.route.empty() ? "not redacted" : result.route)
            << (result.reason.empty() ? "" : " (" + result.reason + ")") << '\n';
        for (std::size_t index = 0; index < result.outcomes.size(); ++index) {
            const ExpressionOutcome& outcome = result.outcomes[index];
            const Action action = index < rules.size() ? rules[index].action : Action::Redact;
            out << name << ": rule " << index + 1 << " selects " << outcome.selected;
            if (action == Action::Keep) {
                out << ", would keep " << outcome.selected - outcome.skipped;
            } else {
                out << ", would " << (action == Action::Drop ? "drop " : "change ")
                    << outcome.redacted;
            }
            if (outcome.skipped > 0) {
                out << ", leaves " << outcome.skipped << " alone (kept or dropped before)";
            }
            out << '\n';
            unmatched = unmatched || outcome.selected == 0;
        }
    }
    out.flush();
    return failed ? ExitFailure : requireMatch && unmatched ? ExitNothingMatched : ExitOk;
}

}  // namespace qiv::redact
