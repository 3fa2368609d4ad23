// Input: a flags byte (bit 0 --deep, bit 1 --attributes, bit 2 the document
// is given as bytes up to a NUL, else generated, bit 3 rules with actions
// chosen from the flags and the expressions), then the choices that
// generate the document and one to three expressions. Record mode must write
// byte for byte what the whole-document path writes, with the same counts,
// for batches of one record, of a few records and of the whole content; and
// must refuse only what the whole-document path refuses.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "RecordProperty.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    qiv::fuzz::SilenceOutput(qiv::LogLevel::Emergency);
    if (size < 2) {
        return 0;
    }
    const unsigned flags = data[0];
    std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::string document;
    if ((flags & 4) != 0) {
        const std::size_t split = rest.find('\0');
        if (split == std::string_view::npos) {
            return 0;
        }
        document.assign(rest.substr(0, split));
        rest.remove_prefix(split + 1);
    }
    qiv::redact::Choices choose(rest);
    if ((flags & 4) == 0) {
        document = qiv::redact::GenerateRecords(choose);
    }
    std::vector<std::string> expressions;
    for (std::size_t count = 1 + choose.Below(3), tries = 0;
         expressions.size() < count && tries < 8; ++tries) {
        std::string expression = qiv::redact::GenerateExpression(choose);
        if (qiv::redact::ExpressionProblem(expression).empty()) {
            expressions.push_back(std::move(expression));
        }
    }
    if (expressions.empty()) {
        return 0;
    }
    qiv::redact::RedactionSettings settings{(flags & 1) != 0, (flags & 2) != 0};
    std::vector<std::unique_ptr<qiv::redact::RuleAction>> actions;
    if ((flags & 8) != 0) {
        std::string choices;
        for (const std::string& expression : expressions) {
            choices += static_cast<char>((flags >> 4) ^ (expression.size() * 37));
        }
        settings.plans = qiv::redact::ChoosePlans(choices, expressions.size(), actions);
    }
    // Now and then the expressions' p: names are bound to their namespace,
    // under p or under another prefix.
    qiv::redact::NamespaceMap bindings;
    if (const std::size_t bind = choose.Below(3); bind != 0) {
        bindings = qiv::redact::BindPrefix(bind == 1 ? "p" : "n", expressions, settings);
    }
    const std::string problem = qiv::redact::CompareRecordsWithWhole(
        document, expressions, settings, {1, 64, 1 << 20}, nullptr, bindings);
    if (!problem.empty()) {
        std::string rules;
        for (std::size_t index = 0; index < expressions.size(); ++index) {
            rules += "\n" + expressions[index];
            if (index < settings.plans.size()) {
                const qiv::redact::ExpressionPlan& plan = settings.plans[index];
                rules += std::string(" -> ") + qiv::redact::ActionName(plan.action->Kind()) +
                         (plan.deep ? " deep" : "") + (plan.attributes ? " attributes" : "");
            }
        }
        qiv::fuzz::Fail(problem + "\ndocument:\n" + document + "\nexpressions:" + rules);
    }
    return 0;
}
