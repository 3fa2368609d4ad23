#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "Attribute.h"
#include "DataParserExport.h"
#include "DataParserTypes.h"

namespace qiv {

/// One node of a document: element, text, comment, declaration and so on.
/// Wrappers refer into the parser's document and never own it. Navigation
/// never returns null (an invalid wrapper stands for "nothing"); creation
/// returns null when nothing was created.
class ORN_DATAPARSER_API Node {
public:
    /// Kind of a node; the numbers equal those of pugixml's node types.
    enum class TypeName : std::int32_t {
        Null = 0,
        Document = 1,
        Element = 2,
        PCData = 3,
        CData = 4,
        Comment = 5,
        ProcessingInstruction = 6,
        Declaration = 7,
        DocType = 8,
    };

    virtual ~Node();

    TypeName Type() const;
    std::string_view Name() const;
    /// True when the wrapper refers to no node.
    bool Invalid() const;

    std::unique_ptr<Node> Child(std::string_view name) const;
    std::unique_ptr<Node> FirstChild() const;
    std::unique_ptr<Node> LastChild() const;
    std::unique_ptr<Node> NextSibling() const;
    std::unique_ptr<Node> PreviousSibling() const;
    std::unique_ptr<Attribute> FirstAttribute() const;
    std::unique_ptr<Attribute> LastAttribute() const;
    std::unique_ptr<Attribute> GetAttribute(std::string_view name) const;

    // Child creation: by kind or by element name, with or without a value.
    std::unique_ptr<Node> AppendChild(TypeName type);
    std::unique_ptr<Node> PrependChild(TypeName type);
    std::unique_ptr<Node> InsertChildAfter(TypeName type, const std::unique_ptr<Node>& node);
    std::unique_ptr<Node> InsertChildBefore(TypeName type, const std::unique_ptr<Node>& node);
    std::unique_ptr<Node> AppendChild(TypeName type, DataValue value);
    std::unique_ptr<Node> PrependChild(TypeName type, DataValue value);
    std::unique_ptr<Node> InsertChildAfter(TypeName type, DataValue value,
                                           const std::unique_ptr<Node>& node);
    std::unique_ptr<Node> InsertChildBefore(TypeName type, DataValue value,
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

    // Attribute creation; an attribute always gets a value.
    std::unique_ptr<Attribute> AppendAttribute(std::string_view name, DataValue value);
    std::unique_ptr<Attribute> PrependAttribute(std::string_view name, DataValue value);
    std::unique_ptr<Attribute> InsertAttributeAfter(std::string_view name, DataValue value,
                                                    const std::unique_ptr<Attribute>& attribute);
    std::unique_ptr<Attribute> InsertAttributeBefore(std::string_view name, DataValue value,
                                                     const std::unique_ptr<Attribute>& attribute);

    /// Removal leaves the caller's pointer as it is; after success the wrapper
    /// refers to removed content and may only be destroyed.
    bool RemoveChild(std::unique_ptr<Node>& node);
    bool RemoveAttribute(std::unique_ptr<Attribute>& attribute);

    /// Writes the node's text; false when nothing was stored.
    bool SetValue(DataValue value);

    /// Readers of the node's text; they return the default when there is none.
    std::string ToString(std::string_view defaultValue = "") const {
        return DoToString(defaultValue);
    }
    int ToInt(int defaultValue = 0) const { return DoToInt(defaultValue); }
    unsigned int ToUnsignedInt(unsigned int defaultValue = 0) const {
        return DoToUnsignedInt(defaultValue);
    }
    double ToDouble(double defaultValue = 0.0) const { return DoToDouble(defaultValue); }
    float ToFloat(float defaultValue = 0.0f) const { return DoToFloat(defaultValue); }
    bool ToBool(bool defaultValue = false) const { return DoToBool(defaultValue); }

private:
    virtual TypeName DoType() const = 0;
    virtual std::string_view DoName() const = 0;
    virtual std::string DoToString(std::string_view defaultValue) const = 0;
    virtual int DoToInt(int defaultValue) const = 0;
    virtual unsigned int DoToUnsignedInt(unsigned int defaultValue) const = 0;
    virtual double DoToDouble(double defaultValue) const = 0;
    virtual float DoToFloat(float defaultValue) const = 0;
    virtual bool DoToBool(bool defaultValue) const = 0;
    virtual bool DoInvalid() const = 0;
    virtual std::unique_ptr<Node> DoChild(std::string_view name) const = 0;
    virtual std::unique_ptr<Node> DoFirstChild() const = 0;
    virtual std::unique_ptr<Node> DoLastChild() const = 0;
    virtual std::unique_ptr<Node> DoNextSibling() const = 0;
    virtual std::unique_ptr<Node> DoPreviousSibling() const = 0;
    virtual std::unique_ptr<Attribute> DoFirstAttribute() const = 0;
    virtual std::unique_ptr<Attribute> DoLastAttribute() const = 0;
    virtual std::unique_ptr<Attribute> DoGetAttribute(std::string_view name) const = 0;
    virtual std::unique_ptr<Node> DoAppendChild(TypeName type) = 0;
    virtual std::unique_ptr<Node> DoPrependChild(TypeName type) = 0;
    virtual std::unique_ptr<Node> DoInsertChildAfter(TypeName type,
                                                     const std::unique_ptr<Node>& node) = 0;
    virtual std::unique_ptr<Node> DoInsertChildBefore(TypeName type,
                                                      const std::unique_ptr<Node>& node) = 0;
    virtual std::unique_ptr<Node> DoAppendChild(TypeName type, DataValue value) = 0;
    virtual std::unique_ptr<Node> DoPrependChild(TypeName type, DataValue value) = 0;
    virtual std::unique_ptr<Node> DoInsertChildAfter(TypeName type, DataValue value,
                                                     const std::unique_ptr<Node>& node) = 0;
    virtual std::unique_ptr<Node> DoInsertChildBefore(TypeName type, DataValue value,
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
    virtual bool DoSetValue(DataValue value) = 0;
};

}  // namespace qiv
