#include "PugiXMLParser.h"

#include <algorithm>
#include <iostream>
#include <map>

#include <pugixml.hpp>

#include "LogClient.h"
#include "PugiAttribute.h"
#include "PugiNode.h"
#include "internal/PugiAttributeImpl.h"
#include "internal/PugiNodeImpl.h"
#include "internal/SubtreeRemoval.h"
#include "internal/TypeMaps.h"
#include "internal/ValueAccess.h"

namespace qiv {
namespace {

// Source path that this file's log records carry.
constexpr std::string_view logFile = "common/lib/DataParser/src/PugiXMLParser";

// Parse options per load: files and streams use pugixml's defaults, strings
// also keep comments.
constexpr unsigned int fileParseOptions = pugi::parse_default;
constexpr unsigned int stringParseOptions = pugi::parse_default | pugi::parse_comments;

constexpr const char* indent = "\t";
constexpr const char* redactedText = "redacted";

}  // namespace

class ORN_DATAPARSER_LOCAL PugiXMLParser::Impl {
public:
    static const std::map<pugi::xml_parse_status, DataParserStatus> errorMap;
    static const std::map<pugi::xml_node_type, Node::TypeName> typeMap;

    // Document lifecycle.
    void DoReset() { document_.reset(); }

    LoadResult DoLoadFile(std::string_view path) {
        std::cout << "Loading XML document from " << path << std::endl;
        const std::string copy(path);
        return CheckError(document_.load_file(copy.c_str(), fileParseOptions, pugi::encoding_auto));
    }

    LoadResult DoLoadString(std::string_view text) {
        // The text counts up to its first NUL, as for a C string. pugixml's
        // string load is a buffer load of the string's length as UTF-8, so
        // loading that part directly gives the same result without a copy.
        const std::size_t length = std::min(text.size(), text.find('\0'));
        return CheckError(document_.load_buffer(length != 0 ? text.data() : "", length,
                                                stringParseOptions, pugi::encoding_utf8));
    }

    LoadResult DoLoadStream(std::istream& stream) {
        return CheckError(document_.load(stream, fileParseOptions, pugi::encoding_auto));
    }

    bool DoSaveFile(std::string_view path, unsigned int format) const {
        const std::string copy(path);
        return document_.save_file(copy.c_str(), indent, format, pugi::encoding_auto);
    }

    void DoSaveToStream(std::ostream& stream, unsigned int format) const {
        document_.save(stream, indent, format, pugi::encoding_auto);
    }

    /// Reports a failed parse on standard output and translates the outcome.
    static LoadResult CheckError(const pugi::xml_parse_result& result) {
        if (!result) {
            std::cout << "Error pugi status: " << static_cast<int>(result.status) << "\n"
                      << "Error description: " << result.description() << "\n"
                      << "Error offset: " << result.offset << " (error at [..." << result.offset
                      << "]\n\n";
        }
        const auto found = errorMap.find(result.status);
        const DataParserStatus status =
            found != errorMap.end() ? found->second : DataParserStatus::Unmapped;
        return {std::string(result.description()), status};
    }

