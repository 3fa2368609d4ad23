#include "PlanMaker.h"

#include <algorithm>

#include "Expression.h"
#include "Namespaces.h"
#include "Pseudonym.h"

namespace qiv::redact {

namespace {

// The expression as a message can show it: a NUL byte as "\0".
std::string Shown(std::string text) {
    for (std::size_t nul = text.find('\0'); nul != std::string::npos; nul = text.find('\0', nul)) {
        text.replace(nul, 1, "\\0");
    }
    return text;
}

// With a rules file, each expression gets its action; the key is read only
// when a rule needs it.
int MakeActions(const Options& options, RunPlan& plan, const MessageSink& message, bool& usage) {
    std::string key;
    const bool keyed = std::any_of(plan.rules.begin(), plan.rules.end(), [](const Rule& rule) {
        return rule.action == Action::Pseudonym;
    });
    if (keyed) {
        std::string warning, error;
        if (!ReadKey(options.keyFile, key, warning, error)) {
            message(error);
            usage = true;
            return ExitUsage;
        }
        if (!warning.empty()) {
            message("warning: " + warning);
        }
    } else if (options.keyFile) {
        message("note: --key-file is used only by pseudonym rules, and there are none");
    }
    for (const Rule& rule : plan.rules) {
        plan.actions.push_back(std::make_unique<RuleAction>(rule, key));
        plan.redaction.plans.push_back({plan.actions.back().get(), rule.deep.value_or(options.deep),
                                        rule.attributes.value_or(options.attributes)});
    }
    std::fill(key.begin(), key.end(), '\0');
    return ExitOk;
}

}  // namespace

int MakePlan(const Options& options, std::vector<Rule> rulesFromFiles,
             const std::vector<SourcedExpression>& alone, RunPlan& plan, const MessageSink& message,
             bool& usage) {
    usage = false;
    const bool anyRulesFile = !rulesFromFiles.empty();
    plan.rules = std::move(rulesFromFiles);
    std::vector<SourcedExpression> sourced;
    for (Rule& rule : plan.rules) {
        rule.inRulesFile = true;
        sourced.push_back({rule.select, rule.origin});
    }
    for (const SourcedExpression& expression : alone) {
        sourced.push_back(expression);
        Rule rule;
        rule.select = expression.text;
        rule.origin = expression.origin;
        plan.rules.push_back(std::move(rule));
    }
    if (sourced.empty()) {
        message("no XPath expression given (the expression files hold none)");
        usage = true;
        return ExitUsage;
    }
    for (const std::string& text : options.namespaces) {
        NamespaceBinding binding;
        std::string problem = ReadBinding(text, binding);
        if (problem.empty()) {
            problem = AddBinding(plan.redaction.namespaces, std::move(binding));
        }
        if (!problem.empty()) {
            message("option -N " + text + ": " + problem);
            usage = true;
            return ExitUsage;
        }
    }
    bool allUsable = true;
    for (const SourcedExpression& expression : sourced) {
        std::string problem = ExpressionProblem(expression.text);
        if (problem.empty()) {
            problem = UnreadNodesProblem(expression.text);
        }
        if (!problem.empty()) {
            const std::string where =
                " (" + (expression.origin.empty() ? "command line" : expression.origin) + ")";
            message("rejected expression '" + Shown(expression.text) + "'" + where + ": " +
                    problem);
            allUsable = false;
        }
        plan.redaction.expressions.push_back(expression.text);
        plan.redaction.names.push_back(NameTests(expression.text, plan.redaction.namespaces));
        if (!plan.redaction.namespaces.empty()) {
            plan.redaction.queries.push_back(
                ResolvePrefixes(expression.text, plan.redaction.namespaces));
        }
    }
    if (!allUsable) {
        message("nothing written");
        return ExitUsage;
    }
    return anyRulesFile ? MakeActions(options, plan, message, usage) : ExitOk;
}

}  // namespace qiv::redact
