#include "RedactionParts.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unordered_map>

#include "Characters.h"
#include "Expression.h"
#include "Workers.h"

namespace qiv::redact::redaction {

namespace {

// Whether a text node reads as changed by some expression.
bool Written(const pugi::xml_node& text, const WrittenTexts& written) {
    return std::strcmp(text.value(), redactedText) == 0 ||
           (!written.Empty() && written.Has(text.internal_object()));
}

// Whether item lies inside node (or is it).
bool Within(const pugi::xpath_node& item, const pugi::xml_node& node) {
    for (pugi::xml_node up = item.attribute() ? item.parent() : item.node(); up; up = up.parent()) {
        if (up == node) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::vector<char> HoldOtherText(const std::vector<pugi::xml_node>& elements, WrittenTexts& written,
                                const Guard& guard) {
    constexpr signed char unknown = -1;
    std::unordered_map<const void*, signed char> state;
    state.reserve(elements.size());
    for (const pugi::xml_node& element : elements) {
        state.emplace(element.internal_object(), unknown);
    }
    std::vector<char> open;  // per element on the walk's path: other text seen below it
    for (const pugi::xml_node& element : elements) {
        if (state[element.internal_object()] != unknown) {
            continue;
        }
        open.assign(1, 0);
        pugi::xml_node parent = element;
        pugi::xml_node current = element.first_child();
        for (;;) {
            if (open.size() == 1 && open.back() != 0) {
                // Other text among its own children: the rest cannot change
                // that, and the elements below it not reached yet are walked
                // in their own turn.
                state[element.internal_object()] = 1;
                break;
            }
            if (!current) {
                const char other = open.back();
                open.pop_back();
                if (const auto found = state.find(parent.internal_object()); found != state.end()) {
                    found->second = static_cast<signed char>(other);
                }
                if (parent == element) {
                    break;
                }
                open.back() = static_cast<char>(open.back() | other);
                current = parent.next_sibling();
                parent = parent.parent();
                continue;
            }
            const pugi::xml_node_type type = current.type();
            if (guard.AnyDropped() && guard.Dropped(current.internal_object())) {
                // Gone from the output, with all it holds.
            } else if (type == pugi::node_pcdata || type == pugi::node_cdata) {
                if (!Written(current, written)) {
                    open.back() = 1;
                }
            } else if (type == pugi::node_element) {
                const auto found = state.find(current.internal_object());
                if (found == state.end() || found->second == unknown) {
                    open.push_back(0);
                    parent = current;
                    current = current.first_child();
                    continue;
                }
                open.back() = static_cast<char>(open.back() | found->second);
            }
            current = current.next_sibling();
        }
    }
    std::vector<char> other(elements.size());
    for (std::size_t index = 0; index < elements.size(); ++index) {
        other[index] = static_cast<char>(state[elements[index].internal_object()] == 1);
    }
    return other;
}

void AddReferences(const char* value, std::vector<std::string>& names) {
    for (const char* amp = std::strchr(value, '&'); amp != nullptr;
         amp = std::strchr(amp + 1, '&')) {
        const char* end = amp + 1;
        while (IsNameCharacter(static_cast<unsigned char>(*end))) {
            ++end;
        }
        if (*end == ';' && end > amp + 1 && amp[1] != '#') {
            std::string name(amp + 1, end);
            if (std::find(names.begin(), names.end(), name) == names.end()) {
                names.push_back(std::move(name));
            }
        }
    }
}

void NoteReferencesWithin(const pugi::xml_node& node, const ValueWriter& writer) {
    if (node.type() != pugi::node_element) {
        writer.NoteReferences(node);
        return;
    }
    pugi::xml_node current = node;
    while (current) {
        if (current.type() == pugi::node_element) {
            for (const pugi::xml_attribute& attribute : current.attributes()) {
                writer.NoteReferences(attribute.value());
            }
            if (current.first_child()) {
                current = current.first_child();
                continue;
            }
        } else {
            writer.NoteReferences(current);
        }
        while (current != node && !current.next_sibling()) {
            current = current.parent();
        }
        current = current == node ? pugi::xml_node() : current.next_sibling();
    }
}

bool ValueWriter::ComputeConverted(const char* current) {
    thread_local std::string read;
    read.clear();
    if (utf8 != nullptr && utf8->Has(current)) {
        read.assign(current);
    } else {
        AppendUtf8(read, current, values);
    }
    if (!action->Rewrite(read, value)) {
        return false;
    }
    if (anew == Charset::Utf8) {
        return true;
    }
    // The parser writes the document's own bytes (or, for Latin-1 it
    // converted, UTF-8 as Latin-1): no character reference can be put there.
    if (const char32_t unheld = FirstUnheld(value, anew)) {
        if (problem.empty()) {
            char code[16];
            std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned int>(unheld));
            problem = std::string("a new value holds ") + code + ", which " + CharsetName(anew) +
                      " cannot hold, and a document written anew cannot write it as a character "
                      "reference";
        }
        return false;
    }
    if (values != Charset::Utf8) {
        read.clear();
        AppendInCharset(read, value, values, false);
        value.swap(read);
    }
    return true;
}

void RedactAllText(const pugi::xml_node& element, ValueWriter& writer, const Guard& guard,
                   const pugi::xpath_node*& next, const pugi::xpath_node* end, const void* done) {
    SourceSplicer* splicer = writer.splicer;
    const auto pass = [&next, end](const pugi::xml_node& node) {
        if (next != end && !next->attribute() && next->node() == node) {
            ++next;
        }
        while (next != end && next->attribute() && next->parent() == node) {
            ++next;
        }
    };
    pass(element);
    pugi::xml_node current = element.first_child();
    while (current) {
        pass(current);
        const pugi::xml_node_type type = current.type();
        const bool stopped = guard.Active() && guard.Stops(current.internal_object());
        if (stopped) {
            // Kept or dropped: left as it is, and so are the items inside.
            while (next != end && Within(*next, current)) {
                ++next;
            }
        } else if ((type == pugi::node_pcdata || type == pugi::node_cdata) &&
                   current.internal_object() != done &&
                   writer.FirstTime(current.internal_object()) && writer.Compute(current.value())) {
            writer.NoteReferences(current);
            if (splicer != nullptr) {
                splicer->NoteText(current);
            }
            SetValue<PugiNode>(current, writer);
            if (writer.action != nullptr) {
                writer.written->Insert(current.internal_object());
            }
        }
        if (!stopped && type == pugi::node_element && current.first_child()) {
            current = current.first_child();
            continue;
        }
        while (!current.next_sibling() && current.parent() != element) {
            current = current.parent();
        }
        current = current.next_sibling();
    }
}

namespace {

// Selects every query of paths in one walk over the document's elements, in
// document order, where XPath would walk it once per query. pugixml walks the
// tree itself (traverse): no call into it per step, only per node visited.
class NamePathWalker : public pugi::xml_tree_walker {
public:
    NamePathWalker(const std::vector<NamePath>& paths,
                   std::vector<std::vector<pugi::xpath_node>>& found)
        : paths_(paths), found_(found) {
        for (const NamePath& path : paths) {
            firsts_[static_cast<unsigned char>(path.name.front())] = true;
        }
    }

    bool for_each(pugi::xml_node& node) override {
        if (node.type() != pugi::node_element) {
            return true;
        }
        // The names of the open elements by depth: the document element is
        // at 0, and an element's parent is the one just above it.
        const char* name = node.name();
        const auto level = static_cast<std::size_t>(depth());
        if (open_.size() <= level) {
            open_.resize(level + 1);
        }
        open_[level] = name;
        if (!firsts_[static_cast<unsigned char>(*name)]) {
            return true;
        }
        for (std::size_t index = 0; index < paths_.size(); ++index) {
            const NamePath& path = paths_[index];
            if (std::strcmp(name, path.name.c_str()) == 0 &&
                (path.parent.empty() ||
                 (level > 0 && std::strcmp(open_[level - 1], path.parent.c_str()) == 0))) {
                found_[index].emplace_back(node);
            }
        }
        return true;
    }

private:
    const std::vector<NamePath>& paths_;
    std::vector<std::vector<pugi::xpath_node>>& found_;
    std::vector<const char*> open_;
    bool firsts_[256] = {};
};

std::vector<pugi::xpath_node_set> SelectNamePaths(pugi::xml_node document,
                                                  const std::vector<NamePath>& paths) {
    std::vector<std::vector<pugi::xpath_node>> found(paths.size());
    NamePathWalker walker(paths, found);
    document.traverse(walker);
    std::vector<pugi::xpath_node_set> sets;
    sets.reserve(paths.size());
    for (const std::vector<pugi::xpath_node>& items : found) {
        sets.emplace_back(items.data(), items.data() + items.size(),
                          pugi::xpath_node_set::type_sorted);
    }
    return sets;
}

}  // namespace

std::vector<std::unique_ptr<PugiXPathNodeSet>> SelectUpfront(
    PugiXMLParser& parser, const std::vector<std::string>& expressions,
    const std::vector<std::size_t>& upfront, unsigned int threads, std::vector<char>* below) {
    std::vector<std::unique_ptr<PugiXPathNodeSet>> selected(expressions.size());
    // The plain name paths together, in one walk.
    std::vector<std::size_t> rest;
    std::vector<std::size_t> walked;
    std::vector<NamePath> paths;
    for (const std::size_t index : upfront) {
        if (std::optional<NamePath> path = PlainNamePath(expressions[index])) {
            walked.push_back(index);
            paths.push_back(std::move(*path));
        } else {
            rest.push_back(index);
        }
    }
    if (walked.size() > 1) {
        const pugi::xml_node document = DocumentNode(parser);
        std::vector<pugi::xpath_node_set> sets = SelectNamePaths(document, paths);
        for (std::size_t at = 0; at < walked.size(); ++at) {
            // Elements in document order: only the first can be the
            // document element, which comes before all others.
            if (below != nullptr) {
                (*below)[walked[at]] = sets[at].empty() || sets[at][0].node().parent() != document;
            }
            selected[walked[at]] = std::make_unique<PugiXPathNodeSet>(sets[at]);
        }
    } else {
        rest = upfront;
    }
    // Longest first, so that the short ones fill in around it: an expression
    // with more steps makes more passes over the document.
    std::vector<std::size_t> order = rest;
    const auto steps = [&expressions](std::size_t index) {
        return std::count(expressions[index].begin(), expressions[index].end(), '/');
    };
    std::stable_sort(order.begin(), order.end(),
                     [&steps](std::size_t a, std::size_t b) { return steps(a) > steps(b); });
    ForEachOnThreads(order.size(), threads, [&](std::size_t index) {
        selected[order[index]] = parser.SelectNodes(expressions[order[index]]);
    });
    return selected;
}

const char* OutsideRecords(const pugi::xpath_node& item) {
    pugi::xml_node node = item.attribute() ? item.parent() : item.node();
    const bool attribute = static_cast<bool>(item.attribute());
    int depth = 0;  // of node: the document is 0, the document element 1
    for (pugi::xml_node up = node.parent(); up && depth < 3; up = up.parent()) {
        ++depth;
    }
    if (depth >= 3 || (depth == 2 && (attribute || node.type() == pugi::node_element))) {
        return nullptr;
    }
    if (depth == 0) {
        return "the document node";
    }
    if (depth == 1) {
        if (node.type() != pugi::node_element) {
            return "markup beside the document element";
        }
        return attribute ? "an attribute of the document element" : "the document element";
    }
    return node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata
               ? "text between the records"
               : "markup between the records";
}

}  // namespace qiv::redact::redaction
