#include <algorithm>
#include <cstdio>

#include "Actions.h"
#include "Markup.h"
#include "Redaction.h"

namespace qiv::redact {

namespace {

// A character reference, itself escaped where the character would be read as
// markup once the entity is expanded: "&#38;#60;" is "&#60;" in the entity's
// replacement text, which reads "<".
void AppendReference(std::string& out, unsigned int code, bool twice) {
    char reference[24];
    std::snprintf(reference, sizeof reference, twice ? "&#38;#%u;" : "&#%u;", code);
    out += reference;
}

// value (UTF-8) as the text between an entity declaration's quotes: quotes and
// '%' as character references, '&' and '<' referred to twice, every other
// character outside ASCII as a character reference, so that the declaration
// reads the same in any encoding the document is in.
std::string EntityLiteral(std::string_view value) {
    std::string out;
    for (std::size_t at = 0; at < value.size();) {
        const auto byte = static_cast<unsigned char>(value[at]);
        if (byte < 0x80) {
            if (byte == '"' || byte == '\'' || byte == '%') {
                AppendReference(out, byte, false);
            } else if (byte == '&' || byte == '<') {
                AppendReference(out, byte, true);
            } else {
                out += static_cast<char>(byte);
            }
            ++at;
            continue;
        }
        const std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : 2;
        unsigned int code = byte & (length == 4 ? 0x07u : length == 3 ? 0x0Fu : 0x1Fu);
        for (std::size_t next = 1; next < length && at + next < value.size(); ++next) {
            code = code << 6 | (static_cast<unsigned char>(value[at + next]) & 0x3Fu);
        }
        AppendReference(out, code, false);
        at += length;
    }
    return out;
}

}  // namespace

std::vector<SourceEdit> EntityValueEdits(std::string_view source,
                                         const std::vector<ExpressionOutcome>& outcomes,
                                         const std::vector<ExpressionPlan>& plans) {
    std::vector<SourceEdit> edits;
    for (const EntityDeclaration& entity : InternalEntities(source)) {
        // The first expression that changed a reference to it gives the value.
        const auto referred = std::find_if(
            outcomes.begin(), outcomes.end(), [&entity](const ExpressionOutcome& outcome) {
                return std::find(outcome.entities.begin(), outcome.entities.end(), entity.name) !=
                       outcome.entities.end();
            });
        if (referred == outcomes.end()) {
            continue;
        }
        const auto index = static_cast<std::size_t>(referred - outcomes.begin());
        const RuleAction* action = index < plans.size() ? plans[index].action : nullptr;
        // A dropped reference leaves the entity empty.
        std::string value = action != nullptr && action->Kind() == Action::Drop ? "" : "redacted";
        if (action != nullptr && action->Kind() != Action::Redact &&
            action->Kind() != Action::Drop &&
            !action->Rewrite(source.substr(entity.valueBegin, entity.valueEnd - entity.valueBegin),
                             value)) {
            continue;
        }
        edits.push_back({entity.valueBegin, entity.valueEnd, EntityLiteral(value)});
    }
    return edits;
}

}  // namespace qiv::redact
