#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Namespaces.h"

namespace qiv::redact {

/// What a rule does to the items it selects.
enum class Action { Redact, Replace, Mask, Pseudonym, Drop, Keep };

/// The action's name as written in a rules file ("redact", "replace", ...).
const char* ActionName(Action action);

/// How a pseudonym is written.
enum class Alphabet { Base32, Hex };

struct MaskSettings {
    std::size_t keepFirst = 0;    // characters kept at the start
    std::size_t keepLast = 0;     // characters kept at the end
    std::string character = "*";  // one UTF-8 character put in place of each other one
    bool keepSeparators = false;  // '-', ' ', '@' and '.' stay as they are
};

struct PseudonymSettings {
    std::string prefix;
    std::size_t length = 16;  // characters of the keyed hash after the prefix
    Alphabet alphabet = Alphabet::Base32;
};

/// One rule: an expression, what to do with what it selects, and the action's
/// parameters. Expressions given on the command line are rules with action
/// Redact.
struct Rule {
    std::string select;
    std::string origin;        // "FILE:LINE:COLUMN" of select in a rules file, else empty
    bool inRulesFile = false;  // read from a rules file (not an expression given alone)
    Action action = Action::Redact;
    std::optional<bool> deep;        // unset: as --deep
    std::optional<bool> attributes;  // unset: as --attributes
    std::string replacement;         // replace: the text "with"
    MaskSettings mask;
    PseudonymSettings pseudonym;
};

/// Reads a rules file (YAML; JSON is read as well). False with an error that
/// names the file, line and column when it cannot be read or is not a valid
/// rules file. The file's namespace prefixes are added to namespaces; without
/// it, a file that binds any is refused.
bool ReadRulesFile(const std::string& path, std::vector<Rule>& rules, std::string& error,
                   NamespaceMap* namespaces = nullptr);

/// As ReadRulesFile, on text already read; name stands for the file in
/// messages and origins.
bool ParseRules(std::string_view text, const std::string& name, std::vector<Rule>& rules,
                std::string& error, NamespaceMap* namespaces = nullptr);

}  // namespace qiv::redact
