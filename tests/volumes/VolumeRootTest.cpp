// Probe and wipe on real drives: E: and F: are empty fixed drives, G: an
// empty read-only one, fresh for every case.
#include "recorderlibs/DbgLogger.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestProcess.h"
#include "tests/support/TestRegistry.h"
#include "volumes/VolumeHandler.h"
#include "volumes/VolumeRoot.h"
#include "volumes/WidePath.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace {

void MakeDir(const std::string& path)
{
    ASSERT_TRUE(::CreateDirectoryA(path.c_str(), nullptr)) << path << " error " << ::GetLastError();
}

void MakeFile(const std::string& path, DWORD attributes = 0)
{
    testfiles::WriteAll(path, "contents of " + path);
    ASSERT_TRUE(testfiles::Exists(path)) << path;
    if (attributes) {
        ASSERT_TRUE(::SetFileAttributesA(path.c_str(), attributes));
    }
}

bool ReadOnly(const std::string& path)
{
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
}

// Files and directories below a directory, as "dir\" and "dir\file".
void Walk(const std::string& directory, const std::string& prefix, std::vector<std::string>& found)
{
    WIN32_FIND_DATAA entry;
    const win32::UniqueFindHandle find(::FindFirstFileA((directory + "\\*").c_str(), &entry));
    if (!find)
        return;
    do {
        const std::string name = entry.cFileName;
        if (name == "." || name == "..")
            continue;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            found.push_back(prefix + name + "\\");
            Walk(directory + "\\" + name, prefix + name + "\\", found);
        } else {
            found.push_back(prefix + name);
        }
    } while (::FindNextFileA(find.get(), &entry));
}

std::vector<std::string> Tree(const std::string& directory)
{
    std::vector<std::string> found;
    Walk(directory, "", found);
    std::sort(found.begin(), found.end());
    return found;
}

using Names = std::vector<std::string>;

class VolumeRootTest : public ::testing::Test {
protected:
    VolumeHandler handler{DatabaseSettings(), GUID{}};
};

}  // namespace

TEST_F(VolumeRootTest, ProbeIgnoresDescriptionsAndSystemNamesInAnyCase)
{
    MakeFile("E:\\volumeinfo.XML");
    MakeFile("E:\\VOLUMEINFOOLD.xml");
    MakeDir("E:\\Recycled");
    MakeDir("E:\\SYSTEM volume INFORMATION");
    bool other = true;
    EXPECT_TRUE(VolumeHandler::ProbeVolumeRoot("E:", other));
    EXPECT_FALSE(other);
    EXPECT_FALSE(testfiles::Exists("E:\\testfile.tmp"));

    // Anything else, file or directory, at the root only.
    MakeDir("E:\\Recycled\\inside");
    EXPECT_TRUE(VolumeHandler::ProbeVolumeRoot("E:\\", other));
    EXPECT_FALSE(other);
    for (const char* extra : {"E:\\a.txt", "E:\\VolumeInfo.xml.bak", "E:\\MASTER.NDX"}) {
        MakeFile(extra);
        EXPECT_TRUE(VolumeHandler::ProbeVolumeRoot("E:", other));
        EXPECT_TRUE(other) << extra;
        ::DeleteFileA(extra);
    }
    MakeDir("E:\\Images");
    EXPECT_TRUE(VolumeHandler::ProbeVolumeRoot("E:", other));
    EXPECT_TRUE(other);

    // An empty root is writable and holds nothing.
    EXPECT_TRUE(VolumeHandler::ProbeVolumeRoot("F:", other));
    EXPECT_FALSE(other);
    EXPECT_EQ(Names{}, Tree("F:"));
}

