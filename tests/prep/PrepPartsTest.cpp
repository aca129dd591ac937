// The recorder's settings, what the whole runs leave out of directory clearing, and a stop before the
// first drive (E: is an empty drive of the sandbox).
#include "prep/DatabaseSettings.h"
#include "prep/DirectoryClearing.h"
#include "prep/PreviewReport.h"
#include "prep/RunPreparation.h"
#include "recorderlibs/FailureCause.h"
#include "tests/support/RecordingRunLog.h"
#include "volumes/RunProgress.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestRegistry.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

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

// Stops the run before its release of the database's volumes, or at its first drive.
struct StopBeforeDrives final : RunProgress {
    explicit StopBeforeDrives(bool before) : beforeRelease(before) {}
    void StepBegun(RunStep, const std::string&) override {}
    bool ShowsWipeTotal() const override { return false; }
    void WipePlanned(std::int64_t) override {}
    void FilesCounted(std::int32_t) override {}
    void FilesDeleted(std::int32_t) override {}
    bool StopRequested() override { return beforeRelease; }
    bool DriveBegins(const std::string&) override { return false; }
    void DriveEnded() override {}
    bool beforeRelease;
};

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

    // The pre-alarm size is clamped to 2..150 as an unsigned number; a threshold outside 90..98 percent is 90.
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

TEST(ClearDirectory, ReportsWhatStaysAndWhyAndNeverEntersTheSystemDirectory)
{
    testfiles::ScratchDir dir;
    const std::string readOnly = dir / "cam01\\locked.jpg";
    ::CreateDirectoryA((dir / "cam01").c_str(), nullptr);
    testfiles::WriteAll(readOnly, "r");
    ASSERT_TRUE(::SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
    RecordingRunLog log;
    ClearDirectory(dir.path() + "\\", log);
    ClearDirectory(dir / "missing\\", log);  // cannot be listed: left alone silently
    ClearDirectory("c:\\windows", log);      // without the final backslash, in any case
    const std::string missing = dir / "missing\\Restore\\";
    EXPECT_FALSE(CreateIndexDirectory(missing, log));
    const std::string failed = "Error:Failed to delete: ";
    EXPECT_EQ((std::vector<std::string>{
                  failed + readOnly, "Error:" + readOnly + " cannot be deleted: " + SystemMessage(ERROR_ACCESS_DENIED),
                  failed + dir / "cam01",
                  "Error:" + dir / "cam01" + " cannot be removed: " + SystemMessage(ERROR_DIR_NOT_EMPTY),
                  "Error:Attempting to delete C:\\", "Error:Failed attempting to create: " + missing,
                  "Error:" + missing + " cannot be created: " + SystemMessage(ERROR_PATH_NOT_FOUND)}),
              log.reports);
    EXPECT_TRUE(testfiles::Exists(readOnly));
}

// A stop before the release leaves this database's volumes as they were; after it, the report names those
// that are no volumes any more.
TEST(PrepareDrives, AStopBeforeTheFirstDriveLeavesEveryDriveAndSaysWhich)
{
    const std::string key = DatabaseKeyPath();
    testreg::ScopedKey scoped{key};
    const std::string guid = "{5EC0B2D1-7A44-4E0B-9C3F-1D2E3F405162}";
    ASSERT_EQ(0, testreg::SetString(key.c_str(), "GUID", guid));
    const std::string description = "<VolumeInformation>\r\n<Excluded>0</Excluded>\r\n<Label></Label>\r\n<NumFiles>12"
                                    "</NumFiles>\r\n<FileNumOffset>0</FileNumOffset>\r\n<Position>0</Position>\r\n<VolumeGUID>"
                                    "{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}</VolumeGUID>\r\n<StartFile>-1</StartFile>\r\n"
                                    "<RecordFile>-1</RecordFile>\r\n<DBGUID>" + guid + "</DBGUID>\r\n<ActiveVolumes>1"
                                    "</ActiveVolumes>\r\n<AllocatedSpaceKB>262144</AllocatedSpaceKB>\r\n</VolumeInformation>\r\n";
    for (const bool beforeRelease : {true, false}) {
        testfiles::WriteAll("E:\\VolumeInfo.xml", description);
        StopBeforeDrives progress(beforeRelease);
        RecordingRunLog log;
        EXPECT_TRUE(PrepareDrives(log, &progress));
        const std::string stop = beforeRelease ? ", with the database's volumes left as they were; not prepared: E:"
                                               : "; not prepared: E:. No longer volumes of the database and not prepared either: E:;";
        EXPECT_EQ(0u, log.reports.at(0).rfind("Message: Stopped on request before the first drive" + stop, 0)) << log.reports[0];
        EXPECT_EQ("Message: Data drives found:", log.reports.at(1));
        EXPECT_EQ(beforeRelease, testfiles::ReadAll("E:\\VolumeInfo.xml").find(guid) != std::string::npos);
    }
}

// Why /report leaves a drive out, as the technician reads it; and a recorder without drives.
TEST(PreviewReport, EachDriveLeftOutSaysWhy)
{
    PreviewFacts facts;
    const std::vector<std::string> empty = FormatPreviewReport(facts);
    EXPECT_EQ(1, std::count(empty.begin(), empty.end(), "No drive from D: to Z:."));
    const struct {
        UINT type;
        LeftOutReason reason;
        std::optional<WriteJudgement> judgement;
        const char* head;
        const char* why;
    } cases[] = {
        {DRIVE_CDROM, LeftOutReason::NotDataDrive, {}, "optical", "optical drives are never examined"},
        {DRIVE_RAMDISK, LeftOutReason::NotDataDrive, {}, "RAM disk", "only fixed and network drives are examined"},
        {DRIVE_FIXED, LeftOutReason::Protected, {}, "fixed", "held by the guard: it holds a system file"},
        {DRIVE_REMOTE, LeftOutReason::NotWritable, WriteJudgement::ReadOnlyVolume, "network",
         "not writable: the volume is read-only"},
        {DRIVE_FIXED, LeftOutReason::NotWritable, WriteJudgement::RootFileRefused, "fixed",
         "not writable: a file in its root cannot be opened for writing"},
        {DRIVE_UNKNOWN, LeftOutReason::NoSize, {}, "of unknown type", "no description, and its size cannot be read"},
    };
    for (const auto& c : cases) {
        PreviewDrive drive;
        drive.path = "E:";
        drive.driveType = c.type;
        drive.leftOut = c.reason;
        drive.judgement = c.judgement;
        facts.drives = {drive};
        const std::vector<std::string> lines = FormatPreviewReport(facts);
        const auto head = std::find(lines.begin(), lines.end(), std::string("Drive E: ") + c.head);
        ASSERT_NE(lines.end(), head) << c.why;
        EXPECT_EQ(std::string("  Candidate: no, ") + c.why, *(head + 1));
    }
}
