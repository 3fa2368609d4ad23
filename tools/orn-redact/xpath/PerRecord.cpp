#include "PerRecord.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <set>
#include <utility>
#include <vector>

#include "Characters.h"
#include "Lexer.h"

namespace qiv::redact {

namespace {

using namespace xpath;

enum class Type { NodeSet, Number, String, Boolean };

constexpr int unbounded = INT_MAX;

// The depths the items of a node set may be at: 0 the document, 1 the
// document element (and comments or PIs beside it), 2 the records.
struct Range {
    int min = 0;
    int max = 0;
};

struct Value {
    Type type = Type::NodeSet;
    Range range;
};

// What a predicate may look at, from the items it tests.
struct Scope {
    Range context;
    bool top = false;             // the expression itself, not a predicate
    bool noPositions = false;     // positions here are counted among records
    bool attributesOnly = false;  // the item may be the document element
};

int Deeper(int depth) { return depth == unbounded ? unbounded : depth + 1; }

class Classifier {
public:
    Classifier(std::string_view expression, std::string_view documentElement,
               const NamespaceMap& bindings)
        : tokens_(Tokenize(expression)), documentElement_(documentElement), bindings_(bindings) {}

    void Run() {
        Scope top;
        top.top = true;
        Expression(top);
        if (Peek().kind != Kind::End) {
            throw unreadable;
        }
    }

private:
    const Token& Peek(std::size_t ahead = 0) const {
        return tokens_[std::min(next_ + ahead, tokens_.size() - 1)];
    }
    const Token& Take() {
        const Token& token = Peek();
        if (next_ < tokens_.size() - 1) {
            ++next_;
        }
        return token;
    }
    void Expect(Kind kind) {
        if (Take().kind != kind) {
            throw unreadable;
        }
    }
    bool TakeOperator(std::initializer_list<std::string_view> names) {
        if (Peek().kind == Kind::Operator &&
            std::find(names.begin(), names.end(), Peek().text) != names.end()) {
            Take();
            return true;
        }
        return false;
    }

    // Binary operators, lowest precedence first; every level above the union
    // gives a number or a boolean.
    Value Expression(const Scope& scope) { return Binary(scope, 0); }

    Value Binary(const Scope& scope, int level) {
        static const std::initializer_list<std::string_view> levels[] = {
            {"or"}, {"and"}, {"=", "!="}, {"<", ">", "<=", ">="}, {"+", "-"}, {"*", "div", "mod"}};
        static const Type results[] = {Type::Boolean, Type::Boolean, Type::Boolean,
                                       Type::Boolean, Type::Number,  Type::Number};
        if (level == static_cast<int>(std::size(levels))) {
            return Unary(scope);
        }
        Value value = Binary(scope, level + 1);
        while (TakeOperator(levels[level])) {
            Binary(scope, level + 1);
            value.type = results[level];
        }
        return value;
    }

    Value Unary(const Scope& scope) {
        bool negated = false;
        while (TakeOperator({"-"})) {
            negated = true;
        }
        Value value = Union(scope);
        if (negated) {
            value.type = Type::Number;
        }
        return value;
    }

    Value Union(const Scope& scope) {
        Value value = PathExpression(scope);
        while (TakeOperator({"|"})) {
            const Value other = PathExpression(scope);
            value.range.min = std::min(value.range.min, other.range.min);
            value.range.max = std::max(value.range.max, other.range.max);
            value.type = Type::NodeSet;
        }
        return value;
    }

    static bool StartsLocationPath(Kind kind) {
        switch (kind) {
            case Kind::Slash:
            case Kind::Slashes:
            case Kind::Name:
            case Kind::Axis:
            case Kind::NodeType:
            case Kind::At:
            case Kind::Dot:
            case Kind::DotDot:
                return true;
            default:
                return false;
        }
    }