TEST_F(VolumeRootTest, AReadOnlyDriveIsNotWritableAndHasNothingToWipe)
{
    bool other = true;
    EXPECT_FALSE(VolumeHandler::ProbeVolumeRoot("G:", other));
    EXPECT_FALSE(other);
    EXPECT_FALSE(VolumeHandler::ProbeVolumeRoot("Q:", other));  // no such drive
    EXPECT_FALSE(other);

    // An empty root lists no entries at all (not even "." and ".."): that is
    // an empty drive, not one that cannot be listed.
    EXPECT_EQ(0, handler.CountAndUnprotectFiles("G:"));
    EXPECT_EQ(0, handler.CountAndUnprotectFiles("E:"));
    std::int32_t counter = 5;
    EXPECT_TRUE(handler.DeleteVolumeContents("E:", counter));
    EXPECT_EQ(5, counter);

    EXPECT_EQ(-1, handler.CountAndUnprotectFiles("E:\\missing"));
    EXPECT_EQ(-1, handler.CountAndUnprotectFiles("Q:"));
    EXPECT_FALSE(handler.DeleteVolumeContents("E:\\missing", counter));
    EXPECT_FALSE(handler.DeleteVolumeContents("Q:\\", counter));
    EXPECT_EQ(5, counter);
}

