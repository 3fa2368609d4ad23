#include "PugiNode.h"

#include "LogClient.h"
#include "internal/PugiAttributeImpl.h"
#include "internal/PugiNodeImpl.h"
#include "internal/SubtreeRemoval.h"
#include "internal/TypeMaps.h"
#include "internal/ValueAccess.h"
#include "internal/WrapperAllocator.h"

namespace qiv {
namespace {

// Source path that this file's log records carry.
constexpr std::string_view logFile = "common/lib/DataParser/src/PugiNode";

}  // namespace

// ---- PugiNode::Impl: construction, queries, values ----

PugiNode::Impl::Impl(pugi::xml_node node) : node_(node) {
    constexpr int emptyNodeLogLine = 47;
    if (node_.empty() && LogClient::LevelIsEnabled(LogLevel::Debug)) {
        LogClient log(logFile, "Impl", emptyNodeLogLine, LogLevel::Debug, LogCategory::DataParser);
        log << "created with empty node";
    }
}

Node::TypeName PugiNode::Impl::DoType() const {
    const auto found = nodeTypeMap.find(node_.type());
    return found != nodeTypeMap.end() ? found->second : Node::TypeName::Null;
}

std::string_view PugiNode::Impl::DoName() const { return detail::ViewOf(node_.name()); }

std::string_view PugiNode::Impl::DoText() const { return detail::ViewOf(node_.text().get()); }

std::string PugiNode::Impl::DoToString(std::string_view defaultValue) const {
    return detail::ReadString(node_.text(), defaultValue);
}

bool PugiNode::Impl::DoSetValue(const DataValue& value) {
    pugi::xml_text text = node_.text();
    return detail::WriteDataValue(value, [&text](auto held) { return text.set(held); });
}

std::unique_ptr<Node> PugiNode::Impl::DoChild(std::string_view name) const {
    const std::string copy(name);
    return std::make_unique<PugiNode>(node_.child(copy.c_str()));
}

std::unique_ptr<Node> PugiNode::Impl::DoFirstChild() const {
    return std::make_unique<PugiNode>(node_.first_child());
}

std::unique_ptr<Node> PugiNode::Impl::DoLastChild() const {
    return std::make_unique<PugiNode>(node_.last_child());
}

std::unique_ptr<Node> PugiNode::Impl::DoNextSibling() const {
    return std::make_unique<PugiNode>(node_.next_sibling());
}

std::unique_ptr<Node> PugiNode::Impl::DoPreviousSibling() const {
    return std::make_unique<PugiNode>(node_.previous_sibling());
}

std::unique_ptr<Attribute> PugiNode::Impl::DoFirstAttribute() const {
    return std::make_unique<PugiAttribute>(node_.first_attribute());
}

std::unique_ptr<Attribute> PugiNode::Impl::DoLastAttribute() const {
    return std::make_unique<PugiAttribute>(node_.last_attribute());
}

std::unique_ptr<Attribute> PugiNode::Impl::DoGetAttribute(std::string_view name) const {
    const std::string copy(name);
    return std::make_unique<PugiAttribute>(node_.attribute(copy.c_str()));
}

// ---- Creation steps shared with the document level ----

std::unique_ptr<Node> PugiNode::Impl::Created(pugi::xml_node created) {
    auto wrapper = std::make_unique<PugiNode>(std::move(created));
    if (wrapper->Invalid()) {
        return nullptr;
    }
    return wrapper;
}

std::unique_ptr<Node> PugiNode::Impl::CreatedWithValue(pugi::xml_node parent,
                                                       pugi::xml_node created,
                                                       const DataValue& value) {
    auto wrapper = Created(created);
    if (wrapper && !wrapper->SetValue(value)) {
        // Removing the node also removes a text child the attempt may have added.
        parent.remove_child(static_cast<PugiNode&>(*wrapper).impl_->GetRawNodeRef());
        return nullptr;
    }
    return wrapper;
}

std::unique_ptr<Attribute> PugiNode::Impl::CreatedAttribute(pugi::xml_node parent,
                                                            pugi::xml_attribute created,
                                                            const DataValue& value) {
    auto wrapper = std::make_unique<PugiAttribute>(std::move(created));
    if (wrapper->Invalid()) {
        return nullptr;
    }
    if (!wrapper->SetValue(value)) {
        parent.remove_attribute(RawAttributeOf(*wrapper));
        return nullptr;
    }
    return wrapper;
}

// ---- Child creation ----

std::unique_ptr<Node> PugiNode::Impl::DoAppendChild(Node::TypeName type) {
    return Created(node_.append_child(pugiNodeTypeMap.at(type)));
}

std::unique_ptr<Node> PugiNode::Impl::DoPrependChild(Node::TypeName type) {
    return Created(node_.prepend_child(pugiNodeTypeMap.at(type)));
}

std::unique_ptr<Node> PugiNode::Impl::DoInsertChildAfter(Node::TypeName type,
                                                         const std::unique_ptr<Node>& node) {
    const pugi::xml_node* reference = RawNodeOf(node);
    if (reference == nullptr) {
        return nullptr;
    }
    return Created(node_.insert_child_after(pugiNodeTypeMap.at(type), *reference));
}

std::unique_ptr<Node> PugiNode::Impl::DoInsertChildBefore(Node::TypeName type,
                                                          const std::unique_ptr<Node>& node) {
    const pugi::xml_node* reference = RawNodeOf(node);
    if (reference == nullptr) {
        return nullptr;
    }
    return Created(node_.insert_child_before(pugiNodeTypeMap.at(type), *reference));
}

std::unique_ptr<Node> PugiNode::Impl::DoAppendChild(Node::TypeName type, const DataValue& value) {
    return CreatedWithValue(node_, node_.append_child(pugiNodeTypeMap.at(type)), value);
}

std::unique_ptr<Node> PugiNode::Impl::DoPrependChild(Node::TypeName type, const DataValue& value) {
    return CreatedWithValue(node_, node_.prepend_child(pugiNodeTypeMap.at(type)), value);
}

std::unique_ptr<Node> PugiNode::Impl::DoInsertChildAfter(Node::TypeName type,
                                                         const DataValue& value,
                                                         const std::unique_ptr<Node>& node) {
    const pugi::xml_node* reference = RawNodeOf(node);
    if (reference == nullptr) {
        return nullptr;
    }
    return CreatedWithValue(node_, node_.insert_child_after(pugiNodeTypeMap.at(type), *reference),
                            value);
}

std::unique_ptr<Node> PugiNode::Impl::DoInsertChildBefore(Node::TypeName type,
                                                          const DataValue& value,
                                                          const std::unique_ptr<Node>& node) {
    const pugi::xml_node* reference = RawNodeOf(node);
    if (reference == nullptr) {
        return nullptr;
    }
    return CreatedWithValue(node_, node_.insert_child_before(pugiNodeTypeMap.at(type), *reference),
                            value);
}

std::unique_ptr<Node> PugiNode::Impl::DoAppendChild(std::string_view name) {
    const std::string copy(name);
    return Created(node_.append_child(copy.c_str()));
}

std::unique_ptr<Node> PugiNode::Impl::DoPrependChild(std::string_view name) {
    const std::string copy(name);
    return Created(node_.prepend_child(copy.c_str()));
}

std::unique_ptr<Node> PugiNode::Impl::DoInsertChildAfter(std::string_view name,
                                                         const std::unique_ptr<Node>& node) {
    const pugi::xml_node* reference = RawNodeOf(node);
    if (reference == nullptr) {
        return nullptr;
    }
    const std::string copy(name);
    return Created(node_.insert_child_after(copy.c_str(), *reference));
}

std::unique_ptr<Node> PugiNode::Impl::DoInsertChildBefore(std::string_view name,
                                                          const std::unique_ptr<Node>& node) {
    const pugi::xml_node* reference = RawNodeOf(node);
    if (reference == nullptr) {
        return nullptr;
    }
    const std::string copy(name);
    return Created(node_.insert_child_before(copy.c_str(), *reference));
}

std::unique_ptr<Node> PugiNode::Impl::DoAppendChild(std::string_view name, const DataValue& value) {
    constexpr int appendChildLogLine = 383;
    const std::string copy(name);
    auto created = CreatedWithValue(node_, node_.append_child(copy.c_str()), value);
    if (created && LogClient::LevelIsEnabled(LogLevel::Debug)) {
        LogClient log(logFile, "DoAppendChild", appendChildLogLine, LogLevel::Debug,
                      LogCategory::DataParser);
        log << "Created child with name " << name << " node has name " << created->Name();
    }
    return created;
}

std::unique_ptr<Node> PugiNode::Impl::DoPrependChild(std::string_view name,
                                                     const DataValue& value) {
    const std::string copy(name);
    return CreatedWithValue(node_, node_.prepend_child(copy.c_str()), value);
}

std::unique_ptr<Node> PugiNode::Impl::DoInsertChildAfter(std::string_view name,
                                                         const DataValue& value,
                                                         const std::unique_ptr<Node>& node) {
    const pugi::xml_node* reference = RawNodeOf(node);
    if (reference == nullptr) {
        return nullptr;
    }
    const std::string copy(name);
    return CreatedWithValue(node_, node_.insert_child_after(copy.c_str(), *reference), value);
}

std::unique_ptr<Node> PugiNode::Impl::DoInsertChildBefore(std::string_view name,
                                                          const DataValue& value,
                                                          const std::unique_ptr<Node>& node) {
    const pugi::xml_node* reference = RawNodeOf(node);
    if (reference == nullptr) {
        return nullptr;
    }
    const std::string copy(name);
    return CreatedWithValue(node_, node_.insert_child_before(copy.c_str(), *reference), value);
}

// ---- Attribute creation ----

std::unique_ptr<Attribute> PugiNode::Impl::DoAppendAttribute(std::string_view name,
                                                             const DataValue& value) {
    constexpr int refusedLogLine = 467;
    constexpr int createdLogLine = 481;
    constexpr int valueFailedLogLine = 485;

    pugi::xml_attribute created = node_.append_attribute(std::string(name).c_str());
    if (created.empty()) {
        if (LogClient::LevelIsEnabled(LogLevel::Debug)) {
            LogClient log(logFile, "DoAppendAttribute", refusedLogLine, LogLevel::Debug,
                          LogCategory::DataParser);
            log << "Append failed because pugi did not want to append the attribute";
        }
        return nullptr;
    }
    auto wrapper = std::make_unique<PugiAttribute>(std::move(created));
    if (wrapper->SetValue(value)) {
        if (LogClient::LevelIsEnabled(LogLevel::Debug)) {
            LogClient log(logFile, "DoAppendAttribute", createdLogLine, LogLevel::Debug,
                          LogCategory::DataParser);
            log << "Created attribute with name " << name << " attribute has name "
                << wrapper->Name();
        }
        return wrapper;
    }
    if (LogClient::LevelIsEnabled(LogLevel::Error)) {
        LogClient log(logFile, "DoAppendAttribute", valueFailedLogLine, LogLevel::Error,
                      LogCategory::DataParser);
        log << "Append failed";
    }
    node_.remove_attribute(RawAttributeOf(*wrapper));
    return nullptr;
}

std::unique_ptr<Attribute> PugiNode::Impl::DoPrependAttribute(std::string_view name,
                                                              const DataValue& value) {
    const std::string copy(name);
    return CreatedAttribute(node_, node_.prepend_attribute(copy.c_str()), value);
}

std::unique_ptr<Attribute> PugiNode::Impl::DoInsertAttributeAfter(
    std::string_view name, const DataValue& value, const std::unique_ptr<Attribute>& attribute) {
    const pugi::xml_attribute* reference = RawAttributeOf(attribute);
    if (reference == nullptr) {
        return nullptr;
    }
    const std::string copy(name);
    return CreatedAttribute(node_, node_.insert_attribute_after(copy.c_str(), *reference), value);
}

std::unique_ptr<Attribute> PugiNode::Impl::DoInsertAttributeBefore(
    std::string_view name, const DataValue& value, const std::unique_ptr<Attribute>& attribute) {
    const pugi::xml_attribute* reference = RawAttributeOf(attribute);
    if (reference == nullptr) {
        return nullptr;
    }
    const std::string copy(name);
    return CreatedAttribute(node_, node_.insert_attribute_before(copy.c_str(), *reference), value);
}

// ---- Removal ----

bool PugiNode::Impl::DoRemoveChild(const std::unique_ptr<Node>& node) {
    const pugi::xml_node* child = RawNodeOf(node);
    return child != nullptr && detail::RemoveChild(node_, *child);
}

bool PugiNode::Impl::DoRemoveAttribute(const std::unique_ptr<Attribute>& attribute) {
    const pugi::xml_attribute* held = RawAttributeOf(attribute);
    return held != nullptr && node_.remove_attribute(*held);
}

// ---- PugiNode: forwarding to the implementation ----

PugiNode::PugiNode() : impl_(std::make_unique<Impl>()) {}

PugiNode::PugiNode(pugi::xml_node&& node) : impl_(std::make_unique<Impl>(node)) {}

PugiNode::~PugiNode() = default;

void* PugiNode::operator new(std::size_t size) {
    // Larger objects would still work, but would bypass the cache.
    static_assert(sizeof(PugiNode) <= detail::WrapperAllocator::blockSize &&
                  sizeof(Impl) <= detail::WrapperAllocator::blockSize);
    return detail::WrapperAllocator::Allocate(size);
}

void* PugiNode::operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return detail::WrapperAllocator::Allocate(size);
    } catch (...) {
        return nullptr;
    }
}

