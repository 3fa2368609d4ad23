#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "DataParserExport.h"
#include "DataParserIF.h"
#include "PugiXPathNodeSet.h"

namespace qiv {

/// The XML parser: owns one pugixml document for its whole life.
class ORN_DATAPARSER_API PugiXMLParser : public DataParserIF {
public:
    PugiXMLParser();
    ~PugiXMLParser() override;

    /// Runs an XPath expression with the document node as context. Null when
    /// the expression fails (logged at Error); an empty set when it matches
    /// nothing.
    std::unique_ptr<PugiXPathNodeSet> SelectNodes(const std::string& xpathQuery);

private:
    void DoReset() override;
    LoadResult DoLoadFile(std::string_view path) override;
    LoadResult DoLoadString(std::string_view text) override;
    LoadResult DoLoadStream(std::istream& stream) override;
    bool DoSaveFile(std::string_view path, unsigned int format) override;
    void DoSaveToStream(std::ostream& stream, unsigned int format) override;
    Node::TypeName DoType() const override;
    std::string_view DoName() const override;
    std::string_view DoValue() const override;
    bool DoInvalid() const override;
    std::unique_ptr<Node> DoChild(std::string_view name) const override;
    std::unique_ptr<Node> DoFirstChild() const override;
    std::unique_ptr<Node> DoLastChild() const override;
    std::unique_ptr<Node> DoNextSibling() const override;
    std::unique_ptr<Node> DoPreviousSibling() const override;
    std::string_view DoText() const override;
    std::unique_ptr<Attribute> DoFirstAttribute() const override;
    std::unique_ptr<Attribute> DoLastAttribute() const override;
    std::unique_ptr<Attribute> DoGetAttribute(std::string_view name) const override;
    std::unique_ptr<Node> DoAppendChild(Node::TypeName type) override;
    std::unique_ptr<Node> DoPrependChild(Node::TypeName type) override;
    std::unique_ptr<Node> DoInsertChildAfter(Node::TypeName type,
                                             const std::unique_ptr<Node>& node) override;
    std::unique_ptr<Node> DoInsertChildBefore(Node::TypeName type,
                                              const std::unique_ptr<Node>& node) override;
    std::unique_ptr<Node> DoAppendChild(Node::TypeName type, DataValue value) override;
    std::unique_ptr<Node> DoPrependChild(Node::TypeName type, DataValue value) override;
    std::unique_ptr<Node> DoInsertChildAfter(Node::TypeName type, DataValue value,
                                             const std::unique_ptr<Node>& node) override;
    std::unique_ptr<Node> DoInsertChildBefore(Node::TypeName type, DataValue value,
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
    void DoRedactNodes(const std::vector<std::string>& xpathQueries) override;

    class Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace qiv