TEST_F(VolumeRootTest, ReadOnlyFilesInNestedDirectoriesAreUnprotectedCountedAndDeleted)
{
    MakeDir("E:\\Images");
    MakeDir("E:\\Images\\Day 1");
    MakeFile("E:\\Images\\IMG00001.dat", FILE_ATTRIBUTE_READONLY);
    MakeFile("E:\\Images\\Day 1\\IMG00002.dat", FILE_ATTRIBUTE_READONLY);
    MakeFile("E:\\Images\\Day 1\\KEY00002.dat", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    MakeDir("F:\\Other");
    MakeFile("F:\\Other\\kept.txt", FILE_ATTRIBUTE_READONLY);

    EXPECT_EQ(3, handler.CountAndUnprotectFiles("E:"));
    EXPECT_FALSE(ReadOnly("E:\\Images\\IMG00001.dat"));
    EXPECT_FALSE(ReadOnly("E:\\Images\\Day 1\\IMG00002.dat"));
    EXPECT_FALSE(ReadOnly("E:\\Images\\Day 1\\KEY00002.dat"));

    // Read-only again: the deletion clears the attribute itself.
    ::SetFileAttributesA("E:\\Images\\Day 1\\IMG00002.dat", FILE_ATTRIBUTE_READONLY);
    std::int32_t counter = 10;
    EXPECT_TRUE(handler.DeleteVolumeContents("E:\\", counter));
    EXPECT_EQ(13, counter);
    EXPECT_EQ(Names{}, Tree("E:"));
    EXPECT_TRUE(testfiles::Exists("E:\\"));
    EXPECT_EQ((Names{"Other\\", "Other\\kept.txt"}), Tree("F:"));
    EXPECT_TRUE(ReadOnly("F:\\Other\\kept.txt"));
}

TEST_F(VolumeRootTest, DotDirectoriesAndSystemVolumeInformationAtTheRootSurvive)
{
    MakeDir("E:\\.cache");
    MakeFile("E:\\.cache\\inside.bin", FILE_ATTRIBUTE_READONLY);
    MakeDir("E:\\System Volume Information");
    MakeFile("E:\\System Volume Information\\tracking.log", FILE_ATTRIBUTE_READONLY);
    MakeDir("E:\\Data");
    MakeFile("E:\\Data\\.cache");  // a file, not a directory: counted and deleted
    MakeFile("E:\\.hidden-file");
    MakeFile("E:\\VolumeInfo.xml");

    EXPECT_EQ(3, handler.CountAndUnprotectFiles("E:"));
    EXPECT_TRUE(ReadOnly("E:\\.cache\\inside.bin"));
    EXPECT_TRUE(ReadOnly("E:\\System Volume Information\\tracking.log"));

    std::int32_t counter = 0;
    EXPECT_TRUE(handler.DeleteVolumeContents("E:", counter));
    EXPECT_EQ(3, counter);
    EXPECT_EQ((Names{".cache\\", ".cache\\inside.bin", "System Volume Information\\",
                     "System Volume Information\\tracking.log"}),
              Tree("E:"));
}

TEST_F(VolumeRootTest, SystemVolumeInformationDeeperDownSurvivesAndFailsItsParentsRemoval)
{
    MakeDir("E:\\Keep");
    MakeDir("E:\\Keep\\system volume information");
    MakeFile("E:\\Keep\\system volume information\\x.dat");
    MakeFile("E:\\Keep\\gone.dat");

    EXPECT_EQ(1, handler.CountAndUnprotectFiles("E:"));
    std::int32_t counter = 0;
    EXPECT_FALSE(handler.DeleteVolumeContents("E:", counter));
    EXPECT_EQ(1, counter);
    EXPECT_EQ((Names{"Keep\\", "Keep\\system volume information\\", "Keep\\system volume information\\x.dat"}),
              Tree("E:"));
}

TEST_F(VolumeRootTest, AFileHeldOpenElsewhereStopsTheDeletionWithFailure)
{
    for (const char* directory : {"E:\\A", "E:\\B", "E:\\C"}) {
        MakeDir(directory);
        for (int i = 0; i < 3; ++i)
            MakeFile(std::string(directory) + "\\IMG" + std::to_string(i) + ".dat");
    }
    testprocess::HeldFile held("E:\\B\\IMG1.dat");
    ASSERT_TRUE(held.held());

    // Its attributes cannot be changed, yet it is counted.
    EXPECT_EQ(9, handler.CountAndUnprotectFiles("E:"));

    std::int32_t counter = 0;
    EXPECT_FALSE(handler.DeleteVolumeContents("E:", counter));
    const Names left = Tree("E:");
    EXPECT_NE(left.end(), std::find(left.begin(), left.end(), "B\\IMG1.dat"));
    EXPECT_NE(left.end(), std::find(left.begin(), left.end(), "B\\"));
    // The counter tells exactly what went.
    const auto files = std::count_if(left.begin(), left.end(), [](const std::string& n) { return n.back() != '\\'; });
    EXPECT_EQ(9 - files, counter);
}

// Where the platform makes real links (Windows; Wine 8 reports success for
// CreateSymbolicLinkA and creates nothing), the wipe removes the link and
// leaves its target alone.
TEST_F(VolumeRootTest, ALinkMadeByThePlatformIsRemovedWithoutItsTarget)
{
    MakeDir("F:\\Target");
    MakeFile("F:\\Target\\kept.dat");
    MakeFile("F:\\kept.dat");
    MakeDir("E:\\Images");
    ::CreateSymbolicLinkA("E:\\Images\\ToTarget", "F:\\Target", SYMBOLIC_LINK_FLAG_DIRECTORY);
    ::CreateSymbolicLinkA("E:\\Images\\ToFile", "F:\\kept.dat", 0);
    if (!testfiles::Exists("E:\\Images\\ToTarget") && !testfiles::Exists("E:\\Images\\ToFile"))
        return;  // no links on this platform: test_wipe.py covers host links

    handler.CountAndUnprotectFiles("E:");
    std::int32_t counter = 0;
    EXPECT_TRUE(handler.DeleteVolumeContents("E:", counter));
    EXPECT_EQ(Names{}, Tree("E:"));
    EXPECT_EQ((Names{"Target\\", "Target\\kept.dat", "kept.dat"}), Tree("F:"));
}

TEST(WipeEntryDecision, LinksAreNeverEnteredAndNamesDecideOnlyForDirectories)
{
    const DWORD dir = FILE_ATTRIBUTE_DIRECTORY;
    const DWORD link = FILE_ATTRIBUTE_REPARSE_POINT;
    EXPECT_EQ(WipeEntry::Skipped, ClassifyWipeEntry(dir, L"."));
    EXPECT_EQ(WipeEntry::Skipped, ClassifyWipeEntry(dir, L".."));
    EXPECT_EQ(WipeEntry::Skipped, ClassifyWipeEntry(dir, L".cache"));
    EXPECT_EQ(WipeEntry::Skipped, ClassifyWipeEntry(dir | link, L".link"));
    EXPECT_EQ(WipeEntry::Skipped, ClassifyWipeEntry(dir | FILE_ATTRIBUTE_HIDDEN, L"system VOLUME information"));
    EXPECT_EQ(WipeEntry::Directory, ClassifyWipeEntry(dir | FILE_ATTRIBUTE_READONLY, L"Images"));
    EXPECT_EQ(WipeEntry::Link, ClassifyWipeEntry(dir | link, L"Images"));       // junction or directory link
    EXPECT_EQ(WipeEntry::Link, ClassifyWipeEntry(dir | link, L"System Volume")); // a name alone does not protect
    EXPECT_EQ(WipeEntry::Link, ClassifyWipeEntry(FILE_ATTRIBUTE_ARCHIVE | link, L"file.lnk"));
    EXPECT_EQ(WipeEntry::File, ClassifyWipeEntry(FILE_ATTRIBUTE_ARCHIVE, L".cache"));
    EXPECT_EQ(WipeEntry::File, ClassifyWipeEntry(FILE_ATTRIBUTE_NORMAL, L"System Volume Information"));

    EXPECT_TRUE(IsIgnoredByProbe("."));
    EXPECT_TRUE(IsIgnoredByProbe("recycled"));
    EXPECT_TRUE(IsIgnoredByProbe("volumeinfoold.XML"));
    EXPECT_FALSE(IsIgnoredByProbe("..."));
    EXPECT_FALSE(IsIgnoredByProbe("testfile.tmp"));
    EXPECT_FALSE(IsIgnoredByProbe("RECYCLER"));
}

TEST(VolumeHandlerLog, ActiveCountLineOnlyFromLevelThree)
{
    testreg::ScopedKey key(kDbgLoggerKey);
    testfiles::ScratchDir logs;
    ASSERT_TRUE(DbgLogger::Initialize(logs.path().c_str(), 0, 0));
    VolumeHandler handler{DatabaseSettings(), GUID{}};
    for (VolumeStatus status : {VolumeStatus::Active, VolumeStatus::Blank, VolumeStatus::Active}) {
        VolumeRecord record;
        record.status = status;
        handler.AppendVolume(record);
    }
    const std::string file = DbgLogger::GetLogFilePath("Mediaprep");

    ASSERT_EQ(0, testreg::SetDword(kDbgLoggerKey, "Mediaprep", 2));
    handler.LogActiveVolumes("Volume E: initialized.");
    EXPECT_EQ("", testfiles::ReadAll(file));

    ASSERT_EQ(0, testreg::SetDword(kDbgLoggerKey, "Mediaprep", 3));
    handler.LogActiveVolumes("Volume E: initialized.");
    const std::string text = testfiles::ReadAll(file);
    DbgLogger::Shutdown();
    const std::string line = "Active: 2 Volume E: initialized.\r\n";
    ASSERT_GE(text.size(), line.size());
    EXPECT_EQ(line, text.substr(text.size() - line.size()));
    EXPECT_EQ(1, std::count(text.begin(), text.end(), '\n'));
}

TEST(LongPath, FullPathsTakeTheFormThatPassesEveryNameUntouched)
{
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"E:\\", L"\\\\?\\E:\\"},
        {L"C:\\Kestrix\\PreAlarm\\", L"\\\\?\\C:\\Kestrix\\PreAlarm\\"},
        {L"\\\\server\\share\\x", L"\\\\?\\UNC\\server\\share\\x"},
        {L"\\\\?\\E:\\x", L"\\\\?\\E:\\x"},
        {L"\\\\.\\E:", L"\\\\.\\E:"},
    };
    for (const auto& [full, expected] : cases)
        EXPECT_EQ(std::wstring(expected), LongPathForm(full));

    // A drive path names the drive's root.
    std::wstring path;
    ASSERT_TRUE(LongPathOf("E:", path));
    EXPECT_EQ(L"\\\\?\\E:\\", path);
    EXPECT_FALSE(LongPathOf("", path));
}
