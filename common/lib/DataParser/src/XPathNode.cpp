#include "XPathNode.h"

namespace qiv {

XPathNode::~XPathNode() = default;

std::unique_ptr<Node> XPathNode::GetNode() const { return DoGetNode(); }

std::unique_ptr<Attribute> XPathNode::GetAttribute() const { return DoGetAttribute(); }

std::unique_ptr<Node> XPathNode::Parent() const { return DoParent(); }

}  // namespace qiv
