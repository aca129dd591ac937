#include "store/format/MasterRecord.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

namespace {

using Record = std::array<std::uint8_t, kMasterRecordSize>;

std::int32_t At(const Record& r, std::size_t offset)
{
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | r[offset + i];
    return static_cast<std::int32_t>(v);
}

std::uint16_t At16(const Record& r, std::size_t offset)
{
    return static_cast<std::uint16_t>(r[offset] | (r[offset + 1] << 8));
}

Record Empty(std::uint32_t capacity = 0)
{
    Record r;
    r.fill(0xAB);
    InitRecord(r, capacity);
    return r;
}

TEST(MasterRecord, EmptyRecordBytes)
{
    const Record r = Empty(0x12345678);
    const struct {
        std::size_t offset;
        std::int32_t value;
    } words[] = {
        {0, 2085724800}, {4, 115200}, {8, 0}, {12, 0x12345678}, {16, 0}, {20, -1},
        {24, 0}, {32, 1}, {92, 1}, {96, 2085724800}, {156, 2085724800}, {160, 115200}, {220, 115200},
        {224, 0}, {284, 0},
        {288, 0}, {296, -1}, {356, -1}, {360, 2085724800}, {420, 2085724800}, {424, 115200}, {484, 115200},
        {488, 0}, {496, -1}, {556, -1}, {560, 2085724800}, {620, 2085724800}, {624, 115200}, {684, 115200},
    };
    for (const auto& w : words)
        EXPECT_EQ(At(r, w.offset), w.value) << "offset " << w.offset;
    for (std::size_t mask : {28, 292, 492}) {
        EXPECT_EQ(At16(r, mask), 0);
        EXPECT_EQ(At16(r, mask + 2), 0xABAB) << "padding after " << mask << " is left alone";
    }
    EXPECT_FALSE(IsRecordUsed(r));
    EXPECT_TRUE(IsEmptyRecord(Empty()));
    EXPECT_FALSE(IsEmptyRecord(r));  // the capacity is one of the compared words
}

// One entry of each kind, then what must have changed: the kind's block for
// that channel, the record's span and the bytes used.
TEST(MasterRecord, AddEntryPerKind)
{
    const struct {
        int kind;
        int channel;
        std::uint32_t keyValue;
        std::size_t present, mask, sequence, earliest, latest, keyFlag;  // 0: none
    } cases[] = {
        {0, 3, 9, 24, 28, 32 + 12, 96 + 12, 160 + 12, 224 + 12},
        {0, 3, 0, 24, 28, 32 + 12, 96 + 12, 160 + 12, 0},
        {1, 15, 9, 288, 292, 296 + 60, 360 + 60, 424 + 60, 0},
        {2, 0, 9, 488, 492, 496, 560, 624, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        Record r = Empty();
        AddEntry(r, c.channel, c.kind, 77, 1700000000, c.keyValue, 100);
        AddEntry(r, c.channel, c.kind, 78, 1600000000, c.keyValue, 50);

        EXPECT_EQ(At(r, 0), 1600000000);
        EXPECT_EQ(At(r, 4), 1700000000);
        EXPECT_EQ(At(r, 8), 100 + 32 + 50 + 32);
        EXPECT_EQ(At(r, c.present), 1);
        EXPECT_EQ(At16(r, c.mask), 1 << c.channel);
        EXPECT_EQ(At(r, c.sequence), 78);
        EXPECT_EQ(At(r, c.earliest), 1600000000);
        EXPECT_EQ(At(r, c.latest), 1700000000);
        if (c.kind == 0) {
            EXPECT_EQ(At(r, 224 + 4 * c.channel), c.keyFlag ? 1 : 0);
        }
        EXPECT_TRUE(IsRecordUsed(r));
        EXPECT_FALSE(IsEmptyRecord(r));
    }
}

TEST(MasterRecord, OtherKindsAndChannelsOnlyWidenTheSpan)
{
    Record r = Empty();
    AddEntry(r, 0, 3, 1, 1650000000, 1, 10);
    EXPECT_EQ(At(r, 0), 1650000000);
    EXPECT_EQ(At(r, 4), 1650000000);
    EXPECT_EQ(At(r, 8), 0);
    AddEntry(r, 16, 0, 1, 1650000000, 1, 10);
    AddEntry(r, -1, 1, 1, 1650000000, 1, 10);
    EXPECT_EQ(At(r, 8), 2 * 42);
    EXPECT_FALSE(IsRecordUsed(r));
    EXPECT_EQ(At16(r, 28), 0);
    EXPECT_EQ(At16(r, 292), 0);
}

TEST(MasterRecord, RecordOffset)
{
    EXPECT_EQ(MasterRecordOffset(12, 10), 6 + 2 * 688);
    EXPECT_LT(MasterRecordOffset(9, 10), 0);
}

}  // namespace
