// Runs a byte-coded sequence of edits on one document: creation by kind and
// by name, with and without values, at document and node level, insertion
// before and after references, attribute creation, removal, value writes,
// navigation, selection, redaction, reset and reload. Every result must keep
// the promises of the interface, and the document must always save to text
// that loads again.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "InterfaceFactory.h"
#include "PugiXMLParser.h"
#include "PugiXPathNode.h"
#include "XPathNode.h"

namespace {

using qiv::Attribute;
using qiv::DataParserIF;
using qiv::DataParserStatus;
using qiv::DataValue;
using qiv::Node;
using qiv::fuzz::Check;

constexpr std::size_t maxPool = 32;
constexpr unsigned int formatRaw = 0x04;

const std::string_view names[] = {
    "root",
    "a",
    "b",
    "item",
    "x:y",
    "_n",
    "long-name.with.dots",
    "\xC3\xA9t\xC3\xA9",
    std::string_view("c\0d", 3),  // reaches the document as "c"
};

const char* const texts[] = {
    "", "42", "-7", "3.25", "true", "text", "<&>\"'", "]]>", "--", "?>", "a\nb\tc", " ",
};

const char* const queries[] = {
    "//*",        "//text()", "//@*",       "/",        "//a|//b",
    "count(//*)", "//*[",     "/root/*[1]", "//node()", "//item[@a]",
};

const char* const documents[] = {
    "<root/>",
    "<root a='1' b='x'><a>1</a><b><![CDATA[c]]></b><!--note--><item/>tail</root>",
    "<!--first--><a><b><c/></b></a>",
};

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool Empty() const { return size_ == 0; }
    std::uint8_t Byte() {
        if (size_ == 0) {
            return 0;
        }
        --size_;
        return *data_++;
    }
    template <typename T>
    T Raw() {
        T value{};
        unsigned char bytes[sizeof(T)] = {};
        for (unsigned char& byte : bytes) {
            byte = Byte();
        }
        std::memcpy(&value, bytes, sizeof(T));
        return value;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
};

// Keeps the storage that const char* and string_view values point into.
struct Value {
    DataValue value;
    std::string storage;
    bool isText = false;  // value is text, expected back up to its first NUL
    bool isNull = false;  // a null C string: every write must fail

    std::string Expected() const { return std::string(storage.c_str()); }
};

Value MakeValue(Input& in) {
    Value made;
    switch (in.Byte() % 9) {
        case 0:
            made.value = static_cast<const char*>(nullptr);
            made.isNull = true;
            break;
        case 1:
            made.storage = texts[in.Byte() % std::size(texts)];
            made.isText = true;
            break;
        case 2: {
            // Text from the input, NUL bytes included: the stored text ends
            // at the first of them. Carriage returns would come back as line
            // feeds after a reload, so they are left out.
            const std::size_t length = in.Byte() % 12;
            for (std::size_t i = 0; i < length; ++i) {
                const char c = static_cast<char>(in.Byte());
                made.storage += c == '\r' ? 'r' : c;
            }
            made.isText = true;
            break;
        }
        case 3:
            made.value = in.Raw<int>();
            return made;
        case 4:
            made.value = in.Raw<unsigned int>();
            return made;
        case 5:
            made.value = in.Raw<double>();
            return made;
        case 6:
            made.value = in.Raw<float>();
            return made;
        case 7:
            made.value = (in.Byte() & 1) != 0;
            return made;
        default:
            made.storage = "view";
            made.isText = true;
            break;
    }
    if (made.isText) {
        // Alternate between the two text alternatives.
        if (made.storage.size() % 2 == 0) {
            made.value = std::string_view(made.storage);
        } else {
            made.value = made.storage.c_str();
        }
    }
    return made;
}

class Session {
public:
    explicit Session(Input& in)
        : in_(in), parser_(qiv::InterfaceFactory::Create<DataParserIF>("XML")) {
        xml_ = dynamic_cast<qiv::PugiXMLParser*>(parser_.get());
        Check(xml_ != nullptr, "the factory did not build the XML parser");
    }

