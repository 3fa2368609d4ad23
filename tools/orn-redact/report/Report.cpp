#include "Report.h"

#include <cstdio>

namespace qiv::redact {

namespace {

const char* StatusName(const FileResult& result) {
    switch (result.status) {
        case ExitOk:
            return "ok";
        case ExitUsage:
            return "refused";
        case ExitNothingMatched:
            return "nothing matched";
        case ExitLeftReadable:
            return result.leftovers > 0 || !result.verifyProblem.empty() ? "verify failed"
                                                                         : "left readable";
        default:
            return "failed";
    }
}

std::string OptionalString(const std::optional<std::string>& text) {
    return text ? JsonString(*text) : "null";
}

// The length of the well-formed UTF-8 sequence at at (no overlong forms, no
// surrogates, nothing past U+10FFFF), or 0 when the byte there starts none.
std::size_t Utf8Length(const std::string& text, std::size_t at) {
    const auto byte = [&text](std::size_t index) {
        return index < text.size() ? static_cast<unsigned char>(text[index]) : 0u;
    };
    const unsigned int first = byte(at);
    if (first < 0x80) {
        return 1;
    }
    std::size_t length = 0;
    unsigned int low = 0x80, high = 0xBF;  // the range of the second byte
    if (first >= 0xC2 && first <= 0xDF) {
        length = 2;
    } else if (first >= 0xE0 && first <= 0xEF) {
        length = 3;
        low = first == 0xE0 ? 0xA0 : 0x80;
        high = first == 0xED ? 0x9F : 0xBF;
    } else if (first >= 0xF0 && first <= 0xF4) {
        length = 4;
        low = first == 0xF0 ? 0x90 : 0x80;
        high = first == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (byte(at + 1) < low || byte(at + 1) > high) {
        return 0;
    }
    for (std::size_t index = 2; index < length; ++index) {
        if (byte(at + index) < 0x80 || byte(at + index) > 0xBF) {
            return 0;
        }
    }
    return length;
}

bool IsUtf8(const std::string& text) {
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = Utf8Length(text, at);
        if (length == 0) {
            return false;
        }
        at += length;
    }
    return true;
}

// A name (a path) that is not UTF-8 shows in its field with U+FFFD for each
// byte that is not; a field NAME_hex next to it then holds all the name's
// bytes in hexadecimal, so that the exact name can be recovered: this gives
// that field (", " first, as it follows NAME's field), or nothing for a
// UTF-8 name.
std::string NameHex(const char* field, const std::optional<std::string>& name,
                    const char* separator) {
    if (!name || IsUtf8(*name)) {
        return {};
    }
    std::string hex;
    for (const char character : *name) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02x", static_cast<unsigned char>(character));
        hex += digits;
    }
    return separator + ("\"" + std::string(field) + "_hex\": \"" + hex + "\"");
}

std::string Digest(const std::string& digest) {
    return digest.empty() ? "null" : JsonString(digest);
}

}  // namespace

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (std::size_t at = 0; at < text.size(); ++at) {
        const char character = text[at];
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
                } else if (byte < 0x80) {
                    out += character;
                } else if (const std::size_t length = Utf8Length(text, at)) {
                    out.append(text, at, length);
                    at += length - 1;
                } else {
                    out += "\xEF\xBF\xBD";  // U+FFFD: the report stays UTF-8
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
            << (rule.origin.empty() ? "\"command line\"" : JsonString(rule.origin))
            << NameHex("from", rule.origin, ", ") << "}";
    }
    out << (rules.empty() ? "],\n" : "\n  ],\n") << "  \"files\": [";
    for (std::size_t index = 0; index < files.size(); ++index) {
        const ReportedFile& file = files[index];
        const FileResult& result = file.result;
        const std::optional<std::string>& output = file.inPlace ? file.input : file.output;
        const char* const line = ",\n      ";
        out << (index == 0 ? "\n" : ",\n") << "    {\n"
            << "      \"input\": " << OptionalString(file.input)
            << NameHex("input", file.input, line) << ",\n"
            << "      \"output\": " << OptionalString(output) << NameHex("output", output, line)
            << ",\n"
            << "      \"status\": " << JsonString(StatusName(result)) << ",\n"
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
            << (result.status == ExitOk || result.status == ExitLeftReadable ? "messages"
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
