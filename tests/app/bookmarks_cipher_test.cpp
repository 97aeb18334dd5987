// The bookmark cipher against published DES test vectors, through the
// bit-reversed frame it works in, and the whole-buffer transform.
#include "CDESCrypto.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using Block = std::array<uint8_t, 8>;

Block FromHex(const char* hex) {
    Block b{};
    for (int i = 0; i < 8; ++i)
        b[i] = static_cast<uint8_t>(std::stoul(std::string(hex + 2 * i, 2), nullptr, 16));
    return b;
}

// All 64 bits in reverse order.
Block Reverse(const Block& in) {
    Block out{};
    for (int i = 0; i < 64; ++i)
        if ((in[i / 8] >> (7 - i % 8)) & 1)
            out[(63 - i) / 8] |= static_cast<uint8_t>(1 << (7 - (63 - i) % 8));
    return out;
}

// The 7-byte key whose bits, reversed and cut in groups of seven, are the
// high seven bits of each byte of the standard 8-byte key.
std::array<uint8_t, 7> KeyFromStandard(const Block& k64) {
    bool row[56];
    for (int j = 0; j < 8; ++j)
        for (int b = 0; b < 7; ++b)
            row[55 - (7 * j + b)] = (k64[j] >> (7 - b)) & 1;
    std::array<uint8_t, 7> key{};
    for (int i = 0; i < 56; ++i)
        if (row[i])
            key[i / 8] |= static_cast<uint8_t>(1 << (7 - i % 8));
    return key;
}

struct Vector {
    const char* key;
    const char* plain;
    const char* cipher;
};

// Published known-answer values of the standard.
const Vector kVectors[] = {
    {"133457799BBCDFF1", "0123456789ABCDEF", "85E813540F0AB405"},
    {"0E329232EA6D0D73", "8787878787878787", "0000000000000000"},
    {"0123456789ABCDEF", "4E6F772069732074", "3FA40E8A984D4815"},
    {"0101010101010101", "8000000000000000", "95F8A5E5DD31D900"},
    {"0101010101010101", "4000000000000000", "DD7F121CA5015619"},
    {"0000000000000000", "0000000000000000", "8CA64DE9C1B123A7"},
    {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "7359B2163E4EDC58"},
    {"3000000000000000", "1000000000000001", "958E6E627A05557B"},
    {"1111111111111111", "1111111111111111", "F40379AB9E0EC533"},
    {"FEDCBA9876543210", "0123456789ABCDEF", "ED39D950FA74BCC4"},
    {"7CA110454A1A6E57", "01A1D6D039776742", "690F5B0D9A26939B"},
};

} // namespace

TEST(BookmarkCipher, TablesStartAsDerivedFromTheStandard) {
    const DESTables& t = GetDESTables();
    EXPECT_EQ(std::vector<int>(t.PC1, t.PC1 + 8),
              (std::vector<int>{27, 19, 11, 31, 39, 47, 55, 26}));
    EXPECT_EQ(std::vector<int>(t.IP, t.IP + 8), (std::vector<int>{39, 7, 47, 15, 55, 23, 63, 31}));
    EXPECT_EQ(std::vector<int>(t.E, t.E + 8), (std::vector<int>{31, 0, 1, 2, 3, 4, 3, 4}));
    EXPECT_EQ(std::vector<int>(t.PC2, t.PC2 + 8), (std::vector<int>{24, 27, 20, 6, 14, 10, 3, 22}));
    EXPECT_EQ(std::vector<int>(t.S, t.S + 8), (std::vector<int>{13, 1, 2, 15, 8, 13, 4, 8}));
    EXPECT_EQ(std::vector<int>(t.P, t.P + 8), (std::vector<int>{11, 17, 5, 27, 25, 10, 20, 0}));
    EXPECT_EQ(std::vector<int>(t.FP, t.FP + 8), (std::vector<int>{57, 49, 41, 33, 25, 17, 9, 1}));
}

TEST(BookmarkCipher, PublishedVectorsHoldThroughTheReversedFrame) {
    for (const Vector& v : kVectors) {
        SCOPED_TRACE(v.key);
        auto key = KeyFromStandard(FromHex(v.key));
        CDESCrypto des(key.data());
        Block in = Reverse(FromHex(v.plain));
        Block out{};
        des.Encrypt(out.data(), in.data());
        EXPECT_EQ(out, Reverse(FromHex(v.cipher)));
        Block back{};
        des.Decrypt(back.data(), out.data());
        EXPECT_EQ(back, in);
        // In place, as the transform may be called.
        des.Encrypt(in.data(), in.data());
        EXPECT_EQ(in, out);
    }
}

TEST(BookmarkCipher, WholeBufferTransformPadsWithZeros) {
    std::vector<uint8_t> empty;
    EncryptBookmarkData(empty);
    EXPECT_TRUE(empty.empty());
    DecryptBookmarkData(empty);
    EXPECT_TRUE(empty.empty());

    std::vector<uint8_t> text(13);
    for (size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<uint8_t>('a' + i);
    std::vector<uint8_t> data = text;
    EncryptBookmarkData(data);
    ASSERT_EQ(data.size(), 16u);
    DecryptBookmarkData(data);
    std::vector<uint8_t> padded = text;
    padded.resize(16, 0);
    EXPECT_EQ(data, padded);

    // A partial last block on deciphering is padded and deciphered too.
    std::vector<uint8_t> odd(11, 0x5A);
    DecryptBookmarkData(odd);
    EXPECT_EQ(odd.size(), 16u);

    // Blocks are independent: equal blocks encipher equally.
    std::vector<uint8_t> twice(16, 0x41);
    EncryptBookmarkData(twice);
    EXPECT_TRUE(std::equal(twice.begin(), twice.begin() + 8, twice.begin() + 8));
    EXPECT_NE(twice, std::vector<uint8_t>(16, 0x41));
    DecryptBookmarkData(twice);
    EXPECT_EQ(twice, std::vector<uint8_t>(16, 0x41));
}
