#include "engine/ConnectionRecords.h"

#include <gtest/gtest.h>

TEST(ConnectionRecords, ResumeOffsetReadsLeadingDecimalOrZero) {
    sFileInfo info;
    EXPECT_EQ(ResumeOffset(info), 0u);
    info.resumeOffset = "12345";
    EXPECT_EQ(ResumeOffset(info), 12345u);
    info.resumeOffset = "dir/file.txt";
    EXPECT_EQ(ResumeOffset(info), 0u);
    info.resumeOffset = "18446744073709551615";
    EXPECT_EQ(ResumeOffset(info), 18446744073709551615ull);
    info.resumeOffset = "18446744073709551616";
    EXPECT_EQ(ResumeOffset(info), 0u);
    info.resumeOffset = " 42abc";
    EXPECT_EQ(ResumeOffset(info), 42u);
}

TEST(ConnectionRecords, DefaultsAreEmptyAndCopiesIndependent) {
    sFileInfo info;
    EXPECT_TRUE(info.name.empty());
    EXPECT_EQ(info.size, 0u);
    EXPECT_EQ(info.modDate, DateTimeRec{});
    EXPECT_FALSE(info.isFolder);
    EXPECT_FALSE(info.isLink);

    sUploadInfo upload;
    upload.files.push_back(info);
    upload.skipped = {0, 3};
    upload.ascii = true;
    sUploadInfo copy = upload;
    upload.files[0].name = "changed";
    upload.skipped.clear();
    EXPECT_EQ(copy.skipped, (std::vector<int32_t>{0, 3}));
    EXPECT_TRUE(copy.files[0].name.empty());
    EXPECT_TRUE(copy.ascii);

    sSyncBookMarkData sync;
    sync.host = "h";
    sync.port = 21;
    sync.action = 3;
    sync.deleteRemote = true;
    sSyncBookMarkData other;
    other = sync;
    EXPECT_EQ(other, sync);
}
