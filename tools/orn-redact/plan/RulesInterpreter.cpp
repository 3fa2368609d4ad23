#include "RulesTree.h"

#include <algorithm>
#include <array>
#include <limits>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Mask.h"

namespace qiv::redact::rulesfile {

namespace {

// The keys of a rule, and the action each belongs to unless it belongs to all.
enum class Key {
    Select,
    Action,
    Deep,
    Attributes,
    With,
    KeepFirst,
    KeepLast,
    Char,
    KeepSeparators,
    Prefix,
    Length,
    Alphabet,
    End
};

struct KeyInfo {
    const char* name;
    bool anyAction;
    Action action;
};

constexpr std::array<KeyInfo, static_cast<std::size_t>(Key::End)> keys = {{
    {"select", true, Action::Redact},
    {"action", true, Action::Redact},
    {"deep", true, Action::Redact},
    {"attributes", true, Action::Redact},
    {"with", false, Action::Replace},
    {"keep_first", false, Action::Mask},
    {"keep_last", false, Action::Mask},
    {"char", false, Action::Mask},
    {"keep_separators", false, Action::Mask},
    {"prefix", false, Action::Pseudonym},
    {"length", false, Action::Pseudonym},
    {"alphabet", false, Action::Pseudonym},
}};

constexpr Action actions[] = {Action::Redact,    Action::Replace, Action::Mask,
                              Action::Pseudonym, Action::Drop,    Action::Keep};

std::size_t EditDistance(std::string_view a, std::string_view b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) {
        row[j] = j;
    }
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// "unknown key 'keep_lsat'; did you mean 'keep_last'?" when one known key is
// a slip of the keyboard away.
std::string UnknownKey(const std::string& key) {
    std::string message = "unknown key '" + key + "'";
    const char* closest = nullptr;
    std::size_t best = std::numeric_limits<std::size_t>::max();
    for (const KeyInfo& info : keys) {
        const std::string_view name = info.name;
        const std::size_t distance = EditDistance(key, name);
        if (distance < best && distance <= std::max<std::size_t>(1, name.size() / 4)) {
            best = distance;
            closest = info.name;
        }
    }
    if (closest != nullptr) {
        message += "; did you mean '";
        message += closest;
        message += "'?";
    }
    return message;
}

// Turns the tree into rules; every message points at the key or value at fault.
class Interpreter {
public:
    Interpreter(const std::string& name, std::string& error) : name_(name), error_(error) {}

    bool Rules(const Node& root, std::vector<Rule>& rules, NamespaceMap& namespaces) {
        static constexpr std::string_view topLevel =
            "the top level must be a mapping with the key 'rules'";
        if (root.kind != Node::Kind::Mapping) {
            return Fail(root, topLevel);
        }
        const Node* list = nullptr;
        for (std::size_t i = 0; i + 1 < root.items.size(); i += 2) {
            const Node& key = root.items[i];
            if (!CheckKey(key)) {
                return false;
            }
            if (key.text == "namespaces") {
                if (!Namespaces(root.items[i + 1], namespaces)) {
                    return false;
                }
                continue;
            }
            if (key.text != "rules") {
                return Fail(key, "unknown key '" + key.text +
                                     "' at the top level; expected 'rules' or 'namespaces'");
            }
            if (list != nullptr) {
                return Fail(key, "'rules' is given twice");
            }
            list = &root.items[i + 1];
        }
        if (list == nullptr) {
            return Fail(root, topLevel);
        }
        if (list->kind != Node::Kind::Sequence) {
            return Fail(*list, "'rules' must be a list of rules");
        }
        if (list->items.empty()) {
            return Fail(*list, "'rules' holds no rules");
        }
        for (const Node& item : list->items) {
            Rule rule;
            if (!ReadRule(item, rule)) {
                return false;
            }
            rules.push_back(std::move(rule));
        }
        return true;
    }

private:
    // "namespaces:", a mapping of prefixes to namespace URIs.
    bool Namespaces(const Node& node, NamespaceMap& namespaces) {
        if (node.kind != Node::Kind::Mapping) {
            return Fail(node, "'namespaces' must be a mapping of prefixes to namespace URIs");
        }
        for (std::size_t i = 0; i + 1 < node.items.size(); i += 2) {
            const Node& key = node.items[i];
            const Node& value = node.items[i + 1];
            if (!CheckKey(key)) {
                return false;
            }
            NamespaceBinding binding;
            binding.prefix = key.text;
            binding.origin = Where(name_, key.at);
            if (!String(value, key.text, binding.uri)) {
                return false;
            }
            if (const std::string problem = AddBinding(namespaces, std::move(binding));
                !problem.empty()) {
                return Fail(key, problem);
            }
        }
        return true;
    }

