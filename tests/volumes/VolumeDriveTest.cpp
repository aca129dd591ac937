// The wipe and initialisation on real drives: E: and F: are empty fixed
// drives, fresh for every case.
#include "tests/support/TestFiles.h"
#include "volumes/VolumeHandler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using Names = std::vector<std::string>;

// A directory when the path ends in a backslash, else a file.
void Make(const std::string& path, DWORD attributes = 0)
{
    if (path.back() == '\\')
        ::CreateDirectoryA(path.c_str(), nullptr);
    else
        testfiles::WriteAll(path, "contents of " + path);
    ASSERT_TRUE(!attributes || ::SetFileAttributesA(path.c_str(), attributes)) << path;
}

bool ReadOnly(const std::string& path) { return (::GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_READONLY) != 0; }

// Files and directories below a directory, as "dir\" and "dir\file", sorted.
Names Tree(const std::string& directory)
{
    Names found;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(directory + "\\"))
        found.push_back(entry.path().string().substr(directory.size() + 1) + (entry.is_directory() ? "\\" : ""));
    std::sort(found.begin(), found.end());
    return found;
}

}  // namespace

TEST(VolumeDrives, AWipeAndAnInitializationLeaveWhatTheyMust)
{
    VolumeHandler handler{DatabaseSettings(), GUID{}};
    // Missing directories and drives: nothing counted, nothing deleted.
    std::int32_t counter = 10;
    for (const char* missing : {"F:\\missing", "Q:\\"}) {
        EXPECT_EQ(-1, handler.CountAndUnprotectFiles(missing));
        EXPECT_FALSE(handler.DeleteVolumeContents(missing, counter));
    }
    EXPECT_EQ(10, counter);

    // Dot directories and System Volume Information survive, read-only
    // files below them keep their attribute; everything else goes, even
    // read-only and hidden; the counter adds what was deleted.
    for (const char* path : {"F:\\.cache\\", "F:\\System Volume Information\\", "F:\\Data\\", "F:\\Data\\Day 1\\",
                             "F:\\Data\\.cache", "F:\\.hidden-file"})  // F:\Data\.cache is a file
        Make(path);
    Make("F:\\.cache\\inside.bin", FILE_ATTRIBUTE_READONLY);
    Make("F:\\System Volume Information\\tracking.log", FILE_ATTRIBUTE_READONLY);
    Make("F:\\Data\\Day 1\\IMG00002.dat", FILE_ATTRIBUTE_READONLY);
    Make("F:\\Data\\Day 1\\KEY00002.dat", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(4, handler.CountAndUnprotectFiles("F:"));
    EXPECT_FALSE(ReadOnly("F:\\Data\\Day 1\\KEY00002.dat"));
    EXPECT_TRUE(ReadOnly("F:\\.cache\\inside.bin"));
    ::SetFileAttributesA("F:\\Data\\Day 1\\IMG00002.dat", FILE_ATTRIBUTE_READONLY);  // the deletion clears it itself
    EXPECT_TRUE(handler.DeleteVolumeContents("F:\\", counter));
    EXPECT_EQ(14, counter);
    EXPECT_EQ((Names{".cache\\", ".cache\\inside.bin", "System Volume Information\\",
                     "System Volume Information\\tracking.log"}),
              Tree("F:"));
    EXPECT_TRUE(ReadOnly("F:\\System Volume Information\\tracking.log"));

    // Initialization refuses what it must not wipe.
    testfiles::WriteAll("E:\\keep.txt", "recording");
    testfiles::WriteAll("C:\\mediaprep-keep.txt", "system");
    VolumeRecord entry;
    entry.path = "E:";
    for (VolumeStatus status : {VolumeStatus::Active, VolumeStatus::Missing, VolumeStatus::Failed}) {
        entry.status = status;
        handler.AppendVolume(entry);
    }
    entry.path = "C:";
    entry.status = VolumeStatus::Foreign;
    const std::int32_t systemIndex = handler.AppendVolume(entry);
    for (std::int32_t index = -1; index <= handler.GetVolumeCount(); ++index)
        EXPECT_EQ(0, handler.InitializeVolume(index, 262144)) << index;
    EXPECT_EQ("recording", testfiles::ReadAll("E:\\keep.txt"));
    EXPECT_EQ("system", testfiles::ReadAll("C:\\mediaprep-keep.txt"));
    EXPECT_EQ(0, handler.ActiveVolumeCount);
    EXPECT_EQ(VolumeStatus::Foreign, handler.GetVolumeStatus(systemIndex));
    ::DeleteFileA("C:\\mediaprep-keep.txt");

    // A 5 TiB drive whose second subvolume fails (its alarm directory is the first one's) fails whole; its
    // root is described as subvolumes first, so that a run prepares it again.
    const auto query = VolumeHandler::TotalSpaceQuery;
    VolumeHandler::TotalSpaceQuery = [](const char*, std::uint64_t& kb) { return (kb = 5ull << 30) != 0; };
    handler.Settings.AlarmPath = "\\..\\.alarm";
    handler.Settings.IndexPath = "\\Index";
    handler.Settings.ImagePath = "\\Images";
    entry.path = "F:";
    const std::int32_t big = handler.AppendVolume(entry);
    EXPECT_EQ(0, handler.InitializeVolume(big, 0x7FFFFFFF));
    VolumeHandler::TotalSpaceQuery = query;
    EXPECT_TRUE(handler.ActiveVolumeCount == 0 && handler.GetVolumeStatus(big) == VolumeStatus::Foreign);
    EXPECT_EQ(0u, testfiles::ReadAll("F:\\VolumeInfo.xml").find("<SubVolumes>\r\n<SubVolume>\\Vol1<"));
    EXPECT_TRUE(testfiles::Exists("F:\\Vol1\\Images") && testfiles::Exists("F:\\Vol2") &&
                !testfiles::Exists("F:\\Vol1\\VolumeInfo.xml"));
}

TEST(VolumeDrives, WhatWouldStopTheDeletionStopsTheWipeBeforeItDeletesAnything)
{
    VolumeHandler handler{DatabaseSettings(), GUID{}};
    for (const char* path : {"E:\\Data\\", "E:\\Data\\Day 1\\", "E:\\Kept\\"})
        Make(path);
    Make("E:\\Data\\Day 1\\IMG00002.dat", FILE_ATTRIBUTE_READONLY);
    Make("E:\\Data\\Day 1\\KEY00002.dat", FILE_ATTRIBUTE_READONLY);
    Make("E:\\a.txt", FILE_ATTRIBUTE_READONLY);
    const struct {
        const char* held;  // opened without delete sharing meanwhile
        const char* blocker;
        const char* failure;
        DWORD code;
    } cases[] = {
        {nullptr, "E:\\Kept", "cannot be removed", ERROR_DIR_NOT_EMPTY},  // keeps what the wipe leaves
        {"E:\\Data\\Day 1\\KEY00002.dat", "E:\\Data\\Day 1\\KEY00002.dat", "cannot be deleted", ERROR_SHARING_VIOLATION},
        {"E:\\Data\\Day 1", "E:\\Data\\Day 1", "cannot be removed", ERROR_SHARING_VIOLATION},
    };
    for (const auto& c : cases) {
        if (c.held)
            ::RemoveDirectoryA("E:\\Kept\\System Volume Information");
        else
            Make("E:\\Kept\\System Volume Information\\");
        const Names before = Tree("E:");
        win32::UniqueFileHandle held;
        if (c.held)
            held.reset(::CreateFileA(c.held, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        FailureCause cause;
        std::uint64_t bytes = 0;
        EXPECT_EQ(-1, handler.CountFiles("E:", bytes, &cause)) << c.blocker;
        EXPECT_EQ(-1, handler.CountAndUnprotectFiles("E:", &cause)) << c.blocker;
        EXPECT_EQ((std::vector<std::string>{c.blocker, c.failure}), (std::vector<std::string>{cause.path, cause.failure}));
        EXPECT_EQ(c.code, cause.code) << c.blocker;
        EXPECT_EQ(before, Tree("E:"));
    }
    // Held only once the count has passed: the deletion stops there.
    const win32::UniqueFileHandle held(
        ::CreateFileA(cases[1].held, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    std::int32_t deleted = 0;
    FailureCause cause;
    EXPECT_FALSE(handler.DeleteVolumeContents("E:", deleted, &cause));
    EXPECT_EQ((std::vector<std::string>{cases[1].blocker, "cannot be deleted"}),
              (std::vector<std::string>{cause.path, cause.failure}));
    EXPECT_EQ(DWORD{ERROR_SHARING_VIOLATION}, cause.code);
}
