#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qiv::redact {

/// A prefix the expressions may use for a namespace, whatever prefix the
/// documents use for it (-N PREFIX=URI, or a rules file's namespaces).
struct NamespaceBinding {
    std::string prefix;
    std::string uri;     // empty: names in no namespace
    std::string origin;  // empty for the command line, else "FILE:LINE:COLUMN"
};

using NamespaceMap = std::vector<NamespaceBinding>;

/// Reads "PREFIX=URI". Empty when it is a binding, else why not.
std::string ReadBinding(std::string_view text, NamespaceBinding& binding);

/// Adds a binding; empty, or why it cannot be added (the prefix is already
/// bound to another URI, or it is reserved).
std::string AddBinding(NamespaceMap& bindings, NamespaceBinding binding);

/// The expression as it is evaluated: each name test whose prefix is bound
/// becomes a test of the local name and the namespace URI ("m:a" becomes
/// "*[local-name()='a' and namespace-uri()='URI']", "m:*" becomes
/// "*[namespace-uri()='URI']"). Other name tests keep their literal meaning.
/// The expression is returned unchanged when it uses no bound prefix or
/// cannot be read.
///
/// With declared, the namespace declarations of a document that declares
/// namespaces nowhere else than on its document element (prefix "" for the
/// default namespace): a bound name whose namespace has one prefix there
/// becomes a plain name test under that prefix ("m:a" becomes "a" where
/// the default namespace is m's), which selects the same and costs nothing
/// more than a name.
std::string ResolvePrefixes(std::string_view expression, const NamespaceMap& bindings,
                            const NamespaceMap* declared = nullptr);

/// A name test of an expression ("*" and "p:*" are left out): whether it
/// tests attributes, its text, its local name and, when its prefix is
/// bound, the URI it stands for.
struct NameTest {
    bool attribute = false;
    bool bound = false;
    std::string name;
    std::string local;
    std::string uri;
};

/// The distinct name tests of an expression; none when it cannot be read.
std::vector<NameTest> NameTests(std::string_view expression, const NamespaceMap& bindings);

/// The prefix of a qualified name ("" when it has none) and its local part.
std::string_view PrefixOf(std::string_view name);
std::string_view LocalPartOf(std::string_view name);

}  // namespace qiv::redact
