#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>

#include <pugixml.hpp>

#include "DataParserExport.h"
#include "XPathNode.h"

namespace qiv {

/// Result of an XPath query: pugixml's node set (public base, so every
/// pugixml member stays usable) with a few members added. Items are handles
/// into the parser's document; the set must not outlive it.
class ORN_DATAPARSER_API PugiXPathNodeSet : public pugi::xpath_node_set {
public:
    /// Order of the items; the numbers equal those of pugixml's set types.
    enum class CollectionType : std::int32_t {
        Unsorted = 0,
        Sorted = 1,
        SortedReverse = 2,
    };

    explicit PugiXPathNodeSet(const pugi::xpath_node_set& nodeSet);
    virtual ~PugiXPathNodeSet();

    CollectionType Type() const;
    std::size_t Size() const;
    const_iterator Begin() const;
    const_iterator End() const;
    /// Sorts into document order, or reverse document order when reverse is true.
    void Sort(bool reverse = false);
    /// The first item in document order; an empty item for an empty set.
    std::unique_ptr<XPathNode> First() const;
    bool Empty() const;

private:
    std::map<pugi::xpath_node_set::type_t, CollectionType> collectionTypeMap;
};

}  // namespace qiv