    // Queries on the document node.
    Node::TypeName DoType() const {
        const auto found = typeMap.find(document_.type());
        return found != typeMap.end() ? found->second : Node::TypeName::Null;
    }
    std::string_view DoName() const { return detail::ViewOf(document_.name()); }
    std::string_view DoValue() const { return detail::ViewOf(document_.child_value()); }
    std::string_view DoText() const { return detail::ViewOf(document_.text().get()); }
    bool DoInvalid() const { return document_.empty(); }
    std::unique_ptr<Node> DoChild(std::string_view name) const {
        const std::string copy(name);
        return std::make_unique<PugiNode>(document_.child(copy.c_str()));
    }
    std::unique_ptr<Node> DoFirstChild() const {
        return std::make_unique<PugiNode>(document_.first_child());
    }
    std::unique_ptr<Node> DoLastChild() const {
        return std::make_unique<PugiNode>(document_.last_child());
    }
    std::unique_ptr<Node> DoNextSibling() const {
        return std::make_unique<PugiNode>(document_.next_sibling());
    }
    std::unique_ptr<Node> DoPreviousSibling() const {
        return std::make_unique<PugiNode>(document_.previous_sibling());
    }
    std::unique_ptr<Attribute> DoFirstAttribute() const {
        return std::make_unique<PugiAttribute>(document_.first_attribute());
    }
    std::unique_ptr<Attribute> DoLastAttribute() const {
        return std::make_unique<PugiAttribute>(document_.last_attribute());
    }
    std::unique_ptr<Attribute> DoGetAttribute(std::string_view name) const {
        const std::string copy(name);
        return std::make_unique<PugiAttribute>(document_.attribute(copy.c_str()));
    }

    // Creation of top-level nodes: the same steps as below an element, with
    // the document node as the parent.
    using NodeImpl = PugiNode::Impl;

    std::unique_ptr<Node> DoAppendChild(Node::TypeName type) {
        return NodeImpl::Created(document_.append_child(pugiNodeTypeMap.at(type)));
    }
    std::unique_ptr<Node> DoPrependChild(Node::TypeName type) {
        return NodeImpl::Created(document_.prepend_child(pugiNodeTypeMap.at(type)));
    }
    std::unique_ptr<Node> DoInsertChildAfter(Node::TypeName type,
                                             const std::unique_ptr<Node>& node) {
        const pugi::xml_node* reference = NodeImpl::RawNodeOf(node);
        if (reference == nullptr) {
            return nullptr;
        }
        return NodeImpl::Created(
            document_.insert_child_after(pugiNodeTypeMap.at(type), *reference));
    }
    std::unique_ptr<Node> DoInsertChildBefore(Node::TypeName type,
                                              const std::unique_ptr<Node>& node) {
        const pugi::xml_node* reference = NodeImpl::RawNodeOf(node);
        if (reference == nullptr) {
            return nullptr;
        }
        return NodeImpl::Created(
            document_.insert_child_before(pugiNodeTypeMap.at(type), *reference));
    }
    std::unique_ptr<Node> DoAppendChild(Node::TypeName type, const DataValue& value) {
        return NodeImpl::CreatedWithValue(document_,
                                          document_.append_child(pugiNodeTypeMap.at(type)), value);
    }
    std::unique_ptr<Node> DoPrependChild(Node::TypeName type, const DataValue& value) {
        return NodeImpl::CreatedWithValue(document_,
                                          document_.prepend_child(pugiNodeTypeMap.at(type)), value);
    }
    std::unique_ptr<Node> DoInsertChildAfter(Node::TypeName type, const DataValue& value,
                                             const std::unique_ptr<Node>& node) {
        const pugi::xml_node* reference = NodeImpl::RawNodeOf(node);
        if (reference == nullptr) {
            return nullptr;
        }
        return NodeImpl::CreatedWithValue(
            document_, document_.insert_child_after(pugiNodeTypeMap.at(type), *reference), value);
    }
    std::unique_ptr<Node> DoInsertChildBefore(Node::TypeName type, const DataValue& value,
                                              const std::unique_ptr<Node>& node) {
        const pugi::xml_node* reference = NodeImpl::RawNodeOf(node);
        if (reference == nullptr) {
            return nullptr;
        }
        return NodeImpl::CreatedWithValue(
            document_, document_.insert_child_before(pugiNodeTypeMap.at(type), *reference), value);
    }
    std::unique_ptr<Node> DoAppendChild(std::string_view name) {
        const std::string copy(name);
        return NodeImpl::Created(document_.append_child(copy.c_str()));
    }
    std::unique_ptr<Node> DoPrependChild(std::string_view name) {
        const std::string copy(name);
        return NodeImpl::Created(document_.prepend_child(copy.c_str()));
    }
    std::unique_ptr<Node> DoInsertChildAfter(std::string_view name,
                                             const std::unique_ptr<Node>& node) {
        const pugi::xml_node* reference = NodeImpl::RawNodeOf(node);
        if (reference == nullptr) {
            return nullptr;
        }
        const std::string copy(name);
        return NodeImpl::Created(document_.insert_child_after(copy.c_str(), *reference));
    }
    std::unique_ptr<Node> DoInsertChildBefore(std::string_view name,
                                              const std::unique_ptr<Node>& node) {
        const pugi::xml_node* reference = NodeImpl::RawNodeOf(node);
        if (reference == nullptr) {
            return nullptr;
        }
        const std::string copy(name);
        return NodeImpl::Created(document_.insert_child_before(copy.c_str(), *reference));
    }
    std::unique_ptr<Node> DoAppendChild(std::string_view name, const DataValue& value) {
        const std::string copy(name);
        return NodeImpl::CreatedWithValue(document_, document_.append_child(copy.c_str()), value);
    }
    std::unique_ptr<Node> DoPrependChild(std::string_view name, const DataValue& value) {
        const std::string copy(name);
        return NodeImpl::CreatedWithValue(document_, document_.prepend_child(copy.c_str()), value);
    }
    std::unique_ptr<Node> DoInsertChildAfter(std::string_view name, const DataValue& value,
                                             const std::unique_ptr<Node>& node) {
        const pugi::xml_node* reference = NodeImpl::RawNodeOf(node);
        if (reference == nullptr) {
            return nullptr;
        }
        const std::string copy(name);
        return NodeImpl::CreatedWithValue(
            document_, document_.insert_child_after(copy.c_str(), *reference), value);
    }
    std::unique_ptr<Node> DoInsertChildBefore(std::string_view name, const DataValue& value,
                                              const std::unique_ptr<Node>& node) {
        const pugi::xml_node* reference = NodeImpl::RawNodeOf(node);
        if (reference == nullptr) {
            return nullptr;
        }
        const std::string copy(name);
        return NodeImpl::CreatedWithValue(
            document_, document_.insert_child_before(copy.c_str(), *reference), value);
    }

