#pragma once

#include <memory>

#include "Attribute.h"
#include "DataParserExport.h"
#include "Node.h"

namespace qiv {

/// One item of an XPath result: a node, or an attribute of a node.
class ORN_DATAPARSER_API XPathNode {
public:
    virtual ~XPathNode();

    /// The item as a node; null for an attribute item or an empty item.
    std::unique_ptr<Node> GetNode() const;
    /// The item as an attribute; null for a node item or an empty item.
    std::unique_ptr<Attribute> GetAttribute() const;
    /// Never null: the carrying element of an attribute, the parent of a
    /// node, or an invalid wrapper when there is none.
    std::unique_ptr<Node> Parent() const;

private:
    virtual std::unique_ptr<Node> DoGetNode() const = 0;
    virtual std::unique_ptr<Attribute> DoGetAttribute() const = 0;
    virtual std::unique_ptr<Node> DoParent() const = 0;
};

}  // namespace qiv
