#include "RulesTree.h"

#include <yaml.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Libraries.h"

namespace qiv::redact::rulesfile {

namespace {

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

}  // namespace

bool LoadRulesTree(std::string_view text, const std::string& name, Node& root, std::string& error) {
    if (std::string why; !LoadLibrary(Library::Yaml, why)) {
        error = name + ": " + why;
        return false;
    }
    return Loader(text, name).Load(root, error);
}

}  // namespace qiv::redact::rulesfile