    bool ReadRule(const Node& node, Rule& rule) {
        if (node.kind != Node::Kind::Mapping) {
            return Fail(node, "a rule must be a mapping");
        }
        std::array<const Node*, keys.size()> keyNodes{};
        std::array<const Node*, keys.size()> values{};
        std::vector<std::size_t> order;
        for (std::size_t i = 0; i + 1 < node.items.size(); i += 2) {
            const Node& key = node.items[i];
            if (!CheckKey(key)) {
                return false;
            }
            const auto known = std::find_if(keys.begin(), keys.end(), [&](const KeyInfo& info) {
                return key.text == info.name;
            });
            if (known == keys.end()) {
                return Fail(key, UnknownKey(key.text));
            }
            const auto index = static_cast<std::size_t>(known - keys.begin());
            if (values[index] != nullptr) {
                return Fail(key, "'" + key.text + "' is given twice");
            }
            keyNodes[index] = &key;
            values[index] = &node.items[i + 1];
            order.push_back(index);
        }
        // The action decides which other keys belong, wherever it stands.
        if (const Node* action = values[static_cast<std::size_t>(Key::Action)]) {
            if (!ReadAction(*action, rule.action)) {
                return false;
            }
        }
        for (const std::size_t index : order) {
            const KeyInfo& info = keys[index];
            if (!info.anyAction && info.action != rule.action) {
                return Fail(*keyNodes[index], std::string("'") + info.name +
                                                  "' does not apply to action '" +
                                                  ActionName(rule.action) + "'");
            }
            if (!ReadValue(static_cast<Key>(index), *values[index], rule)) {
                return false;
            }
        }
        if (values[static_cast<std::size_t>(Key::Select)] == nullptr) {
            return Fail(node, "a rule needs 'select'");
        }
        if (rule.action == Action::Replace &&
            values[static_cast<std::size_t>(Key::With)] == nullptr) {
            return Fail(node, "action 'replace' needs 'with'");
        }
        // Checked last, since the alphabet may come after the length. The
        // default length fits both alphabets.
        const std::size_t longest = rule.pseudonym.alphabet == Alphabet::Hex ? 64 : 52;
        const Node* length = values[static_cast<std::size_t>(Key::Length)];
        if (length != nullptr && (rule.pseudonym.length < 1 || rule.pseudonym.length > longest)) {
            return Fail(*length, "'length' must be between 1 and " + std::to_string(longest) +
                                     " for " +
                                     (rule.pseudonym.alphabet == Alphabet::Hex ? "hex" : "base32"));
        }
        return true;
    }

    bool ReadValue(Key key, const Node& value, Rule& rule) {
        switch (key) {
            case Key::Select:
                if (!String(value, "select", rule.select)) {
                    return false;
                }
                if (rule.select.empty()) {
                    return Fail(value, "'select' must not be empty");
                }
                rule.origin = Where(name_, value.at);
                return true;
            case Key::Action:
                return true;  // read before the others
            case Key::Deep:
                return Boolean(value, "deep", rule.deep.emplace());
            case Key::Attributes:
                return Boolean(value, "attributes", rule.attributes.emplace());
            case Key::With:
                return String(value, "with", rule.replacement);
            case Key::KeepFirst:
                return Count(value, "keep_first", rule.mask.keepFirst);
            case Key::KeepLast:
                return Count(value, "keep_last", rule.mask.keepLast);
            case Key::Char:
                if (!String(value, "char", rule.mask.character)) {
                    return false;
                }
                return IsOneCharacter(rule.mask.character) ||
                       Fail(value, "'char' must be one character");
            case Key::KeepSeparators:
                return Boolean(value, "keep_separators", rule.mask.keepSeparators);
            case Key::Prefix:
                return String(value, "prefix", rule.pseudonym.prefix);
            case Key::Length:
                // Too large for a number is too long as well: the bounds
                // check reports it.
                return Count(value, "length", rule.pseudonym.length, true);
            case Key::Alphabet:
                return ReadAlphabet(value, rule.pseudonym.alphabet);
            case Key::End:
                break;
        }
        return true;
    }

