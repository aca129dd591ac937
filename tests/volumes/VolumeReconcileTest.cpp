// Settling the start and record file claims from MASTER.NDX files that the
// test lays out byte by byte.
#include "tests/support/TestFiles.h"
#include "volumes/VolumeHandler.h"
#include "volumes/VolumeInfoFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

constexpr std::int32_t kT1 = 1700000000;
constexpr std::int32_t kT2 = 1700003600;

struct Used {
    std::int32_t number;  // local file number
    std::int32_t latest;
};

enum class Master { None, Written, Blocked };

struct Volume {
    std::int32_t numFiles;
    std::int32_t offset;
    std::int32_t startFile;
    std::int32_t recordFile;
    Master master;
    std::vector<Used> used;
    std::int32_t expectStart;
    std::int32_t expectRecord;
};

void Put32(std::string& bytes, std::size_t at, std::int32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<char>(static_cast<std::uint32_t>(value) >> (8 * i));
}

// A header and a record of zeros (unused) for every number up to the
// highest used one, whose records carry a video entry and their time.
void WriteMaster(const std::string& directory, std::int32_t first, const std::vector<Used>& used)
{
    std::int32_t highest = first;
    for (const Used& u : used)
        highest = std::max(highest, u.number);
    std::string bytes(6 + (highest - first + 1) * 688, '\0');
    bytes[0] = 48;
    Put32(bytes, 2, first);
    for (const Used& u : used) {
        const std::size_t at = 6 + (u.number - first) * 688;
        Put32(bytes, at, u.latest - 60);
        Put32(bytes, at + 4, u.latest);
        Put32(bytes, at + 24, 1);
    }
    testfiles::WriteAll(directory + "\\MASTER.NDX", bytes);
}

GUID DatabaseId()
{
    GUID guid{};
    guid.Data1 = 0x5E77A3C1;
    return guid;
}

struct Case {
    const char* name;
    std::vector<Volume> volumes;
};

class VolumeReconcileTest : public ::testing::Test {
protected:
    void Build(const std::vector<Volume>& volumes)
    {
        for (const Volume& v : volumes) {
            const std::string path = dir / ("vol" + std::to_string(made++));
            ::CreateDirectoryA(path.c_str(), nullptr);
            if (v.master == Master::Written)
                WriteMaster(path, v.offset, v.used);
            if (v.master == Master::Blocked)
                ::CreateDirectoryA((path + "\\MASTER.NDX").c_str(), nullptr);
            VolumeRecord record;
            record.status = VolumeStatus::Active;
            record.numFiles = v.numFiles;
            record.fileNumOffset = v.offset;
            record.startFile = v.startFile;
            record.recordFile = v.recordFile;
            record.path = path;
            handler.AppendVolume(record);
        }
        handler.ActiveVolumeCount = static_cast<std::int32_t>(volumes.size());
    }

    testfiles::ScratchDir dir;
    int made = 0;  // every volume gets a directory of its own
    VolumeHandler handler{DatabaseSettings(), DatabaseId()};
};

}  // namespace

TEST_F(VolumeReconcileTest, ClaimsSettle)
{
    const Master W = Master::Written;
    const Case cases[] = {
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
        {"no claims: a lone used file is also the start file",
         {{60, 10, -1, -1, W, {{41, kT2}}, 41, 41}}},
        {"no start claim: a volume without master index after the record file holds it",
         {{10, 0, -1, 9, W, {{9, kT1}}, -1, 9}, {10, 0, -1, -1, Master::Blocked, {}, 0, -1}}},
        {"no start claim: unused files are passed over into the next volume",
         {{10, 0, -1, 2, W, {{2, kT2}}, -1, 2}, {10, 5, -1, -1, W, {{8, kT1}}, 8, -1}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        handler.Volumes.clear();
        Build(c.volumes);
        handler.ReconcileStartAndRecordFiles();
        for (std::size_t i = 0; i < c.volumes.size(); ++i) {
            SCOPED_TRACE(i);
            const Volume& v = c.volumes[i];
            const VolumeRecord& got = handler.Volumes[i];
            EXPECT_EQ(got.startFile, v.expectStart);
            EXPECT_EQ(got.recordFile, v.expectRecord);
            if (v.master != Master::Blocked) {
                EXPECT_TRUE(testfiles::Exists(got.path + "\\MASTER.NDX"));
            }
            if (v.expectStart != v.startFile || v.expectRecord != v.recordFile) {
                VolumeRecord onDisk;
                onDisk.path = got.path;
                ASSERT_TRUE(LoadVolumeInfo(onDisk));
                EXPECT_EQ(onDisk.startFile, v.expectStart);
                EXPECT_EQ(onDisk.recordFile, v.expectRecord);
            }
        }
    }
}

TEST_F(VolumeReconcileTest, FileTimeRange)
{
    Build({{10, 0, 2, 7, Master::Written, {{2, kT1}, {7, kT2}}, 0, 0},
           {10, 0, -1, -1, Master::Written, {{1, kT1}, {4, kT2}, {6, kT1}}, 0, 0},
           {10, 0, -1, -1, Master::None, {}, 0, 0}});
    const struct {
        bool found;
        std::int32_t earliest, latest;
    } expected[] = {
        {true, kT1 - 60, kT2},
        {true, 0, kT2},  // from every record: the unused ones are zeros
        {false, 2085724800, 115200},
    };
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        std::int32_t earliest = 0;
        std::int32_t latest = 0;
        EXPECT_EQ(handler.GetFileTimeRange(handler.Volumes[i], earliest, latest), expected[i].found);
        EXPECT_EQ(earliest, expected[i].earliest);
        EXPECT_EQ(latest, expected[i].latest);
    }
    EXPECT_TRUE(testfiles::Exists(handler.Volumes[2].path + "\\MASTER.NDX"));
}
