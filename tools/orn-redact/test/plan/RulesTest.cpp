// Rules files: what valid ones turn into, and the exact message, line and
// column for malformed ones.
#include <cerrno>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Rules.h"
#include "TestSupport.h"

namespace {

using qiv::redact::ActionName;
using qiv::redact::Alphabet;
using qiv::redact::ParseRules;
using qiv::redact::ReadRulesFile;
using qiv::redact::Rule;

// The rule's select, origin and action, then each field that differs from its default.
std::string Render(const Rule& rule) {
    const Rule defaults;
    std::ostringstream out;
    out << std::boolalpha << rule.select << " @" << rule.origin << ' ' << ActionName(rule.action);
    if (rule.deep) {
        out << " deep=" << *rule.deep;
    }
    if (rule.attributes) {
        out << " attributes=" << *rule.attributes;
    }
    if (rule.replacement != defaults.replacement) {
        out << " with=" << rule.replacement;
    }
    const auto& mask = rule.mask;
    if (mask.keepFirst != 0 || mask.keepLast != 0 || mask.character != "*" || mask.keepSeparators) {
        out << " mask=" << mask.keepFirst << ',' << mask.keepLast << ',' << mask.character << ','
            << mask.keepSeparators;
    }
    const auto& pseudonym = rule.pseudonym;
    if (!pseudonym.prefix.empty() || pseudonym.length != 16 ||
        pseudonym.alphabet != Alphabet::Base32) {
        out << " pseudonym=" << pseudonym.prefix << ',' << pseudonym.length << ','
            << (pseudonym.alphabet == Alphabet::Hex ? "hex" : "base32");
    }
    return out.str();
}

std::vector<std::string> Rendered(const std::vector<Rule>& rules) {
    std::vector<std::string> lines;
    for (const Rule& rule : rules) {
        lines.push_back(Render(rule));
    }
    return lines;
}

const std::string example =
    "rules:\n"
    "  - select: //customer/@id\n"
    "    action: keep\n"
    "  - select: //ssn\n"
    "    action: pseudonym\n"
    "    prefix: \"SSN-\"\n"
    "    length: 16\n"
    "  - select: //email\n"
    "    action: mask\n"
    "    keep_last: 4\n"
    "  - select: //notes\n"
    "    action: replace\n"
    "    with: \"(removed)\"\n"
    "    deep: true\n"
    "  - select: //internalComment\n"
    "    action: drop\n";

TEST(Rules, ValidFiles) {
    struct Case {
        const char* what;
        std::string text;
        std::vector<std::string> rules;
    };
    const Case cases[] = {
        {"the example",
         example,
         {"//customer/@id @r:2:13 keep", "//ssn @r:4:13 pseudonym pseudonym=SSN-,16,base32",
          "//email @r:8:13 mask mask=0,4,*,false",
          "//notes @r:11:13 replace deep=true with=(removed)", "//internalComment @r:15:13 drop"}},
        {"JSON indented with tabs",
         "{\n\t\"rules\": [\n"
         "\t\t{\"select\": \"//a\", \"action\": \"mask\", \"keep_first\": 1, \"char\": "
         "\"\xc3\xa9\", "
         "\"keep_separators\": true},\n"
         "\t\t{\"select\":\"//b\",\"action\":\"pseudonym\",\"length\":64,\"alphabet\":\"hex\"}\n"
         "\t]\n}\n",
         {"//a @r:3:14 mask mask=1,0,\xc3\xa9,true", "//b @r:4:13 pseudonym pseudonym=,64,hex"}},
        {"defaults", "rules:\n- select: //x\n", {"//x @r:2:11 redact"}},
        {"booleans, quoted keys, a plain number as an expression",
         "rules: [{select: //a, deep: false, attributes: true}, {'select': 42, \"deep\": true}]",
         {"//a @r:1:18 redact deep=false attributes=true", "42 @r:1:66 redact deep=true"}},
        {"pseudonym bounds, the alphabet after the length",
         "rules:\n"
         "- {select: a, action: pseudonym, length: 1}\n"
         "- {select: b, action: pseudonym, length: 52, alphabet: base32}\n"
         "- {select: c, action: pseudonym, length: 64, alphabet: hex}\n",
         {"a @r:2:12 pseudonym pseudonym=,1,base32", "b @r:3:12 pseudonym pseudonym=,52,base32",
          "c @r:4:12 pseudonym pseudonym=,64,hex"}},
        {"empty replacement, one document marked as such",
         "---\nrules: [{select: a, action: replace, with: \"\"}]\n...\n",
         {"a @r:2:18 replace"}},
    };
    for (const Case& c : cases) {
        std::vector<Rule> rules;
        std::string error;
        EXPECT_TRUE(ParseRules(c.text, "r", rules, error)) << c.what << ": " << error;
        EXPECT_EQ(Rendered(rules), c.rules) << c.what;
    }
}

TEST(Rules, MalformedFiles) {
    struct Case {
        std::string text;
        const char* error;
    };
    const std::string many = "99999999999999999999999";
    const Case cases[] = {
        {"rules:\n  - select: //a\n    action: keep\n    - x\n",
         "r:4:5: did not find expected key"},
        {"rules:\n\t- select: //a\n", "r:2:1: found character that cannot start any token"},
        {std::string("rules:\n  - select: //a\0\n", 24),
         "r:2:16: control characters are not allowed"},
        {"rules: \xff\n", "r:1:8: invalid leading UTF-8 octet"},
        {"\xEF\xBB\xBFrules: 5\n", "r:1:8: 'rules' must be a list of rules"},
        {"", "r:1:1: the file holds no rules"},
        {"# nothing yet\n", "r:1:1: the file holds no rules"},
        {"rules: [{select: a}]\n---\nrules: []\n", "r:2:1: the file holds more than one document"},
        {"- select: a\n", "r:1:1: the top level must be a mapping with the key 'rules'"},
        {"{}", "r:1:1: the top level must be a mapping with the key 'rules'"},
        {"rule:\n  - select: a\n",
         "r:1:1: unknown key 'rule' at the top level; expected 'rules' or 'namespaces'"},
        {"namespaces: [a]\nrules: [{select: a}]",
         "r:1:13: 'namespaces' must be a mapping of prefixes to namespace URIs"},
        {"namespaces: {a: [u]}\nrules: [{select: a}]", "r:1:17: 'a' must be a string"},
        {"namespaces: {a: u, 'b:c': v}\nrules: [{select: a}]",
         "r:1:20: 'b:c' is not a namespace prefix"},
        {"namespaces: {a: u, a: v}\nrules: [{select: a}]",
         "r:1:20: the prefix 'a' is bound to 'u' already (r:1:14)"},
        {"rules: []\nrules: []\n", "r:2:1: 'rules' is given twice"},
        {"rules: //a\n", "r:1:8: 'rules' must be a list of rules"},
        {"rules: []\n", "r:1:8: 'rules' holds no rules"},
        {"rules: [//a]", "r:1:9: a rule must be a mapping"},
        {"rules: [{[a]: b}]", "r:1:10: a key must be a string"},
        {"rules:\n  - action: keep\n", "r:2:5: a rule needs 'select'"},
        {"rules: [{select: ''}]", "r:1:18: 'select' must not be empty"},
        {"rules: [{select: [[[[[a]]]]]}]", "r:1:18: 'select' must be a string"},
        {"rules: [{select: " + std::string(200, '['), "r:1:115: the file nests too deeply"},
        {"rules: [{select: \"a\\0b\"}]", "r:1:18: 'select' must not hold a NUL character"},
        {"rules:\n  - select: a\n    keep_lsat: 4\n",
         "r:3:5: unknown key 'keep_lsat'; did you mean 'keep_last'?"},
        {"rules: [{select: a, colour: red}]", "r:1:21: unknown key 'colour'"},
        {"rules: [{select: a, select: b}]", "r:1:21: 'select' is given twice"},
        {"rules: [{select: a, action: hash}]",
         "r:1:29: unknown action 'hash'; expected redact, replace, mask, pseudonym, drop or keep"},
        {"rules: [{select: a, prefix: p, action: mask}]",
         "r:1:21: 'prefix' does not apply to action 'mask'"},
        {"rules: [{select: a, length: 8}]", "r:1:21: 'length' does not apply to action 'redact'"},
        {"rules: [{select: a, action: replace}]", "r:1:9: action 'replace' needs 'with'"},
        {"rules:\n  - select: &x //a\n  - select: *x\n",
         "r:3:13: aliases are not supported in rules files"},
        {"rules: [{select: !!str a}]", "r:1:18: tags are not supported in rules files"},
        {"rules: [{select: a, deep: \"true\"}]",
         "r:1:27: 'deep' must be true or false, without quotes"},
        {"rules: [{select: a, attributes: yes}]", "r:1:33: 'attributes' must be true or false"},
        {"rules: [{select: a, action: mask, keep_last: -1}]",
         "r:1:46: 'keep_last' must be a whole number of at least 0"},
        {"rules: [{select: a, action: mask, keep_first: 1.5}]",
         "r:1:47: 'keep_first' must be a whole number of at least 0"},
        {"rules: [{select: a, action: mask, keep_first: '2'}]",
         "r:1:47: 'keep_first' must be a number, without quotes"},
        {"rules: [{select: a, action: mask, keep_first: 010}]",
         "r:1:47: 'keep_first' must be written without leading zeros"},
        {"rules: [{select: a, action: mask, keep_first: " + many + "}]",
         "r:1:47: 'keep_first' is too large"},
        {"rules: [{select: a, action: mask, char: ab}]", "r:1:41: 'char' must be one character"},
        {"rules: [{select: a, action: mask, char: ''}]", "r:1:41: 'char' must be one character"},
        {"rules: [{select: a, action: pseudonym, length: 53}]",
         "r:1:48: 'length' must be between 1 and 52 for base32"},
        {"rules: [{select: a, action: pseudonym, length: 0, alphabet: hex}]",
         "r:1:48: 'length' must be between 1 and 64 for hex"},
        {"rules: [{select: a, action: pseudonym, length: " + many + ", alphabet: hex}]",
         "r:1:48: 'length' must be between 1 and 64 for hex"},
        {"rules: [{select: a, action: pseudonym, alphabet: b64}]",
         "r:1:50: unknown alphabet 'b64'; expected base32 or hex"},
    };
    for (const Case& c : cases) {
        std::vector<Rule> rules;
        std::string error;
        qiv::redact::NamespaceMap namespaces;
        EXPECT_FALSE(ParseRules(c.text, "r", rules, error, &namespaces)) << c.text;
        EXPECT_EQ(error, c.error) << c.text;
        EXPECT_TRUE(rules.empty()) << c.text;
    }
}

TEST(RulesFile, ReadsFilesAndReportsWhyNot) {
    const qiv::test::TempDir dir;
    const std::string path = dir.Write("rules.yaml", example).string();
    const std::string missing = (dir.Path() / "missing.yaml").string();
    std::vector<Rule> rules(1);  // read rules are added after what is there
    std::string error;

    ASSERT_TRUE(ReadRulesFile(path, rules, error)) << error;
    ASSERT_EQ(rules.size(), 6u);
    EXPECT_EQ(Render(rules[5]), "//internalComment @" + path + ":15:13 drop");

    EXPECT_FALSE(ReadRulesFile(missing, rules, error));
    EXPECT_EQ(error, "cannot read rules file '" + missing + "': " + std::strerror(ENOENT));
    EXPECT_FALSE(ReadRulesFile(dir.Path().string(), rules, error));
    EXPECT_EQ(error,
              "cannot read rules file '" + dir.Path().string() + "': " + std::strerror(EISDIR));
    dir.Write("bad.yaml", "rules: []\n");
    EXPECT_FALSE(ReadRulesFile((dir.Path() / "bad.yaml").string(), rules, error));
    EXPECT_EQ(error, (dir.Path() / "bad.yaml").string() + ":1:8: 'rules' holds no rules");
    EXPECT_EQ(rules.size(), 6u);
}

}  // namespace
