// SHA-256 of the input and output files: known digests, and the same digest
// however the bytes are fed in.
#include <algorithm>
#include <string>

#include <gtest/gtest.h>

#include "Digest.h"

namespace {

using namespace qiv::redact;

TEST(Digest, KnownDigests) {
    const std::pair<std::string, std::string> cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    };
    for (const auto& [text, digest] : cases) {
        Sha256 sha;
        sha.Update(text.data(), text.size());
        EXPECT_EQ(sha.HexDigest(), digest);
        EXPECT_EQ(sha.HexDigest(), digest);
        EXPECT_EQ(sha.Bytes(), text.size());
        EXPECT_THROW(sha.Update("x", 1), std::logic_error);
    }
    Sha256 million;
    const std::string thousand(1000, 'a');
    for (int piece = 0; piece < 1000; ++piece) {
        million.Update(thousand.data(), thousand.size());
    }
    EXPECT_EQ(million.HexDigest(),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Digest, PiecesGiveTheWholeDigest) {
    std::string data;
    std::uint32_t state = 12345;
    for (int index = 0; index < 1000; ++index) {
        state = state * 1103515245u + 12345u;
        data.push_back(static_cast<char>(state >> 24));
    }
    Sha256 whole;
    whole.Update(data.data(), data.size());
    const std::string expected = whole.HexDigest();
    for (const std::size_t piece : {1u, 3u, 63u, 64u, 65u, 999u}) {
        Sha256 pieces;
        for (std::size_t at = 0; at < data.size(); at += piece) {
            pieces.Update(data.data() + at, std::min(piece, data.size() - at));
        }
        pieces.Update(nullptr, 0);
        EXPECT_EQ(pieces.Bytes(), data.size());
        EXPECT_EQ(pieces.HexDigest(), expected) << piece;
    }
}

}  // namespace
