// Input: a flags byte (bit 0 --deep, bit 1 --attributes, bit 2 rules with
// actions chosen from the flags and each expression's text, bit 7 the prefix
// n bound to the namespace of the document's first declaration), a document, a
// NUL byte, then XPath expressions separated by line breaks. The document is
// redacted the way orn-redact does it; when the byte-preserving output is
// used, it must parse to the redacted document and differ from the input
// only inside the reported spans, none of which holds markup.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Expression.h"
#include "FuzzSupport.h"
#include "Namespaces.h"
#include "Redaction.h"
#include "SpliceProperty.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    qiv::fuzz::SilenceOutput(qiv::LogLevel::Emergency);
    if (size < 2) {
        return 0;
    }
    const unsigned flags = data[0];
    const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::size_t split = input.find('\0');
    if (split == std::string_view::npos) {
        return 0;
    }
    const std::string document(input.substr(0, split));
    std::vector<std::string> expressions;
    std::string_view rest = input.substr(split + 1);
    while (!rest.empty() && expressions.size() < 8) {
        const std::size_t end = std::min(rest.find('\n'), rest.size());
        std::string expression(rest.substr(0, end));
        rest.remove_prefix(std::min(end + 1, rest.size()));
        // Only usable node-set expressions reach the redaction in the tool.
        if (!expression.empty() && qiv::redact::ExpressionProblem(expression).empty()) {
            expressions.push_back(std::move(expression));
        }
    }
    if (expressions.empty()) {
        return 0;
    }
    qiv::redact::RedactionSettings settings{(flags & 1) != 0, (flags & 2) != 0};
    std::vector<std::unique_ptr<qiv::redact::RuleAction>> actions;
    if ((flags & 4) != 0) {
        std::string choices;
        for (const std::string& expression : expressions) {
            choices += static_cast<char>((flags >> 3) ^ (expression.size() * 37) ^
                                         static_cast<unsigned char>(expression.back()));
        }
        settings.plans = qiv::redact::ChoosePlans(choices, expressions.size(), actions);
    }
    if ((flags & 0x80) != 0) {
        // -N n=URI with the first namespace the document declares.
        const std::size_t declaration = document.find("xmlns");
        const std::size_t open = document.find_first_of("\"'", declaration);
        if (declaration != std::string::npos && open != std::string::npos) {
            const std::size_t close = document.find(document[open], open + 1);
            if (close != std::string::npos) {
                qiv::redact::AddBinding(settings.namespaces,
                                        {"n", document.substr(open + 1, close - open - 1), {}});
                for (const std::string& expression : expressions) {
                    settings.queries.push_back(
                        qiv::redact::ResolvePrefixes(expression, settings.namespaces));
                }
            }
        }
    }
    const qiv::redact::SpliceRun run = qiv::redact::RunSplice(document, expressions, settings);
    qiv::fuzz::Check(run.problem.empty(), run.problem);
    return 0;
}
