#include "platform/core/Errors.h"
#include "platform/core/ResourceFile.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

using namespace PPx;

namespace {

std::vector<uint8_t> Bytes(std::string_view s) {
    return {s.begin(), s.end()};
}

ResourceFile Preferences() {
    ResourceFile f;
    EXPECT_TRUE(f.Add('snds', 0, "Sounds", Bytes(std::string("/a.aiff\0/b.aiff\0", 16))));
    EXPECT_TRUE(f.Add('snds', 1, "Extra Sounds", Bytes(std::string("\0", 1))));
    EXPECT_TRUE(f.Add('xfer', 0, "Transfer Settings", {1, 4}));
    EXPECT_TRUE(f.Add('tout', 0, "Timeouts", {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 60, 0, 0, 0, 60}));
    EXPECT_TRUE(f.Add('misc', 0, "Misc", {1, 1, 1, 1, 1, 0, 0, 0}));
    EXPECT_TRUE(f.Add('misc', -32768, std::nullopt, {}));
    EXPECT_TRUE(f.Add('misc', 32767, std::string(255, 'n'), Bytes("x")));
    return f;
}

// Builds by hand the bytes the classic layout gives one resource 'TEST' 128
// named "ab" holding "xyz".
std::string HandMade() {
    std::string f;
    auto be32 = [&](uint32_t v) {
        for (int s = 24; s >= 0; s -= 8)
            f += char(v >> s);
    };
    auto be16 = [&](uint16_t v) {
        f += char(v >> 8);
        f += char(v);
    };
    const uint32_t dataLen = 4 + 3, mapLen = 28 + 2 + 8 + 12 + 3;
    be32(256);
    be32(256 + dataLen);
    be32(dataLen);
    be32(mapLen);
    f.append(240, '\0');
    be32(3);
    f += "xyz";
    // map: header copy, next map, file ref, attributes, type list and name list offsets
    be32(256);
    be32(256 + dataLen);
    be32(dataLen);
    be32(mapLen);
    be32(0);
    be16(0);
    be16(0);
    be16(28);
    be16(28 + 2 + 8 + 12);
    be16(0);      // one type
    be32('TEST'); // type
    be16(0);      // one resource
    be16(10);     // references follow the type list
    be16(128);    // id
    be16(0);      // name offset
    be32(0);      // attributes 0, data offset 0
    be32(0);      // handle
    f += '\2';
    f += "ab";
    return f;
}

} // namespace

TEST(ResourceFile, MatchesTheClassicLayout) {
    ResourceFile parsed = ResourceFile::Parse(HandMade());
    const Resource* r = parsed.Get('TEST', 128);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->name, "ab");
    EXPECT_EQ(r->data, Bytes("xyz"));
    EXPECT_EQ(parsed.Serialize(), HandMade());

    ResourceFile built;
    built.Add('TEST', 128, "ab", Bytes("xyz"));
    EXPECT_EQ(built.Serialize(), HandMade());
}

TEST(ResourceFile, RoundTripsSeveralTypesAndIds) {
    testsupport::TempDir dir;
    std::string path = dir.file("Zarvel Preferences");
    ResourceFile f = Preferences();
    f.Write(path);
    std::string first = testsupport::readFile(path);
    ResourceFile back = ResourceFile::Read(path);
    EXPECT_EQ(back.Serialize(), first);

    EXPECT_EQ(back.Types(), (std::vector<FourCharCode>{'snds', 'xfer', 'tout', 'misc'}));
    EXPECT_EQ(back.Ids('misc'), (std::vector<int16_t>{0, -32768, 32767}));
    EXPECT_EQ(back.Get('tout', 0)->data.size(), 12u);
    EXPECT_EQ(back.Get('snds', 0)->name, "Sounds");
    EXPECT_FALSE(back.Get('misc', -32768)->name.has_value());
    EXPECT_TRUE(back.Get('misc', -32768)->data.empty());
    EXPECT_EQ(back.GetNamed('xfer', "Transfer Settings")->data, (std::vector<uint8_t>{1, 4}));
    EXPECT_EQ(back.Get('xfer', 1), nullptr);
    EXPECT_EQ(back.Get('zzzz', 0), nullptr);

    // Changing one resource leaves the others as they were.
    EXPECT_FALSE(back.Add('xfer', 0, "Transfer Settings", {2, 2}));
    EXPECT_TRUE(back.Replace('snds', 0, Bytes(std::string("\0\0", 2))));
    EXPECT_FALSE(back.Replace('snds', 7, {}));
    EXPECT_TRUE(back.Remove('misc', 32767));
    back.Set('new ', 5, "New", Bytes("new"));
    back.Write(path);
    ResourceFile again = ResourceFile::Read(path);
    EXPECT_EQ(again.Get('snds', 0)->data.size(), 2u);
    EXPECT_EQ(again.Get('snds', 0)->name, "Sounds");
    EXPECT_EQ(again.Get('misc', 32767), nullptr);
    EXPECT_EQ(again.Get('misc', 0)->data, (std::vector<uint8_t>{1, 1, 1, 1, 1, 0, 0, 0}));
    EXPECT_EQ(again.Get('new ', 5)->data, Bytes("new"));
    EXPECT_EQ(again.Serialize(), testsupport::readFile(path));

    // Removing the last of a type removes the type.
    EXPECT_TRUE(again.Remove('new ', 5));
    EXPECT_EQ(again.Ids('new ').size(), 0u);
    EXPECT_THROW(again.Add('x   ', 0, std::string(256, 'n'), {}), OSError);

    // An empty file, as newly created, reads back empty.
    EXPECT_TRUE(ResourceFile::Parse(ResourceFile().Serialize()).Types().empty());
}

TEST(ResourceFile, RefusesMalformedFiles) {
    std::string good = Preferences().Serialize();
    for (size_t n = 0; n < good.size(); ++n) {
        try {
            ResourceFile::Parse(std::string_view(good).substr(0, n));
            ADD_FAILURE() << "truncated to " << n << " bytes was accepted";
        } catch (const OSError& e) {
            EXPECT_EQ(e.Status(), mapReadErr);
        }
    }
    // Any single corrupted byte is either read or refused, never a crash.
    for (size_t i = 0; i < good.size(); ++i) {
        for (uint8_t v : {0x00, 0x7F, 0xFF}) {
            std::string bad = good;
            bad[i] = static_cast<char>(v);
            try {
                ResourceFile f = ResourceFile::Parse(bad);
                f.Serialize();
            } catch (const OSError& e) {
                EXPECT_EQ(e.Status(), mapReadErr);
            }
        }
    }
    // A duplicate (type, id) is refused.
    std::string dup = HandMade();
    ResourceFile two;
    two.Add('TEST', 1, std::nullopt, {});
    two.Add('TEST', 2, std::nullopt, {});
    std::string twoBytes = two.Serialize();
    size_t map = 256 + 8;
    twoBytes[map + 28 + 2 + 8 + 12 + 1] = 1; // second id := 1
    EXPECT_THROW(ResourceFile::Parse(twoBytes), OSError);

    testsupport::TempDir dir;
    try {
        ResourceFile::Read(dir.file("missing"));
        ADD_FAILURE();
    } catch (const OSError& e) {
        EXPECT_EQ(e.Status(), ENOENT);
    }
}