    Value PathExpression(const Scope& scope) {
        if (StartsLocationPath(Peek().kind)) {
            return LocationPath(scope);
        }
        Value value = Primary(scope);
        while (Peek().kind == Kind::OpenBracket) {
            if (value.type != Type::NodeSet) {
                throw unreadable;
            }
            // Positions over a filtered set: the whole selection's when the set
            // is the expression's own, the context's subtree inside a predicate.
            Scope inner;
            inner.context = value.range;
            inner.noPositions = scope.top || value.range.min <= 2;
            inner.attributesOnly = value.range.min <= 1;
            Predicate(inner, scope.top ? "a position is taken over the whole selection" : "");
        }
        if (Peek().kind == Kind::Slash || Peek().kind == Kind::Slashes) {
            value.range = Steps(scope, value.range, false);
        }
        return value;
    }

    Value Primary(const Scope& scope) {
        const Token token = Take();
        switch (token.kind) {
            case Kind::Literal:
                return {Type::String, {}};
            case Kind::Number:
                return {Type::Number, {}};
            case Kind::Variable:
                throw Rejected{"it uses a variable"};
            case Kind::Open: {
                Value value = Expression(scope);
                Expect(Kind::Close);
                return value;
            }
            case Kind::Function:
                return Function(scope, token.text);
            default:
                throw unreadable;
        }
    }

    Value Function(const Scope& scope, std::string_view name) {
        Expect(Kind::Open);
        std::size_t arguments = 0;
        if (Peek().kind != Kind::Close) {
            do {
                Expression(scope);
                ++arguments;
            } while (Peek().kind == Kind::Comma && (Take(), true));
        }
        Expect(Kind::Close);
        if (name == "id") {
            throw Rejected{"id() searches the whole document"};
        }
        if ((name == "position" || name == "last") && (scope.top || scope.noPositions)) {
            throw Rejected{std::string(name) +
                           "() counts positions on a step that can match a record"};
        }
        const bool ofContext = arguments == 0 && (name == "string" || name == "normalize-space" ||
                                                  name == "string-length" || name == "number");
        if (ofContext && (scope.top || scope.attributesOnly)) {
            throw Rejected{std::string(name) +
                           "() reads the text of a step that can match the document element"};
        }
        static const std::set<std::string_view> numbers = {"count",         "sum",      "number",
                                                           "string-length", "floor",    "ceiling",
                                                           "round",         "position", "last"};
        static const std::set<std::string_view> booleans = {
            "boolean", "not", "true", "false", "lang", "contains", "starts-with"};
        if (numbers.count(name) != 0) {
            return {Type::Number, {}};
        }
        if (booleans.count(name) != 0) {
            return {Type::Boolean, {}};
        }
        return {Type::String, {}};
    }

    Value LocationPath(const Scope& scope) {
        Range range = scope.context;
        bool first = true;
        if (Peek().kind == Kind::Slash || Peek().kind == Kind::Slashes) {
            if (!scope.top) {
                throw Rejected{
                    "a predicate holds an absolute path, which looks at the whole "
                    "document"};
            }
            range = {0, 0};
            if (Peek().kind == Kind::Slash && !StartsStep(Peek(1).kind)) {
                Take();
                return {Type::NodeSet, range};  // "/": the document itself
            }
            first = false;
        } else if (scope.top) {
            range = {0, 0};  // relative to the document node
        }
        if (first) {
            if (scope.attributesOnly && Peek().kind != Kind::At &&
                !(Peek().kind == Kind::Axis && Peek().text == "attribute")) {
                throw Rejected{
                    "a predicate on a step that can match the document element "
                    "looks at more than its attributes"};
            }
            range = Step(scope, range);
        }
        return {Type::NodeSet, Steps(scope, range, true)};
    }

    static bool StartsStep(Kind kind) {
        return kind == Kind::Name || kind == Kind::Axis || kind == Kind::NodeType ||
               kind == Kind::At || kind == Kind::Dot || kind == Kind::DotDot;
    }

    // Steps after a '/' or "//", as long as there are any.
    Range Steps(const Scope& scope, Range range, bool /*path*/) {
        while (Peek().kind == Kind::Slash || Peek().kind == Kind::Slashes) {
            if (Take().kind == Kind::Slashes) {
                range.max = unbounded;  // descendant-or-self::node()
            }
            range = Step(scope, range);
        }
        return range;
    }