    void Run() {
        for (int step = 0; step < 256 && !in_.Empty(); ++step) {
            Step();
        }
        CheckSavesAndReloads();
    }

private:
    const std::unique_ptr<Node>& PickNode() {
        if (nodes_.empty() || in_.Byte() % 8 == 0) {
            return noNode_;
        }
        return nodes_[in_.Byte() % nodes_.size()];
    }
    const std::unique_ptr<Attribute>& PickAttribute() {
        if (attributes_.empty() || in_.Byte() % 8 == 0) {
            return noAttribute_;
        }
        return attributes_[in_.Byte() % attributes_.size()];
    }
    std::string_view PickName() { return names[in_.Byte() % std::size(names)]; }
    // 0..8 are the node kinds; 9 is outside the table and must throw.
    Node::TypeName PickKind() { return static_cast<Node::TypeName>(in_.Byte() % 10); }

    void Keep(std::unique_ptr<Node> node) {
        if (node && nodes_.size() < maxPool) {
            nodes_.push_back(std::move(node));
        }
    }
    void Keep(std::unique_ptr<Attribute> attribute) {
        if (attribute && attributes_.size() < maxPool) {
            attributes_.push_back(std::move(attribute));
        }
    }
    // After a removal, reset or load, kept wrappers may refer to freed
    // content; they are only destroyed.
    void Forget() {
        nodes_.clear();
        attributes_.clear();
    }

    // A created node is either null or valid, and holds the value it was given.
    void CheckCreated(const std::unique_ptr<Node>& created, const Value* value) {
        if (!created) {
            return;
        }
        Check(!created->Invalid(), "creation returned an invalid wrapper");
        if (value != nullptr) {
            Check(!value->isNull, "creation with a null text succeeded");
            if (value->isText) {
                Check(created->ToString() == value->Expected(),
                      "created node does not hold its text");
            }
        }
    }
    void CheckCreated(const std::unique_ptr<Attribute>& created, const Value& value) {
        if (!created) {
            return;
        }
        Check(!created->Invalid(), "creation returned an invalid attribute wrapper");
        Check(!value.isNull, "attribute creation with a null text succeeded");
        if (value.isText) {
            Check(created->ToString() == value.Expected(), "created attribute lost its text");
        }
    }

    // Creation of a child below parent (a Node or the parser), by kind or by
    // name, with or without a value, at one of the four places.
    template <typename Parent>
    void CreateChild(Parent& parent, bool byKind) {
        const std::uint8_t how = in_.Byte();
        const bool withValue = (how & 4) != 0;
        const Node::TypeName kind = PickKind();
        const std::string_view name = PickName();
        const Value value = withValue ? MakeValue(in_) : Value{};
        const std::unique_ptr<Node>& reference = PickNode();
        const std::string before = byKind ? qiv::fuzz::Saved(*parser_, formatRaw) : std::string();
        std::unique_ptr<Node> created;
        try {
            switch (how % 4) {
                case 0:
                    created = byKind ? (withValue ? parent.AppendChild(kind, value.value)
                                                  : parent.AppendChild(kind))
                                     : (withValue ? parent.AppendChild(name, value.value)
                                                  : parent.AppendChild(name));
                    break;
                case 1:
                    created = byKind ? (withValue ? parent.PrependChild(kind, value.value)
                                                  : parent.PrependChild(kind))
                                     : (withValue ? parent.PrependChild(name, value.value)
                                                  : parent.PrependChild(name));
                    break;
                case 2:
                    created =
                        byKind ? (withValue ? parent.InsertChildAfter(kind, value.value, reference)
                                            : parent.InsertChildAfter(kind, reference))
                               : (withValue ? parent.InsertChildAfter(name, value.value, reference)
                                            : parent.InsertChildAfter(name, reference));
                    break;
                default:
                    created =
                        byKind ? (withValue ? parent.InsertChildBefore(kind, value.value, reference)
                                            : parent.InsertChildBefore(kind, reference))
                               : (withValue ? parent.InsertChildBefore(name, value.value, reference)
                                            : parent.InsertChildBefore(name, reference));
                    break;
            }
        } catch (const std::out_of_range& error) {
            Check(byKind && static_cast<int>(kind) > 8, "unexpected out_of_range");
            Check(std::string_view(error.what()) == "map::at", "out_of_range with another text");
            Check(qiv::fuzz::Saved(*parser_, formatRaw) == before,
                  "a refused kind changed the document");
            return;
        }
        if (byKind && (kind == Node::TypeName::Null || kind == Node::TypeName::Document)) {
            Check(!created, "a null or document node was created");
            Check(qiv::fuzz::Saved(*parser_, formatRaw) == before,
                  "a refused creation changed the document");
        }
        CheckCreated(created, withValue ? &value : nullptr);
        Keep(std::move(created));
    }