    // The document node refuses attributes; the members still go through
    // pugixml so that they behave like their node-level counterparts.
    std::unique_ptr<Attribute> DoAppendAttribute(std::string_view name, const DataValue& value) {
        const std::string copy(name);
        pugi::xml_attribute created = document_.append_attribute(copy.c_str());
        if (created.empty()) {
            std::cout << "failed to append attribute\n";
            return nullptr;
        }
        return NodeImpl::CreatedAttribute(document_, created, value);
    }
    std::unique_ptr<Attribute> DoPrependAttribute(std::string_view name, const DataValue& value) {
        const std::string copy(name);
        return NodeImpl::CreatedAttribute(document_, document_.prepend_attribute(copy.c_str()),
                                          value);
    }
    std::unique_ptr<Attribute> DoInsertAttributeAfter(std::string_view name, const DataValue& value,
                                                      const std::unique_ptr<Attribute>& attribute) {
        const pugi::xml_attribute* reference = NodeImpl::RawAttributeOf(attribute);
        if (reference == nullptr) {
            return nullptr;
        }
        const std::string copy(name);
        return NodeImpl::CreatedAttribute(
            document_, document_.insert_attribute_after(copy.c_str(), *reference), value);
    }
    std::unique_ptr<Attribute> DoInsertAttributeBefore(
        std::string_view name, const DataValue& value,
        const std::unique_ptr<Attribute>& attribute) {
        const pugi::xml_attribute* reference = NodeImpl::RawAttributeOf(attribute);
        if (reference == nullptr) {
            return nullptr;
        }
        const std::string copy(name);
        return NodeImpl::CreatedAttribute(
            document_, document_.insert_attribute_before(copy.c_str(), *reference), value);
    }

