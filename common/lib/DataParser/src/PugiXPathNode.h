#pragma once

#include <memory>

#include <pugixml.hpp>

#include "DataParserExport.h"
#include "XPathNode.h"

namespace qiv {

/// XPath result item over a pugixml item (a node, or an attribute with the
/// element that carries it). Refers into the document without owning it.
class ORN_DATAPARSER_API PugiXPathNode : public XPathNode {
public:
    /// An empty item.
    PugiXPathNode();
    explicit PugiXPathNode(pugi::xpath_node&& node);
    explicit PugiXPathNode(const pugi::xpath_node& node);
    ~PugiXPathNode() override;

    PugiXPathNode(const PugiXPathNode&) = delete;
    PugiXPathNode& operator=(const PugiXPathNode&) = delete;

private:
    std::unique_ptr<Node> DoGetNode() const override;
    std::unique_ptr<Attribute> DoGetAttribute() const override;
    std::unique_ptr<Node> DoParent() const override;

    class Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace qiv