    template <typename Parent>
    void CreateAttribute(Parent& parent, bool documentLevel) {
        const std::uint8_t how = in_.Byte();
        const std::string_view name = PickName();
        const Value value = MakeValue(in_);
        const std::unique_ptr<Attribute>& reference = PickAttribute();
        std::unique_ptr<Attribute> created;
        switch (how % 4) {
            case 0:
                created = parent.AppendAttribute(name, value.value);
                break;
            case 1:
                created = parent.PrependAttribute(name, value.value);
                break;
            case 2:
                created = parent.InsertAttributeAfter(name, value.value, reference);
                break;
            default:
                created = parent.InsertAttributeBefore(name, value.value, reference);
                break;
        }
        Check(!documentLevel || !created, "the document node took an attribute");
        CheckCreated(created, value);
        Keep(std::move(created));
    }

    void ReadNode(const Node& node) {
        std::size_t depth = 0;
        std::string ignored;
        qiv::fuzz::ReadNode(node, 1, ignored, depth);
    }

    void Step() {
        const std::unique_ptr<Node>& target = PickNode();
        switch (in_.Byte() % 16) {
            case 0:
                CreateChild(*parser_, false);
                break;
            case 1:
                CreateChild(*parser_, true);
                break;
            case 2:
                if (target) {
                    CreateChild(*target, false);
                }
                break;
            case 3:
                if (target) {
                    CreateChild(*target, true);
                }
                break;
            case 4:
                if (target) {
                    CreateAttribute(*target, false);
                }
                break;
            case 5:
                CreateAttribute(*parser_, true);
                break;
            case 6: {
                std::unique_ptr<Node>& child =
                    nodes_.empty() ? noNode_ : nodes_[in_.Byte() % nodes_.size()];
                const bool removed = (in_.Byte() & 1) != 0 && target ? target->RemoveChild(child)
                                                                     : parser_->RemoveChild(child);
                if (removed) {
                    Check(child != nullptr, "removal reset the caller's pointer");
                    Forget();
                }
                break;
            }
            case 7: {
                std::unique_ptr<Attribute>& attribute =
                    attributes_.empty() ? noAttribute_
                                        : attributes_[in_.Byte() % attributes_.size()];
                if (target) {
                    if (target->RemoveAttribute(attribute)) {
                        Forget();
                    }
                } else {
                    Check(!parser_->RemoveAttribute(attribute),
                          "the document node removed an attribute");
                }
                break;
            }
            case 8:
                if (target) {
                    const Value value = MakeValue(in_);
                    const bool stored = target->SetValue(value.value);
                    Check(!(stored && value.isNull), "a null text was stored");
                    if (stored && value.isText) {
                        Check(target->ToString() == value.Expected(), "SetValue lost the text");
                    }
                }
                break;
            case 9:
                if (!attributes_.empty()) {
                    Attribute& attribute = *attributes_[in_.Byte() % attributes_.size()];
                    const Value value = MakeValue(in_);
                    const bool stored = attribute.SetValue(value.value);
                    Check(!(stored && value.isNull), "a null text was stored in an attribute");
                    Check(!stored || !attribute.Invalid(), "an invalid attribute took a value");
                    if (stored && value.isText) {
                        Check(attribute.ToString() == value.Expected(),
                              "attribute SetValue lost the text");
                    }
                }
                break;
            case 10:
                Navigate(target);
                break;
            case 11:
                if (!attributes_.empty()) {
                    const Attribute& attribute = *attributes_[in_.Byte() % attributes_.size()];
                    std::string ignored;
                    qiv::fuzz::ReadAttribute(attribute, ignored);
                    Keep((in_.Byte() & 1) != 0 ? attribute.NextAttribute()
                                               : attribute.PreviousAttribute());
                }
                break;
            case 12:
                if (target) {
                    ReadNode(*target);
                }
                break;
            case 13:
                Select();
                break;
            case 14:
                Forget();
                parser_->Reset();
                Check(!parser_->FirstChild() || parser_->FirstChild()->Invalid(),
                      "Reset left content");
                break;
            default:
                Forget();
                Check(parser_->LoadString(documents[in_.Byte() % std::size(documents)]).second ==
                          DataParserStatus::Ok,
                      "a fixed document did not load");
                break;
        }
    }

