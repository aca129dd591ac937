// The recorder's settings read through the sandbox registry, and its
// directories cleared in a scratch directory, on C: and on the root of the
// fixed drive E:.
#include "prep/DatabaseSettings.h"
#include "prep/DirectoryClearing.h"
#include "tests/support/RecordingRunLog.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestRegistry.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using Reports = std::vector<std::string>;

DatabaseSettings Read()
{
    DatabaseSettings settings;
    settings.ReadFromRegistry();
    return settings;
}

std::string Paths(const DatabaseSettings& s)
{
    return s.ImagePath + "|" + s.IndexPath + "|" + s.RestorePath + "|" + s.AlarmPath + "|" + s.PreAlarmPath + "|" +
           s.SelArchivePath;
}

void MakeTree(const std::string& root)
{
    for (const char* directory : {"\\cam01", "\\cam01\\day1", "\\empty"})
        ::CreateDirectoryA((root + directory).c_str(), nullptr);
    for (const char* file : {"\\top.jpg", "\\cam01\\a.jpg", "\\cam01\\day1\\b.jpg"})
        testfiles::WriteAll(root + file, file);
}

// The entries of a directory's listing, "." and ".." included; sorted, or
// in the order of the listing.
Reports Listed(const std::string& directory, bool sorted = true)
{
    Reports listed;
    WIN32_FIND_DATAA entry;
    const win32::UniqueFindHandle find(::FindFirstFileA((directory + "\\*.*").c_str(), &entry));
    for (bool more = find.valid(); more; more = ::FindNextFileA(find.get(), &entry) != FALSE)
        listed.push_back(entry.cFileName);
    if (sorted)
        std::sort(listed.begin(), listed.end());
    return listed;
}

}  // namespace

TEST(DatabaseSettings, ValuesAsStoredWithinTheirLimitsElseTheirDefaults)
{
    const std::string key = DatabaseKeyPath();
    testreg::ScopedKey scoped{key};
    const DatabaseSettings defaults = Read();  // without the key
    EXPECT_EQ("\\|\\|C:\\|\\|C:\\|C:\\", Paths(defaults));
    EXPECT_EQ(20, defaults.FileSizeMB);
    EXPECT_EQ(100u, defaults.PreAlarmSize);  // not the constructor's 10
    EXPECT_EQ(18874368, defaults.FileThresholdBytes);

    // Paths are taken as stored, up to 255 characters; a longer one keeps its default.
    const std::string fits = "D:\\" + std::string(251, 'a') + "\\";
    for (const char* name : {"ImagePath", "IndexPath", "AlarmPath", "SelArchivePath"})
        ASSERT_EQ(0, testreg::SetString(key.c_str(), name, std::string("\\") + name + "\\"));
    ASSERT_EQ(0, testreg::SetString(key.c_str(), "RestorePath", fits));
    ASSERT_EQ(0, testreg::SetString(key.c_str(), "PreAlarmPath", fits + "b"));
    EXPECT_EQ("\\ImagePath\\|\\IndexPath\\|" + fits + "|\\AlarmPath\\|C:\\|\\SelArchivePath\\", Paths(Read()));

    // The pre-alarm size is clamped to 2..150 as an unsigned number; a
    // threshold outside 90..98 percent is 90 percent.
    const struct {
        DWORD stored;
        std::uint32_t preAlarm;
        std::int32_t thresholdBytes;
    } cases[] = {{0, 2, 18874368},   {2, 2, 18874368},     {89, 89, 18874368},         {90, 90, 18874368},
                 {95, 95, 19922944}, {98, 98, 20552089},   {99, 99, 18874368},         {151, 150, 18874368},
                 {0xFFFFFFFF, 150, 18874368}};
    for (const auto& c : cases) {
        ASSERT_EQ(0, testreg::SetDword(key.c_str(), "PreAlarmSize", c.stored));
        ASSERT_EQ(0, testreg::SetDword(key.c_str(), "Threshhold", c.stored));
        const DatabaseSettings read = Read();
        EXPECT_EQ(c.preAlarm, read.PreAlarmSize) << c.stored;
        EXPECT_EQ(c.thresholdBytes, read.FileThresholdBytes) << c.stored;
    }
    // Only the double-h spelling is read.
    testreg::DeleteKeyTree(key.c_str());
    ASSERT_EQ(0, testreg::SetDword(key.c_str(), "Threshold", 95));
    EXPECT_EQ(18874368, Read().FileThresholdBytes);
}

TEST(ClearDirectory, EmptiesTheTreeAndReportsWhatStays)
{
    testfiles::ScratchDir dir;
    MakeTree(dir.path());
    RecordingRunLog log;
    ClearDirectory(dir.path() + "\\", log);
    ClearDirectory(dir.path() + "\\", log);  // only "." and "..": nothing to do, nothing to say
    ClearDirectory(dir / "missing\\", log);  // cannot be listed: left alone silently
    EXPECT_EQ(Reports{}, log.reports);
    EXPECT_EQ((Reports{".", ".."}), Listed(dir.path()));

    // A read-only file and each directory above it that could not go
    // because of it are reported; the walk goes on past them.
    MakeTree(dir.path());
    const std::string readOnly = dir / "cam01\\day1\\locked.jpg";
    testfiles::WriteAll(readOnly, "r");
    ASSERT_TRUE(::SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
    ClearDirectory(dir.path() + "\\", log);
    std::sort(log.reports.begin(), log.reports.end());
    const std::string failed = "Error:Failed to delete: ";
    EXPECT_EQ((Reports{failed + dir / "cam01", failed + dir / "cam01\\day1", failed + readOnly}), log.reports);
    EXPECT_EQ((Reports{".", "..", "cam01"}), Listed(dir.path()));
    EXPECT_EQ((Reports{".", "..", "locked.jpg"}), Listed(dir / "cam01\\day1"));
}

TEST(ClearDirectory, NeverEmptiesTheSystemDriveAndPassesOverTheFirstTwoEntriesOfADriveRoot)
{
    testfiles::WriteAll("C:\\mediaprep-canary.txt", "canary");
    RecordingRunLog log;
    for (const char* path : {"C:\\", "C:\\Windows\\", "C:\\Windows", "c:\\", "c:\\windows\\"})
        ClearDirectory(path, log);
    EXPECT_EQ(Reports(5, "Error:Attempting to delete C:\\"), log.reports);
    EXPECT_TRUE(testfiles::Exists("C:\\mediaprep-canary.txt"));
    EXPECT_TRUE(testfiles::Exists("C:\\Windows\\system32"));
    ::DeleteFileA("C:\\mediaprep-canary.txt");

    // The root of a data drive has no "." and ".." entries, yet the first two
    // entries of the listing are passed over all the same.
    ::CreateDirectoryA("E:\\sub", nullptr);
    for (const char* name : {"a.txt", "b.txt", "c.txt", "d.txt", "sub\\e.txt"})
        testfiles::WriteAll(std::string("E:\\") + name, name);
    const Reports listed = Listed("E:", false);
    ASSERT_EQ(5u, listed.size());
    log.reports.clear();
    ClearDirectory("E:\\", log);
    EXPECT_EQ(Reports{}, log.reports);
    EXPECT_EQ(Reports(listed.begin(), listed.begin() + 2), Listed("E:", false));
}
