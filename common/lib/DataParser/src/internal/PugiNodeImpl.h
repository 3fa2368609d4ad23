#pragma once

#include <memory>
#include <string>
#include <string_view>

#include <pugixml.hpp>

#include "PugiAttribute.h"
#include "PugiNode.h"
#include "WrapperAllocator.h"

namespace qiv {

class ORN_DATAPARSER_LOCAL PugiNode::Impl {
public:
    /// An empty handle, without a diagnostic.
    Impl() = default;
    /// Stores the handle; an empty one writes the Debug record.
    explicit Impl(pugi::xml_node node);

    // Allocated with every wrapper; see WrapperAllocator.
    static void* operator new(std::size_t size) {
        return detail::WrapperAllocator::Allocate(size);
    }
    static void operator delete(void* block, std::size_t size) noexcept {
        detail::WrapperAllocator::Deallocate(block, size);
    }

    const pugi::xml_node& GetRawNodeRef() const { return node_; }

    /// The handle held by a caller's wrapper, or null when the pointer is
    /// empty or holds a Node of another implementation.
    static const pugi::xml_node* RawNodeOf(const std::unique_ptr<Node>& node) {
        const auto* wrapper = dynamic_cast<const PugiNode*>(node.get());
        return wrapper != nullptr ? &wrapper->impl_->node_ : nullptr;
    }

    // Steps shared by node-level and document-level creation; parent is the
    // node that receives the new child or attribute.

    /// Wraps a node that pugixml has just made; null when it refused.
    static std::unique_ptr<Node> Created(pugi::xml_node created);
    /// As Created, then writes the value; when that fails the new node is
    /// removed from parent again and the result is null.
    static std::unique_ptr<Node> CreatedWithValue(pugi::xml_node parent, pugi::xml_node created,
                                                  const DataValue& value);
    /// Wraps an attribute that pugixml has just made and writes its value;
    /// null (and nothing left behind) when either step fails.
    static std::unique_ptr<Attribute> CreatedAttribute(pugi::xml_node parent,
                                                       pugi::xml_attribute created,
                                                       const DataValue& value);
    static const pugi::xml_attribute* RawAttributeOf(const std::unique_ptr<Attribute>& attribute) {
        return PugiAttribute::Impl::RawAttributeOf(attribute);
    }
    static const pugi::xml_attribute& RawAttributeOf(const PugiAttribute& attribute) {
        return attribute.impl_->GetRawAttributeRef();
    }

    Node::TypeName DoType() const;
    std::string_view DoName() const;
    std::string_view DoText() const;
    bool DoInvalid() const { return node_.empty(); }
    std::string DoToString(std::string_view defaultValue) const;
    int DoToInt(int defaultValue) const { return node_.text().as_int(defaultValue); }
    unsigned int DoToUnsignedInt(unsigned int defaultValue) const {
        return node_.text().as_uint(defaultValue);
    }
    double DoToDouble(double defaultValue) const { return node_.text().as_double(defaultValue); }
    float DoToFloat(float defaultValue) const { return node_.text().as_float(defaultValue); }
    bool DoToBool(bool defaultValue) const { return node_.text().as_bool(defaultValue); }
    bool DoSetValue(const DataValue& value);

    std::unique_ptr<Node> DoChild(std::string_view name) const;
    std::unique_ptr<Node> DoFirstChild() const;
    std::unique_ptr<Node> DoLastChild() const;
    std::unique_ptr<Node> DoNextSibling() const;
    std::unique_ptr<Node> DoPreviousSibling() const;
    std::unique_ptr<Attribute> DoFirstAttribute() const;
    std::unique_ptr<Attribute> DoLastAttribute() const;
    std::unique_ptr<Attribute> DoGetAttribute(std::string_view name) const;

    std::unique_ptr<Node> DoAppendChild(Node::TypeName type);
    std::unique_ptr<Node> DoPrependChild(Node::TypeName type);
    std::unique_ptr<Node> DoInsertChildAfter(Node::TypeName type,
                                             const std::unique_ptr<Node>& node);
    std::unique_ptr<Node> DoInsertChildBefore(Node::TypeName type,
                                              const std::unique_ptr<Node>& node);
    std::unique_ptr<Node> DoAppendChild(Node::TypeName type, const DataValue& value);
    std::unique_ptr<Node> DoPrependChild(Node::TypeName type, const DataValue& value);
    std::unique_ptr<Node> DoInsertChildAfter(Node::TypeName type, const DataValue& value,
                                             const std::unique_ptr<Node>& node);
    std::unique_ptr<Node> DoInsertChildBefore(Node::TypeName type, const DataValue& value,
                                              const std::unique_ptr<Node>& node);
    std::unique_ptr<Node> DoAppendChild(std::string_view name);
    std::unique_ptr<Node> DoPrependChild(std::string_view name);
    std::unique_ptr<Node> DoInsertChildAfter(std::string_view name,
                                             const std::unique_ptr<Node>& node);
    std::unique_ptr<Node> DoInsertChildBefore(std::string_view name,
                                              const std::unique_ptr<Node>& node);
    std::unique_ptr<Node> DoAppendChild(std::string_view name, const DataValue& value);
    std::unique_ptr<Node> DoPrependChild(std::string_view name, const DataValue& value);
    std::unique_ptr<Node> DoInsertChildAfter(std::string_view name, const DataValue& value,
                                             const std::unique_ptr<Node>& node);
    std::unique_ptr<Node> DoInsertChildBefore(std::string_view name, const DataValue& value,
                                              const std::unique_ptr<Node>& node);
    std::unique_ptr<Attribute> DoAppendAttribute(std::string_view name, const DataValue& value);
    std::unique_ptr<Attribute> DoPrependAttribute(std::string_view name, const DataValue& value);
    std::unique_ptr<Attribute> DoInsertAttributeAfter(std::string_view name, const DataValue& value,
                                                      const std::unique_ptr<Attribute>& attribute);
    std::unique_ptr<Attribute> DoInsertAttributeBefore(std::string_view name,
                                                       const DataValue& value,
                                                       const std::unique_ptr<Attribute>& attribute);
    bool DoRemoveChild(const std::unique_ptr<Node>& node);
    bool DoRemoveAttribute(const std::unique_ptr<Attribute>& attribute);

private:
    pugi::xml_node node_;
};

}  // namespace qiv
