#include "Rules.h"

#include <fcntl.h>
#include <unistd.h>
#include <yaml.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <exception>
#include <limits>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Mask.h"

namespace qiv::redact {

namespace {

// A place in the rules text, both numbers counted from 1.
struct Position {
    std::size_t line = 1;
    std::size_t column = 1;
};

Position PositionOf(const yaml_mark_t& mark) { return {mark.line + 1, mark.column + 1}; }

// The position of a byte offset, with columns in UTF-8 characters as libyaml
// counts them in its marks. Used for the reader's errors (bad encoding,
// control characters), which carry an offset and no mark.
Position PositionAtOffset(std::string_view text, std::size_t offset) {
    Position at;
    const std::size_t end = std::min(offset, text.size());
    for (std::size_t i = 0; i < end; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte == '\n' || (byte == '\r' && (i + 1 == text.size() || text[i + 1] != '\n'))) {
            ++at.line;
            at.column = 1;
        } else if ((byte & 0xC0) != 0x80 && byte != '\r') {
            ++at.column;
        }
    }
    return at;
}

// "NAME:LINE:COLUMN", as in messages and in a rule's origin.
std::string Where(const std::string& name, const Position& at) {
    return name + ':' + std::to_string(at.line) + ':' + std::to_string(at.column);
}

std::string Located(const std::string& name, const Position& at, std::string_view message) {
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

// A rules file holds collections three levels deep: the top mapping, the list
// of rules, a rule. A collection below that is an error whatever it holds, so
// it is kept without its contents; this bounds the tree's depth (and the
// recursion that frees it) whatever the input.
constexpr std::size_t deepestCollection = 4;

// libyaml's scanner takes time quadratic in the nesting of flow collections
// ([[[[...), so a file that nests deeper than this is refused as soon as
// that shows.
constexpr std::size_t deepestNesting = 100;

// Turns the text's single YAML document into a Node tree with libyaml's
// event parser. Aliases and explicit tags are refused: neither has a use in
// a rules file, and aliases would let a small file stand for a large one.
class Loader {
public:
    Loader(std::string_view text, const std::string& name)
        : text_(text), name_(name), bom_(text.substr(0, 3) == "\xEF\xBB\xBF") {
        ready_ = yaml_parser_initialize(&parser_) != 0;
        if (ready_) {
            // libyaml expects a non-null pointer even for no input.
            const char* data = text.empty() ? "" : text.data();
            yaml_parser_set_input_string(&parser_, reinterpret_cast<const unsigned char*>(data),
                                         text.size());
            yaml_parser_set_encoding(&parser_, YAML_UTF8_ENCODING);
        }
    }
    ~Loader() {
        if (ready_) {
            yaml_parser_delete(&parser_);
        }
    }
    Loader(const Loader&) = delete;
    Loader& operator=(const Loader&) = delete;

    bool Load(Node& root, std::string& error) {
        if (!ready_) {
            error = Located(name_, {}, "out of memory");
            return false;
        }
        std::vector<Node*> open;  // collections being filled, innermost last
        std::size_t skipped = 0;  // nesting within a collection kept without contents
        std::size_t documents = 0;
        for (;;) {
            Event event;
            if (yaml_parser_parse(&parser_, &event.event) == 0) {
                error = SyntaxError();
                return false;
            }
            const yaml_event_t& e = event.event;
            const Position at = Place(PositionOf(e.start_mark));
            switch (e.type) {
                case YAML_STREAM_END_EVENT:
                case YAML_NO_EVENT:
                    if (documents == 0) {
                        error = Located(name_, {}, "the file holds no rules");
                        return false;
                    }
                    return true;
                case YAML_DOCUMENT_START_EVENT:
                    if (++documents > 1) {
                        error = Located(name_, at, "the file holds more than one document");
                        return false;
                    }
                    break;
                case YAML_ALIAS_EVENT:
                    error = Located(name_, at, "aliases are not supported in rules files");
                    return false;
                case YAML_SCALAR_EVENT:
                case YAML_SEQUENCE_START_EVENT:
                case YAML_MAPPING_START_EVENT:
                    if (HasTag(e)) {
                        error = Located(name_, at, "tags are not supported in rules files");
                        return false;
                    }
                    if (skipped > 0) {
                        skipped += e.type == YAML_SCALAR_EVENT ? 0 : 1;
                        if (open.size() + skipped > deepestNesting) {
                            error = Located(name_, at, "the file nests too deeply");
                            return false;
                        }
                        break;
                    }
                    Add(e, at, root, open, skipped);
                    break;
                case YAML_SEQUENCE_END_EVENT:
                case YAML_MAPPING_END_EVENT:
                    if (skipped > 0) {
                        --skipped;
                    } else if (!open.empty()) {
                        open.pop_back();
                    }
                    break;
                default:
                    break;
            }
        }
    }

private:
    struct Event {
        yaml_event_t event{};
        Event() = default;
        ~Event() { yaml_event_delete(&event); }
        Event(const Event&) = delete;
        Event& operator=(const Event&) = delete;
    };

    static bool HasTag(const yaml_event_t& e) {
        switch (e.type) {
            case YAML_SCALAR_EVENT:
                return e.data.scalar.tag != nullptr;
            case YAML_SEQUENCE_START_EVENT:
                return e.data.sequence_start.tag != nullptr;
            case YAML_MAPPING_START_EVENT:
                return e.data.mapping_start.tag != nullptr;
            default:
                return false;
        }
    }

    static void Add(const yaml_event_t& e, const Position& at, Node& root, std::vector<Node*>& open,
                    std::size_t& skipped) {
        Node node;
        node.at = at;
        if (e.type == YAML_SCALAR_EVENT) {
            node.text.assign(reinterpret_cast<const char*>(e.data.scalar.value),
                             e.data.scalar.length);
            node.plain = e.data.scalar.style == YAML_PLAIN_SCALAR_STYLE;
        } else {
            node.kind =
                e.type == YAML_SEQUENCE_START_EVENT ? Node::Kind::Sequence : Node::Kind::Mapping;
        }
        Node* added = &root;
        if (open.empty()) {
            root = std::move(node);
        } else {
            open.back()->items.push_back(std::move(node));
            added = &open.back()->items.back();
        }
        if (added->kind == Node::Kind::Scalar) {
            return;
        }
        // A parent's items do not move while a child is open: only the
        // innermost open collection grows.
        if (open.size() + 1 >= deepestCollection) {
            skipped = 1;
        } else {
            open.push_back(added);
        }
    }

    std::string SyntaxError() const {
        if (parser_.error == YAML_MEMORY_ERROR) {
            return Located(name_, {}, "out of memory");
        }
        const Position at = Place(parser_.error == YAML_READER_ERROR
                                      ? PositionAtOffset(text_, parser_.problem_offset)
                                      : PositionOf(parser_.problem_mark));
        return Located(name_, at, parser_.problem != nullptr ? parser_.problem : "not valid YAML");
    }

    // libyaml counts a byte order mark as a column of the first line; an
    // editor does not show it.
    Position Place(Position at) const {
        if (bom_ && at.line == 1 && at.column > 1) {
            --at.column;
        }
        return at;
    }

    std::string_view text_;
    const std::string& name_;
    const bool bom_;
    yaml_parser_t parser_{};
    bool ready_ = false;
};

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

    bool Rules(const Node& root, std::vector<Rule>& rules) {
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
            if (key.text != "rules") {
                return Fail(key,
                            "unknown key '" + key.text + "' at the top level; expected 'rules'");
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

// The whole file into text; Failed with errno set when it cannot be read.
// Rules files are small: anything past maxRulesFile is refused rather than
// read whole (a device or a wrong path must not fill the memory).
constexpr std::size_t maxRulesFile = std::size_t{16} << 20;

enum class ReadResult { Read, Failed, TooLarge };

ReadResult ReadWhole(const std::string& path, std::string& text) {
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        return ReadResult::Failed;
    }
    ReadResult result = ReadResult::Read;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(descriptor, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            result = ReadResult::Failed;
            break;
        }
        if (got == 0) {
            break;
        }
        if (static_cast<std::size_t>(got) > maxRulesFile - text.size()) {
            result = ReadResult::TooLarge;
            break;
        }
        text.append(buffer, static_cast<std::size_t>(got));
    }
    const int saved = errno;
    ::close(descriptor);
    errno = saved;
    return result;
}

}  // namespace

const char* ActionName(Action action) {
    switch (action) {
        case Action::Redact:
            return "redact";
        case Action::Replace:
            return "replace";
        case Action::Mask:
            return "mask";
        case Action::Pseudonym:
            return "pseudonym";
        case Action::Drop:
            return "drop";
        case Action::Keep:
            return "keep";
    }
    return "";
}

// On success the file's rules are appended to rules, so that several files
// and the command line's expressions can make one list; on failure rules is
// left as it was.
bool ParseRules(std::string_view text, const std::string& name, std::vector<Rule>& rules,
                std::string& error) {
    try {
        Node root;
        if (!Loader(text, name).Load(root, error)) {
            return false;
        }
        std::vector<Rule> read;
        if (!Interpreter(name, error).Rules(root, read)) {
            return false;
        }
        rules.insert(rules.end(), std::make_move_iterator(read.begin()),
                     std::make_move_iterator(read.end()));
        return true;
    } catch (const std::exception&) {
        // Only allocation can throw here.
        error = Located(name, {}, "out of memory");
        return false;
    }
}

bool ReadRulesFile(const std::string& path, std::vector<Rule>& rules, std::string& error) {
    try {
        std::string text;
        const ReadResult result = ReadWhole(path, text);
        if (result != ReadResult::Read) {
            error = "cannot read rules file '" + path + "': " +
                    (result == ReadResult::TooLarge ? "it is larger than 16 MiB"
                                                    : std::strerror(errno));
            return false;
        }
        return ParseRules(text, path, rules, error);
    } catch (const std::exception&) {
        error = "cannot read rules file '" + path + "': out of memory";
        return false;
    }
}

}  // namespace qiv::redact