    // The name test matches the document element, as far as the name tells.
    bool MayNameDocumentElement(std::string_view test) const {
        if (test == "*") {
            return true;
        }
        // A bound prefix stands for a namespace, which the document element's
        // own prefix may stand for too: only the local part tells.
        const std::string_view prefix = PrefixOf(test);
        if (!prefix.empty() && std::any_of(bindings_.begin(), bindings_.end(),
                                           [prefix](const NamespaceBinding& bound) {
                                               return bound.prefix == prefix;
                                           })) {
            const std::string_view local = LocalPartOf(test);
            return local == "*" || local == LocalPartOf(documentElement_);
        }
        if (test.size() > 2 && test.substr(test.size() - 2) == ":*") {
            const std::string_view prefix = test.substr(0, test.size() - 1);
            return documentElement_.substr(0, prefix.size()) == prefix;
        }
        return test == documentElement_;
    }

    Range Step(const Scope& scope, Range range) {
        std::string_view axis = "child";
        if (Peek().kind == Kind::Dot) {
            Take();
            axis = "self";
        } else if (Peek().kind == Kind::DotDot) {
            throw Rejected{"it uses '..' (the parent axis), which reaches outside a record"};
        } else {
            if (Peek().kind == Kind::At) {
                Take();
                axis = "attribute";
            } else if (Peek().kind == Kind::Axis) {
                axis = Take().text;
                Expect(Kind::ColonColon);
            }
            static const std::set<std::string_view> allowed = {
                "child", "descendant", "descendant-or-self", "self", "attribute"};
            if (allowed.count(axis) == 0) {
                throw Rejected{"it uses the " + std::string(axis) +
                               " axis, which reaches outside a record"};
            }
        }
        // The node test.
        bool element = false;      // tests elements by name
        bool documentName = true;  // ... and may name the document element
        bool notDocument = false;  // cannot match the document node
        bool notTopLevel = false;  // cannot match anything at depth 1
        if (axis != "self" || Peek().kind == Kind::Name || Peek().kind == Kind::NodeType) {
            const Token test = Take();
            if (test.kind == Kind::Name) {
                element = true;
                documentName = MayNameDocumentElement(test.text);
                notDocument = true;
                notTopLevel = !documentName;
            } else if (test.kind == Kind::NodeType) {
                Expect(Kind::Open);
                if (Peek().kind == Kind::Literal) {
                    Take();
                }
                Expect(Kind::Close);
                notDocument = test.text != "node";
                notTopLevel = test.text == "text";
                documentName = test.text == "node";
            } else {
                throw unreadable;
            }
        }
        const bool attribute = axis == "attribute";
        if (axis == "child") {
            range = {Deeper(range.min), Deeper(range.max)};
        } else if (axis == "descendant") {
            range = {Deeper(range.min), unbounded};
        } else if (axis == "descendant-or-self") {
            range.max = unbounded;
        }
        if (!attribute) {
            if (notDocument && range.min == 0) {
                range.min = 1;
            }
            if (notTopLevel && range.min == 1) {
                range.min = 2;
            }
            (void)element;
        }
        while (Peek().kind == Kind::OpenBracket) {
            Scope inner;
            inner.context = range;
            inner.noPositions = !attribute && range.min <= 2;
            inner.attributesOnly =
                !attribute && (range.min == 0 || (range.min <= 1 && documentName));
            Predicate(inner, "");
        }
        (void)scope;
        return range;
    }

    void Predicate(const Scope& scope, const std::string& positionReason) {
        Expect(Kind::OpenBracket);
        const Value value = Expression(scope);
        Expect(Kind::CloseBracket);
        if (value.type == Type::Number && scope.noPositions) {
            throw Rejected{positionReason.empty()
                               ? "a predicate counts positions on a step that can match a record"
                               : positionReason};
        }
    }

    std::vector<Token> tokens_;
    std::size_t next_ = 0;
    std::string_view documentElement_;
    const NamespaceMap& bindings_;
};

}  // namespace

std::string RecordModeProblem(std::string_view expression, std::string_view documentElement,
                              const NamespaceMap& bindings) {
    try {
        Classifier(expression, documentElement, bindings).Run();
    } catch (const Rejected& rejected) {
        return rejected.reason;
    }
    return {};
}

}  // namespace qiv::redact
