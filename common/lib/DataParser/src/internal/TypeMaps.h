#pragma once

// Translation between the library's node kinds and pugixml's. Each file that
// includes this header gets its own read-only copy of the two tables.

#include <map>

#include <pugixml.hpp>

#include "Node.h"

namespace qiv {

[[maybe_unused]] static const std::map<pugi::xml_node_type, Node::TypeName> nodeTypeMap = {
    {pugi::node_null, Node::TypeName::Null},
    {pugi::node_document, Node::TypeName::Document},
    {pugi::node_element, Node::TypeName::Element},
    {pugi::node_pcdata, Node::TypeName::PCData},
    {pugi::node_cdata, Node::TypeName::CData},
    {pugi::node_comment, Node::TypeName::Comment},
    {pugi::node_pi, Node::TypeName::ProcessingInstruction},
    {pugi::node_declaration, Node::TypeName::Declaration},
    {pugi::node_doctype, Node::TypeName::DocType},
};

[[maybe_unused]] static const std::map<Node::TypeName, pugi::xml_node_type> pugiNodeTypeMap = {
    {Node::TypeName::Null, pugi::node_null},
    {Node::TypeName::Document, pugi::node_document},
    {Node::TypeName::Element, pugi::node_element},
    {Node::TypeName::PCData, pugi::node_pcdata},
    {Node::TypeName::CData, pugi::node_cdata},
    {Node::TypeName::Comment, pugi::node_comment},
    {Node::TypeName::ProcessingInstruction, pugi::node_pi},
    {Node::TypeName::Declaration, pugi::node_declaration},
    {Node::TypeName::DocType, pugi::node_doctype},
};

}  // namespace qiv
