#pragma once

// Helpers shared by the node-level and document-level editing tests.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "DataParserIF.h"

namespace qiv::test {

/// A Node of a caller's own making. It has no data members, so a library
/// that treated it as one of its own wrappers would read past its end (which
/// the sanitizer build reports).
class ForeignNode final : public Node {
    using NodePtr = std::unique_ptr<Node>;
    using AttributePtr = std::unique_ptr<Attribute>;

    TypeName DoType() const override { return TypeName::Element; }
    std::string_view DoName() const override { return "foreign"; }
    std::string DoToString(std::string_view value) const override { return std::string(value); }
    int DoToInt(int value) const override { return value; }
    unsigned int DoToUnsignedInt(unsigned int value) const override { return value; }
    double DoToDouble(double value) const override { return value; }
    float DoToFloat(float value) const override { return value; }
    bool DoToBool(bool value) const override { return value; }
    bool DoInvalid() const override { return false; }
    NodePtr DoChild(std::string_view) const override { return nullptr; }
    NodePtr DoFirstChild() const override { return nullptr; }
    NodePtr DoLastChild() const override { return nullptr; }
    NodePtr DoNextSibling() const override { return nullptr; }
    NodePtr DoPreviousSibling() const override { return nullptr; }
    AttributePtr DoFirstAttribute() const override { return nullptr; }
    AttributePtr DoLastAttribute() const override { return nullptr; }
    AttributePtr DoGetAttribute(std::string_view) const override { return nullptr; }
    NodePtr DoAppendChild(TypeName) override { return nullptr; }
    NodePtr DoPrependChild(TypeName) override { return nullptr; }
    NodePtr DoInsertChildAfter(TypeName, const NodePtr&) override { return nullptr; }
    NodePtr DoInsertChildBefore(TypeName, const NodePtr&) override { return nullptr; }
    NodePtr DoAppendChild(TypeName, DataValue) override { return nullptr; }
    NodePtr DoPrependChild(TypeName, DataValue) override { return nullptr; }
    NodePtr DoInsertChildAfter(TypeName, DataValue, const NodePtr&) override { return nullptr; }
    NodePtr DoInsertChildBefore(TypeName, DataValue, const NodePtr&) override { return nullptr; }
    NodePtr DoAppendChild(std::string_view) override { return nullptr; }
    NodePtr DoPrependChild(std::string_view) override { return nullptr; }
    NodePtr DoInsertChildAfter(std::string_view, const NodePtr&) override { return nullptr; }
    NodePtr DoInsertChildBefore(std::string_view, const NodePtr&) override { return nullptr; }
    NodePtr DoAppendChild(std::string_view, DataValue) override { return nullptr; }
    NodePtr DoPrependChild(std::string_view, DataValue) override { return nullptr; }
    NodePtr DoInsertChildAfter(std::string_view, DataValue, const NodePtr&) override {
        return nullptr;
    }
    NodePtr DoInsertChildBefore(std::string_view, DataValue, const NodePtr&) override {
        return nullptr;
    }
    AttributePtr DoAppendAttribute(std::string_view, DataValue) override { return nullptr; }
    AttributePtr DoPrependAttribute(std::string_view, DataValue) override { return nullptr; }
    AttributePtr DoInsertAttributeAfter(std::string_view, DataValue, const AttributePtr&) override {
        return nullptr;
    }
    AttributePtr DoInsertAttributeBefore(std::string_view, DataValue,
                                         const AttributePtr&) override {
        return nullptr;
    }
    bool DoRemoveChild(NodePtr&) override { return false; }
    bool DoRemoveAttribute(AttributePtr&) override { return false; }
    bool DoSetValue(DataValue) override { return false; }
};

/// An Attribute of a caller's own making; see ForeignNode.
class ForeignAttribute final : public Attribute {
    std::string_view DoName() const override { return "foreign"; }
    std::string DoToString(std::string_view value) const override { return std::string(value); }
    int DoToInt(int value) const override { return value; }
    unsigned int DoToUnsignedInt(unsigned int value) const override { return value; }
    double DoToDouble(double value) const override { return value; }
    float DoToFloat(float value) const override { return value; }
    bool DoToBool(bool value) const override { return value; }
    bool DoInvalid() const override { return false; }
    std::unique_ptr<Attribute> DoNextAttribute() const override { return nullptr; }
    std::unique_ptr<Attribute> DoPreviousAttribute() const override { return nullptr; }
    bool DoSetValue(DataValue) override { return false; }
};

/// One child creation member applied to a parent (a Node or the parser) whose
/// children are <a/><b/><c/>, with b as the reference for the insert members.
template <typename Parent>
struct PlacementCase {
    std::string label;
    std::function<std::unique_ptr<Node>(Parent&, const std::unique_ptr<Node>&)> create;
    Node::TypeName type;
    std::string children;  // the parent's children afterwards, saved raw
};

/// Every child creation member, each placing a different piece of content so
/// that a member that forwards to the wrong overload shows in the output.
template <typename Parent>
std::vector<PlacementCase<Parent>> PlacementCases() {
    using T = Node::TypeName;
    using Ref = const std::unique_ptr<Node>&;
    const auto at = [](const char* where, const std::string& item) -> std::string {
        const std::string what(where);
        if (what == "append") {
            return "<a/><b/><c/>" + item;
        }
        if (what == "prepend") {
            return item + "<a/><b/><c/>";
        }
        if (what == "after") {
            return "<a/><b/>" + item + "<c/>";
        }
        return "<a/>" + item + "<b/><c/>";
    };
    return {
        {"kind/append", [](Parent& p, Ref) { return p.AppendChild(T::Comment); }, T::Comment,
         at("append", "<!---->")},
        {"kind/prepend", [](Parent& p, Ref) { return p.PrependChild(T::Comment); }, T::Comment,
         at("prepend", "<!---->")},
        {"kind/after", [](Parent& p, Ref r) { return p.InsertChildAfter(T::Comment, r); },
         T::Comment, at("after", "<!---->")},
        {"kind/before", [](Parent& p, Ref r) { return p.InsertChildBefore(T::Comment, r); },
         T::Comment, at("before", "<!---->")},
        {"kind+value/append", [](Parent& p, Ref) { return p.AppendChild(T::CData, 7); }, T::CData,
         at("append", "<![CDATA[7]]>")},
        {"kind+value/prepend", [](Parent& p, Ref) { return p.PrependChild(T::PCData, "t"); },
         T::PCData, at("prepend", "t")},
        {"kind+value/after",
         [](Parent& p, Ref r) {
             return p.InsertChildAfter(T::PCData, std::string_view("view"), r);
         },
         T::PCData, at("after", "view")},
        {"kind+value/before",
         [](Parent& p, Ref r) { return p.InsertChildBefore(T::CData, true, r); }, T::CData,
         at("before", "<![CDATA[true]]>")},
        {"name/append", [](Parent& p, Ref) { return p.AppendChild("x"); }, T::Element,
         at("append", "<x/>")},
        {"name/prepend", [](Parent& p, Ref) { return p.PrependChild("x"); }, T::Element,
         at("prepend", "<x/>")},
        {"name/after", [](Parent& p, Ref r) { return p.InsertChildAfter("x", r); }, T::Element,
         at("after", "<x/>")},
        {"name/before", [](Parent& p, Ref r) { return p.InsertChildBefore("x", r); }, T::Element,
         at("before", "<x/>")},
        {"name+value/append", [](Parent& p, Ref) { return p.AppendChild("x", 5u); }, T::Element,
         at("append", "<x>5</x>")},
        {"name+value/prepend", [](Parent& p, Ref) { return p.PrependChild("x", -3); }, T::Element,
         at("prepend", "<x>-3</x>")},
        {"name+value/after", [](Parent& p, Ref r) { return p.InsertChildAfter("x", 2.5, r); },
         T::Element, at("after", "<x>2.5</x>")},
        {"name+value/before", [](Parent& p, Ref r) { return p.InsertChildBefore("x", 0.25f, r); },
         T::Element, at("before", "<x>0.25</x>")},
    };
}

/// Every child creation member that takes a value, given a null C string
/// (which can never be stored) and b as the reference.
template <typename Parent>
std::vector<std::pair<std::string,
                      std::function<std::unique_ptr<Node>(Parent&, const std::unique_ptr<Node>&)>>>
NullValueCreations() {
    using T = Node::TypeName;
    using Ref = const std::unique_ptr<Node>&;
    const char* none = nullptr;
    return {
        {"kind/append", [none](Parent& p, Ref) { return p.AppendChild(T::Element, none); }},
        {"kind/prepend", [none](Parent& p, Ref) { return p.PrependChild(T::PCData, none); }},
        {"kind/after", [none](Parent& p, Ref r) { return p.InsertChildAfter(T::CData, none, r); }},
        {"kind/before",
         [none](Parent& p, Ref r) { return p.InsertChildBefore(T::Element, none, r); }},
        {"name/append", [none](Parent& p, Ref) { return p.AppendChild("item", none); }},
        {"name/prepend", [none](Parent& p, Ref) { return p.PrependChild("item", none); }},
        {"name/after", [none](Parent& p, Ref r) { return p.InsertChildAfter("item", none, r); }},
        {"name/before", [none](Parent& p, Ref r) { return p.InsertChildBefore("item", none, r); }},
    };
}

/// Every insert member, by kind and by name, with and without a value.
template <typename Parent>
std::vector<std::pair<std::string,
                      std::function<std::unique_ptr<Node>(Parent&, const std::unique_ptr<Node>&)>>>
InsertCreations(Node::TypeName type) {
    using Ref = const std::unique_ptr<Node>&;
    return {
        {"kind/after", [type](Parent& p, Ref r) { return p.InsertChildAfter(type, r); }},
        {"kind/before", [type](Parent& p, Ref r) { return p.InsertChildBefore(type, r); }},
        {"kind+value/after", [type](Parent& p, Ref r) { return p.InsertChildAfter(type, 1, r); }},
        {"kind+value/before", [type](Parent& p, Ref r) { return p.InsertChildBefore(type, 1, r); }},
        {"name/after", [](Parent& p, Ref r) { return p.InsertChildAfter("x", r); }},
        {"name/before", [](Parent& p, Ref r) { return p.InsertChildBefore("x", r); }},
        {"name+value/after", [](Parent& p, Ref r) { return p.InsertChildAfter("x", 1, r); }},
        {"name+value/before", [](Parent& p, Ref r) { return p.InsertChildBefore("x", 1, r); }},
    };
}

}  // namespace qiv::test
