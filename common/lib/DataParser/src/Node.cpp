#include "Node.h"

namespace qiv {

Node::~Node() = default;

Node::TypeName Node::Type() const { return DoType(); }
std::string_view Node::Name() const { return DoName(); }
bool Node::Invalid() const { return DoInvalid(); }
std::unique_ptr<Node> Node::Child(std::string_view name) const { return DoChild(name); }
std::unique_ptr<Node> Node::FirstChild() const { return DoFirstChild(); }
std::unique_ptr<Node> Node::LastChild() const { return DoLastChild(); }
std::unique_ptr<Node> Node::NextSibling() const { return DoNextSibling(); }
std::unique_ptr<Node> Node::PreviousSibling() const { return DoPreviousSibling(); }
std::unique_ptr<Attribute> Node::FirstAttribute() const { return DoFirstAttribute(); }
std::unique_ptr<Attribute> Node::LastAttribute() const { return DoLastAttribute(); }
std::unique_ptr<Attribute> Node::GetAttribute(std::string_view name) const {
    return DoGetAttribute(name);
}

std::unique_ptr<Node> Node::AppendChild(TypeName type) { return DoAppendChild(type); }
std::unique_ptr<Node> Node::PrependChild(TypeName type) { return DoPrependChild(type); }
std::unique_ptr<Node> Node::InsertChildAfter(TypeName type, const std::unique_ptr<Node>& node) {
    return DoInsertChildAfter(type, node);
}
std::unique_ptr<Node> Node::InsertChildBefore(TypeName type, const std::unique_ptr<Node>& node) {
    return DoInsertChildBefore(type, node);
}
std::unique_ptr<Node> Node::AppendChild(TypeName type, DataValue value) {
    return DoAppendChild(type, value);
}
std::unique_ptr<Node> Node::PrependChild(TypeName type, DataValue value) {
    return DoPrependChild(type, value);
}
std::unique_ptr<Node> Node::InsertChildAfter(TypeName type, DataValue value,
                                             const std::unique_ptr<Node>& node) {
    return DoInsertChildAfter(type, value, node);
}
std::unique_ptr<Node> Node::InsertChildBefore(TypeName type, DataValue value,
                                              const std::unique_ptr<Node>& node) {
    return DoInsertChildBefore(type, value, node);
}
std::unique_ptr<Node> Node::AppendChild(std::string_view name) { return DoAppendChild(name); }
std::unique_ptr<Node> Node::PrependChild(std::string_view name) { return DoPrependChild(name); }
std::unique_ptr<Node> Node::InsertChildAfter(std::string_view name,
                                             const std::unique_ptr<Node>& node) {
    return DoInsertChildAfter(name, node);
}
std::unique_ptr<Node> Node::InsertChildBefore(std::string_view name,
                                              const std::unique_ptr<Node>& node) {
    return DoInsertChildBefore(name, node);
}
std::unique_ptr<Node> Node::AppendChild(std::string_view name, DataValue value) {
    return DoAppendChild(name, value);
}
std::unique_ptr<Node> Node::PrependChild(std::string_view name, DataValue value) {
    return DoPrependChild(name, value);
}
std::unique_ptr<Node> Node::InsertChildAfter(std::string_view name, DataValue value,
                                             const std::unique_ptr<Node>& node) {
    return DoInsertChildAfter(name, value, node);
}
std::unique_ptr<Node> Node::InsertChildBefore(std::string_view name, DataValue value,
                                              const std::unique_ptr<Node>& node) {
    return DoInsertChildBefore(name, value, node);
}

std::unique_ptr<Attribute> Node::AppendAttribute(std::string_view name, DataValue value) {
    return DoAppendAttribute(name, value);
}
std::unique_ptr<Attribute> Node::PrependAttribute(std::string_view name, DataValue value) {
    return DoPrependAttribute(name, value);
}
std::unique_ptr<Attribute> Node::InsertAttributeAfter(std::string_view name, DataValue value,
                                                      const std::unique_ptr<Attribute>& attribute) {
    return DoInsertAttributeAfter(name, value, attribute);
}
std::unique_ptr<Attribute> Node::InsertAttributeBefore(
    std::string_view name, DataValue value, const std::unique_ptr<Attribute>& attribute) {
    return DoInsertAttributeBefore(name, value, attribute);
}

bool Node::RemoveChild(std::unique_ptr<Node>& node) { return DoRemoveChild(node); }
bool Node::RemoveAttribute(std::unique_ptr<Attribute>& attribute) {
    return DoRemoveAttribute(attribute);
}

bool Node::SetValue(DataValue value) { return DoSetValue(value); }

}  // namespace qiv
