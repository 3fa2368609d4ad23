#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include <pugixml.hpp>

#include "DataParserExport.h"
#include "Node.h"

namespace qiv {

/// Node over a pugixml node handle. The handle does not own the node;
/// destroying the wrapper never changes the document.
class ORN_DATAPARSER_API PugiNode : public Node {
public:
    /// An invalid wrapper (empty handle); writes no diagnostic.
    PugiNode();
    /// Wraps the handle; an empty handle writes the Debug record
    /// "created with empty node".
    explicit PugiNode(pugi::xml_node&& node);
    ~PugiNode() override;

    PugiNode(const PugiNode&) = delete;
    PugiNode& operator=(const PugiNode&) = delete;

    // Wrappers are made and dropped at every navigation step; they come from a
    // small per-thread cache of blocks rather than the general allocator.
    static void* operator new(std::size_t size);
    static void* operator new(std::size_t size, const std::nothrow_t&) noexcept;
    static void* operator new(std::size_t, void* place) noexcept { return place; }
    static void operator delete(void* block, std::size_t size) noexcept;
    static void operator delete(void* block, const std::nothrow_t&) noexcept;
    static void operator delete(void*, void*) noexcept {}

    /// The node's text: an element's first PCDATA or CDATA child, or the
    /// node's own value for a PCDATA or CDATA node.
    std::string_view DoText() const;

private:
    TypeName DoType() const override;
    std::string_view DoName() const override;
    std::string DoToString(std::string_view defaultValue) const override;
    int DoToInt(int defaultValue) const override;
    unsigned int DoToUnsignedInt(unsigned int defaultValue) const override;
    double DoToDouble(double defaultValue) const override;
    float DoToFloat(float defaultValue) const override;
    bool DoToBool(bool defaultValue) const override;
    bool DoInvalid() const override;
    std::unique_ptr<Node> DoChild(std::string_view name) const override;
    std::unique_ptr<Node> DoFirstChild() const override;
    std::unique_ptr<Node> DoLastChild() const override;
    std::unique_ptr<Node> DoNextSibling() const override;
    std::unique_ptr<Node> DoPreviousSibling() const override;
    std::unique_ptr<Attribute> DoFirstAttribute() const override;
    std::unique_ptr<Attribute> DoLastAttribute() const override;
    std::unique_ptr<Attribute> DoGetAttribute(std::string_view name) const override;
    std::unique_ptr<Node> DoAppendChild(TypeName type) override;
    std::unique_ptr<Node> DoPrependChild(TypeName type) override;
    std::unique_ptr<Node> DoInsertChildAfter(TypeName type,
                                             const std::unique_ptr<Node>& node) override;
    std::unique_ptr<Node> DoInsertChildBefore(TypeName type,
                                              const std::unique_ptr<Node>& node) override;
    std::unique_ptr<Node> DoAppendChild(TypeName type, DataValue value) override;
    std::unique_ptr<Node> DoPrependChild(TypeName type, DataValue value) override;
    std::unique_ptr<Node> DoInsertChildAfter(TypeName type, DataValue value,
                                             const std::unique_ptr<Node>& node) override;
    std::unique_ptr<Node> DoInsertChildBefore(TypeName type, DataValue value,
                                              const std::unique_ptr<Node>& node) override;
    std::unique_ptr<Node> DoAppendChild(std::string_view name) override;
    std::unique_ptr<Node> DoPrependChild(std::string_view name) override;
    std::unique_ptr<Node> DoInsertChildAfter(std::string_view name,
                                             const std::unique_ptr<Node>& node) override;
    std::unique_ptr<Node> DoInsertChildBefore(std::string_view name,
                                              const std::unique_ptr<Node>& node) override;
    std::unique_ptr<Node> DoAppendChild(std::string_view name, DataValue value) override;
    std::unique_ptr<Node> DoPrependChild(std::string_view name, DataValue value) override;
    std::unique_ptr<Node> DoInsertChildAfter(std::string_view name, DataValue value,
                                             const std::unique_ptr<Node>& node) override;
    std::unique_ptr<Node> DoInsertChildBefore(std::string_view name, DataValue value,
                                              const std::unique_ptr<Node>& node) override;
    std::unique_ptr<Attribute> DoAppendAttribute(std::string_view name, DataValue value) override;
    std::unique_ptr<Attribute> DoPrependAttribute(std::string_view name, DataValue value) override;
    std::unique_ptr<Attribute> DoInsertAttributeAfter(
        std::string_view name, DataValue value,
        const std::unique_ptr<Attribute>& attribute) override;
    std::unique_ptr<Attribute> DoInsertAttributeBefore(
        std::string_view name, DataValue value,
        const std::unique_ptr<Attribute>& attribute) override;
    bool DoRemoveChild(std::unique_ptr<Node>& node) override;
    bool DoRemoveAttribute(std::unique_ptr<Attribute>& attribute) override;
    bool DoSetValue(DataValue value) override;

    class Impl;
    std::unique_ptr<Impl> impl_;

    // The document implementation reads the handle back out of a wrapper
    // that the caller passes as a position or as the thing to remove.
    friend class PugiXMLParser;
};

}  // namespace qiv
