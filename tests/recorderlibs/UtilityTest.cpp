#include "recorderlibs/CDateTime.h"
#include "recorderlibs/CVkUtility.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

TEST(CVkUtility, DriveFilesSpaceAndReadOnlyAttribute)
{
    // space in KB, file size in MB, result, count (-7: left alone)
    const struct { long spaceKB, fileSizeMB; BOOL ok; long count; } cases[] = {
        {995000, 20, TRUE, 48},  // 1000000 KB less the 0.5 % reserve
        {20480, 20, TRUE, 1},    {20479, 20, TRUE, 0}, {0, 20, TRUE, 0},   {-1, 20, TRUE, 0},
        {2147483647, 20, TRUE, 104857}, {1000, 0, FALSE, -7}, {1000, -1, FALSE, -7}};
    for (const auto& c : cases) {
        long count = -7;
        EXPECT_EQ(c.ok, CVkUtility::GetDriveFiles(c.spaceKB, c.fileSizeMB, count)) << c.spaceKB << " " << c.fileSizeMB;
        EXPECT_EQ(c.count, count) << c.spaceKB << " " << c.fileSizeMB;
    }

    DWORD kb = 0;
    EXPECT_TRUE(CVkUtility::GetTotalSpaceKB("C:\\", kb));
    EXPECT_GT(kb, 0u);
    EXPECT_LE(kb, CVkUtility::kMaxReportedKB);
    EXPECT_FALSE(CVkUtility::GetTotalSpaceKB("A:\\", kb));  // no test maps A:, even beside a running session

    testfiles::ScratchDir dir;
    const std::string file = dir / "locked.bin";
    testfiles::WriteAll(file, "x");
    ASSERT_TRUE(::SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    for (int twice = 0; twice < 2; ++twice) {
        EXPECT_TRUE(CVkUtility::SetToReadWrite(file.c_str()));
        EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN),
                  ::GetFileAttributesA(file.c_str()) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY));
    }
    EXPECT_FALSE(CVkUtility::SetToReadWrite((dir / "missing.bin").c_str()));
}

TEST(CDateTime, TakesTheFiveByteRecordStamp)
{
    const unsigned char stamp[] = {0x80, 0xA2, 0x51, 0x7C, 42};  // 2085724800 and 42 hundredths
    const unsigned char negative[] = {0xFF, 0xFF, 0xFF, 0xFF, 0};
    CDateTime time;
    EXPECT_EQ(CDateTime::m_glTZIndex, time.GetTimeZoneIndex());
    ASSERT_TRUE(time.SetFromBuffer(stamp, 5));
    EXPECT_EQ(2085724800, time.GetTime());
    EXPECT_EQ(42, time.GetHundredths());
    ASSERT_TRUE(time.SetFromBuffer(negative, 5));
    EXPECT_EQ(-1, time.GetTime());
    EXPECT_FALSE(time.SetFromBuffer(stamp, 4));
    EXPECT_EQ(-1, time.GetTime());  // unchanged
}
