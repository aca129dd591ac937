#include "volumes/VolumeOrdering.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

VolumeRecord Entry(const std::string& path, VolumeStatus status, std::int32_t position, std::int32_t activeVolumes = -1)
{
    VolumeRecord record;
    record.path = path;
    record.status = status;
    record.position = position;
    record.activeVolumes = activeVolumes;
    return record;
}

// "E:0" for an entry with a path, "Missing2" for a placeholder.
std::vector<std::string> Describe(const std::vector<VolumeRecord>& volumes)
{
    std::vector<std::string> out;
    for (const VolumeRecord& v : volumes)
    {
        std::string item = v.path.empty() ? std::string("Missing") : v.path;
        item += std::to_string(v.position);
        out.push_back(item);
    }
    return out;
}

// "A3" for an Active entry at position 3, "M0" for a placeholder: entries
// with equal keys may come in either order, so paths are left out.
std::vector<std::string> Sequence(const std::vector<VolumeRecord>& volumes)
{
    std::vector<std::string> out;
    for (const VolumeRecord& v : volumes)
    {
        std::string item(1, "ABDFMXCN"[static_cast<int>(v.status)]);
        item += std::to_string(v.position);
        out.push_back(item);
    }
    return out;
}

using S = VolumeStatus;

}  // namespace

TEST(VolumeOrdering, ActiveThenCheckFailedThenForeignThenTheRestEachByPosition)
{
    std::vector<VolumeRecord> volumes = {
        Entry("B:", S::Blank, -1),       Entry("F:", S::Foreign, 2),       Entry("A:", S::Active, 1),
        Entry("C:", S::CheckFailed, 0),  Entry("M:", S::Missing, 0),       Entry("G:", S::Foreign, -1),
        Entry("D:", S::BlankWithData, -5), Entry("H:", S::Active, -1),     Entry("X:", S::Failed, 3),
    };
    SortVolumes(volumes);
    EXPECT_EQ((std::vector<std::string>{"H:-1", "A:1", "C:0", "G:-1", "F:2", "D:-5", "B:-1", "M:0", "X:3"}),
              Describe(volumes));
}

TEST(VolumeOrdering, RepairAndPlaceholdersFollowTheActiveSequence)
{
    struct Case {
        const char* what;
        std::vector<VolumeRecord> volumes;
        std::int32_t positions;
        std::vector<std::string> after;
    } cases[] = {
        {"equal positions shift up; holes before them get placeholders",
         {Entry("E:", S::Active, 3, 5), Entry("F:", S::Active, 3, 5), Entry("G:", S::Blank, -1)},
         5,
         {"A3", "A4", "B-1", "M0", "M1", "M2"}},
        {"a description claiming more volumes than are present",
         {Entry("E:", S::Active, 0, 5), Entry("F:", S::Active, 1, 2)},
         5,
         {"A0", "A1", "M2", "M3", "M4"}},
        {"a hole between two volumes",
         {Entry("E:", S::Active, 0, 1), Entry("F:", S::Active, 2, 1), Entry("G:", S::Foreign, 0)},
         2,
         {"A0", "A2", "F0", "M1"}},
        {"negative positions are repaired from 0",
         {Entry("E:", S::Active, -1), Entry("F:", S::Active, -1), Entry("G:", S::Active, 0)},
         3,
         {"A0", "A1", "A2"}},
        {"no active volume at all",
         {Entry("E:", S::Blank, -1), Entry("F:", S::Foreign, 7)},
         0,
         {"F7", "B-1"}},
    };
    for (Case& c : cases) {
        SortVolumes(c.volumes);
        const std::int32_t positions = CountSequencePositions(c.volumes);
        EXPECT_EQ(c.positions, positions) << c.what;
        RepairPositions(c.volumes);
        AppendPlaceholders(c.volumes, positions);
        EXPECT_EQ(c.after, Sequence(c.volumes)) << c.what;
    }
}

TEST(VolumeOrdering, ADamagedCountDoesNotFloodTheList)
{
    std::vector<VolumeRecord> volumes = {Entry("E:", S::Active, 0, 0x7FFFFFFF)};
    const std::int32_t positions = CountSequencePositions(volumes);
    EXPECT_EQ(0x7FFFFFFF, positions);
    AppendPlaceholders(volumes, positions);
    EXPECT_EQ(static_cast<size_t>(kMaxSequencePositions), volumes.size());

    volumes = {Entry("E:", S::Active, 2000000000)};
    AppendPlaceholders(volumes, CountSequencePositions(volumes));
    EXPECT_EQ(static_cast<size_t>(kMaxSequencePositions) + 1, volumes.size());
}

TEST(VolumeOrdering, MinimumSizeIsTenFilesWithTheReserveAddedBack)
{
    EXPECT_EQ(205829u, MinimumVolumeSizeKB(20));  // 204800 / 0.995, truncated
    EXPECT_EQ(10291u, MinimumVolumeSizeKB(1));
}
