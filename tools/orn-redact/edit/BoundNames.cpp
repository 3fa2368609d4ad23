#include "BoundNames.h"

#include "NameCensus.h"

namespace qiv::redact {

// The queries for this document: with bound prefixes and a document whose
// namespace declarations are all on its document element (each "xmlns" in
// the text is one of them), plain names under the document's prefixes.
std::vector<std::string> DocumentQueries(pugi::xml_node document, std::string_view parsedText,
                                         const std::vector<std::string>& expressions,
                                         const RedactionSettings& settings) {
    if (settings.namespaces.empty()) {
        return {};
    }
    pugi::xml_node root = document.first_child();
    while (root && root.type() != pugi::node_element) {
        root = root.next_sibling();
    }
    NamespaceMap declared;
    for (const pugi::xml_attribute attribute : root.attributes()) {
        const std::string_view name = attribute.name();
        if (IsNamespaceDeclaration(attribute.name())) {
            declared.push_back(
                {std::string(name.substr(name.size() > 5 ? 6 : 5)), attribute.value(), {}});
        }
    }
    if (!parsedText.empty()) {
        // Each declaration names "xmlns": as many in the text as on the
        // document element, and there are none elsewhere.
        std::size_t mentions = 0;
        for (std::size_t at = parsedText.find("xmlns"); at != std::string_view::npos;
             at = parsedText.find("xmlns", at + 5)) {
            if (++mentions > declared.size()) {
                return {};
            }
        }
        if (mentions != declared.size()) {
            return {};
        }
    } else {
        bool elsewhere = false;
        ForEachElement(root, [&root, &elsewhere](pugi::xml_node element) {
            if (element != root && !elsewhere) {
                for (const pugi::xml_attribute attribute : element.attributes()) {
                    elsewhere = elsewhere || IsNamespaceDeclaration(attribute.name());
                }
            }
        });
        if (elsewhere) {
            return {};
        }
    }
    std::vector<std::string> queries;
    for (const std::string& expression : expressions) {
        queries.push_back(ResolvePrefixes(expression, settings.namespaces, &declared));
    }
    return queries;
}

// For each expression that selected nothing, where its names are in the
// document: one walk for all of them.
void TakeNameCensus(pugi::xml_node document, const RedactionSettings& settings,
                    std::vector<ExpressionOutcome>& outcomes) {
    std::vector<NameTest> tests;
    for (std::size_t index = 0; index < outcomes.size() && index < settings.names.size(); ++index) {
        if (outcomes[index].selected == 0) {
            tests.insert(tests.end(), settings.names[index].begin(), settings.names[index].end());
        }
    }
    if (tests.empty()) {
        return;
    }
    std::vector<NameFound> found;
    CountNames(document, tests, found);
    for (std::size_t index = 0; index < outcomes.size() && index < settings.names.size(); ++index) {
        if (outcomes[index].selected != 0) {
            continue;
        }
        for (const NameFound& names : found) {
            for (const NameTest& test : settings.names[index]) {
                if (test.name == names.test && test.attribute == names.attribute) {
                    outcomes[index].names.push_back(names);
                }
            }
        }
    }
}

}  // namespace qiv::redact
