#pragma once

#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "Attribute.h"
#include "DataParserExport.h"
#include "DataParserTypes.h"
#include "InterfaceFactory.h"
#include "Node.h"

namespace qiv {

/// A structured document: load, walk, edit, query and save it. Create one
/// with InterfaceFactory::Create<DataParserIF>("XML"). Document-level
/// queries and edits act on the document node, whose children are the
/// top-level nodes (the document element among them).
class ORN_DATAPARSER_API DataParserIF {
public:
    DataParserIF();
    virtual ~DataParserIF();

    DataParserIF(const DataParserIF&) = delete;
    DataParserIF& operator=(const DataParserIF&) = delete;

    // Document lifecycle.
    void Reset();
    LoadResult LoadFile(std::string_view path);
    LoadResult LoadString(std::string_view text);
    LoadResult LoadStream(std::istream& stream);
    /// format is pugixml's set of output format flags (1 = indent); indents with TAB.
    bool SaveFile(std::string_view path, unsigned int format);
    void SaveToStream(std::ostream& stream, unsigned int format);

    // Queries on the document node.
    Node::TypeName Type() const;
    std::string_view Name() const;
    std::string_view Value() const;
    bool Invalid() const;
    std::unique_ptr<Node> Child(std::string_view name) const;
    std::unique_ptr<Node> FirstChild() const;
    std::unique_ptr<Node> LastChild() const;
    std::unique_ptr<Node> NextSibling() const;
    std::unique_ptr<Node> PreviousSibling() const;
    std::string_view Text() const;
    std::unique_ptr<Attribute> FirstAttribute() const;
    std::unique_ptr<Attribute> LastAttribute() const;
    std::unique_ptr<Attribute> GetAttribute(std::string_view name) const;

    // Creation of top-level nodes.
    std::unique_ptr<Node> AppendChild(Node::TypeName type);
    std::unique_ptr<Node> PrependChild(Node::TypeName type);
    std::unique_ptr<Node> InsertChildAfter(Node::TypeName type, const std::unique_ptr<Node>& node);
    std::unique_ptr<Node> InsertChildBefore(Node::TypeName type, const std::unique_ptr<Node>& node);
    std::unique_ptr<Node> AppendChild(Node::TypeName type, DataValue value);
    std::unique_ptr<Node> PrependChild(Node::TypeName type, DataValue value);
    std::unique_ptr<Node> InsertChildAfter(Node::TypeName type, DataValue value,
                                           const std::unique_ptr<Node>& node);
    std::unique_ptr<Node> InsertChildBefore(Node::TypeName type, DataValue value,
                                            const std::unique_ptr<Node>& node);
    std::unique_ptr<Node> AppendChild(std::string_view name);
    std::unique_ptr<Node> PrependChild(std::string_view name);
    std::unique_ptr<Node> InsertChildAfter(std::string_view name,
                                           const std::unique_ptr<Node>& node);
    std::unique_ptr<Node> InsertChildBefore(std::string_view name,
                                            const std::unique_ptr<Node>& node);
    std::unique_ptr<Node> AppendChild(std::string_view name, DataValue value);
    std::unique_ptr<Node> PrependChild(std::string_view name, DataValue value);
    std::unique_ptr<Node> InsertChildAfter(std::string_view name, DataValue value,
                                           const std::unique_ptr<Node>& node);
    std::unique_ptr<Node> InsertChildBefore(std::string_view name, DataValue value,
                                            const std::unique_ptr<Node>& node);

    // The document node takes no attributes: these always return null.
    std::unique_ptr<Attribute> AppendAttribute(std::string_view name, DataValue value);
    std::unique_ptr<Attribute> PrependAttribute(std::string_view name, DataValue value);
    std::unique_ptr<Attribute> InsertAttributeAfter(std::string_view name, DataValue value,
                                                    const std::unique_ptr<Attribute>& attribute);
    std::unique_ptr<Attribute> InsertAttributeBefore(std::string_view name, DataValue value,
                                                     const std::unique_ptr<Attribute>& attribute);

    /// Removes a top-level node; the caller's pointer is left as it is.
    bool RemoveChild(std::unique_ptr<Node>& node) { return DoRemoveChild(node); }
    bool RemoveAttribute(std::unique_ptr<Attribute>& attribute) {
        return DoRemoveAttribute(attribute);
    }

