#include "DataParserIF.h"

namespace qiv {

// Implementation object of the interface itself; it carries no data.
class ORN_DATAPARSER_LOCAL DataParserIF::Impl {};

DataParserIF::DataParserIF() : impl_(std::make_unique<Impl>()) {}

DataParserIF::~DataParserIF() { impl_.reset(); }

void DataParserIF::Reset() { DoReset(); }
LoadResult DataParserIF::LoadFile(std::string_view path) { return DoLoadFile(path); }
LoadResult DataParserIF::LoadString(std::string_view text) { return DoLoadString(text); }
LoadResult DataParserIF::LoadStream(std::istream& stream) { return DoLoadStream(stream); }
bool DataParserIF::SaveFile(std::string_view path, unsigned int format) {
    return DoSaveFile(path, format);
}
void DataParserIF::SaveToStream(std::ostream& stream, unsigned int format) {
    DoSaveToStream(stream, format);
}

Node::TypeName DataParserIF::Type() const { return DoType(); }
std::string_view DataParserIF::Name() const { return DoName(); }
std::string_view DataParserIF::Value() const { return DoValue(); }
bool DataParserIF::Invalid() const { return DoInvalid(); }
std::unique_ptr<Node> DataParserIF::Child(std::string_view name) const { return DoChild(name); }
std::unique_ptr<Node> DataParserIF::FirstChild() const { return DoFirstChild(); }
std::unique_ptr<Node> DataParserIF::LastChild() const { return DoLastChild(); }
std::unique_ptr<Node> DataParserIF::NextSibling() const { return DoNextSibling(); }
std::unique_ptr<Node> DataParserIF::PreviousSibling() const { return DoPreviousSibling(); }
std::string_view DataParserIF::Text() const { return DoText(); }
std::unique_ptr<Attribute> DataParserIF::FirstAttribute() const { return DoFirstAttribute(); }
std::unique_ptr<Attribute> DataParserIF::LastAttribute() const { return DoLastAttribute(); }
std::unique_ptr<Attribute> DataParserIF::GetAttribute(std::string_view name) const {
    return DoGetAttribute(name);
}

std::unique_ptr<Node> DataParserIF::AppendChild(Node::TypeName type) { return DoAppendChild(type); }
std::unique_ptr<Node> DataParserIF::PrependChild(Node::TypeName type) {
    return DoPrependChild(type);
}
std::unique_ptr<Node> DataParserIF::InsertChildAfter(Node::TypeName type,
                                                     const std::unique_ptr<Node>& node) {
    return DoInsertChildAfter(type, node);
}
std::unique_ptr<Node> DataParserIF::InsertChildBefore(Node::TypeName type,
                                                      const std::unique_ptr<Node>& node) {
    return DoInsertChildBefore(type, node);
}
std::unique_ptr<Node> DataParserIF::AppendChild(Node::TypeName type, DataValue value) {
    return DoAppendChild(type, value);
}
std::unique_ptr<Node> DataParserIF::PrependChild(Node::TypeName type, DataValue value) {
    return DoPrependChild(type, value);
}
std::unique_ptr<Node> DataParserIF::InsertChildAfter(Node::TypeName type, DataValue value,
                                                     const std::unique_ptr<Node>& node) {
    return DoInsertChildAfter(type, value, node);
}
std::unique_ptr<Node> DataParserIF::InsertChildBefore(Node::TypeName type, DataValue value,
                                                      const std::unique_ptr<Node>& node) {
    return DoInsertChildBefore(type, value, node);
}
std::unique_ptr<Node> DataParserIF::AppendChild(std::string_view name) {
    return DoAppendChild(name);
}
std::unique_ptr<Node> DataParserIF::PrependChild(std::string_view name) {
    return DoPrependChild(name);
}
std::unique_ptr<Node> DataParserIF::InsertChildAfter(std::string_view name,
                                                     const std::unique_ptr<Node>& node) {
    return DoInsertChildAfter(name, node);
}
std::unique_ptr<Node> DataParserIF::InsertChildBefore(std::string_view name,
                                                      const std::unique_ptr<Node>& node) {
    return DoInsertChildBefore(name, node);
}
std::unique_ptr<Node> DataParserIF::AppendChild(std::string_view name, DataValue value) {
    return DoAppendChild(name, value);
}
std::unique_ptr<Node> DataParserIF::PrependChild(std::string_view name, DataValue value) {
    return DoPrependChild(name, value);
}
std::unique_ptr<Node> DataParserIF::InsertChildAfter(std::string_view name, DataValue value,
                                                     const std::unique_ptr<Node>& node) {
    return DoInsertChildAfter(name, value, node);
}
std::unique_ptr<Node> DataParserIF::InsertChildBefore(std::string_view name, DataValue value,
                                                      const std::unique_ptr<Node>& node) {
    return DoInsertChildBefore(name, value, node);
}

std::unique_ptr<Attribute> DataParserIF::AppendAttribute(std::string_view name, DataValue value) {
    return DoAppendAttribute(name, value);
}
std::unique_ptr<Attribute> DataParserIF::PrependAttribute(std::string_view name, DataValue value) {
    return DoPrependAttribute(name, value);
}
std::unique_ptr<Attribute> DataParserIF::InsertAttributeAfter(
    std::string_view name, DataValue value, const std::unique_ptr<Attribute>& attribute) {
    return DoInsertAttributeAfter(name, value, attribute);
}
std::unique_ptr<Attribute> DataParserIF::InsertAttributeBefore(
    std::string_view name, DataValue value, const std::unique_ptr<Attribute>& attribute) {
    return DoInsertAttributeBefore(name, value, attribute);
}

void DataParserIF::RedactNodes(const std::vector<std::string>& xpathQueries) {
    DoRedactNodes(xpathQueries);
}

}  // namespace qiv
