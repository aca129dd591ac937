#include "recorderlibs/CVkUtility.h"
#include "tests/support/TestFiles.h"
#include "tests/volumes/RecordPrinter.h"
#include "volumes/VolumeHandler.h"
#include "volumes/VolumeInfoFile.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

namespace {

GUID DatabaseId()
{
    GUID guid{};
    guid.Data1 = 0xD0A4E871;
    guid.Data4[7] = 0xF8;
    return guid;
}

class VolumeListTest : public ::testing::Test {
protected:
    // A volume in its own directory of the scratch area, so that its
    // description can be written and read back.
    std::int32_t Add(VolumeStatus status, std::int32_t numFiles, std::int32_t offset = 0)
    {
        const std::string path = dir / ("vol" + std::to_string(handler.Volumes.size()));
        ::CreateDirectoryA(path.c_str(), nullptr);
        VolumeRecord record;
        record.status = status;
        record.numFiles = numFiles;
        record.fileNumOffset = offset;
        record.path = path;
        return handler.AppendVolume(record);
    }

    VolumeRecord Get(std::int32_t index)
    {
        VolumeRecord record;
        EXPECT_EQ(1, handler.GetVolume(index, record));
        return record;
    }

    // What the volume's description on disk says.
    VolumeRecord OnDisk(std::int32_t index)
    {
        VolumeRecord record;
        record.path = Get(index).path;
        EXPECT_TRUE(LoadVolumeInfo(record)) << record.path;
        return record;
    }

    bool Described(std::int32_t index) { return testfiles::Exists(Get(index).path + "\\VolumeInfo.xml"); }

    testfiles::ScratchDir dir;
    VolumeHandler handler{DatabaseSettings(), DatabaseId()};
};

}  // namespace

TEST_F(VolumeListTest, StatusPathAndCountQueriesCoverExactlyTheList)
{
    EXPECT_EQ(0, handler.ActiveVolumeCount);
    EXPECT_EQ(-1, handler.StartVolumeIndex);
    EXPECT_EQ(-1, handler.RecordVolumeIndex);
    EXPECT_TRUE(SameGuid(DatabaseId(), handler.DatabaseGuid));
    EXPECT_EQ(VolumeStatus::NoVolume, handler.GetVolumeStatus(0));

    EXPECT_EQ(0, Add(VolumeStatus::Active, 100));
    EXPECT_EQ(1, Add(VolumeStatus::Foreign, 40));
    EXPECT_EQ(2, Add(VolumeStatus::Active, -1));  // not yet sized: no files to count
    EXPECT_EQ(3, Add(VolumeStatus::Active, 25));

    EXPECT_EQ(VolumeStatus::NoVolume, handler.GetVolumeStatus(-1));
    EXPECT_EQ(VolumeStatus::NoVolume, handler.GetVolumeStatus(4));
    EXPECT_EQ(VolumeStatus::Foreign, handler.GetVolumeStatus(1));
    std::string path = "unchanged";
    EXPECT_FALSE(handler.GetVolumePath(4, path));
    EXPECT_FALSE(handler.GetVolumePath(-1, path));
    EXPECT_EQ("unchanged", path);
    ASSERT_TRUE(handler.GetVolumePath(1, path));
    EXPECT_EQ(dir / "vol1", path);

    VolumeRecord record;
    record.label = "unchanged";
    EXPECT_EQ(0, handler.GetVolume(4, record));
    EXPECT_EQ("unchanged", record.label);
    EXPECT_EQ(1, handler.GetVolume(3, record));
    EXPECT_EQ(25, record.numFiles);

    EXPECT_EQ(3, handler.GetActiveVolumeCount());
    EXPECT_EQ(125, handler.GetTotalFileCount());
}