    void Navigate(const std::unique_ptr<Node>& from) {
        const std::uint8_t how = in_.Byte();
        if (!from) {
            switch (how % 5) {
                case 0:
                    Keep(parser_->FirstChild());
                    break;
                case 1:
                    Keep(parser_->LastChild());
                    break;
                case 2:
                    Keep(parser_->Child(PickName()));
                    break;
                case 3:
                    Keep(parser_->FirstAttribute());
                    break;
                default:
                    Keep(parser_->NextSibling());
                    break;
            }
            return;
        }
        switch (how % 8) {
            case 0:
                Keep(from->FirstChild());
                break;
            case 1:
                Keep(from->LastChild());
                break;
            case 2:
                Keep(from->NextSibling());
                break;
            case 3:
                Keep(from->PreviousSibling());
                break;
            case 4:
                Keep(from->Child(PickName()));
                break;
            case 5:
                Keep(from->FirstAttribute());
                break;
            case 6:
                Keep(from->LastAttribute());
                break;
            default:
                Keep(from->GetAttribute(PickName()));
                break;
        }
    }

    void Select() {
        const std::string query = queries[in_.Byte() % std::size(queries)];
        if ((in_.Byte() & 1) != 0) {
            parser_->RedactNodes({query});
            return;
        }
        const auto set = xml_->SelectNodes(query);
        if (!set) {
            return;
        }
        for (auto item = set->Begin(); item != set->End(); ++item) {
            const qiv::PugiXPathNode wrapped(*item);
            Keep(wrapped.GetNode());
            Keep(wrapped.GetAttribute());
        }
    }

    // Saved text must load again once the document has an element; after
    // one load and save the text must no longer change.
    void CheckSavesAndReloads() {
        (void)qiv::fuzz::Walk(*parser_);
        (void)qiv::fuzz::Saved(*parser_, 0x01);
        const std::string first = qiv::fuzz::Saved(*parser_, formatRaw);
        bool hasElement = false;
        for (auto node = parser_->FirstChild(); !node->Invalid(); node = node->NextSibling()) {
            hasElement = hasElement || node->Type() == Node::TypeName::Element;
        }
        auto reloaded = qiv::InterfaceFactory::Create<DataParserIF>("XML");
        const auto result = reloaded->LoadString(first);
        if (!hasElement) {
            return;
        }
        Check(result.second == DataParserStatus::Ok, "saved text does not load: " + result.first);
        const std::string second = qiv::fuzz::Saved(*reloaded, formatRaw);
        auto again = qiv::InterfaceFactory::Create<DataParserIF>("XML");
        Check(again->LoadString(second).second == DataParserStatus::Ok,
              "second save does not load");
        Check(qiv::fuzz::Saved(*again, formatRaw) == second, "saving is not stable after a reload");
        Check(qiv::fuzz::Walk(*again) == qiv::fuzz::Walk(*reloaded), "reloaded documents differ");
    }

    Input& in_;
    std::unique_ptr<DataParserIF> parser_;
    qiv::PugiXMLParser* xml_ = nullptr;
    std::vector<std::unique_ptr<Node>> nodes_;
    std::vector<std::unique_ptr<Attribute>> attributes_;
    std::unique_ptr<Node> noNode_;
    std::unique_ptr<Attribute> noAttribute_;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    qiv::fuzz::SilenceOutput(qiv::LogLevel::Debug);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    Session session(in);
    session.Run();
    return 0;
}
