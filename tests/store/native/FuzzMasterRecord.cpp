// Entries of any kind and channel added to any stored 688 bytes of a master record, or to the empty record.
#include "store/format/MasterRecord.h"
#include "tests/store/ImageBuilder.h"

#include <array>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::array<std::uint8_t, kMasterRecordSize> record{};
    if (size >= kMasterRecordSize) {
        std::memcpy(record.data(), data, kMasterRecordSize);
        data += kMasterRecordSize;
        size -= kMasterRecordSize;
    } else {
        InitRecord(record, 0);
    }
    std::uint32_t entry[5];  // kind and channel, sequence, time, key value, data size
    for (; size >= sizeof entry; data += sizeof entry, size -= sizeof entry) {
        std::memcpy(entry, data, sizeof entry);  // host order will do for arbitrary values
        const int kind = static_cast<std::int8_t>(entry[0]) % 4;
        const int channel = static_cast<std::int8_t>(entry[0] >> 8) % 18;
        const auto time = static_cast<std::int32_t>(entry[2]);
        const bool wasUsed = IsRecordUsed(record);
        const std::uint32_t used = GetBytesUsed(record);
        AddEntry(record, channel, kind, entry[1], time, entry[3], entry[4]);
        const bool counted = kind >= 0 && kind <= 2;
        CHECK(GetEarliestTime(record) <= time && GetLatestTime(record) >= time);
        CHECK(GetBytesUsed(record) == (counted ? used + entry[4] + 32 : used));
        CHECK(IsRecordUsed(record) == (wasUsed || (counted && channel >= 0 && channel < kMasterChannels)));
        CHECK(!counted || !IsEmptyRecord(record));
    }
    return 0;
}
