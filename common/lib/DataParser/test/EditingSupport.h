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

/// One child creation member applied to a parent (a Node or the parser) whose
/// children are <a/><b/><c/>, with b as the reference for the insert members.
template <typename Parent>
struct PlacementCase {
    std::string label;  // "overload family/where"
    std::function<std::unique_ptr<Node>(Parent&, Ref)> create;
    Node::TypeName type;
    std::string item;  // the new child, saved raw

    bool Inserts() const { return label.find("pend") == std::string::npos; }
    /// The parent's children afterwards, saved raw.
    std::string Children() const {
        const std::string where = label.substr(label.find('/') + 1);
        return where == "append"    ? "<a/><b/><c/>" + item
               : where == "prepend" ? item + "<a/><b/><c/>"
               : where == "after"   ? "<a/><b/>" + item + "<c/>"
                                    : "<a/>" + item + "<b/><c/>";
    }
};

/// Every child creation member, each placing a different piece of content so
/// that a member that forwards to the wrong overload shows in the output.
template <typename P>
std::vector<PlacementCase<P>> PlacementCases() {
    using T = Node::TypeName;
    return {
        {"kind/append", [](P& p, Ref) { return p.AppendChild(T::Comment); }, T::Comment, "<!---->"},
        {"kind/prepend", [](P& p, Ref) { return p.PrependChild(T::Comment); }, T::Comment,
         "<!---->"},
        {"kind/after", [](P& p, Ref r) { return p.InsertChildAfter(T::Comment, r); }, T::Comment,
         "<!---->"},
        {"kind/before", [](P& p, Ref r) { return p.InsertChildBefore(T::Comment, r); }, T::Comment,
         "<!---->"},
        {"kind+value/append", [](P& p, Ref) { return p.AppendChild(T::CData, 7); }, T::CData,
         "<![CDATA[7]]>"},
        {"kind+value/prepend", [](P& p, Ref) { return p.PrependChild(T::PCData, "t"); }, T::PCData,
         "t"},
        {"kind+value/after",
         [](P& p, Ref r) { return p.InsertChildAfter(T::PCData, std::string_view("view"), r); },
         T::PCData, "view"},
        {"kind+value/before", [](P& p, Ref r) { return p.InsertChildBefore(T::CData, true, r); },
         T::CData, "<![CDATA[true]]>"},
        {"name/append", [](P& p, Ref) { return p.AppendChild("x"); }, T::Element, "<x/>"},
        {"name/prepend", [](P& p, Ref) { return p.PrependChild("x"); }, T::Element, "<x/>"},
        {"name/after", [](P& p, Ref r) { return p.InsertChildAfter("x", r); }, T::Element, "<x/>"},
        {"name/before", [](P& p, Ref r) { return p.InsertChildBefore("x", r); }, T::Element,
         "<x/>"},
        {"name+value/append", [](P& p, Ref) { return p.AppendChild("x", 5u); }, T::Element,
         "<x>5</x>"},
        {"name+value/prepend", [](P& p, Ref) { return p.PrependChild("x", -3); }, T::Element,
         "<x>-3</x>"},
        {"name+value/after", [](P& p, Ref r) { return p.InsertChildAfter("x", 2.5, r); },
         T::Element, "<x>2.5</x>"},
        {"name+value/before", [](P& p, Ref r) { return p.InsertChildBefore("x", 0.25f, r); },
         T::Element, "<x>0.25</x>"},
    };
}

/// Checks that the call throws std::out_of_range saying "map::at".
inline void ExpectMapAt(const std::function<void()>& call) {
    try {
        call();
        ADD_FAILURE() << "expected std::out_of_range";
    } catch (const std::out_of_range& error) {
        EXPECT_STREQ(error.what(), "map::at");
    }
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
