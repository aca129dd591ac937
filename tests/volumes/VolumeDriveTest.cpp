// The wipe and initialisation on real drives: E: and F: are empty fixed
// drives, fresh for every case.
#include "tests/support/TestFiles.h"
#include "volumes/PlatformFile.h"
#include "volumes/VolumeHandler.h"
#include "volumes/VolumeInfoFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <tuple>
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

// Files and directories below a directory, as "dir\" and "dir\file" (and their attributes), sorted.
Names Tree(const std::string& directory, bool attributes = false)
{
    Names found;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(directory + "\\"))
        found.push_back(entry.path().string().substr(directory.size() + 1) + (entry.is_directory() ? "\\" : "") +
                        (attributes ? " " + std::to_string(::GetFileAttributesW(entry.path().c_str())) : ""));
    std::sort(found.begin(), found.end());
    return found;
}

}  // namespace

TEST(VolumeDrives, AWipeAndAnInitializationLeaveWhatTheyMust)
{
    VolumeHandler handler{DatabaseSettings(), GUID{}};
    // Missing directories and drives: nothing counted, nothing deleted.
    std::int32_t counter = 10;
    std::uint64_t bytes = 0;
    for (const char* missing : {"F:\\missing", "Q:\\"})
        EXPECT_FALSE(handler.CountFiles(missing, bytes) != -1 || handler.DeleteVolumeContents(missing, counter));
    EXPECT_EQ(10, counter);

    // A root with only what every volume may hold, in any letter case, is blank to the probe.
    for (const char* path : {"E:\\system volume INFORMATION\\", "E:\\Recycled\\", "E:\\volumeinfoold.XML",
                             "E:\\VOLUMEINFO.xml", "E:\\VolumeInfo.xml.bak"}) {
        Make(path);
        bool data = !std::string(path).ends_with(".bak");  // the opposite of what is expected
        EXPECT_TRUE(VolumeHandler::ProbeVolumeRoot("E:", data) && data == std::string(path).ends_with(".bak")) << path;
    }

    // Dot directories and System Volume Information survive, read-only
    // files below them keep their attribute; everything else goes, even
    // read-only, hidden and system files at any depth (Wine keeps no
    // read-only attribute on a directory); the counter adds what went.
    for (const char* path : {"F:\\.cache\\", "F:\\System Volume Information\\", "F:\\Data\\", "F:\\Data\\Day 1\\",
                             "F:\\Data\\.cache", "F:\\.hidden-file"})  // F:\Data\.cache is a file
        Make(path);
    Make("F:\\.cache\\inside.bin", FILE_ATTRIBUTE_READONLY);
    Make("F:\\System Volume Information\\tracking.log", FILE_ATTRIBUTE_READONLY);
    Make("F:\\Data\\Day 1\\IMG00002.dat", FILE_ATTRIBUTE_READONLY);
    Make("F:\\Data\\Day 1\\KEY00002.dat", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    Make("F:\\desktop.ini", FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_HIDDEN);
    Make("F:\\Data\\Day 1\\Thumbs.db", FILE_ATTRIBUTE_SYSTEM);
    // What would stop the deletion stops the wipe at its look, before anything is deleted; no look changes
    // anything. The deletion clears read-only attributes itself.
    const std::tuple<const char*, const char*, DWORD> refusals[] = {
        {"F:\\Data", "cannot be removed", ERROR_DIR_NOT_EMPTY},  // it keeps what the wipe leaves
        {"F:\\Data\\Day 1", "cannot be removed", ERROR_SHARING_VIOLATION},  // held without delete sharing
        {"F:\\Data\\Day 1\\KEY00002.dat", "cannot be deleted", ERROR_SHARING_VIOLATION}};
    Make("F:\\Data\\System Volume Information\\");
    for (const auto& [blocker, failure, code] : refusals) {
        const Names before = Tree("F:", true);
        win32::UniqueFileHandle held;
        if (code == ERROR_SHARING_VIOLATION)
            held.reset(::CreateFileA(blocker, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        FailureCause cause;
        EXPECT_EQ(-1, handler.CountFiles("F:", bytes, &cause)) << blocker;
        EXPECT_EQ(std::string(blocker) + " " + failure + ": " + SystemMessage(code), CauseLine(cause));
        EXPECT_EQ(before, Tree("F:", true));
        ::RemoveDirectoryA("F:\\Data\\System Volume Information");
    }
    const Names before = Tree("F:", true);
    EXPECT_EQ(6, handler.CountFiles("F:", bytes));
    EXPECT_EQ(before, Tree("F:", true));
    EXPECT_TRUE(handler.DeleteVolumeContents("F:\\", counter));
    EXPECT_EQ(16, counter);
    EXPECT_EQ((Names{".cache\\", ".cache\\inside.bin", "System Volume Information\\",
                     "System Volume Information\\tracking.log"}),
              Tree("F:"));
    EXPECT_TRUE(::GetFileAttributesA("F:\\System Volume Information\\tracking.log") & FILE_ATTRIBUTE_READONLY);

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

TEST(VolumeDrives, ADescriptionThatCannotBeWrittenLeavesNoVolumeAndPutsTheOthersBack)
{
    VolumeHandler handler{DatabaseSettings(), GUID{1, 2, 3, {4}}};
    handler.Settings.AlarmPath = "\\Alarm";
    handler.Settings.IndexPath = "\\Index";
    handler.Settings.ImagePath = "\\Images";
    VolumeRecord entry;
    entry.status = VolumeStatus::Blank;
    for (const char* path : {"E:", "F:"}) {
        entry.path = path;
        handler.AppendVolume(entry);
    }
    ASSERT_EQ(1, handler.InitializeVolume(0, 262144));
    std::string path;
    ASSERT_TRUE(handler.GetVolumePath(1, path) && path == "F:");

    // F: of 5 TiB becomes three subvolumes; the second one's description
    // meets a full disk.
    const auto query = VolumeHandler::TotalSpaceQuery;
    VolumeHandler::TotalSpaceQuery = [](const char*, std::uint64_t& kb) { return (kb = 5ull << 30) != 0; };
    PlatformFile::SetFaultHook([](FileStep step, const std::string& file) {
        if (step == FileStep::Write && file == "F:\\Vol2\\VolumeInfo.xml")
            throw PlatformFileError(ERROR_DISK_FULL, "WriteFile", file);
    });
    std::vector<std::string> made;
    FailureCause cause;
    EXPECT_EQ(0, handler.InitializeVolume(1, 0x7FFFFFFF, made, &cause));
    PlatformFile::SetFaultHook(nullptr);
    VolumeHandler::TotalSpaceQuery = query;

    EXPECT_EQ("F:\\Vol2\\VolumeInfo.xml cannot be written: " + SystemMessage(ERROR_DISK_FULL) +
                  " Everything on F: was deleted; it is not a volume of the database.",
              CauseLine(cause));
    EXPECT_TRUE(made.empty());
    EXPECT_EQ((std::vector<std::int32_t>{1, 1, 2}),
              (std::vector<std::int32_t>{handler.ActiveVolumeCount, handler.GetActiveVolumeCount(), handler.GetVolumeCount()}));
    EXPECT_EQ(VolumeStatus::Blank, handler.GetVolumeStatus(1));
    // E: was rewritten as one of four volumes, then put back as the only one.
    const auto fields = [](const char* volume, const char* name) {
        VolumeRecord record;
        EXPECT_TRUE(ReadVolumeInfoFile(record, std::string(volume) + "\\" + name)) << volume << name;
        return std::vector<std::int32_t>{record.activeVolumes, record.position, record.startFile, record.recordFile,
                                         static_cast<std::int32_t>(record.dbGuid.Data1)};
    };
    EXPECT_EQ((std::vector<std::int32_t>{4, 0, 0, 0, 1}), fields("E:", "VolumeInfoOld.xml"));
    EXPECT_EQ((std::vector<std::int32_t>{1, 0, 0, 0, 1}), fields("E:", "VolumeInfo.xml"));
    // F:'s subvolumes name no database, and the database's directories are gone.
    EXPECT_EQ(0, fields("F:\\Vol1", "VolumeInfo.xml")[4]);
    EXPECT_FALSE(testfiles::Exists("F:\\Vol1\\Images") || testfiles::Exists("F:\\Vol3\\Alarm"));
    EXPECT_EQ(0u, testfiles::ReadAll("F:\\VolumeInfo.xml").find("<SubVolumes>"));
}
