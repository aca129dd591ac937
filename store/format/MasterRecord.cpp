#include "store/format/MasterRecord.h"

#include "store/format/LittleEndian.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::size_t kEarliest = 0;
constexpr std::size_t kLatest = 4;
constexpr std::size_t kBytesUsed = 8;
constexpr std::size_t kCapacity = 12;
constexpr std::size_t kReserved1 = 16;
constexpr std::size_t kReserved2 = 20;

// One block per entry kind; only video keeps the key flags.
struct KindBlock {
    std::size_t present;
    std::size_t mask;
    std::size_t sequences;
    std::size_t earliest;
    std::size_t latest;
    std::size_t keyFlags;  // 0: none
    std::int32_t emptySequence;
};

constexpr KindBlock kKinds[3] = {
    {24, 28, 32, 96, 160, 224, 1},
    {288, 292, 296, 360, 424, 0, -1},
    {488, 492, 496, 560, 624, 0, -1},
};

constexpr std::size_t kTableBytes = kMasterChannels * 4;

std::int32_t LoadTime(const std::uint8_t* p)
{
    return static_cast<std::int32_t>(le::Load32(p));
}

void StoreTime(std::uint8_t* p, std::int32_t time)
{
    le::Store32(p, static_cast<std::uint32_t>(time));
}

void Widen(std::uint8_t* earliest, std::uint8_t* latest, std::int32_t time)
{
    StoreTime(earliest, std::min(LoadTime(earliest), time));
    StoreTime(latest, std::max(LoadTime(latest), time));
}

void FillTable(std::uint8_t* table, std::int32_t value)
{
    for (int c = 0; c < kMasterChannels; ++c)
        StoreTime(table + 4 * c, value);
}

bool SameBytes(const std::uint8_t* a, const std::uint8_t* b, std::size_t offset, std::size_t size)
{
    return std::memcmp(a + offset, b + offset, size) == 0;
}

}  // namespace

void InitRecord(MasterRecordBytes record, std::uint32_t capacity)
{
    std::uint8_t* r = record.data();
    // The padding after each channel mask is left as it was.
    StoreTime(r + kEarliest, kNoEarliestTime);
    StoreTime(r + kLatest, kNoLatestTime);
    le::Store32(r + kBytesUsed, 0);
    le::Store32(r + kCapacity, capacity);
    le::Store32(r + kReserved1, 0);
    StoreTime(r + kReserved2, -1);
    for (const KindBlock& kind : kKinds) {
        le::Store32(r + kind.present, 0);
        le::Store16(r + kind.mask, 0);
        FillTable(r + kind.sequences, kind.emptySequence);
        FillTable(r + kind.earliest, kNoEarliestTime);
        FillTable(r + kind.latest, kNoLatestTime);
        if (kind.keyFlags != 0)
            FillTable(r + kind.keyFlags, 0);
    }
}

MasterRecordBuffer EmptyRecord(std::uint32_t capacity)
{
    MasterRecordBuffer record{};
    InitRecord(record, capacity);
    return record;
}

void AddEntry(MasterRecordBytes record, int channel, int kind, std::uint32_t sequence, std::int32_t time,
              std::uint32_t keyValue, std::uint32_t dataSize)
{
    std::uint8_t* r = record.data();
    Widen(r + kEarliest, r + kLatest, time);
    if (kind < 0 || kind > 2)
        return;
    if (channel >= 0 && channel < kMasterChannels) {
        const KindBlock& block = kKinds[kind];
        le::Store32(r + block.present, 1);
        le::Store16(r + block.mask, le::Load16(r + block.mask) | (1u << channel));
        const std::size_t slot = 4 * static_cast<std::size_t>(channel);
        le::Store32(r + block.sequences + slot, sequence);
        if (block.keyFlags != 0 && keyValue != 0)
            le::Store32(r + block.keyFlags + slot, 1);
        Widen(r + block.earliest + slot, r + block.latest + slot, time);
    }
    le::Store32(r + kBytesUsed, le::Load32(r + kBytesUsed) + dataSize + 32);
}

bool IsRecordUsed(ConstMasterRecordBytes record)
{
    for (const KindBlock& kind : kKinds)
        if (le::Load32(record.data() + kind.present) != 0)
            return true;
    return false;
}

bool IsEmptyRecord(ConstMasterRecordBytes record)
{
    std::uint8_t empty[kMasterRecordSize] = {};
    InitRecord(MasterRecordBytes(empty), 0);
    const std::uint8_t* r = record.data();
    if (!SameBytes(r, empty, kEarliest, 16))
        return false;
    for (const KindBlock& kind : kKinds) {
        if (!SameBytes(r, empty, kind.mask, 2) || !SameBytes(r, empty, kind.sequences, kTableBytes) ||
            !SameBytes(r, empty, kind.earliest, kTableBytes) || !SameBytes(r, empty, kind.latest, kTableBytes))
            return false;
        if (kind.keyFlags != 0 && !SameBytes(r, empty, kind.keyFlags, kTableBytes))
            return false;
    }
    return true;
}

std::int32_t GetEarliestTime(ConstMasterRecordBytes record)
{
    return LoadTime(record.data() + kEarliest);
}

std::int32_t GetLatestTime(ConstMasterRecordBytes record)
{
    return LoadTime(record.data() + kLatest);
}

std::uint32_t GetBytesUsed(ConstMasterRecordBytes record)
{
    return le::Load32(record.data() + kBytesUsed);
}

std::uint32_t GetSequence(ConstMasterRecordBytes record, int kind, int channel)
{
    if (kind < 0 || kind > 2 || channel < 0 || channel >= kMasterChannels)
        return 0;
    return le::Load32(record.data() + kKinds[kind].sequences + 4 * static_cast<std::size_t>(channel));
}

void SetCapacity(MasterRecordBytes record, std::uint32_t capacity)
{
    le::Store32(record.data() + kCapacity, capacity);
}

std::int64_t MasterRecordOffset(std::int32_t number, std::int32_t firstNumber)
{
    return static_cast<std::int64_t>(kMasterHeaderSize) +
           (static_cast<std::int64_t>(number) - firstNumber) * static_cast<std::int64_t>(kMasterRecordSize);
}