void PugiNode::operator delete(void* block, std::size_t size) noexcept {
    detail::WrapperAllocator::Deallocate(block, size);
}

void PugiNode::operator delete(void* block, const std::nothrow_t&) noexcept {
    ::operator delete(block);
}

std::string_view PugiNode::DoText() const { return impl_->DoText(); }

Node::TypeName PugiNode::DoType() const { return impl_->DoType(); }

std::string_view PugiNode::DoName() const { return impl_->DoName(); }

std::string PugiNode::DoToString(std::string_view defaultValue) const {
    return impl_->DoToString(defaultValue);
}

int PugiNode::DoToInt(int defaultValue) const { return impl_->DoToInt(defaultValue); }

unsigned int PugiNode::DoToUnsignedInt(unsigned int defaultValue) const {
    return impl_->DoToUnsignedInt(defaultValue);
}

double PugiNode::DoToDouble(double defaultValue) const { return impl_->DoToDouble(defaultValue); }

float PugiNode::DoToFloat(float defaultValue) const { return impl_->DoToFloat(defaultValue); }

bool PugiNode::DoToBool(bool defaultValue) const { return impl_->DoToBool(defaultValue); }

bool PugiNode::DoInvalid() const { return impl_->DoInvalid(); }

std::unique_ptr<Node> PugiNode::DoChild(std::string_view name) const {
    return impl_->DoChild(name);
}

