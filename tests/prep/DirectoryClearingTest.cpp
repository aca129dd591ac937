// Clearing and creating the recorder's directories, in a scratch directory,
// on C: and on the root of the fixed drive E:.
#include "prep/DirectoryClearing.h"
#include "prep/RunPreparation.h"
#include "tests/support/RecordingRunLog.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using Reports = std::vector<std::string>;

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

TEST(ClearDirectory, EmptiesTheTreeReportsWhatStaysAndCreatesWhatIsMissing)
{
    testfiles::ScratchDir dir;
    MakeTree(dir.path());
    RecordingRunLog log;
    ClearDirectory(dir.path() + "\\", log);
    ClearDirectory(dir.path() + "\\", log);  // only "." and "..": nothing to do, nothing to say
    ClearDirectory(dir / "missing\\", log);  // cannot be listed: left alone silently
    EXPECT_EQ(Reports{}, log.reports);
    EXPECT_EQ((Reports{".", ".."}), Listed(dir.path()));

    // A read-only file, each directory above it that could not go because of
    // it, and a held file are reported; the walk goes on past them.
    MakeTree(dir.path());
    const std::string readOnly = dir / "cam01\\day1\\locked.jpg", held = dir / "held.jpg";
    testfiles::WriteAll(readOnly, "r");
    testfiles::WriteAll(held, "h");
    ASSERT_TRUE(::SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
    {
        const win32::UniqueFileHandle holder(
            ::CreateFileA(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(holder.valid());
        ClearDirectory(dir.path() + "\\", log);
    }
    std::sort(log.reports.begin(), log.reports.end());
    const std::string failed = "Error:Failed to delete: ";
    EXPECT_EQ((Reports{failed + dir / "cam01", failed + dir / "cam01\\day1", failed + readOnly, failed + held}),
              log.reports);
    EXPECT_EQ((Reports{".", "..", "cam01", "held.jpg"}), Listed(dir.path()));
    EXPECT_EQ((Reports{".", "..", "locked.jpg"}), Listed(dir / "cam01\\day1"));

    // Only the last component is created; an existing directory is cleared.
    log.reports.clear();
    EXPECT_TRUE(CreateIndexDirectory(dir / "PreAlarm\\", log));
    EXPECT_FALSE(CreateIndexDirectory(dir / "PreAlarm\\", log));      // exists
    EXPECT_FALSE(CreateIndexDirectory(dir / "a\\b\\Restore\\", log));  // parent missing
    MakeTree(dir / "PreAlarm");
    PrepareIndexDirectory(dir / "PreAlarm\\", log);
    PrepareIndexDirectory(dir / "Restore\\", log);
    PrepareIndexDirectory("", log);
    EXPECT_EQ((Reports{".", ".."}), Listed(dir / "PreAlarm"));
    EXPECT_EQ((Reports{".", ".."}), Listed(dir / "Restore"));
    const std::string failed2 = "Error:Failed attempting to create: ";
    EXPECT_EQ((Reports{failed2 + dir / "PreAlarm\\", failed2 + dir / "a\\b\\Restore\\", failed2}), log.reports);
}

TEST(ClearDirectory, NeverEmptiesTheSystemDriveAndPassesOverTheFirstTwoEntriesOfADriveRoot)
{
    testfiles::WriteAll("C:\\mediaprep-canary.txt", "canary");
    RecordingRunLog log;
    for (const char* path : {"C:\\", "C:\\Windows\\", "C:\\Windows", "c:\\", "c:\\windows\\"})
        ClearDirectory(path, log);
    PrepareIndexDirectory("C:\\", log);
    EXPECT_EQ(Reports(6, "Error:Attempting to delete C:\\"), log.reports);
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
