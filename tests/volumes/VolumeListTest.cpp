// The volume list: file numbering, the start and record file claims and how
// they settle from MASTER.NDX files laid out byte by byte, sizing, and the
// descriptions each change rewrites.
#include "tests/support/TestFiles.h"
#include "volumes/VolumeHandler.h"
#include "volumes/VolumeInfoFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>
#include <tuple>

namespace {

constexpr GUID kDatabase = {0xD0A4E871, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0xF8}};
constexpr std::int32_t kT1 = 1700000000, kT2 = 1700003600;

struct Used {
    std::int32_t number, latest;  // local file number, time of its newest record
};

enum class Master { None, Written, Blocked };

// A header and a record of zeros (unused) for every number up to the
// highest used one, whose records carry a video entry and their time.
void WriteMaster(const std::string& directory, std::int32_t first, const std::vector<Used>& used)
{
    std::int32_t highest = first;
    for (const Used& u : used)
        highest = std::max(highest, u.number);
    std::string bytes(6 + (highest - first + 1) * 688, '\0');
    auto put = [&](std::size_t at, std::int32_t value) {
        for (int i = 0; i < 4; ++i)
            bytes[at + i] = static_cast<char>(static_cast<std::uint32_t>(value) >> (8 * i));
    };
    bytes[0] = 48;
    put(2, first);
    for (const Used& u : used) {
        const std::size_t at = 6 + (u.number - first) * 688;
        put(at, u.latest - 60);
        put(at + 4, u.latest);
        put(at + 24, 1);
    }
    testfiles::WriteAll(directory + "\\MASTER.NDX", bytes);
}

class VolumeListTest : public ::testing::Test {
protected:
    // A volume in its own scratch directory, where its description goes.
    std::int32_t Add(VolumeStatus status, std::int32_t numFiles, std::int32_t offset = 0, std::int32_t startFile = -1,
                     std::int32_t recordFile = -1)
    {
        VolumeRecord record;
        record.path = dir / ("vol" + std::to_string(made++));
        ::CreateDirectoryA(record.path.c_str(), nullptr);
        record.status = status;
        record.numFiles = numFiles;
        record.fileNumOffset = offset;
        record.startFile = startFile;
        record.recordFile = recordFile;
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
    int made = 0;
    VolumeHandler handler{DatabaseSettings(), kDatabase};
};

}  // namespace

TEST_F(VolumeListTest, GlobalNumbersRunOverTheActiveVolumesInListOrder)
{
    EXPECT_EQ(VolumeStatus::NoVolume, handler.GetVolumeStatus(0));
    Add(VolumeStatus::Active, 100);
    Add(VolumeStatus::Blank, 30);      // takes no numbers
    Add(VolumeStatus::Active, 50);
    Add(VolumeStatus::Active, 0);      // a volume with no files takes none either
    Add(VolumeStatus::Active, 5, 10);  // local numbers 10..14
    Add(VolumeStatus::Active, -1);     // not yet sized
    const std::int32_t total = handler.GetTotalFileCount();
    ASSERT_EQ(155, total);
    EXPECT_EQ(5, handler.GetActiveVolumeCount());
    EXPECT_EQ(VolumeStatus::NoVolume, handler.GetVolumeStatus(6));
    std::string path = "unchanged";
    EXPECT_TRUE(!handler.GetVolumePath(-1, path) && path == "unchanged");

    std::int32_t volume = 77, local = 77, global = -5;
    const std::tuple<std::int32_t, std::int32_t, std::int32_t> mapped[] = {
        {0, 0, 0}, {99, 0, 99}, {100, 2, 0}, {149, 2, 49}, {150, 4, 10}, {154, 4, 14}};
    for (const auto& [g, v, l] : mapped) {
        ASSERT_TRUE(handler.GlobalToLocalFile(g, volume, local)) << g;
        EXPECT_EQ(std::make_pair(v, l), std::make_pair(volume, local)) << g;
    }
    volume = local = 77;
    EXPECT_FALSE(handler.GlobalToLocalFile(total, volume, local));
    EXPECT_FALSE(handler.GlobalToLocalFile(-1, volume, local));
    EXPECT_TRUE(volume == 77 && local == 77);
    for (std::int32_t g = 0; g < total; ++g) {  // every number survives the way there and back
        ASSERT_TRUE(handler.GlobalToLocalFile(g, volume, local));
        ASSERT_TRUE(handler.LocalToGlobalFile(global, volume, local));
        ASSERT_EQ(g, global);
    }
    global = -5;
    EXPECT_FALSE(handler.LocalToGlobalFile(global, 1, 0));  // Blank
    EXPECT_FALSE(handler.LocalToGlobalFile(global, 9, 0));  // no such volume
    EXPECT_EQ(-5, global);
    ASSERT_TRUE(handler.LocalToGlobalFile(global, 3, 0));
    EXPECT_EQ(150, global);  // where its numbers would begin
}