TEST_F(VolumeListTest, GlobalNumbersRunOverTheActiveVolumesInListOrder)
{
    Add(VolumeStatus::Active, 100);
    Add(VolumeStatus::Blank, 30);       // takes no numbers
    Add(VolumeStatus::Active, 50);
    Add(VolumeStatus::Active, 0);       // a volume with no files takes none either
    Add(VolumeStatus::Active, 5, 10);   // local numbers 10..14
    const std::int32_t total = handler.GetTotalFileCount();
    std::int32_t volume = -1, local = -1, global = -1;
    ASSERT_EQ(155, total);

    const struct {
        std::int32_t global, volume, local;
    } mapped[] = {{0, 0, 0}, {99, 0, 99}, {100, 2, 0}, {149, 2, 49}, {150, 4, 10}, {154, 4, 14}};
    for (const auto& m : mapped) {
        ASSERT_TRUE(handler.GlobalToLocalFile(m.global, volume, local)) << m.global;
        EXPECT_EQ(m.volume, volume) << m.global;
        EXPECT_EQ(m.local, local) << m.global;
    }
    volume = 77;
    local = 77;
    EXPECT_FALSE(handler.GlobalToLocalFile(total, volume, local));
    EXPECT_FALSE(handler.GlobalToLocalFile(-1, volume, local));
    EXPECT_EQ(77, volume);
    EXPECT_EQ(77, local);

    // Every number survives the way there and back; after the highest, the
    // recorder goes on at 0, the first file of the first volume.
    for (std::int32_t g = 0; g < total; ++g) {
        ASSERT_TRUE(handler.GlobalToLocalFile(g, volume, local));
        ASSERT_TRUE(handler.LocalToGlobalFile(global, volume, local));
        ASSERT_EQ(g, global);
    }
    ASSERT_TRUE(handler.GlobalToLocalFile((total - 1 + 1) % total, volume, local));
    EXPECT_EQ(0, volume);
    EXPECT_EQ(0, local);

    global = -5;
    EXPECT_FALSE(handler.LocalToGlobalFile(global, 1, 0));  // Blank
    EXPECT_FALSE(handler.LocalToGlobalFile(global, 5, 0));  // no such volume
    EXPECT_EQ(-5, global);
    ASSERT_TRUE(handler.LocalToGlobalFile(global, 3, 0));
    EXPECT_EQ(150, global);  // where its numbers would begin

    // The offset of a first volume shifts its local numbers.
    VolumeHandler first{DatabaseSettings(), DatabaseId()};
    VolumeRecord record;
    record.status = VolumeStatus::Active;
    record.numFiles = 5;
    record.fileNumOffset = 10;
    first.AppendVolume(record);
    ASSERT_TRUE(first.GlobalToLocalFile(0, volume, local));
    EXPECT_EQ(10, local);
    ASSERT_TRUE(first.LocalToGlobalFile(global, 0, 14));
    EXPECT_EQ(4, global);
}

TEST_F(VolumeListTest, RecordFileClaimMovesAndBothHoldersAreRewritten)
{
    const std::int32_t a = Add(VolumeStatus::Active, 10);
    Add(VolumeStatus::Foreign, 10);
    const std::int32_t b = Add(VolumeStatus::Active, 10, 3);
    const std::int32_t c = Add(VolumeStatus::Active, 10);
    EXPECT_EQ(-1, handler.GetRecordFile());
    EXPECT_EQ(-1, handler.FindRecordFileVolume());

    // No holder remembered yet: the claim is set and written, nothing else.
    ASSERT_TRUE(handler.SetRecordFile(12));
    EXPECT_EQ(5, Get(b).recordFile);
    EXPECT_EQ(5, OnDisk(b).recordFile);
    EXPECT_EQ(-1, Get(b).startFile);
    EXPECT_EQ(-1, handler.RecordVolumeIndex);
    EXPECT_FALSE(Described(a));

    EXPECT_EQ(12, handler.GetRecordFile());
    EXPECT_EQ(b, handler.RecordVolumeIndex);

    // The highest number, then round to 0: the claim travels and the
    // remembered holder gives it up, on disk too.
    ASSERT_TRUE(handler.SetRecordFile(29));
    EXPECT_EQ(9, OnDisk(c).recordFile);
    EXPECT_EQ(-1, Get(b).recordFile);
    EXPECT_EQ(-1, OnDisk(b).recordFile);
    EXPECT_EQ(c, handler.RecordVolumeIndex);
    ASSERT_TRUE(handler.SetRecordFile((29 + 1) % handler.GetTotalFileCount()));
    EXPECT_EQ(0, OnDisk(a).recordFile);
    EXPECT_EQ(-1, OnDisk(c).recordFile);
    EXPECT_EQ(a, handler.FindRecordFileVolume());
    EXPECT_EQ(0, handler.GetRecordFile());

    // A number beyond the files changes nothing.
    EXPECT_FALSE(handler.SetRecordFile(30));
    EXPECT_EQ(0, Get(a).recordFile);
    EXPECT_EQ(a, handler.RecordVolumeIndex);
}

