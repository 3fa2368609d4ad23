// Input: a flags byte (bit 0 --deep, bit 1 --attributes), a document, a NUL
// byte, then XPath expressions separated by line breaks. The document is
// redacted the way orn-redact does it; when the byte-preserving output is
// used, it must parse to the redacted document and differ from the input
// only inside the reported spans, none of which holds markup.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
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
    const qiv::redact::SpliceRun run =
        qiv::redact::RunSplice(document, expressions, {(flags & 1) != 0, (flags & 2) != 0});
    qiv::fuzz::Check(run.problem.empty(), run.problem);
    return 0;
}
