// The scan and the initialisation through the real registry and drives of a
// sandbox session.
#include "prep/DatabaseSettings.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestRegistry.h"
#include "volumes/VolumeHandler.h"
#include "volumes/VolumeInfoFile.h"
#include "volumes/VolumeInfoText.h"

#include <gtest/gtest.h>

#include <map>

namespace {

const GUID kDatabase = {0x3F2A9C41, 0x7B1D, 0x4E6A, {0x9C, 0x05, 0x2D, 0x8E, 0x61, 0xF4, 0xA7, 0xB3}};

std::map<std::string, DWORD>& FakeSizes()
{
    static std::map<std::string, DWORD> sizes;
    return sizes;
}

BOOL FakeTotalSpace(const char* path, DWORD& totalKB)
{
    const auto found = FakeSizes().find(path);
    if (found == FakeSizes().end())
        return FALSE;
    totalKB = found->second;
    return TRUE;
}

class VolumeScanTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(0, testreg::SetString(key.c_str(), "GUID", GuidToText(kDatabase)));
        saved = VolumeHandler::TotalSpaceQuery;
    }
    void TearDown() override { VolumeHandler::TotalSpaceQuery = saved; }

    testreg::ScopedKey key{DatabaseKeyPath()};
    BOOL (*saved)(const char*, DWORD&) = nullptr;
};

}  // namespace

TEST_F(VolumeScanTest, ADriveIsListedFromTheMinimumSizeOn)
{
    FakeSizes() = {{"E:\\", 205828}, {"F:\\", 205829}};
    VolumeHandler::TotalSpaceQuery = FakeTotalSpace;
    VolumeHandler handler(DatabaseSettings{}, GUID{});
    handler.ScanDrives(0, 0);

    ASSERT_EQ(1, handler.GetVolumeCount());
    std::string path;
    ASSERT_TRUE(handler.GetVolumePath(0, path));
    EXPECT_EQ("F:", path);
    EXPECT_EQ(VolumeStatus::Blank, handler.GetVolumeStatus(0));
    EXPECT_TRUE(SameGuid(kDatabase, handler.DatabaseGuid));
    // Only the listed drive got a description; the probe left nothing behind.
    EXPECT_TRUE(testfiles::Exists("F:\\VolumeInfo.xml"));
    EXPECT_FALSE(testfiles::Exists("E:\\VolumeInfo.xml"));
    EXPECT_FALSE(testfiles::Exists("E:\\testfile.tmp"));
}

TEST_F(VolumeScanTest, InitializationRefusesWhatItMustNotWipe)
{
    testfiles::WriteAll("E:\\keep.txt", "recording");
    testfiles::WriteAll("C:\\mediaprep-keep.txt", "system");
    DatabaseSettings settings;
    settings.AlarmPath = "\\Alarm\\";
    settings.IndexPath = "\\Index\\";
    settings.ImagePath = "\\Images\\";
    VolumeHandler handler(settings, kDatabase);
    const VolumeStatus refused[] = {VolumeStatus::Active, VolumeStatus::Missing, VolumeStatus::Failed};
    for (VolumeStatus status : refused) {
        VolumeRecord record;
        record.path = "E:";
        record.status = status;
        handler.AppendVolume(record);
    }
    VolumeRecord system;
    system.path = "C:";
    system.status = VolumeStatus::Foreign;
    const std::int32_t systemIndex = handler.AppendVolume(system);

    for (std::int32_t index = -1; index <= handler.GetVolumeCount(); ++index)
        EXPECT_EQ(0, handler.InitializeVolume(index, 262144)) << index;
    EXPECT_EQ("recording", testfiles::ReadAll("E:\\keep.txt"));
    EXPECT_EQ("system", testfiles::ReadAll("C:\\mediaprep-keep.txt"));
    EXPECT_EQ(1, handler.GetActiveVolumeCount());  // the one appended as Active
    EXPECT_EQ(0, handler.ActiveVolumeCount);
    EXPECT_EQ(VolumeStatus::Foreign, handler.GetVolumeStatus(systemIndex));
    ::DeleteFileA("C:\\mediaprep-keep.txt");
}

TEST_F(VolumeScanTest, EqualAlarmAndIndexDirectoriesFailAfterTheWipe)
{
    testfiles::WriteAll("E:\\old.avi", "old");
    DatabaseSettings settings;
    settings.AlarmPath = "\\Same\\";
    settings.IndexPath = "\\Same\\";
    VolumeHandler handler(settings, kDatabase);
    VolumeRecord record;
    record.path = "E:";
    record.status = VolumeStatus::Blank;
    handler.AppendVolume(record);
    EXPECT_EQ(0, handler.InitializeVolume(0, 262144));
    EXPECT_FALSE(testfiles::Exists("E:\\old.avi"));
    EXPECT_TRUE(testfiles::Exists("E:\\Same"));
    EXPECT_EQ(VolumeStatus::Blank, handler.GetVolumeStatus(0));
    VolumeRecord after;
    ASSERT_TRUE(handler.GetVolume(0, after));
    EXPECT_EQ(12, after.numFiles);
    EXPECT_EQ(262144, after.allocatedSpaceKB);
    EXPECT_TRUE(SameGuid(kDatabase, after.dbGuid));
}