TEST_F(VolumeListTest, StartFileClaimWithoutARememberedHolderLeavesTheOldClaim)
{
    const std::int32_t a = Add(VolumeStatus::Active, 10);
    const std::int32_t blank = Add(VolumeStatus::Blank, 10);
    const std::int32_t b = Add(VolumeStatus::Active, 10);
    {
        std::lock_guard<CriticalSection> lock(handler.HandlerLock);
        handler.Volumes[static_cast<std::size_t>(a)].startFile = 4;
        handler.Volumes[static_cast<std::size_t>(blank)].startFile = 1;  // not Active: never counts
    }
    EXPECT_EQ(a, handler.FindStartFileVolume());

    ASSERT_TRUE(handler.SetStartFile(13));
    EXPECT_EQ(3, OnDisk(b).startFile);
    EXPECT_EQ(-1, OnDisk(b).recordFile);
    EXPECT_EQ(4, Get(a).startFile);  // nobody remembered a to be the holder
    EXPECT_EQ(-1, handler.StartVolumeIndex);
    EXPECT_EQ(4, handler.GetStartFile());  // the first claim in list order wins
    EXPECT_EQ(a, handler.StartVolumeIndex);

    ASSERT_TRUE(handler.SetStartFile(15));
    EXPECT_EQ(-1, OnDisk(a).startFile);
    EXPECT_EQ(5, Get(b).startFile);
    EXPECT_EQ(15, handler.GetStartFile());
    EXPECT_EQ(-1, handler.FindRecordFileVolume());
}

TEST_F(VolumeListTest, AllocatedSpaceKeepsHalfAPercentBackAndWritesNothing)
{
    const std::int32_t v = Add(VolumeStatus::Blank, -1);
    // 100 files of 20 MB would fit into the whole space, 99 into 99.5 % of it.
    ASSERT_TRUE(handler.SetAllocatedSpace(v, 100 * 20 * 1024));
    EXPECT_EQ(99, Get(v).numFiles);
    EXPECT_EQ(2048000, Get(v).allocatedSpaceKB);
    EXPECT_FALSE(Described(v));

    ASSERT_TRUE(handler.SetAllocatedSpace(v, -1));
    EXPECT_EQ(0, Get(v).numFiles);
    EXPECT_EQ(-1, Get(v).allocatedSpaceKB);
    EXPECT_FALSE(handler.SetAllocatedSpace(1, 1000));

    // A failing file computation changes nothing.
    VolumeHandler broken{[] {
                             DatabaseSettings settings;
                             settings.FileSizeMB = 0;
                             return settings;
                         }(),
                         DatabaseId()};
    VolumeRecord record;
    record.status = VolumeStatus::Blank;
    broken.AppendVolume(record);
    EXPECT_FALSE(broken.SetAllocatedSpace(0, 1000000));
    VolumeRecord after;
    broken.GetVolume(0, after);
    EXPECT_EQ(-1, after.numFiles);
    EXPECT_EQ(-1, after.allocatedSpaceKB);
}

