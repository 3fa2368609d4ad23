#pragma once

// Helpers for the editing tests, which run most checks on an element and on
// the document node alike.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "DataParserIF.h"
#include "TestSupport.h"

namespace qiv::test {

/// A Node of a caller's own making. Its only member points at the object
/// itself, so a library that took it for one of its own wrappers would find a
/// non-null handle there and go on instead of refusing it.
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

public:
    const void* bait = this;
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

public:
    const void* bait = this;
};

using Ref = const std::unique_ptr<Node>&;
template <typename Parent>
using Creation = std::function<std::unique_ptr<Node>(Parent&, Ref)>;

/// One child creation member applied to a parent (a Node or the parser) whose
/// children are <a/><b/><c/>, with b as the reference for the insert members.
template <typename Parent>
struct PlacementCase {
    std::string label;
    Creation<Parent> create;
    Node::TypeName type;
    std::string children;  // the parent's children afterwards, saved raw
};

/// Every child creation member, each placing a different piece of content so
/// that a member that forwards to the wrong overload shows in the output.
template <typename Parent>
std::vector<PlacementCase<Parent>> PlacementCases() {
    using T = Node::TypeName;
    const auto at = [](const std::string& where, const std::string& item) {
        if (where == "append") {
            return "<a/><b/><c/>" + item;
        }
        if (where == "prepend") {
            return item + "<a/><b/><c/>";
        }
        return where == "after" ? "<a/><b/>" + item + "<c/>" : "<a/>" + item + "<b/><c/>";
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

/// Runs check(parent, children) once with an element and once with the
/// document node as the parent of `content`; children() gives the parent's
/// children as they are now, saved raw.
template <typename Check>
void ForBothParents(const std::string& content, Check&& check) {
    {
        SCOPED_TRACE("element");
        auto parser = ParserWith("<r>" + content + "</r>");
        auto root = parser->FirstChild();
        check(*root, [&parser] {
            const std::string all = Saved(*parser);
            return all == "<r/>" ? std::string() : all.substr(3, all.size() - 7);
        });
    }
    {
        SCOPED_TRACE("document");
        auto parser = ParserWith(content);
        check(*parser, [&parser] { return Saved(*parser); });
    }
}

}  // namespace qiv::test