TEST_F(VolumeListTest, ClaimsMoveAndEveryHolderConcernedIsRewritten)
{
    const std::int32_t a = Add(VolumeStatus::Active, 10);
    Add(VolumeStatus::Foreign, 10);
    const std::int32_t b = Add(VolumeStatus::Active, 10, 3);
    const std::int32_t c = Add(VolumeStatus::Active, 10);
    EXPECT_EQ(-1, handler.GetRecordFile());

    // No holder remembered yet: the claim is set and written, nothing else.
    ASSERT_TRUE(handler.SetRecordFile(12));
    EXPECT_EQ(5, OnDisk(b).recordFile);
    EXPECT_EQ(-1, OnDisk(b).startFile);
    EXPECT_EQ(-1, handler.RecordVolumeIndex);
    EXPECT_FALSE(Described(a));
    EXPECT_EQ(12, handler.GetRecordFile());
    EXPECT_EQ(b, handler.RecordVolumeIndex);

    // The highest number, then round to 0: the claim travels and the
    // remembered holder gives it up, on disk too.
    ASSERT_TRUE(handler.SetRecordFile(29));
    EXPECT_EQ(9, OnDisk(c).recordFile);
    EXPECT_EQ(-1, OnDisk(b).recordFile);
    EXPECT_EQ(c, handler.RecordVolumeIndex);
    ASSERT_TRUE(handler.SetRecordFile((29 + 1) % handler.GetTotalFileCount()));
    EXPECT_EQ(0, OnDisk(a).recordFile);
    EXPECT_EQ(-1, OnDisk(c).recordFile);
    EXPECT_EQ(a, handler.FindRecordFileVolume());
    EXPECT_FALSE(handler.SetRecordFile(30));  // beyond the files: nothing changes
    EXPECT_EQ(a, handler.RecordVolumeIndex);

    // A start claim without a remembered holder leaves the old claim; the
    // first claim in list order wins until the holder is known.
    handler.Volumes[static_cast<std::size_t>(a)].startFile = 4;
    EXPECT_EQ(a, handler.FindStartFileVolume());
    ASSERT_TRUE(handler.SetStartFile(14));
    EXPECT_EQ(7, OnDisk(b).startFile);
    EXPECT_EQ(4, Get(a).startFile);  // nobody remembered a to be the holder
    EXPECT_EQ(4, handler.GetStartFile());
    EXPECT_EQ(a, handler.StartVolumeIndex);
    ASSERT_TRUE(handler.SetStartFile(17));
    EXPECT_EQ(-1, OnDisk(a).startFile);
    EXPECT_EQ(0, OnDisk(a).recordFile);
    EXPECT_EQ(10, OnDisk(b).startFile);
    EXPECT_EQ(17, handler.GetStartFile());

    // Stamping: every Active volume, even after one fails to be written.
    const std::int32_t foreign = 1;
    Add(VolumeStatus::Active, 10);
    ::RemoveDirectoryA(Get(4).path.c_str());  // unwritable
    const std::int32_t d = Add(VolumeStatus::Active, 10);
    handler.ActiveVolumeCount = 5;
    EXPECT_FALSE(handler.UpdateDatabaseInfo());
    for (const std::int32_t v : {a, d}) {
        EXPECT_EQ(5, OnDisk(v).activeVolumes);
        EXPECT_TRUE(SameGuid(kDatabase, OnDisk(v).dbGuid));
    }
    EXPECT_FALSE(Described(foreign));
    EXPECT_EQ(-1, Get(foreign).activeVolumes);
}

