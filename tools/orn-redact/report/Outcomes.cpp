#include "Outcomes.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "Actions.h"
#include "Markup.h"
#include "Namespaces.h"
#include "ParseFailure.h"
#include "Position.h"

namespace qiv::redact {

namespace {

// What the expression at index does, for messages.
const RuleAction* ActionOf(const RedactionPlan& plan, std::size_t index) {
    return index < plan.plans.size() ? plan.plans[index].action : nullptr;
}

// "12 elements 'x:title' in namespace 'U'", for the names a test missed.
std::string Described(const NameFound& found) {
    const char* kind = found.attribute ? (found.count == 1 ? " attribute '" : " attributes '")
                                       : (found.count == 1 ? " element '" : " elements '");
    return std::to_string(found.count) + kind + found.name + "' " +
           (found.uri.empty() ? "in no namespace" : "in namespace '" + found.uri + "'");
}

// One line on the names an expression that selected nothing missed, when
// the document holds them under another prefix or namespace; empty if not.
std::string MissedNames(const ExpressionOutcome& outcome) {
    std::string listed;
    const NameFound* first = nullptr;
    for (const NameFound& found : outcome.names) {
        const bool tested = std::any_of(outcome.names.begin(), outcome.names.end(),
                                        [&found](const NameFound& other) {
                                            return other.exact && other.test == found.test &&
                                                   other.attribute == found.attribute;
                                        });
        if (found.exact || tested) {
            continue;
        }
        listed += (listed.empty() ? "" : ", ") + Described(found);
        first = first != nullptr ? first : &found;
    }
    if (first == nullptr) {
        return {};
    }
    const std::string_view local = LocalPartOf(first->test);
    std::string prefix(PrefixOf(first->test));
    prefix = prefix.empty() ? "p" : prefix;
    const std::string how = first->uri.empty()
                                ? "write the name without a prefix to select them"
                                : "bind a prefix to the namespace to select them (-N " + prefix +
                                      "=" + first->uri + " and " + (first->attribute ? "@" : "") +
                                      prefix + ":" + std::string(local) + ")";
    return "warning: '" + outcome.expression + "' selected nothing, but the document has " +
           listed + "; " + how;
}

}  // namespace

bool PrintOutcomes(const std::vector<ExpressionOutcome>& outcomes, const Options& options,
                   const RedactionPlan& plan, const MessageSink& message) {
    bool left = false;
    for (std::size_t index = 0; index < outcomes.size(); ++index) {
        const ExpressionOutcome& outcome = outcomes[index];
        const RuleAction* given = ActionOf(plan, index);
        const Action kind = given != nullptr ? given->Kind() : Action::Redact;
        // Plain redaction is reported the same way whether it came from a rule or not.
        const RuleAction* action = kind == Action::Redact ? nullptr : given;
        const bool hintRule = given != nullptr && given->Source().inRulesFile;
        const bool attributes =
            index < plan.plans.size() ? plan.plans[index].attributes : options.attributes;
        const std::string quoted = "'" + outcome.expression + "'";
        if (options.report) {
            std::ostringstream line;
            line << quoted << ": selected " << outcome.selected;
            if (action == nullptr) {
                line << ", redacted " << outcome.redacted;
            } else if (kind == Action::Keep) {
                line << ", kept " << outcome.selected - outcome.skipped;
            } else {
                line << ", " << (kind == Action::Drop ? "dropped " : "changed ") << outcome.redacted
                     << " (" << ActionName(kind) << ")";
            }
            if (outcome.skipped > 0) {
                line << ", " << outcome.skipped << " left alone as kept or dropped before";
            }
            if (outcome.attributes > 0) {
                line << " (" << outcome.attributes << " of the selected are attributes)";
            }
            message(line.str());
        }
        if (outcome.attributes > 0 && !attributes && kind != Action::Keep && kind != Action::Drop) {
            left = true;
            message("warning: " + quoted + " selected " + std::to_string(outcome.attributes) +
                    (outcome.attributes == 1 ? " attribute" : " attributes") +
                    (!hintRule ? "; attribute values are not redacted (use --attributes)"
                               : "; attribute values are left as they are (give the rule "
                                 "'attributes: true')") +
                    (outcome.leftWhere.empty() ? "" : "; the first" + outcome.leftWhere));
        }
        if (const std::string missed = MissedNames(outcome); !missed.empty()) {
            message(missed);
            left = true;
        }
        if (outcome.elementsWithOtherText > 0) {
            left = true;
            message("warning: " + quoted + ": " + std::to_string(outcome.elementsWithOtherText) +
                    " of " + std::to_string(outcome.elements) +
                    (!hintRule
                         ? " selected elements still hold text other than \"redacted\" in "
                           "further text runs, child elements or comments (use --deep)"
                         : " selected elements still hold text no rule changed in further text "
                           "runs, child elements or comments (give the rule 'deep: true')") +
                    (outcome.leftWhere.empty() ? "" : "; the first" + outcome.leftWhere));
        }
    }
    return left;
}

bool NoteEntities(const std::vector<ExpressionOutcome>& outcomes, std::string_view prolog,
                  bool replaced, const MessageSink& message) {
    const bool any =
        std::any_of(outcomes.begin(), outcomes.end(),
                    [](const ExpressionOutcome& outcome) { return !outcome.entities.empty(); });
    if (!any) {
        return false;
    }
    bool left = false;
    const std::vector<EntityDeclaration> declared = InternalEntities(prolog);
    for (const ExpressionOutcome& outcome : outcomes) {
        for (const EntityDeclaration& entity : declared) {
            if (std::find(outcome.entities.begin(), outcome.entities.end(), entity.name) ==
                outcome.entities.end()) {
                continue;
            }
            const std::string named = "entity '" + entity.name + "', declared in the DOCTYPE" +
                                      At(prolog, entity.declaration);
            if (replaced) {
                message("note: '" + outcome.expression + "' removed a reference to " + named +
                        "; its value there is replaced too (--entities)");
            } else {
                message("warning: '" + outcome.expression + "' removed a reference to " + named +
                        ", whose value is still there (use --entities)");
                left = true;
            }
        }
    }
    return left;
}

bool AllMatched(const std::vector<ExpressionOutcome>& outcomes, const MessageSink& message,
                bool written) {
    bool all = true;
    for (const ExpressionOutcome& outcome : outcomes) {
        if (outcome.selected == 0) {
            message("'" + outcome.expression + "' selected nothing (--require-match)");
            all = false;
        }
    }
    if (!all) {
        message(written ? "the document was written before that was known (--stream)"
                        : "nothing written");
    }
    return all;
}

std::string CutShort(std::string failure) {
    constexpr std::string_view nothing = "; nothing written";
    if (failure.size() >= nothing.size() &&
        failure.compare(failure.size() - nothing.size(), nothing.size(), nothing) == 0) {
        failure.resize(failure.size() - nothing.size());
    }
    return failure + "; the output written so far is cut short";
}

void NoteLayoutUnused(const Options& options, const MessageSink& message) {
    if (options.layoutGiven) {
        message(std::string("note: ") + (options.raw ? "--raw" : "--indent") +
                " applies only when the document is written anew (--reformat)");
    }
}

void WarnBareAmpersands(const std::string& source, std::uint64_t count, const std::string& where,
                        const MessageSink& message) {
    message("warning: " + source + " holds " + DescribeBareAmpersands(count, where) +
            ": it is not well-formed XML, and neither is the output (--strict refuses such "
            "input)");
}

void WarnReadableBackup(const std::string& backup, unsigned int mode, const MessageSink& message) {
    const bool group = (mode & 040) != 0;
    const bool others = (mode & 004) != 0;
    if (!group && !others) {
        return;
    }
    char octal[8];
    std::snprintf(octal, sizeof octal, "%04o", mode & 07777);
    message("warning: " + backup + " keeps the unredacted original and is readable by " +
            (group && others ? "its group and others"
             : group         ? "its group"
                             : "others") +
            " (mode " + octal + ")");
}

std::size_t Redacted(const std::vector<ExpressionOutcome>& outcomes) {
    std::size_t total = 0;
    for (const ExpressionOutcome& outcome : outcomes) {
        total += outcome.redacted;
    }
    return total;
}

}  // namespace qiv::redact