    bool DoRemoveChild(const std::unique_ptr<Node>& node) {
        const pugi::xml_node* child = NodeImpl::RawNodeOf(node);
        return child != nullptr && detail::RemoveChild(document_, *child);
    }
    bool DoRemoveAttribute(const std::unique_ptr<Attribute>& attribute) {
        const pugi::xml_attribute* held = NodeImpl::RawAttributeOf(attribute);
        return held != nullptr && document_.remove_attribute(*held);
    }

    // XPath.
    std::unique_ptr<PugiXPathNodeSet> SelectNodes(const std::string& xpathQuery) const {
        constexpr int xpathErrorLogLine = 596;
        constexpr int otherErrorLogLine = 601;
        try {
            return std::make_unique<PugiXPathNodeSet>(
                document_.select_nodes(xpathQuery.c_str(), nullptr));
        } catch (const pugi::xpath_exception& error) {
            if (LogClient::LevelIsEnabled(LogLevel::Error)) {
                LogClient log(logFile, "SelectNodes", xpathErrorLogLine, LogLevel::Error,
                              LogCategory::DataParser);
                log << " error: " << error.what() << " with xpathQuery: " << xpathQuery;
            }
        } catch (...) {
            if (LogClient::LevelIsEnabled(LogLevel::Error)) {
                LogClient log(logFile, "SelectNodes", otherErrorLogLine, LogLevel::Error,
                              LogCategory::DataParser);
                log << "failed to execute xpath query: " << xpathQuery;
            }
        }
        return nullptr;
    }