TEST_F(VolumeListTest, SizingKeepsHalfAPercentBackAndWaitsForTheLock)
{
    const std::int32_t v = Add(VolumeStatus::Blank, -1);
    // 100 files of 20 MB would fit into the whole space, 99 into 99.5 % of it.
    ASSERT_TRUE(handler.SetAllocatedSpace(v, 100 * 20 * 1024));
    EXPECT_EQ(99, Get(v).numFiles);
    EXPECT_EQ(2048000, Get(v).allocatedSpaceKB);
    EXPECT_FALSE(Described(v));
    ASSERT_TRUE(handler.SetAllocatedSpace(v, -1));
    EXPECT_EQ(0, Get(v).numFiles);
    EXPECT_FALSE(handler.SetAllocatedSpace(1, 1000));
    EXPECT_GT(handler.GetVolumeSizeKB(v), 0);
    VolumeRecord nowhere;
    nowhere.status = VolumeStatus::Foreign;
    nowhere.path = "\\\\?\\no such volume";
    EXPECT_EQ(-1, handler.GetVolumeSizeKB(handler.AppendVolume(nowhere)));
    EXPECT_EQ(-1, handler.GetVolumeSizeKB(2));
    EXPECT_EQ(0, handler.GetVolume(2, nowhere));
    // Directories end in a backslash without doubling it.
    handler.Settings.ImagePath = "\\Images\\";
    handler.Settings.IndexPath = "Index";
    std::string image, index;
    handler.GetImageDirectory(nowhere, image);
    handler.GetIndexDirectory(nowhere, index);
    EXPECT_EQ("\\\\?\\no such volume\\Images\\|\\\\?\\no such volumeIndex\\", image + "|" + index);

    // A failing file computation changes nothing.
    handler.Settings.FileSizeMB = 0;
    EXPECT_FALSE(handler.SetAllocatedSpace(v, 1000000));
    EXPECT_TRUE(Get(v).numFiles == 0 && Get(v).allocatedSpaceKB == -1);

    // Operations wait for the handler lock, and its holder may re-enter.
    std::atomic<bool> done{false};
    std::thread waiting;
    {
        std::lock_guard<CriticalSection> change(handler.ChangeLock);
        std::lock_guard<CriticalSection> lock(handler.HandlerLock);
        EXPECT_EQ(0, handler.GetActiveVolumeCount());
        waiting = std::thread([&] { done = handler.GetTotalFileCount() >= 0; });
        ::Sleep(200);
        EXPECT_FALSE(done) << "ran while another thread held the handler lock";
    }
    waiting.join();
    EXPECT_TRUE(done);
}

