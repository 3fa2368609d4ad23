#pragma once

// What the splicer's parts share: the value every redaction writes, CDATA's
// opening, the escaping of new values and the sort of the notes.

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qiv::redact::splice {

inline constexpr std::string_view redactedText = "redacted";
inline constexpr std::string_view cdataOpen = "<![CDATA[";

/// Appends value escaped for text (quote 0) or for an attribute value in
/// that quote.
void AppendEscaped(std::string& out, std::string_view value, char quote);

// A CDATA section cannot hold "]]>": split it across two sections.
std::string CDataReplacement(std::string_view value);

// Sorts items by key. Each expression adds its items in document order, so
// they come as a few ascending runs: merging those is much cheaper than a
// general sort.
template <typename Item, typename Key>
void SortRuns(std::vector<Item>& items, Key key) {
    const auto less = [&key](const Item& a, const Item& b) { return key(a) < key(b); };
    std::vector<std::size_t> runs{0};
    for (std::size_t index = 1; index < items.size(); ++index) {
        if (less(items[index], items[index - 1])) {
            runs.push_back(index);
        }
    }
    if (runs.size() > 64) {
        // Stable, as the merges are: a later note of the same item stays later.
        std::stable_sort(items.begin(), items.end(), less);
        return;
    }
    runs.push_back(items.size());
    while (runs.size() > 2) {
        std::vector<std::size_t> merged{0};
        for (std::size_t run = 2; run < runs.size(); run += 2) {
            std::inplace_merge(items.begin() + static_cast<std::ptrdiff_t>(runs[run - 2]),
                               items.begin() + static_cast<std::ptrdiff_t>(runs[run - 1]),
                               items.begin() + static_cast<std::ptrdiff_t>(runs[run]), less);
            merged.push_back(runs[run]);
        }
        if (runs.size() % 2 == 0) {
            merged.push_back(runs.back());
        }
        runs = std::move(merged);
    }
}

}  // namespace qiv::redact::splice