std::unique_ptr<Node> PugiNode::DoFirstChild() const { return impl_->DoFirstChild(); }

std::unique_ptr<Node> PugiNode::DoLastChild() const { return impl_->DoLastChild(); }

std::unique_ptr<Node> PugiNode::DoNextSibling() const { return impl_->DoNextSibling(); }

std::unique_ptr<Node> PugiNode::DoPreviousSibling() const { return impl_->DoPreviousSibling(); }

std::unique_ptr<Attribute> PugiNode::DoFirstAttribute() const { return impl_->DoFirstAttribute(); }

std::unique_ptr<Attribute> PugiNode::DoLastAttribute() const { return impl_->DoLastAttribute(); }

std::unique_ptr<Attribute> PugiNode::DoGetAttribute(std::string_view name) const {
    return impl_->DoGetAttribute(name);
}

std::unique_ptr<Node> PugiNode::DoAppendChild(TypeName type) { return impl_->DoAppendChild(type); }

std::unique_ptr<Node> PugiNode::DoPrependChild(TypeName type) {
    return impl_->DoPrependChild(type);
}

std::unique_ptr<Node> PugiNode::DoInsertChildAfter(TypeName type,
                                                   const std::unique_ptr<Node>& node) {
    return impl_->DoInsertChildAfter(type, node);
}

