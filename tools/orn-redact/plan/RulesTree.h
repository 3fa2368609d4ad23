#pragma once

// Reading a rules file in two steps: the YAML text into a tree of nodes that
// remember where they start, then the tree into rules.

#include "Rules.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qiv::redact::rulesfile {

// A place in the rules text, both numbers counted from 1.
struct Position {
    std::size_t line = 1;
    std::size_t column = 1;
};

// "NAME:LINE:COLUMN", as in messages and in a rule's origin.
inline std::string Where(const std::string& name, const Position& at) {
    return name + ':' + std::to_string(at.line) + ':' + std::to_string(at.column);
}

inline std::string Located(const std::string& name, const Position& at, std::string_view message) {
    return Where(name, at) + ": " + std::string(message);
}

// What the rules file says, as far as a rules file can say anything: a tree
// of scalars, sequences and mappings with where each starts.
struct Node {
    enum class Kind { Scalar, Sequence, Mapping };
    Kind kind = Kind::Scalar;
    Position at;
    std::string text;         // a scalar's value
    bool plain = false;       // a scalar written without quotes
    std::vector<Node> items;  // a sequence's items; a mapping's keys and values in turn
};

/// Turns the text's single YAML document into a Node tree; name stands for
/// the file in messages. False with a located error when the text is not
/// valid YAML or uses what a rules file has no use for.
bool LoadRulesTree(std::string_view text, const std::string& name, Node& root, std::string& error);

/// Turns the tree into rules, appended to rules, and its namespace prefixes,
/// added to namespaces. False with an error that
/// points at the key or value at fault.
bool InterpretRules(const Node& root, const std::string& name, std::vector<Rule>& rules,
                    NamespaceMap& namespaces, std::string& error);

}  // namespace qiv::redact::rulesfile
