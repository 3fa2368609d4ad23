// The value actions' building blocks: masking by UTF-8 character, keyed
// pseudonyms (RFC 4231 vectors, base32, threads) and the key's sources.
#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "Mask.h"
#include "Pseudonym.h"
#include "TestSupport.h"

namespace {

using namespace qiv::redact;
using qiv::test::TempDir;

// Code points in text when it is well-formed UTF-8, else nothing; decoded
// the long way, independently of the masking code.
std::optional<std::size_t> CodePoints(std::string_view text) {
    std::size_t count = 0;
    for (std::size_t at = 0; at < text.size(); ++count) {
        const auto lead = static_cast<unsigned char>(text[at]);
        const std::size_t length = lead < 0x80       ? 1
                                   : lead >> 5 == 6  ? 2
                                   : lead >> 4 == 14 ? 3
                                   : lead >> 3 == 30 ? 4
                                                     : 0;
        if (length == 0 || at + length > text.size()) {
            return std::nullopt;
        }
        char32_t code = length == 1 ? lead : lead & (0x7Fu >> length);
        for (std::size_t next = 1; next < length; ++next) {
            const auto byte = static_cast<unsigned char>(text[at + next]);
            if ((byte & 0xC0) != 0x80) {
                return std::nullopt;
            }
            code = code << 6 | (byte & 0x3Fu);
        }
        constexpr char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < least[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            return std::nullopt;
        }
        at += length;
    }
    return count;
}

std::string Hex(const std::array<unsigned char, 32>& bytes) {
    std::string hex;
    for (const unsigned char byte : bytes) {
        hex += "0123456789abcdef"[byte >> 4];
        hex += "0123456789abcdef"[byte & 0xF];
    }
    return hex;
}

constexpr std::size_t all = std::numeric_limits<std::size_t>::max();

TEST(Mask, Table) {
    struct Case {
        std::string value;
        std::size_t first, last;
        std::string character;
        bool separators;
        std::string expected;
    };
    const Case cases[] = {
        {"secret", 0, 0, "*", false, "******"},
        {"secret", 2, 0, "*", false, "se****"},
        {"secret", 0, 2, "*", false, "****et"},
        {"secret", 1, 1, "*", false, "s****t"},
        {"abcd", 2, 1, "*", false, "ab*d"},
        {"secret", 3, 3, "*", false, "secret"},
        {"abc", 5, 0, "*", false, "abc"},
        {"abc", 0, 9, "*", false, "abc"},
        {"abc", all, all, "*", false, "abc"},
        {"abc", 1, all, "*", false, "abc"},
        {"", 0, 0, "*", false, ""},
        {"", 1, 1, "*", true, ""},
        {"Zoë Müller", 2, 2, "*", false, "Zo******er"},
        {"Zoë Müller", 2, 2, "*", true, "Zo* ****er"},
        {"Zoë Müller", 3, 1, "#", false, "Zoë######r"},
        {"東京都港区", 1, 1, "*", false, "東***区"},
        {"a😀b😀c", 0, 1, "*", false, "****c"},
        {"x😀", 0, 1, "*", false, "*😀"},
        {"Zoë", 0, 0, "•", false, "•••"},
        {"4111-1111", 0, 4, "•", true, "••••-1111"},
        {"4111-1111-1111-1234", 0, 4, "*", true, "****-****-****-1234"},
        {"4111-1111-1111-1234", 0, 4, "*", false, "***************1234"},
        {"jane.doe@example.com", 1, 0, "*", true, "j***.***@*******.***"},
        // Separators count toward the kept characters.
        {"ab-cd", 0, 3, "*", true, "**-cd"},
        {"a b", 1, 1, "*", true, "a b"},
        // Bytes outside a well-formed sequence are one character each.
        {"\xff"
         "abc",
         0, 1, "*", false, "***c"},
        {"\xff"
         "ab",
         1, 0, "*", false, "\xff**"},
        {"ab\x80"
         "cd",
         1, 1, "*", false, "a***d"},
        {"ab\xe2\x82", 0, 0, "*", false, "****"},
        {"a\xe2\x82", 0, 2, "*", false, "*\xe2\x82"},
        {"\xf0\x9f\x98", 0, 0, "*", false, "***"},
        {"\xc3"
         "a",
         0, 0, "*", false, "**"},
        {"\xc0\xaf", 0, 0, "*", false, "**"},
        {"\xe0\x80\xaf", 0, 0, "*", false, "***"},
        {"\xf0\x80\x80\xaf", 0, 0, "*", false, "****"},
        {"\xed\xa0\x80", 0, 0, "*", false, "***"},
        {"\xf4\x90\x80\x80", 0, 0, "*", false, "****"},
    };
    for (const Case& c : cases) {
        const MaskSettings settings{c.first, c.last, c.character, c.separators};
        const std::string masked = Masked(c.value, settings);
        EXPECT_EQ(masked, c.expected) << c.value << " " << c.first << "/" << c.last;
        if (const auto characters = CodePoints(c.value)) {
            EXPECT_EQ(CodePoints(masked), characters) << c.value;
        }
    }
    // A view that ends inside a character is not read past its end.
    const std::string_view cut = std::string_view("ab\u20ac").substr(0, 4);
    EXPECT_EQ(Masked(cut, {1, 1, "*", false}), "a**\x82");
}

TEST(MaskCharacter, IsOneCharacter) {
    const std::pair<std::string, bool> cases[] = {
        {"*", true},
        {"#", true},
        {"é", true},
        {"•", true},
        {"東", true},
        {"😀", true},
        {"", false},
        {"**", false},
        {"•x", false},
        {"e\xcc\x81", false},  // e and a combining accent
        {"😀😀", false},
        {"\xff", false},
        {"\x80", false},
        {"\xe2\x80", false},
        {"\xc0\xaf", false},
        {"\xe0\x80\xaf", false},
        {"\xf0\x80\x80\xaf", false},
        {"\xed\xa0\x80", false},
        {"\xf4\x90\x80\x80", false},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(IsOneCharacter(text), expected) << text;
    }
}

struct Vector {
    std::string key, data, mac;  // mac in hex; only the first 16 bytes for case 5
};

const std::vector<Vector>& Rfc4231() {
    static const std::vector<Vector> vectors = {
        {std::string(20, '\x0b'), "Hi There",
         "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
        {"Jefe", "what do ya want for nothing?",
         "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
        {std::string(20, '\xaa'), std::string(50, '\xdd'),
         "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe"},
        {"\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f\x10\x11\x12\x13\x14\x15"
         "\x16\x17\x18\x19",
         std::string(50, '\xcd'),
         "82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b"},
        {std::string(20, '\x0c'), "Test With Truncation", "a3b6167473100ee06e0c796c2955552b"},
        {std::string(131, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First",
         "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
        {std::string(131, '\xaa'),
         "This is a test using a larger than block-size key and a larger than block-size data. "
         "The key needs to be hashed before being used by the HMAC algorithm.",
         "9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2"},
    };
    return vectors;
}

TEST(Pseudonym, Rfc4231ThroughMacAndHexToken) {
    for (const Vector& v : Rfc4231()) {
        const Pseudonymizer pseudonyms(v.key, {"h:", 64, Alphabet::Hex});
        EXPECT_EQ(Hex(pseudonyms.Mac(v.data)).substr(0, v.mac.size()), v.mac) << v.data;
        EXPECT_EQ(pseudonyms.Token(v.data).substr(0, 2 + v.mac.size()), "h:" + v.mac) << v.data;
        EXPECT_EQ(pseudonyms.Token(v.data).size(), 66u);
    }
}

TEST(Pseudonym, EncodingsAndLengths) {
    // Base32 from Python's base64.b32encode of the RFC 4231 case 2 MAC.
    const std::string base32 = "lpomcrv7mb2u42qeeqtarflvy5naapyituttta455rmlszhmhbbq";
    const std::string hex = Rfc4231()[1].mac;
    struct Case {
        PseudonymSettings settings;
        std::string expected;
    };
    const Case cases[] = {
        {{"", 52, Alphabet::Base32}, base32},
        {{"ID-", 16, Alphabet::Base32}, "ID-" + base32.substr(0, 16)},
        {{"", 1, Alphabet::Base32}, "l"},
        {{"", 100, Alphabet::Base32}, base32},
        {{"", 7, Alphabet::Hex}, hex.substr(0, 7)},
        {{"", 100, Alphabet::Hex}, hex},
        {{"p-", 0, Alphabet::Hex}, "p-"},
    };
    for (const Case& c : cases) {
        const Pseudonymizer pseudonyms("Jefe", c.settings);
        EXPECT_EQ(pseudonyms.Token("what do ya want for nothing?"), c.expected);
    }
    const Pseudonymizer case1(Rfc4231()[0].key, {"", 52, Alphabet::Base32});
    EXPECT_EQ(case1.Token("Hi There"), "wa2eyyoy3m4fgxfiv7hk6c7rfoeb3qqazgbt3jzg5e3wylrsz73q");
    EXPECT_EQ(MaxPseudonymLength(Alphabet::Base32), 52u);
    EXPECT_EQ(MaxPseudonymLength(Alphabet::Hex), 64u);
}

TEST(Pseudonym, ValueIsTakenByteForByte) {
    const Pseudonymizer pseudonyms("Jefe", {"", 64, Alphabet::Hex});
    // Expected values from Python's hmac module.
    EXPECT_EQ(pseudonyms.Token(std::string("a\0b", 3)),
              "abe96d286949754c65051de08d3f8b1b5d35c314af100829f50c13954d98b7ea");
    EXPECT_EQ(pseudonyms.Token(""),
              "923598ca6d64af2a5dba79dcd021a8a0fe5c5f557519adaaf0ad532d4506dd30");
    EXPECT_EQ(pseudonyms.Token("a"),
              "71fec6c11ce8e5683326c0b3d9a6e45bee113b32abc2b8fb1de8e2c12f607b2c");
    EXPECT_NE(pseudonyms.Token(" a"), pseudonyms.Token("a"));
}

TEST(Pseudonym, SameTokensFromFourThreads) {
    const Pseudonymizer pseudonyms("a key of some length", {"u_", 20, Alphabet::Base32});
    // Values from empty to a few SHA-256 blocks long.
    std::vector<std::string> values;
    for (std::size_t index = 0; index < 2000; ++index) {
        values.push_back(std::to_string(index) + std::string(index % 200, 'v'));
    }
    std::vector<std::string> expected;
    for (const std::string& value : values) {
        expected.push_back(pseudonyms.Token(value));
    }
    std::vector<std::vector<std::string>> results(4);
    std::vector<std::thread> threads;
    for (auto& result : results) {
        threads.emplace_back([&pseudonyms, &values, &result]() {
            for (const std::string& value : values) {
                result.push_back(pseudonyms.Token(value));
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (const auto& result : results) {
        EXPECT_EQ(result, expected);
    }
    EXPECT_EQ(std::set<std::string>(expected.begin(), expected.end()).size(), values.size());
}

TEST(Pseudonym, KeysGiveDifferentTokens) {
    const std::string keys[] = {"key-a", "key-b", "key-a ", std::string(65, 'k'),
                                std::string(66, 'k')};
    std::set<std::string> tokens;
    for (const std::string& key : keys) {
        const Pseudonymizer pseudonyms(key, {});
        const Pseudonymizer again(key, {});
        for (int value = 0; value < 50; ++value) {
            const std::string token = pseudonyms.Token(std::to_string(value));
            EXPECT_EQ(token, again.Token(std::to_string(value)));
            EXPECT_EQ(token.size(), 16u);
            tokens.insert(token);
        }
    }
    EXPECT_EQ(tokens.size(), std::size(keys) * 50);
}

// Sets or unsets ORN_REDACT_KEY while it lives.
class KeyVariable {
public:
    explicit KeyVariable(const char* value) {
        if (const char* old = std::getenv(keyVariable)) {
            saved_ = old;
        }
        if (value != nullptr) {
            ::setenv(keyVariable, value, 1);
        } else {
            ::unsetenv(keyVariable);
        }
    }
    ~KeyVariable() {
        if (saved_) {
            ::setenv(keyVariable, saved_->c_str(), 1);
        } else {
            ::unsetenv(keyVariable);
        }
    }
    KeyVariable(const KeyVariable&) = delete;
    KeyVariable& operator=(const KeyVariable&) = delete;

private:
    std::optional<std::string> saved_;
};

TEST(Key, FromFile) {
    const TempDir folder;
    const KeyVariable variable("from the environment");  // a file comes first
    const std::string tooLong(64 * 1024 + 1, 'x');
    struct Case {
        std::string content;
        mode_t mode;
        std::string key;    // empty: an error is expected
        std::string error;  // with PATH for the file's path
        bool warning;
    };
    const Case cases[] = {
        {"secret", 0600, "secret", "", false},
        {"secret\n", 0600, "secret", "", false},
        {"secret\r\n", 0400, "secret", "", false},
        {"secret\n\n", 0600, "secret\n", "", false},
        {"sec\nret\n", 0600, "sec\nret", "", false},
        {"secret\r", 0600, "secret\r", "", false},
        {"secret\n\r\n", 0600, "secret\n", "", false},
        {std::string("a\0b\n", 4), 0600, std::string("a\0b", 3), "", false},
        {std::string(64 * 1024, 'x'), 0600, std::string(64 * 1024, 'x'), "", false},
        {"secret\n", 0640, "secret", "", true},
        {"secret\n", 0604, "secret", "", true},
        {"", 0600, "", "key file 'PATH' is empty", false},
        {"\n", 0644, "", "key file 'PATH' is empty", false},
        {"\r\n", 0600, "", "key file 'PATH' is empty", false},
        {tooLong, 0600, "", "key file 'PATH' is larger than 65536 bytes", false},
    };
    for (const Case& c : cases) {
        const std::string path = folder.Write("key", c.content).string();
        ASSERT_EQ(::chmod(path.c_str(), c.mode), 0);
        std::string key = "old", warning = "old", error;
        const bool read = ReadKey(path, key, warning, error);
        EXPECT_EQ(read, c.error.empty()) << c.content.size();
        EXPECT_EQ(key, c.key);
        if (!c.error.empty()) {
            std::string expected = c.error;
            expected.replace(expected.find("PATH"), 4, path);
            EXPECT_EQ(error, expected);
        }
        EXPECT_EQ(warning, c.warning
                               ? "key file '" + path + "' can be read by other users; chmod 600 it"
                               : "");
    }
}

TEST(Key, UnreadableFile) {
    const TempDir folder;
    const std::pair<std::string, std::string> cases[] = {
        {(folder.Path() / "missing").string(), "No such file or directory"},
        {folder.Path().string(), "Is a directory"},
    };
    for (const auto& [path, reason] : cases) {
        std::string key = "old", warning, error;
        EXPECT_FALSE(ReadKey(path, key, warning, error));
        EXPECT_EQ(error, "cannot read key file '" + path + "': " + reason);
        EXPECT_EQ(key, "");
    }
}

TEST(Key, FromEnvironment) {
    struct Case {
        const char* value;
        std::string key, error;
    };
    const Case cases[] = {
        {" spaced key\n", " spaced key\n", ""},
        {"", "", "ORN_REDACT_KEY is empty"},
        {nullptr, "", "pseudonym rules need a key: give --key-file FILE or set ORN_REDACT_KEY"},
    };
    for (const Case& c : cases) {
        const KeyVariable variable(c.value);
        std::string key, warning, error;
        EXPECT_EQ(ReadKey(std::nullopt, key, warning, error), c.error.empty());
        EXPECT_EQ(key, c.key);
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(warning, "");
    }
}

}  // namespace