std::unique_ptr<Node> PugiNode::DoInsertChildBefore(TypeName type,
                                                    const std::unique_ptr<Node>& node) {
    return impl_->DoInsertChildBefore(type, node);
}

std::unique_ptr<Node> PugiNode::DoAppendChild(TypeName type, DataValue value) {
    return impl_->DoAppendChild(type, value);
}

std::unique_ptr<Node> PugiNode::DoPrependChild(TypeName type, DataValue value) {
    return impl_->DoPrependChild(type, value);
}

std::unique_ptr<Node> PugiNode::DoInsertChildAfter(TypeName type, DataValue value,
                                                   const std::unique_ptr<Node>& node) {
    return impl_->DoInsertChildAfter(type, value, node);
}

std::unique_ptr<Node> PugiNode::DoInsertChildBefore(TypeName type, DataValue value,
                                                    const std::unique_ptr<Node>& node) {
    return impl_->DoInsertChildBefore(type, value, node);
}

std::unique_ptr<Node> PugiNode::DoAppendChild(std::string_view name) {
    return impl_->DoAppendChild(name);
}

std::unique_ptr<Node> PugiNode::DoPrependChild(std::string_view name) {
    return impl_->DoPrependChild(name);
}

std::unique_ptr<Node> PugiNode::DoInsertChildAfter(std::string_view name,
                                                   const std::unique_ptr<Node>& node) {
    return impl_->DoInsertChildAfter(name, node);
}