    /// Sets the text of every node selected by each XPath expression to
    /// "redacted". A failing expression is logged and skipped.
    void RedactNodes(const std::vector<std::string>& xpathQueries);

private:
    virtual void DoReset() = 0;
    virtual LoadResult DoLoadFile(std::string_view path) = 0;
    virtual LoadResult DoLoadString(std::string_view text) = 0;
    virtual LoadResult DoLoadStream(std::istream& stream) = 0;
    virtual bool DoSaveFile(std::string_view path, unsigned int format) = 0;
    virtual void DoSaveToStream(std::ostream& stream, unsigned int format) = 0;
    virtual Node::TypeName DoType() const = 0;
    virtual std::string_view DoName() const = 0;
    virtual std::string_view DoValue() const = 0;
    virtual bool DoInvalid() const = 0;
    virtual std::unique_ptr<Node> DoChild(std::string_view name) const = 0;
    virtual std::unique_ptr<Node> DoFirstChild() const = 0;
    virtual std::unique_ptr<Node> DoLastChild() const = 0;
    virtual std::unique_ptr<Node> DoNextSibling() const = 0;
    virtual std::unique_ptr<Node> DoPreviousSibling() const = 0;
    virtual std::string_view DoText() const = 0;
    virtual std::unique_ptr<Attribute> DoFirstAttribute() const = 0;
    virtual std::unique_ptr<Attribute> DoLastAttribute() const = 0;
    virtual std::unique_ptr<Attribute> DoGetAttribute(std::string_view name) const = 0;
    virtual std::unique_ptr<Node> DoAppendChild(Node::TypeName type) = 0;
    virtual std::unique_ptr<Node> DoPrependChild(Node::TypeName type) = 0;
    virtual std::unique_ptr<Node> DoInsertChildAfter(Node::TypeName type,
                                                     const std::unique_ptr<Node>& node) = 0;
    virtual std::unique_ptr<Node> DoInsertChildBefore(Node::TypeName type,
                                                      const std::unique_ptr<Node>& node) = 0;
    virtual std::unique_ptr<Node> DoAppendChild(Node::TypeName type, DataValue value) = 0;
    virtual std::unique_ptr<Node> DoPrependChild(Node::TypeName type, DataValue value) = 0;
    virtual std::unique_ptr<Node> DoInsertChildAfter(Node::TypeName type, DataValue value,
                                                     const std::unique_ptr<Node>& node) = 0;
    virtual std::unique_ptr<Node> DoInsertChildBefore(Node::TypeName type, DataValue value,
                                                      const std::unique_ptr<Node>& node) = 0;
    virtual std::unique_ptr<Node> DoAppendChild(std::string_view name) = 0;
    virtual std::unique_ptr<Node> DoPrependChild(std::string_view name) = 0;
    virtual std::unique_ptr<Node> DoInsertChildAfter(std::string_view name,
                                                     const std::unique_ptr<Node>& node) = 0;
    virtual std::unique_ptr<Node> DoInsertChildBefore(std::string_view name,
                                                      const std::unique_ptr<Node>& node) = 0;
    virtual std::unique_ptr<Node> DoAppendChild(std::string_view name, DataValue value) = 0;
    virtual std::unique_ptr<Node> DoPrependChild(std::string_view name, DataValue value) = 0;
    virtual std::unique_ptr<Node> DoInsertChildAfter(std::string_view name, DataValue value,
                                                     const std::unique_ptr<Node>& node) = 0;
    virtual std::unique_ptr<Node> DoInsertChildBefore(std::string_view name, DataValue value,
                                                      const std::unique_ptr<Node>& node) = 0;
    virtual std::unique_ptr<Attribute> DoAppendAttribute(std::string_view name,
                                                         DataValue value) = 0;
    virtual std::unique_ptr<Attribute> DoPrependAttribute(std::string_view name,
                                                          DataValue value) = 0;
    virtual std::unique_ptr<Attribute> DoInsertAttributeAfter(
        std::string_view name, DataValue value, const std::unique_ptr<Attribute>& attribute) = 0;
    virtual std::unique_ptr<Attribute> DoInsertAttributeBefore(
        std::string_view name, DataValue value, const std::unique_ptr<Attribute>& attribute) = 0;
    virtual bool DoRemoveChild(std::unique_ptr<Node>& node) = 0;
    virtual bool DoRemoveAttribute(std::unique_ptr<Attribute>& attribute) = 0;
    virtual void DoRedactNodes(const std::vector<std::string>& xpathQueries) = 0;

    class Impl;  // carries no data
    std::unique_ptr<Impl> impl_;
};

/// The parser registry: "DefaultIF" and "XML" build the XML parser. Filled
/// once while the library loads; read-only afterwards.
template <>
template <>
ORN_DATAPARSER_API
    std::unordered_map<std::string_view, std::function<std::unique_ptr<DataParserIF>()>>
        IF<DataParserIF>::ifConstructors<>;

}  // namespace qiv