TEST_F(VolumeListTest, ClaimsSettleFromTheMasterIndexes)
{
    struct Volume {
        std::int32_t numFiles, offset, startFile, recordFile;
        Master master;
        std::vector<Used> used;
        std::int32_t expectStart, expectRecord;
    };
    const Master W = Master::Written;
    const struct {
        const char* name;
        std::vector<Volume> volumes;
    } cases[] = {
        {"the latest time takes the record file",
         {{10, 0, 2, 5, W, {{5, kT1}}, 2, -1}, {10, 0, -1, 3, W, {{3, kT2}}, -1, 3}}},
        {"equal latest times: the first claim stays",
         {{10, 0, 2, 5, W, {{5, kT1}}, 2, 5}, {10, 0, -1, 3, W, {{3, kT1}}, -1, -1}}},
        {"the start claim farthest behind the record file stays",
         {{50, 0, 10, -1, W, {}, -1, -1}, {50, 0, 40, 0, W, {}, 40, 0}}},
        {"a start claim stands without its master index",
         {{10, 0, -1, 4, W, {{4, kT1}}, -1, 4}, {10, 0, 7, -1, Master::Blocked, {}, 7, -1}}},
        {"no claims and no master index anywhere",
         {{10, 3, -1, -1, Master::None, {}, 3, 3}, {10, 0, -1, -1, Master::None, {}, -1, -1}}},
        {"no claims: newest used file, then the next used one round the circle",
         {{60, 10, -1, -1, W, {{12, kT1}, {41, kT2}}, 12, 41}}},
        {"no claims: a lone used file is also the start file", {{60, 10, -1, -1, W, {{41, kT2}}, 41, 41}}},
        {"no start claim: a volume without master index after the record file holds it",
         {{10, 0, -1, 9, W, {{9, kT1}}, -1, 9}, {10, 0, -1, -1, Master::Blocked, {}, 0, -1}}},
        {"no start claim: unused files are passed over into the next volume",
         {{10, 0, -1, 2, W, {{2, kT2}}, -1, 2}, {10, 5, -1, -1, W, {{8, kT1}}, 8, -1}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        handler.Volumes.clear();
        for (const Volume& v : c.volumes) {
            const std::int32_t index = Add(VolumeStatus::Active, v.numFiles, v.offset, v.startFile, v.recordFile);
            if (v.master == Master::Written)
                WriteMaster(Get(index).path, v.offset, v.used);
            if (v.master == Master::Blocked)
                ::CreateDirectoryA((Get(index).path + "\\MASTER.NDX").c_str(), nullptr);
        }
        handler.ActiveVolumeCount = static_cast<std::int32_t>(c.volumes.size());
        handler.ReconcileStartAndRecordFiles();
        for (std::size_t i = 0; i < c.volumes.size(); ++i) {
            const Volume& v = c.volumes[i];
            const VolumeRecord& got = handler.Volumes[i];
            const auto expected = std::make_pair(v.expectStart, v.expectRecord);
            EXPECT_EQ(expected, std::make_pair(got.startFile, got.recordFile)) << i;
            EXPECT_TRUE(v.master == Master::Blocked || testfiles::Exists(got.path + "\\MASTER.NDX")) << i;
            if (expected != std::make_pair(v.startFile, v.recordFile)) {
                const VolumeRecord disk = OnDisk(static_cast<std::int32_t>(i));
                EXPECT_EQ(expected, std::make_pair(disk.startFile, disk.recordFile)) << i;
            }
        }
    }

    // The time span: from the newest and oldest files' records, or from
    // every record (the unused ones are zeros); a missing index is created.
    handler.Volumes.clear();
    const std::int32_t claims = Add(VolumeStatus::Active, 10, 0, 2, 7);
    const std::int32_t none = Add(VolumeStatus::Active, 10);
    const std::int32_t missing = Add(VolumeStatus::Active, 10);
    WriteMaster(Get(claims).path, 0, {{2, kT1}, {7, kT2}});
    WriteMaster(Get(none).path, 0, {{1, kT1}, {4, kT2}, {6, kT1}});
    const std::tuple<std::int32_t, bool, std::int32_t, std::int32_t> spans[] = {
        {claims, true, kT1 - 60, kT2}, {none, true, 0, kT2}, {missing, false, 2085724800, 115200}};
    for (const auto& [index, found, earliest, latest] : spans) {
        std::int32_t from = 0, to = 0;
        EXPECT_EQ(found, handler.GetFileTimeRange(Get(index), from, to)) << index;
        EXPECT_EQ(std::make_pair(earliest, latest), std::make_pair(from, to)) << index;
    }
    EXPECT_TRUE(testfiles::Exists(Get(missing).path + "\\MASTER.NDX"));
}
