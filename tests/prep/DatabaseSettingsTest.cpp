// DatabaseSettings read through the real registry of the sandbox prefix.
#include "prep/DatabaseSettings.h"
#include "tests/support/TestRegistry.h"

#include <gtest/gtest.h>

namespace {

class DatabaseSettingsTest : public ::testing::Test {
protected:
    DatabaseSettings Read()
    {
        DatabaseSettings settings;
        settings.ReadFromRegistry();
        return settings;
    }
    const std::string keyPath = DatabaseKeyPath();
    testreg::ScopedKey key{keyPath};
};

}  // namespace

TEST_F(DatabaseSettingsTest, WithoutTheKeyEverythingKeepsOrTakesItsDefault)
{
    const DatabaseSettings settings = Read();
    EXPECT_EQ("\\", settings.ImagePath);
    EXPECT_EQ("\\", settings.IndexPath);
    EXPECT_EQ("C:\\", settings.RestorePath);
    EXPECT_EQ("\\", settings.AlarmPath);
    EXPECT_EQ("C:\\", settings.PreAlarmPath);
    EXPECT_EQ("C:\\", settings.SelArchivePath);
    EXPECT_EQ(20, settings.FileSizeMB);
    EXPECT_EQ(100u, settings.PreAlarmSize);  // not the constructor's 10
    EXPECT_EQ(18874368, settings.FileThresholdBytes);
    EXPECT_EQ(10u, DatabaseSettings().PreAlarmSize);
}

TEST_F(DatabaseSettingsTest, PathsAreTakenAsStored)
{
    const char* names[] = {"ImagePath", "IndexPath", "RestorePath", "AlarmPath", "PreAlarmPath", "SelArchivePath"};
    for (const char* name : names)
        ASSERT_EQ(0, testreg::SetString(keyPath.c_str(), name, std::string("\\") + name + "\\"));
    const DatabaseSettings settings = Read();
    EXPECT_EQ("\\ImagePath\\", settings.ImagePath);
    EXPECT_EQ("\\IndexPath\\", settings.IndexPath);
    EXPECT_EQ("\\RestorePath\\", settings.RestorePath);
    EXPECT_EQ("\\AlarmPath\\", settings.AlarmPath);
    EXPECT_EQ("\\PreAlarmPath\\", settings.PreAlarmPath);
    EXPECT_EQ("\\SelArchivePath\\", settings.SelArchivePath);
}

TEST_F(DatabaseSettingsTest, AStringTooLongForItsBufferKeepsTheDefault)
{
    const std::string fits = "D:\\" + std::string(251, 'a') + "\\";  // 255 characters and the terminator
    const std::string tooLong = fits + "b";
    ASSERT_EQ(0, testreg::SetString(keyPath.c_str(), "RestorePath", fits));
    ASSERT_EQ(0, testreg::SetString(keyPath.c_str(), "PreAlarmPath", tooLong));
    const DatabaseSettings settings = Read();
    EXPECT_EQ(fits, settings.RestorePath);
    EXPECT_EQ("C:\\", settings.PreAlarmPath);
}

TEST_F(DatabaseSettingsTest, PreAlarmSizeIsClampedAsAnUnsignedNumber)
{
    const struct {
        DWORD stored;
        std::uint32_t read;
    } cases[] = {{0, 2}, {1, 2}, {2, 2}, {10, 10}, {150, 150}, {151, 150}, {0x7FFFFFFF, 150}, {0xFFFFFFFF, 150}};
    for (const auto& c : cases) {
        ASSERT_EQ(0, testreg::SetDword(keyPath.c_str(), "PreAlarmSize", c.stored));
        EXPECT_EQ(c.read, Read().PreAlarmSize) << c.stored;
    }
}

TEST_F(DatabaseSettingsTest, ThresholdOutsideNinetyToNinetyEightIsNinetyPercent)
{
    const struct {
        DWORD stored;
        std::int32_t bytes;
    } cases[] = {{0, 18874368},        {89, 18874368}, {90, 18874368}, {95, 19922944},
                 {98, 20552089},       {99, 18874368}, {0xFFFFFFFF, 18874368}};
    for (const auto& c : cases) {
        ASSERT_EQ(0, testreg::SetDword(keyPath.c_str(), "Threshhold", c.stored));
        EXPECT_EQ(c.bytes, Read().FileThresholdBytes) << c.stored;
    }
    // Only the double-h spelling is read.
    testreg::DeleteKeyTree(keyPath.c_str());
    ASSERT_EQ(0, testreg::SetDword(keyPath.c_str(), "Threshold", 95));
    EXPECT_EQ(18874368, Read().FileThresholdBytes);
}
