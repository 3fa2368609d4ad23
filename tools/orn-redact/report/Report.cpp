#include "Report.h"

#include <cstdio>

namespace qiv::redact {

namespace {

const char* StatusName(int status) {
    switch (status) {
        case ExitOk:
            return "ok";
        case ExitUsage:
            return "refused";
        case ExitNothingMatched:
            return "nothing matched";
        case ExitVerifyFailed:
            return "verify failed";
        default:
            return "failed";
    }
}

std::string OptionalString(const std::optional<std::string>& text) {
    return text ? JsonString(*text) : "null";
}

std::string Digest(const std::string& digest) {
    return digest.empty() ? "null" : JsonString(digest);
}

}  // namespace

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (const char character : text) {
        const auto byte = static_cast<unsigned char>(character);
        switch (character) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (byte < 0x20 || byte == 0x7F) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
                    out += escaped;
                } else {
                    out += character;
                }
        }
    }
    return out + "\"";
}

void WriteReport(std::ostream& out, const std::vector<Rule>& rules,
                 const std::vector<ReportedFile>& files) {
    out << "{\n  \"rules\": [";
    for (std::size_t index = 0; index < rules.size(); ++index) {
        const Rule& rule = rules[index];
        out << (index == 0 ? "\n" : ",\n") << "    {\"rule\": " << index + 1
            << ", \"select\": " << JsonString(rule.select)
            << ", \"action\": " << JsonString(ActionName(rule.action)) << ", \"from\": "
            << (rule.origin.empty() ? "\"command line\"" : JsonString(rule.origin)) << "}";
    }
    out << (rules.empty() ? "],\n" : "\n  ],\n") << "  \"files\": [";
    for (std::size_t index = 0; index < files.size(); ++index) {
        const ReportedFile& file = files[index];
        const FileResult& result = file.result;
        out << (index == 0 ? "\n" : ",\n") << "    {\n"
            << "      \"input\": " << OptionalString(file.input) << ",\n"
            << "      \"output\": "
            << (file.inPlace ? OptionalString(file.input) : OptionalString(file.output)) << ",\n"
            << "      \"status\": " << JsonString(StatusName(result.status)) << ",\n"
            << "      \"input_bytes\": " << (file.input ? result.inputBytes : result.bytes) << ",\n"
            << "      \"input_sha256\": " << Digest(result.inputDigest) << ",\n"
            << "      \"output_bytes\": ";
        if (result.outputDigest.empty()) {
            out << "null";
        } else {
            out << result.outputBytes;
        }
        out << ",\n"
            << "      \"output_sha256\": " << Digest(result.outputDigest) << ",\n"
            << "      \"path\": " << (result.route.empty() ? "null" : JsonString(result.route))
            << ",\n"
            << "      \"reason\": " << (result.reason.empty() ? "null" : JsonString(result.reason))
            << ",\n"
            << "      \"rules\": [";
        for (std::size_t at = 0; at < result.outcomes.size(); ++at) {
            const ExpressionOutcome& outcome = result.outcomes[at];
            const Action action = at < rules.size() ? rules[at].action : Action::Redact;
            out << (at == 0 ? "\n" : ",\n") << "        {\"rule\": " << at + 1
                << ", \"action\": " << JsonString(ActionName(action))
                << ", \"selected\": " << outcome.selected << ", \"changed\": " << outcome.redacted
                << ", \"left_alone\": " << outcome.skipped
                << ", \"left_with_other_text\": " << outcome.elementsWithOtherText << "}";
        }
        out << (result.outcomes.empty() ? "],\n" : "\n      ],\n");
        if (result.verified) {
            out << "      \"verify\": {\"leftovers\": " << result.leftovers << ", \"problem\": "
                << (result.verifyProblem.empty() ? "null" : JsonString(result.verifyProblem))
                << "},\n";
        }
        out << "      \""
            << (result.status == ExitOk || result.status == ExitVerifyFailed ? "messages"
                                                                             : "errors")
            << "\": [";
        for (std::size_t at = 0; at < file.messages.size(); ++at) {
            out << (at == 0 ? "" : ", ") << JsonString(file.messages[at]);
        }
        out << "]\n    }";
    }
    out << (files.empty() ? "]\n}\n" : "\n  ]\n}\n");
}

}  // namespace qiv::redact
