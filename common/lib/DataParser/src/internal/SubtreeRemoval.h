#pragma once

// pugixml frees a removed subtree recursively, one stack frame per level, so
// removing a very deep subtree (about a million levels) overflows the stack.
// RemoveChild takes such a subtree apart leaf by leaf first, which needs no
// recursion, and then removes the child itself.

#include <pugixml.hpp>

namespace qiv::detail {

/// Removes child from parent; false, with nothing changed, when child is not
/// a child of parent.
inline bool RemoveChild(pugi::xml_node parent, pugi::xml_node child) {
    if (parent.empty() || child.empty() || child.parent() != parent) {
        return false;
    }
    pugi::xml_node current = child;
    for (;;) {
        while (pugi::xml_node last = current.last_child()) {
            current = last;
        }
        if (current == child) {
            break;
        }
        pugi::xml_node above = current.parent();
        above.remove_child(current);  // a leaf: freed without recursion
        current = above;
    }
    return parent.remove_child(child);
}

}  // namespace qiv::detail
