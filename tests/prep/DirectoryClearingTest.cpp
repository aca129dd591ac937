#include "prep/DirectoryClearing.h"
#include "prep/RunPreparation.h"
#include "tests/support/RecordingRunLog.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

using Reports = std::vector<std::string>;

void MakeFile(const std::string& path)
{
    std::ofstream(path) << path;
}

void MakeTree(const std::string& root)
{
    ::CreateDirectoryA((root + "\\cam01").c_str(), nullptr);
    ::CreateDirectoryA((root + "\\cam01\\day1").c_str(), nullptr);
    ::CreateDirectoryA((root + "\\empty").c_str(), nullptr);
    MakeFile(root + "\\top.jpg");
    MakeFile(root + "\\cam01\\a.jpg");
    MakeFile(root + "\\cam01\\day1\\b.jpg");
}

bool IsEmptyDirectory(const std::string& path)
{
    WIN32_FIND_DATAA entry;
    HANDLE find = ::FindFirstFileA((path + "\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE)
        return false;
    bool empty = true;
    do
        empty = empty && (std::string(entry.cFileName) == "." || std::string(entry.cFileName) == "..");
    while (::FindNextFileA(find, &entry));
    ::FindClose(find);
    return empty;
}

}  // namespace

TEST(ClearDirectory, RemovesEverythingBelowAndKeepsTheDirectory)
{
    testfiles::ScratchDir dir;
    MakeTree(dir.path());
    RecordingRunLog log;
    ClearDirectory(dir.path() + "\\", log);
    EXPECT_EQ(Reports{}, log.reports);
    EXPECT_TRUE(IsEmptyDirectory(dir.path()));

    // Only "." and "..": nothing to do, nothing to say.
    ClearDirectory(dir.path() + "\\", log);
    EXPECT_EQ(Reports{}, log.reports);
    EXPECT_TRUE(testfiles::Exists(dir.path()));
}

TEST(ClearDirectory, TheSystemDriveAndWindowsDirectoryAreNeverEmptied)
{
    const std::string canary = "C:\\mediaprep-canary.txt";
    MakeFile(canary);
    RecordingRunLog log;
    for (const char* path : {"C:\\", "C:\\Windows\\", "C:\\Windows", "c:\\", "c:\\windows\\"})
        ClearDirectory(path, log);
    EXPECT_EQ(Reports(5, "Error:Attempting to delete C:\\"), log.reports);
    EXPECT_TRUE(testfiles::Exists(canary));
    EXPECT_TRUE(testfiles::Exists("C:\\Windows\\system32"));
    ::DeleteFileA(canary.c_str());
}

TEST(ClearDirectory, FailuresAreReportedAndTheWalkGoesOn)
{
    testfiles::ScratchDir dir;
    MakeTree(dir.path());
    const std::string readOnly = dir / "cam01\\day1\\locked.jpg";
    MakeFile(readOnly);
    ASSERT_TRUE(::SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
    const std::string held = dir / "held.jpg";
    MakeFile(held);
    HANDLE holder = ::CreateFileA(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, holder);

    RecordingRunLog log;
    ClearDirectory(dir.path() + "\\", log);
    ::CloseHandle(holder);

    // The read-only file, then each directory above it that could not be
    // removed because of it; the held file; everything else is gone.
    std::sort(log.reports.begin(), log.reports.end());
    EXPECT_EQ((Reports{"Error:Failed to delete: " + dir / "cam01",
                       "Error:Failed to delete: " + dir / "cam01\\day1",
                       "Error:Failed to delete: " + readOnly,
                       "Error:Failed to delete: " + held}),
              log.reports);
    EXPECT_TRUE(testfiles::Exists(readOnly));
    EXPECT_TRUE(testfiles::Exists(held));
    EXPECT_FALSE(testfiles::Exists(dir / "cam01\\a.jpg"));
    EXPECT_FALSE(testfiles::Exists(dir / "top.jpg"));
    EXPECT_FALSE(testfiles::Exists(dir / "empty"));
}

TEST(ClearDirectory, AnUnlistableDirectoryIsLeftAloneSilently)
{
    testfiles::ScratchDir dir;
    RecordingRunLog log;
    ClearDirectory(dir / "missing\\", log);
    EXPECT_EQ(Reports{}, log.reports);
}

TEST(CreateIndexDirectory, CreatesOnlyTheLastComponent)
{
    testfiles::ScratchDir dir;
    RecordingRunLog log;
    EXPECT_TRUE(CreateIndexDirectory(dir / "PreAlarm\\", log));
    EXPECT_TRUE(testfiles::Exists(dir / "PreAlarm"));
    EXPECT_FALSE(CreateIndexDirectory(dir / "PreAlarm\\", log));      // exists
    EXPECT_FALSE(CreateIndexDirectory(dir / "a\\b\\Restore\\", log));  // parent missing
    EXPECT_EQ((Reports{"Error:Failed attempting to create: " + dir / "PreAlarm\\",
                       "Error:Failed attempting to create: " + dir / "a\\b\\Restore\\"}),
              log.reports);
}

TEST(PrepareIndexDirectory, ClearsWhatExistsAndCreatesWhatDoesNot)
{
    testfiles::ScratchDir dir;
    ::CreateDirectoryA((dir / "PreAlarm").c_str(), nullptr);
    MakeTree(dir / "PreAlarm");
    RecordingRunLog log;
    PrepareIndexDirectory(dir / "PreAlarm\\", log);
    PrepareIndexDirectory(dir / "Restore\\", log);
    PrepareIndexDirectory("C:\\", log);
    PrepareIndexDirectory("", log);
    EXPECT_TRUE(IsEmptyDirectory(dir / "PreAlarm"));
    EXPECT_TRUE(IsEmptyDirectory(dir / "Restore"));
    EXPECT_EQ((Reports{"Error:Attempting to delete C:\\", "Error:Failed attempting to create: "}), log.reports);
}

// The root of a data drive has no "." and ".." entries, yet the first two
// entries of the listing are passed over all the same.
TEST(ClearDirectoryOnADriveRoot, PassesOverTheFirstTwoEntriesOfTheListing)
{
    for (const char* name : {"a.txt", "b.txt", "c.txt", "d.txt"})
        MakeFile(std::string("E:\\") + name);
    ::CreateDirectoryA("E:\\sub", nullptr);
    MakeFile("E:\\sub\\e.txt");

    WIN32_FIND_DATAA entry;
    HANDLE find = ::FindFirstFileA("E:\\*.*", &entry);
    ASSERT_NE(INVALID_HANDLE_VALUE, find);
    Reports listed;
    do
        listed.push_back(entry.cFileName);
    while (::FindNextFileA(find, &entry));
    ::FindClose(find);
    ASSERT_EQ(5u, listed.size());

    RecordingRunLog log;
    ClearDirectory("E:\\", log);
    EXPECT_EQ(Reports{}, log.reports);
    for (size_t i = 0; i < listed.size(); ++i)
        EXPECT_EQ(i < 2, testfiles::Exists("E:\\" + listed[i])) << listed[i];
}
