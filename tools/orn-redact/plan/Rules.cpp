#include "Rules.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "RulesTree.h"

namespace qiv::redact {

namespace {

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
                std::string& error, NamespaceMap* namespaces) {
    try {
        rulesfile::Node root;
        if (!rulesfile::LoadRulesTree(text, name, root, error)) {
            return false;
        }
        std::vector<Rule> read;
        NamespaceMap bound = namespaces != nullptr ? *namespaces : NamespaceMap{};
        if (!rulesfile::InterpretRules(root, name, read, bound, error)) {
            return false;
        }
        if (namespaces != nullptr) {
            *namespaces = std::move(bound);
        } else if (!bound.empty()) {
            error = rulesfile::Located(name, {}, "namespace prefixes are not taken here");
            return false;
        }
        rules.insert(rules.end(), std::make_move_iterator(read.begin()),
                     std::make_move_iterator(read.end()));
        return true;
    } catch (const std::exception&) {
        // Only allocation can throw here.
        error = rulesfile::Located(name, {}, "out of memory");
        return false;
    }
}

bool ReadRulesFile(const std::string& path, std::vector<Rule>& rules, std::string& error,
                   NamespaceMap* namespaces) {
    try {
        std::string text;
        const ReadResult result = ReadWhole(path, text);
        if (result != ReadResult::Read) {
            error = "cannot read rules file '" + path + "': " +
                    (result == ReadResult::TooLarge ? "it is larger than 16 MiB"
                                                    : std::strerror(errno));
            return false;
        }
        return ParseRules(text, path, rules, error, namespaces);
    } catch (const std::exception&) {
        error = "cannot read rules file '" + path + "': out of memory";
        return false;
    }
}

}  // namespace qiv::redact