    bool ReadAction(const Node& value, Action& action) {
        std::string name;
        if (!String(value, "action", name)) {
            return false;
        }
        for (const Action candidate : actions) {
            if (name == ActionName(candidate)) {
                action = candidate;
                return true;
            }
        }
        return Fail(value, "unknown action '" + name +
                               "'; expected redact, replace, mask, pseudonym, drop or keep");
    }

    bool ReadAlphabet(const Node& value, Alphabet& alphabet) {
        std::string name;
        if (!String(value, "alphabet", name)) {
            return false;
        }
        if (name == "base32" || name == "hex") {
            alphabet = name == "hex" ? Alphabet::Hex : Alphabet::Base32;
            return true;
        }
        return Fail(value, "unknown alphabet '" + name + "'; expected base32 or hex");
    }

    bool CheckKey(const Node& key) {
        return key.kind == Node::Kind::Scalar || Fail(key, "a key must be a string");
    }

    // Any scalar is text, quoted or not. A NUL (written as an escape) is
    // refused: expressions and replacements end up in C strings.
    bool String(const Node& value, std::string_view key, std::string& text) {
        if (value.kind != Node::Kind::Scalar) {
            return Fail(value, Quoted(key) + " must be a string");
        }
        if (value.text.find('\0') != std::string::npos) {
            return Fail(value, Quoted(key) + " must not hold a NUL character");
        }
        text = value.text;
        return true;
    }

    // Only the plain scalars true and false: "true" in quotes is a string,
    // and YAML 1.1's yes, no, on and off are too easily written by mistake.
    bool Boolean(const Node& value, std::string_view key, bool& flag) {
        const bool scalar = value.kind == Node::Kind::Scalar;
        if (scalar && value.plain && (value.text == "true" || value.text == "false")) {
            flag = value.text == "true";
            return true;
        }
        const bool quoted =
            scalar && !value.plain && (value.text == "true" || value.text == "false");
        return Fail(value,
                    Quoted(key) + " must be true or false" + (quoted ? ", without quotes" : ""));
    }

    // A plain decimal number without sign, fraction or leading zeros (which
    // YAML 1.1 reads as octal). Past size_t it is an error, or with
    // saturate the largest size_t, for a bounds check to report.
    bool Count(const Node& value, std::string_view key, std::size_t& count, bool saturate = false) {
        const std::string& text = value.text;
        const bool digits = value.kind == Node::Kind::Scalar && !text.empty() &&
                            text.find_first_not_of("0123456789") == std::string::npos;
        if (!digits) {
            return Fail(value, Quoted(key) + " must be a whole number of at least 0");
        }
        if (!value.plain) {
            return Fail(value, Quoted(key) + " must be a number, without quotes");
        }
        if (text.size() > 1 && text[0] == '0') {
            return Fail(value, Quoted(key) + " must be written without leading zeros");
        }
        constexpr std::size_t largest = std::numeric_limits<std::size_t>::max();
        std::size_t number = 0;
        for (const char digit : text) {
            const auto d = static_cast<std::size_t>(digit - '0');
            if (number > (largest - d) / 10) {
                if (!saturate) {
                    return Fail(value, Quoted(key) + " is too large");
                }
                number = largest;
                break;
            }
            number = number * 10 + d;
        }
        count = number;
        return true;
    }

    static std::string Quoted(std::string_view key) { return "'" + std::string(key) + "'"; }

    bool Fail(const Node& node, std::string_view message) {
        error_ = Located(name_, node.at, message);
        return false;
    }

    const std::string& name_;
    std::string& error_;
};

}  // namespace

bool InterpretRules(const Node& root, const std::string& name, std::vector<Rule>& rules,
                    NamespaceMap& namespaces, std::string& error) {
    return Interpreter(name, error).Rules(root, rules, namespaces);
}

}  // namespace qiv::redact::rulesfile