    void DoRedactNodes(const std::vector<std::string>& xpathQueries) {
        constexpr int nothingSelectedLogLine = 622;
        for (const std::string& query : xpathQueries) {
            const std::string copy(query);
            const std::unique_ptr<PugiXPathNodeSet> selected = SelectNodes(copy);
            if (selected) {
                for (auto item = selected->Begin(); item != selected->End(); ++item) {
                    item->node().text().set(redactedText);
                }
            } else if (LogClient::LevelIsEnabled(LogLevel::Warning)) {
                LogClient log(logFile, "DoRedactNodes", nothingSelectedLogLine, LogLevel::Warning,
                              LogCategory::DataParser);
                log << "No nodes selected for xpath-query: " << copy;
            }
        }
    }

private:
    pugi::xml_document document_;
};

const std::map<pugi::xml_parse_status, DataParserStatus> PugiXMLParser::Impl::errorMap = {
    {pugi::status_ok, DataParserStatus::Ok},
    {pugi::status_file_not_found, DataParserStatus::FileNotFound},
    {pugi::status_io_error, DataParserStatus::IoError},
    {pugi::status_out_of_memory, DataParserStatus::OutOfMemory},
    {pugi::status_internal_error, DataParserStatus::InternalError},
    {pugi::status_unrecognized_tag, DataParserStatus::UnrecognizedTag},
    {pugi::status_bad_pi, DataParserStatus::BadPi},
    {pugi::status_bad_comment, DataParserStatus::BadComment},
    {pugi::status_bad_cdata, DataParserStatus::BadCData},
    {pugi::status_bad_doctype, DataParserStatus::BadDoctype},
    {pugi::status_bad_pcdata, DataParserStatus::BadPCData},
    {pugi::status_bad_start_element, DataParserStatus::BadStartElement},
    {pugi::status_bad_attribute, DataParserStatus::BadAttribute},
    {pugi::status_bad_end_element, DataParserStatus::BadEndElement},
    {pugi::status_end_element_mismatch, DataParserStatus::EndElementMismatch},
    {pugi::status_append_invalid_root, DataParserStatus::AppendInvalidRoot},
    {pugi::status_no_document_element, DataParserStatus::NoDocumentElement},
};

const std::map<pugi::xml_node_type, Node::TypeName> PugiXMLParser::Impl::typeMap = {
    {pugi::node_null, Node::TypeName::Null},
    {pugi::node_document, Node::TypeName::Document},
    {pugi::node_element, Node::TypeName::Element},
};

// The parser registry, filled right after the tables above.
template <>
template <>
ORN_DATAPARSER_API
    std::unordered_map<std::string_view, std::function<std::unique_ptr<DataParserIF>()>>
        IF<DataParserIF>::ifConstructors<> = [] {
            std::unordered_map<std::string_view, std::function<std::unique_ptr<DataParserIF>()>>
                constructors;
            constructors.emplace("DefaultIF", &IFConstructor<PugiXMLParser>);
            constructors.emplace("XML", &IFConstructor<PugiXMLParser>);
            return constructors;
        }();

// ---- PugiXMLParser: forwarding to the implementation ----

PugiXMLParser::PugiXMLParser() : impl_(std::make_unique<Impl>()) {}

PugiXMLParser::~PugiXMLParser() = default;

std::unique_ptr<PugiXPathNodeSet> PugiXMLParser::SelectNodes(const std::string& xpathQuery) {
    return impl_->SelectNodes(xpathQuery);
}

void PugiXMLParser::DoReset() { impl_->DoReset(); }
LoadResult PugiXMLParser::DoLoadFile(std::string_view path) { return impl_->DoLoadFile(path); }
LoadResult PugiXMLParser::DoLoadString(std::string_view text) { return impl_->DoLoadString(text); }
LoadResult PugiXMLParser::DoLoadStream(std::istream& stream) { return impl_->DoLoadStream(stream); }
bool PugiXMLParser::DoSaveFile(std::string_view path, unsigned int format) {
    return impl_->DoSaveFile(path, format);
}
void PugiXMLParser::DoSaveToStream(std::ostream& stream, unsigned int format) {
    impl_->DoSaveToStream(stream, format);
}

Node::TypeName PugiXMLParser::DoType() const { return impl_->DoType(); }
std::string_view PugiXMLParser::DoName() const { return impl_->DoName(); }
std::string_view PugiXMLParser::DoValue() const { return impl_->DoValue(); }
bool PugiXMLParser::DoInvalid() const { return impl_->DoInvalid(); }
std::unique_ptr<Node> PugiXMLParser::DoChild(std::string_view name) const {
    return impl_->DoChild(name);
}
std::unique_ptr<Node> PugiXMLParser::DoFirstChild() const { return impl_->DoFirstChild(); }
std::unique_ptr<Node> PugiXMLParser::DoLastChild() const { return impl_->DoLastChild(); }
std::unique_ptr<Node> PugiXMLParser::DoNextSibling() const { return impl_->DoNextSibling(); }
std::unique_ptr<Node> PugiXMLParser::DoPreviousSibling() const {
    return impl_->DoPreviousSibling();
}
std::string_view PugiXMLParser::DoText() const { return impl_->DoText(); }
std::unique_ptr<Attribute> PugiXMLParser::DoFirstAttribute() const {
    return impl_->DoFirstAttribute();
}
std::unique_ptr<Attribute> PugiXMLParser::DoLastAttribute() const {
    return impl_->DoLastAttribute();
}
std::unique_ptr<Attribute> PugiXMLParser::DoGetAttribute(std::string_view name) const {
    return impl_->DoGetAttribute(name);
}

std::unique_ptr<Node> PugiXMLParser::DoAppendChild(Node::TypeName type) {
    return impl_->DoAppendChild(type);
}
std::unique_ptr<Node> PugiXMLParser::DoPrependChild(Node::TypeName type) {
    return impl_->DoPrependChild(type);
}
std::unique_ptr<Node> PugiXMLParser::DoInsertChildAfter(Node::TypeName type,
                                                        const std::unique_ptr<Node>& node) {
    return impl_->DoInsertChildAfter(type, node);
}
std::unique_ptr<Node> PugiXMLParser::DoInsertChildBefore(Node::TypeName type,
                                                         const std::unique_ptr<Node>& node) {
    return impl_->DoInsertChildBefore(type, node);
}
std::unique_ptr<Node> PugiXMLParser::DoAppendChild(Node::TypeName type, DataValue value) {
    return impl_->DoAppendChild(type, value);
}
std::unique_ptr<Node> PugiXMLParser::DoPrependChild(Node::TypeName type, DataValue value) {
    return impl_->DoPrependChild(type, value);
}
std::unique_ptr<Node> PugiXMLParser::DoInsertChildAfter(Node::TypeName type, DataValue value,
                                                        const std::unique_ptr<Node>& node) {
    return impl_->DoInsertChildAfter(type, value, node);
}
std::unique_ptr<Node> PugiXMLParser::DoInsertChildBefore(Node::TypeName type, DataValue value,
                                                         const std::unique_ptr<Node>& node) {
    return impl_->DoInsertChildBefore(type, value, node);
}
std::unique_ptr<Node> PugiXMLParser::DoAppendChild(std::string_view name) {
    return impl_->DoAppendChild(name);
}
std::unique_ptr<Node> PugiXMLParser::DoPrependChild(std::string_view name) {
    return impl_->DoPrependChild(name);
}
std::unique_ptr<Node> PugiXMLParser::DoInsertChildAfter(std::string_view name,
                                                        const std::unique_ptr<Node>& node) {
    return impl_->DoInsertChildAfter(name, node);
}
std::unique_ptr<Node> PugiXMLParser::DoInsertChildBefore(std::string_view name,
                                                         const std::unique_ptr<Node>& node) {
    return impl_->DoInsertChildBefore(name, node);
}
std::unique_ptr<Node> PugiXMLParser::DoAppendChild(std::string_view name, DataValue value) {
    return impl_->DoAppendChild(name, value);
}
std::unique_ptr<Node> PugiXMLParser::DoPrependChild(std::string_view name, DataValue value) {
    return impl_->DoPrependChild(name, value);
}
std::unique_ptr<Node> PugiXMLParser::DoInsertChildAfter(std::string_view name, DataValue value,
                                                        const std::unique_ptr<Node>& node) {
    return impl_->DoInsertChildAfter(name, value, node);
}
std::unique_ptr<Node> PugiXMLParser::DoInsertChildBefore(std::string_view name, DataValue value,
                                                         const std::unique_ptr<Node>& node) {
    return impl_->DoInsertChildBefore(name, value, node);
}

std::unique_ptr<Attribute> PugiXMLParser::DoAppendAttribute(std::string_view name,
                                                            DataValue value) {
    return impl_->DoAppendAttribute(name, value);
}
std::unique_ptr<Attribute> PugiXMLParser::DoPrependAttribute(std::string_view name,
                                                             DataValue value) {
    return impl_->DoPrependAttribute(name, value);
}
std::unique_ptr<Attribute> PugiXMLParser::DoInsertAttributeAfter(
    std::string_view name, DataValue value, const std::unique_ptr<Attribute>& attribute) {
    return impl_->DoInsertAttributeAfter(name, value, attribute);
}
std::unique_ptr<Attribute> PugiXMLParser::DoInsertAttributeBefore(
    std::string_view name, DataValue value, const std::unique_ptr<Attribute>& attribute) {
    return impl_->DoInsertAttributeBefore(name, value, attribute);
}

bool PugiXMLParser::DoRemoveChild(std::unique_ptr<Node>& node) {
    return impl_->DoRemoveChild(node);
}
bool PugiXMLParser::DoRemoveAttribute(std::unique_ptr<Attribute>& attribute) {
    return impl_->DoRemoveAttribute(attribute);
}
void PugiXMLParser::DoRedactNodes(const std::vector<std::string>& xpathQueries) {
    impl_->DoRedactNodes(xpathQueries);
}

}  // namespace qiv
