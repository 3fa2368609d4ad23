#include "PugiXPathNodeSet.h"

#include "PugiXPathNode.h"
#include "internal/TypeMaps.h"

namespace qiv {

PugiXPathNodeSet::PugiXPathNodeSet(const pugi::xpath_node_set& nodeSet)
    : pugi::xpath_node_set(nodeSet),
      collectionTypeMap{
          {pugi::xpath_node_set::type_unsorted, CollectionType::Unsorted},
          {pugi::xpath_node_set::type_sorted, CollectionType::Sorted},
          {pugi::xpath_node_set::type_sorted_reverse, CollectionType::SortedReverse},
      } {}

PugiXPathNodeSet::~PugiXPathNodeSet() = default;

PugiXPathNodeSet::CollectionType PugiXPathNodeSet::Type() const {
    const auto found = collectionTypeMap.find(type());
    return found != collectionTypeMap.end() ? found->second : CollectionType::Unsorted;
}

std::size_t PugiXPathNodeSet::Size() const { return size(); }

PugiXPathNodeSet::const_iterator PugiXPathNodeSet::Begin() const { return begin(); }

PugiXPathNodeSet::const_iterator PugiXPathNodeSet::End() const { return end(); }

void PugiXPathNodeSet::Sort(bool reverse) { sort(reverse); }

bool PugiXPathNodeSet::Empty() const { return empty(); }

std::unique_ptr<XPathNode> PugiXPathNodeSet::First() const {
    return std::make_unique<PugiXPathNode>(first());
}

}  // namespace qiv