TEST_F(VolumeListTest, UpdateDatabaseInfoStampsAndWritesEveryActiveVolumeEvenAfterAFailure)
{
    const std::int32_t a = Add(VolumeStatus::Active, 10);
    const std::int32_t foreign = Add(VolumeStatus::Foreign, 10);
    VolumeRecord unwritable;
    unwritable.status = VolumeStatus::Active;
    unwritable.path = dir / "no such directory";
    handler.AppendVolume(unwritable);
    const std::int32_t b = Add(VolumeStatus::Active, 10);
    handler.ActiveVolumeCount = 5;

    EXPECT_FALSE(handler.UpdateDatabaseInfo());
    for (const std::int32_t v : {a, b}) {
        const VolumeRecord stored = OnDisk(v);
        EXPECT_EQ(5, stored.activeVolumes);
        EXPECT_TRUE(SameGuid(DatabaseId(), stored.dbGuid));
        EXPECT_EQ(5, Get(v).activeVolumes);
    }
    EXPECT_FALSE(Described(foreign));
    EXPECT_EQ(-1, Get(foreign).activeVolumes);
}

TEST_F(VolumeListTest, DirectoriesEndInABackslashWithoutDoublingIt)
{
    VolumeRecord record;
    record.path = "E:";
    std::string directory;
    handler.GetImageDirectory(record, directory);
    EXPECT_EQ("E:\\", directory);

    handler.Settings.ImagePath = "\\Images";
    handler.Settings.IndexPath = "Index\\";
    handler.GetImageDirectory(record, directory);
    EXPECT_EQ("E:\\Images\\", directory);
    handler.GetIndexDirectory(record, directory);
    EXPECT_EQ("E:Index\\", directory);
    record.path = "E:\\Sub";
    handler.GetIndexDirectory(record, directory);
    EXPECT_EQ("E:\\SubIndex\\", directory);
}

TEST_F(VolumeListTest, SizeComesFromTheDriveOnlyForVolumesThatExist)
{
    const std::int32_t present = Add(VolumeStatus::Blank, -1);
    const std::int32_t missing = Add(VolumeStatus::Missing, -1);
    VolumeRecord nowhere;
    nowhere.status = VolumeStatus::Foreign;
    nowhere.path = "\\\\?\\no such volume";
    const std::int32_t unknown = handler.AppendVolume(nowhere);

    DWORD expected = 0;
    ASSERT_TRUE(CVkUtility::GetTotalSpaceKB((dir.path() + "\\").c_str(), expected));
    EXPECT_EQ(static_cast<std::int32_t>(expected), handler.GetVolumeSizeKB(present));
    EXPECT_GT(handler.GetVolumeSizeKB(present), 0);
    EXPECT_EQ(-1, handler.GetVolumeSizeKB(missing));
    EXPECT_EQ(-1, handler.GetVolumeSizeKB(unknown));
    EXPECT_EQ(-1, handler.GetVolumeSizeKB(3));
}

TEST_F(VolumeListTest, OperationsWaitForTheHandlerLockAndItsHolderMayReenter)
{
    Add(VolumeStatus::Active, 10);
    std::atomic<bool> done{false};
    std::thread other;
    {
        std::lock_guard<CriticalSection> change(handler.ChangeLock);
        std::lock_guard<CriticalSection> lock(handler.HandlerLock);
        EXPECT_EQ(1, handler.GetActiveVolumeCount());  // re-entered by its holder
        EXPECT_TRUE(handler.SetRecordFile(3));
        other = std::thread([&] {
            handler.GetTotalFileCount();
            done = true;
        });
        ::Sleep(200);
        EXPECT_FALSE(done) << "an operation ran while another thread held the handler lock";
    }
    other.join();
    EXPECT_TRUE(done);
}