std::unique_ptr<Node> PugiNode::DoInsertChildBefore(std::string_view name,
                                                    const std::unique_ptr<Node>& node) {
    return impl_->DoInsertChildBefore(name, node);
}

std::unique_ptr<Node> PugiNode::DoAppendChild(std::string_view name, DataValue value) {
    return impl_->DoAppendChild(name, value);
}

std::unique_ptr<Node> PugiNode::DoPrependChild(std::string_view name, DataValue value) {
    return impl_->DoPrependChild(name, value);
}

std::unique_ptr<Node> PugiNode::DoInsertChildAfter(std::string_view name, DataValue value,
                                                   const std::unique_ptr<Node>& node) {
    return impl_->DoInsertChildAfter(name, value, node);
}

std::unique_ptr<Node> PugiNode::DoInsertChildBefore(std::string_view name, DataValue value,
                                                    const std::unique_ptr<Node>& node) {
    return impl_->DoInsertChildBefore(name, value, node);
}

std::unique_ptr<Attribute> PugiNode::DoAppendAttribute(std::string_view name, DataValue value) {
    return impl_->DoAppendAttribute(name, value);
}

std::unique_ptr<Attribute> PugiNode::DoPrependAttribute(std::string_view name, DataValue value) {
    return impl_->DoPrependAttribute(name, value);
}

std::unique_ptr<Attribute> PugiNode::DoInsertAttributeAfter(
    std::string_view name, DataValue value, const std::unique_ptr<Attribute>& attribute) {
    return impl_->DoInsertAttributeAfter(name, value, attribute);
}

std::unique_ptr<Attribute> PugiNode::DoInsertAttributeBefore(
    std::string_view name, DataValue value, const std::unique_ptr<Attribute>& attribute) {
    return impl_->DoInsertAttributeBefore(name, value, attribute);
}

bool PugiNode::DoRemoveChild(std::unique_ptr<Node>& node) { return impl_->DoRemoveChild(node); }

bool PugiNode::DoRemoveAttribute(std::unique_ptr<Attribute>& attribute) {
    return impl_->DoRemoveAttribute(attribute);
}

bool PugiNode::DoSetValue(DataValue value) { return impl_->DoSetValue(value); }

}  // namespace qiv
