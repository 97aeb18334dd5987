// The tool's SFTP packets: what it sends and how it reads replies, including
// broken ones.
#include "tools/sftp/protocol.h"

#include <gtest/gtest.h>

using namespace sftptool::sftp;

namespace {

std::string bytes(std::initializer_list<int> b) {
    std::string s;
    for (int c : b)
        s.push_back(char(c));
    return s;
}

TEST(SftpProtocol, APacketReadsBackFieldForField) {
    Attributes a;
    a.flags = HasSize | HasIds | HasPermissions | HasTimes;
    a.size = 0x123456789abcULL;
    a.uid = 1000;
    a.gid = 100;
    a.permissions = 0100644;
    a.atime = 1;
    a.mtime = 0xfffffffe;
    Packet p(Open, 0x01020304);
    const std::string name("a\0b \"c\"", 7); // any bytes
    const std::string& out = p.str(name).u32(OpenWrite | OpenCreate).attrs(a).finish();

    ASSERT_EQ(packetSize(out), out.size());
    Reader r(std::string_view(out).substr(4));
    EXPECT_EQ(r.u8(), Open);
    EXPECT_EQ(r.u32(), 0x01020304u);
    EXPECT_EQ(r.str(), name);
    EXPECT_EQ(r.u32(), uint32_t(OpenWrite | OpenCreate));
    const Attributes b = r.attrs();
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(b.flags, a.flags);
    EXPECT_EQ(b.size, a.size);
    EXPECT_EQ(b.uid, a.uid);
    EXPECT_EQ(b.gid, a.gid);
    EXPECT_EQ(b.permissions, a.permissions);
    EXPECT_EQ(b.mtime, a.mtime);
    EXPECT_FALSE(b.isDirectory());

    // Only the fields the flags name are sent; extensions never are.
    Attributes mode;
    mode.flags = HasPermissions | HasExtended;
    mode.permissions = 0755;
    EXPECT_EQ(Packet(Setstat, 7).attrs(mode).finish(),
              bytes({0, 0, 0, 13, Setstat, 0, 0, 0, 7, 0, 0, 0, 4, 0, 0, 1, 0xed}));
    EXPECT_EQ(Packet::init(3).finish(), bytes({0, 0, 0, 5, Init, 0, 0, 0, 3}));
}

TEST(SftpProtocol, RepliesAreCutFromTheStreamOnlyWhenWhole) {
    const std::string one = Packet(Status, 9).u32(Ok).str("").str("").finish();
    std::string stream = one + one;
    for (size_t cut = 0; cut < one.size(); ++cut)
        EXPECT_EQ(packetSize(std::string_view(stream).substr(0, cut)), 0u) << cut;
    EXPECT_EQ(packetSize(stream), one.size());

    // A length no server sends means the stream is out of step.
    EXPECT_EQ(packetSize(bytes({0, 0, 0, 0, 1})), std::string_view::npos);
    EXPECT_EQ(packetSize(bytes({0x7f, 0xff, 0xff, 0xff})), std::string_view::npos);
    EXPECT_EQ(packetSize(bytes({0, 4, 0x04, 0x00})), 0u); // the largest allowed, incomplete
}

TEST(SftpProtocol, AShortOrBrokenReplyIsNoticedNotOverread) {
    // A name whose length runs past the end.
    const std::string shortName = bytes({Name, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 9, 'a', 'b'});
    Reader r(shortName);
    EXPECT_EQ(r.u8(), Name);
    EXPECT_EQ(r.u32(), 1u);
    EXPECT_EQ(r.u32(), 1u);
    EXPECT_EQ(r.str(), "");
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(r.u32(), 0u); // stays failed

    // Extended attributes are skipped; what follows them is read.
    const std::string ext = bytes({0x80, 0, 0, 4, 0, 0, 0x41, 0xed, 0, 0, 0, 2}) +
                            bytes({0, 0, 0, 1, 'k', 0, 0, 0, 0}) +
                            bytes({0, 0, 0, 2, 'k', '2', 0, 0, 0, 1, 'v'}) + bytes({0, 0, 0, 42});
    Reader e(ext);
    const Attributes a = e.attrs();
    EXPECT_TRUE(a.isDirectory());
    EXPECT_EQ(e.u32(), 42u);
    EXPECT_TRUE(e.ok());

    // An extension count larger than what follows ends in failure, not a hang.
    const std::string manyExtensions = bytes({0x80, 0, 0, 0, 0xff, 0xff, 0xff, 0xff, 0, 0, 0, 0});
    Reader huge(manyExtensions);
    huge.attrs();
    EXPECT_FALSE(huge.ok());
}

TEST(SftpProtocol, StatusTextsNameTheCommonFailures) {
    EXPECT_STREQ(statusText(NoSuchFile), "No such file or directory");
    EXPECT_STREQ(statusText(PermissionDenied), "Permission denied");
    EXPECT_STREQ(statusText(Eof), "End of file");
    EXPECT_STREQ(statusText(Failure), "Failure");
    EXPECT_STREQ(statusText(1234), "Failure");
}

} // namespace
