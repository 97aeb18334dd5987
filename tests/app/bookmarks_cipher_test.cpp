// The bookmark cipher against published DES test vectors, through the
// bit-reversed frame it works in, and the whole-buffer transform.
#include "app/BookmarkStore.h"
#include "app/CDESCrypto.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <unistd.h>
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

// Known answers under the program's own key: a bookmark store and an
// exported bookmark file of fixed content, with their enciphered bytes. The
// bytes were computed apart from this code: each 8-byte block with its 64 bits
// reversed, enciphered by OpenSSL's DES-ECB (legacy provider) under the
// standard key 4ff4750431ad31f4 (the 7-byte key 5e 31 a8 c4 0b 97 f2 reversed
// and cut into seven-bit groups, parity bits added), and reversed again.
// A change of key or cipher breaks every bookmark file users already have.
namespace {

const char kStorePlain[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                           "<plist version=\"1.0\">\n"
                           "<array>\n"
                           "\t<dict>\n"
                           "\t\t<key>BookmarkAccount</key>\n"
                           "\t\t<string></string>\n"
                           "\t\t<key>BookmarkDir</key>\n"
                           "\t\t<string>/pub</string>\n"
                           "\t\t<key>BookmarkHost</key>\n"
                           "\t\t<string>ftp.example.org</string>\n"
                           "\t\t<key>BookmarkName</key>\n"
                           "\t\t<string>Example</string>\n"
                           "\t\t<key>BookmarkPassive</key>\n"
                           "\t\t<true/>\n"
                           "\t\t<key>BookmarkPassword</key>\n"
                           "\t\t<string>s3cret</string>\n"
                           "\t\t<key>BookmarkPort</key>\n"
                           "\t\t<integer>21</integer>\n"
                           "\t\t<key>BookmarkSecure</key>\n"
                           "\t\t<false/>\n"
                           "\t\t<key>BookmarkUsername</key>\n"
                           "\t\t<string>anna</string>\n"
                           "\t</dict>\n"
                           "</array>\n"
                           "</plist>\n";

const char kStoreCipher[] = "\x3c\x9c\x01\x6a\x55\x7e\x8d\x5e\x0a\xc5\xa6\xb5\x80\x2f\xf8\x00"
                            "\x40\x01\x0c\xaa\x62\xe9\x54\xe1\x9e\x94\xb7\x7b\x30\x44\x12\x22"
                            "\xb1\xf8\xca\x26\xfa\xb8\x19\xa9\x9e\xfe\x37\xe5\x52\x4d\xac\x02"
                            "\xb1\x01\xbf\xbd\x63\xf4\x8f\x62\x14\x90\x14\xba\x28\x6c\xdb\x0a"
                            "\xaa\xcd\xa0\xba\xe1\x5b\x4a\xe6\xab\xa0\xd2\xe5\x3f\xb7\x9c\xa7"
                            "\x91\x8c\x93\x5f\x7e\xd5\x68\x37\xe1\x87\xdb\xb6\x6a\xd6\x15\x5e"
                            "\x16\x49\x80\xbe\x8c\xb4\xd4\xb2\x1a\x63\xef\x24\x80\xb0\xe7\x46"
                            "\x17\xf8\x78\x0a\x56\xa3\x70\x08\x07\x51\xf6\x8d\xbf\xe1\x0d\x06"
                            "\x9a\x24\x82\x1e\x75\xa1\xa3\x2c\x0c\x12\xc3\xd1\xb9\x96\x61\x91"
                            "\x6e\xcc\x84\x47\xd7\x7b\x39\x4f\x39\x3b\x7e\x51\x1e\xaa\x3a\xe6"
                            "\xbd\x75\xce\xed\x46\x8f\x1b\xdc\x3d\x66\x59\x65\xe3\x61\x41\xea"
                            "\xcd\xfa\xc3\x1d\x95\xb5\x54\x83\xad\x5b\x16\xea\x74\x53\x21\x31"
                            "\x73\x07\x17\x37\x2d\x7d\xae\xf3\x97\x57\x37\x1b\xc4\x05\x92\xcc"
                            "\xce\x6c\xc6\x3f\xf0\x43\x01\xa3\x13\xef\xbc\xd8\xda\x16\xe2\x38"
                            "\xc8\xa7\x63\x12\x80\xb5\x58\x2a\xc9\x1f\xf6\x8a\x8a\xb6\xde\x08"
                            "\x75\x74\x4f\x12\x51\x96\xf2\x53\xe2\x95\x4a\xd3\x5e\xc1\xc7\xa5"
                            "\x7c\x7d\x19\xb7\x53\xba\x61\x5f\x1f\x03\x9a\x32\x6f\xa0\xce\xa1"
                            "\x61\xb0\xfd\x80\xa5\x62\x8d\x28\x1e\x3c\x68\xe0\xab\x48\x72\xa1"
                            "\x10\xb9\x84\x47\x21\x6f\xf1\xd1\x18\xb5\x05\xca\x38\x2b\xdd\x16"
                            "\x98\xca\xf6\xca\x35\xe9\x81\x2a\x24\xb3\x0b\x35\xf1\x0f\x1f\x04"
                            "\x7d\xff\xad\xb7\x62\x58\xdd\x9d\x5a\xa0\x7a\x79\x5d\x61\x8c\x18"
                            "\x52\x7e\xfa\xab\x9a\xbf\xf6\x01\xe3\x9f\x31\x97\x4e\xb4\xf8\x92"
                            "\x93\x8e\xe0\xc6\x9a\x78\xb2\x6b\x38\x34\x11\x0a\x6d\xcb\x60\xd6"
                            "\xea\xa5\xca\x00\xdc\xe4\x44\x10\x65\xa6\x7d\x02\xde\xa3\x8b\x34"
                            "\x08\xa2\x68\x52\xae\xab\xea\x02\x91\x83\x8f\xda\x5c\xa9\xad\x0a"
                            "\x9a\x44\x33\x06\x7d\x2c\xf0\xbe\x75\x23\x04\xf6\x2f\x4f\xf3\x50"
                            "\x38\x34\x11\x0a\x6d\xcb\x60\xd6\x99\x54\x46\x94\x02\xef\xf6\xc3"
                            "\xc9\x0d\xd8\x4a\x39\x00\x45\x6b\x90\xb7\x04\xbc\x0f\x58\x1b\xa7"
                            "\xe1\x71\xae\xc1\x98\xb3\x3f\xd9\x38\x34\x11\x0a\x6d\xcb\x60\xd6"
                            "\xd2\x15\xfb\x5a\x31\xde\x15\x8a\x34\x83\xa1\x6d\x1a\x7f\x87\xf2"
                            "\xa2\x28\x22\x46\x57\xa7\xd8\x0c\xc9\x0d\xd8\x4a\x39\x00\x45\x6b"
                            "\xf6\x30\x1c\x2d\x75\x03\xf2\x4e\xa3\xd4\x36\x21\xa1\xe1\x24\x90"
                            "\x67\x24\x32\x0f\x90\x55\xfd\x56\xae\xb1\x42\xba\xd1\xd0\x5c\x81"
                            "\x13\xab\x4a\x9f\xc7\x92\xf1\x3d\x08\xe6\x7f\xa0\x74\x1f\x73\x31"
                            "\x97\x73\x6c\xd2\x67\xff\x20\x6a\x10\x3b\xa5\x30\x8a\xab\xae\x25"
                            "\x38\x34\x11\x0a\x6d\xcb\x60\xd6\x1c\x0a\x07\xb6\xd2\x8d\xba\xc0"
                            "\x91\x83\x8f\xda\x5c\xa9\xad\x0a\xb9\x9d\x1e\x79\x8c\x4c\xda\xf1"
                            "\x6a\xed\x2c\xa6\xc2\x42\x70\xc1\xe2\x95\x4a\xd3\x5e\xc1\xc7\xa5"
                            "\x7c\x7d\x19\xb7\x53\xba\x61\x5f\x9b\xb3\xe9\x7f\x3a\xc4\x40\x90"
                            "\x1f\xcd\xc7\xb1\x27\x2c\xd6\x30\x19\x56\x2f\x4a\x23\x9d\xd4\x60"
                            "\x34\xf8\x4a\xbc\x93\x3f\x19\x76\x86\xdd\xb0\x74\xcd\xcd\x11\x4c"
                            "\x63\x92\x81\xd6\xf2\xf7\xa4\x27";

const char kExportPlain[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                            "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                            "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                            "<plist version=\"1.0\">\n"
                            "<dict>\n"
                            "\t<key>BookmarkAccount</key>\n"
                            "\t<string>acct</string>\n"
                            "\t<key>BookmarkDir</key>\n"
                            "\t<string></string>\n"
                            "\t<key>BookmarkHost</key>\n"
                            "\t<string>10.0.0.7</string>\n"
                            "\t<key>BookmarkName</key>\n"
                            "\t<string>Home</string>\n"
                            "\t<key>BookmarkPassive</key>\n"
                            "\t<false/>\n"
                            "\t<key>BookmarkPassword</key>\n"
                            "\t<string>pw</string>\n"
                            "\t<key>BookmarkPort</key>\n"
                            "\t<integer>2222</integer>\n"
                            "\t<key>BookmarkSecure</key>\n"
                            "\t<true/>\n"
                            "\t<key>BookmarkUsername</key>\n"
                            "\t<string>bob</string>\n"
                            "</dict>\n"
                            "</plist>\n";

const char kExportCipher[] = "\x3c\x9c\x01\x6a\x55\x7e\x8d\x5e\x0a\xc5\xa6\xb5\x80\x2f\xf8\x00"
                             "\x40\x01\x0c\xaa\x62\xe9\x54\xe1\x9e\x94\xb7\x7b\x30\x44\x12\x22"
                             "\xb1\xf8\xca\x26\xfa\xb8\x19\xa9\x9e\xfe\x37\xe5\x52\x4d\xac\x02"
                             "\xb1\x01\xbf\xbd\x63\xf4\x8f\x62\x14\x90\x14\xba\x28\x6c\xdb\x0a"
                             "\xaa\xcd\xa0\xba\xe1\x5b\x4a\xe6\xab\xa0\xd2\xe5\x3f\xb7\x9c\xa7"
                             "\x91\x8c\x93\x5f\x7e\xd5\x68\x37\xe1\x87\xdb\xb6\x6a\xd6\x15\x5e"
                             "\x16\x49\x80\xbe\x8c\xb4\xd4\xb2\x1a\x63\xef\x24\x80\xb0\xe7\x46"
                             "\x17\xf8\x78\x0a\x56\xa3\x70\x08\x07\x51\xf6\x8d\xbf\xe1\x0d\x06"
                             "\x9a\x24\x82\x1e\x75\xa1\xa3\x2c\x0c\x12\xc3\xd1\xb9\x96\x61\x91"
                             "\x6e\xcc\x84\x47\xd7\x7b\x39\x4f\x39\x3b\x7e\x51\x1e\xaa\x3a\xe6"
                             "\x17\x5a\xc5\x4d\xbc\x86\x65\xb7\xb9\xca\x2b\x84\x2e\x9b\x8b\x9a"
                             "\x48\xc9\xac\x0e\x71\x04\xa5\xf3\x7d\x31\xa6\x75\x28\xeb\x99\xe3"
                             "\xaf\xf6\x62\x89\xa8\x50\xbf\xa5\x7c\x7d\x19\xb7\x53\xba\x61\x5f"
                             "\x6c\x66\xac\x93\x99\x29\x20\x86\x1f\xcd\xc7\xb1\x27\x2c\xd6\x30"
                             "\xc9\x1f\xf6\x8a\x8a\xb6\xde\x08\x75\x74\x4f\x12\x51\x96\xf2\x53"
                             "\xed\xbd\xe8\x07\x70\x8c\xfd\xbe\x09\x7d\x78\xfa\x08\x78\x5c\xe7"
                             "\x91\x07\x31\xd6\x1e\xdb\x7a\xe3\x22\xa7\x2d\x91\xd4\x5d\x29\x1b"
                             "\x5f\x56\xcc\x82\xb0\xf8\x87\xeb\x5f\x4d\xf2\xb7\x44\xd8\x82\x50"
                             "\x83\x83\x8e\xb1\x0a\x18\xb9\xd8\xf8\x85\x0a\x1e\x17\xca\x55\xa1"
                             "\x47\x34\xa5\xc2\xf6\x6f\x55\x65\xa1\x8c\x94\xa4\xca\x82\x1a\xdf"
                             "\xad\x5b\x16\xea\x74\x53\x21\x31\x18\x37\x97\x33\x7b\x46\x61\x31"
                             "\xed\xbd\xe8\x07\x70\x8c\xfd\xbe\x95\x82\xc7\x5c\x7a\x63\x86\x4b"
                             "\x70\xe3\x56\x54\x86\x32\xb8\xb8\xa1\x8c\x94\xa4\xca\x82\x1a\xdf"
                             "\xad\x5b\x16\xea\x74\x53\x21\x31\xf1\xb8\x22\xb2\x34\x17\x37\xb3"
                             "\x16\xd4\xfa\x0d\x71\xd8\x47\xf6\x63\xe0\x13\x78\xde\x58\x72\xb5"
                             "\x77\xa4\x07\x5e\xb0\x65\x85\x1b\x48\xc9\xac\x0e\x71\x04\xa5\xf3"
                             "\x67\xfe\x31\x2c\x75\x6d\x27\x80\x79\x24\xaa\xdf\xf3\xbc\x37\xcd"
                             "\x55\x20\x3c\xb2\x8b\xff\xf5\xb0\xfb\xc3\xd9\x7c\xf2\xcf\x83\x55"
                             "\xa1\x8c\x94\xa4\xca\x82\x1a\xdf\xad\x5b\x16\xea\x74\x53\x21\x31"
                             "\xee\x59\xcf\x4d\x09\x07\x16\x62\xed\xbd\xe8\x07\x70\x8c\xfd\xbe"
                             "\x13\xab\x4a\x9f\xc7\x92\xf1\x3d\x28\xf1\x6f\xa1\x0c\x8f\x8f\xf9"
                             "\x0d\xe2\x53\x4b\x29\x38\xf5\xf1\x1e\x3c\x68\xe0\xab\x48\x72\xa1"
                             "\x3e\x5e\x0f\x8f\xa4\x67\xd4\xde\x7d\xfb\x4b\x22\x03\x67\x72\x7f"
                             "\x74\x43\x27\x71\x3b\xce\x05\x1d\x77\xa4\x07\x5e\xb0\x65\x85\x1b"
                             "\x48\xc9\xac\x0e\x71\x04\xa5\xf3\xb4\xea\x99\xd2\x0c\x8f\xfe\x48"
                             "\xfb\xaf\x92\xc1\x03\x1d\x6a\x84\x55\x20\x3c\xb2\x8b\xff\xf5\xb0"
                             "\x4a\x2c\xdc\x3e\x8a\x45\x94\xa2\x84\x87\xdc\x34\x84\xf0\x19\xb6"
                             "\xe4\x12\x91\x25\x74\x46\x27\x1c\xaa\xf3\xde\x11\x77\x03\xed\x03";

std::vector<uint8_t> Bytes(const char* text, size_t size) {
    return std::vector<uint8_t>(text, text + size);
}

} // namespace

TEST(BookmarkCipher, KnownAnswersUnderTheProgramKey) {
    struct Case {
        std::vector<uint8_t> plain, cipher;
    } cases[] = {
        {Bytes(kStorePlain, sizeof(kStorePlain) - 1),
         Bytes(kStoreCipher, sizeof(kStoreCipher) - 1)},
        {Bytes(kExportPlain, sizeof(kExportPlain) - 1),
         Bytes(kExportCipher, sizeof(kExportCipher) - 1)},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(c.cipher.size(), (c.plain.size() + 7) / 8 * 8);
        std::vector<uint8_t> data = c.plain;
        EncryptBookmarkData(data);
        EXPECT_EQ(data, c.cipher);
        DecryptBookmarkData(data);
        std::vector<uint8_t> padded = c.plain;
        padded.resize(c.cipher.size(), 0);
        EXPECT_EQ(data, padded);
    }
}

TEST(BookmarkCipher, FilesEncipheredUnderTheProgramKeyStillRead) {
    char folder[] = "/tmp/zarvel-cipher-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string store = std::string(folder) + "/Zarvel Bookmarks";
    const std::string exported = std::string(folder) + "/Home.zarvel";
    WritePrivateFile(store, Bytes(kStoreCipher, sizeof(kStoreCipher) - 1));
    WritePrivateFile(exported, Bytes(kExportCipher, sizeof(kExportCipher) - 1));

    const StoreLoad load = LoadBookmarkStore(store);
    EXPECT_EQ(load.status, StoreLoad::Loaded);
    ASSERT_EQ(load.bookmarks.size(), 1u);
    const sBookMarkData& b = load.bookmarks[0];
    EXPECT_EQ(b.name, "Example");
    EXPECT_EQ(b.host, "ftp.example.org");
    EXPECT_EQ(b.username, "anna");
    EXPECT_EQ(b.password, "s3cret");
    EXPECT_EQ(b.account, "");
    EXPECT_EQ(b.dir, "/pub");
    EXPECT_EQ(b.port, 21);
    EXPECT_TRUE(b.passive);
    EXPECT_FALSE(b.secure);

    sBookMarkData e;
    ASSERT_TRUE(ReadExportedBookmark(exported, e));
    EXPECT_EQ(e.name, "Home");
    EXPECT_EQ(e.host, "10.0.0.7");
    EXPECT_EQ(e.username, "bob");
    EXPECT_EQ(e.password, "pw");
    EXPECT_EQ(e.account, "acct");
    EXPECT_EQ(e.dir, "");
    EXPECT_EQ(e.port, 2222);
    EXPECT_FALSE(e.passive);
    EXPECT_TRUE(e.secure);

    ::unlink(store.c_str());
    ::unlink(exported.c_str());
    ::rmdir(folder);
}
