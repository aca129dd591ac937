// Master records: any stored 688 bytes, then entries added to them.
#include "store/format/MasterRecord.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void Check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "check failed: %s\n", what);
        std::abort();
    }
}

#define CHECK(condition) Check((condition), #condition)

std::uint32_t Take32(const std::uint8_t*& data, std::size_t& size)
{
    std::uint32_t v = 0;
    for (int i = 0; i < 4 && size > 0; ++i, ++data, --size)
        v |= static_cast<std::uint32_t>(*data) << (8 * i);
    return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::array<std::uint8_t, kMasterRecordSize> record{};
    if (size >= kMasterRecordSize) {
        std::memcpy(record.data(), data, kMasterRecordSize);
        data += kMasterRecordSize;
        size -= kMasterRecordSize;
    } else {
        InitRecord(record, Take32(data, size));
        CHECK(IsEmptyRecord(record) == (GetBytesUsed(record) == 0 && record[12] == 0 && record[13] == 0 &&
                                        record[14] == 0 && record[15] == 0));
    }
    while (size > 0) {
        const int kind = static_cast<std::int8_t>(*data) % 4;
        const int channel = static_cast<std::int8_t>(data[size > 1 ? 1 : 0]) % 18;
        data += size > 1 ? 2 : 1;
        size -= size > 1 ? 2 : 1;
        const std::uint32_t sequence = Take32(data, size);
        const auto time = static_cast<std::int32_t>(Take32(data, size));
        const std::uint32_t keyValue = Take32(data, size);
        const std::uint32_t dataSize = Take32(data, size);

        const bool wasUsed = IsRecordUsed(record);
        const std::uint32_t used = GetBytesUsed(record);
        AddEntry(record, channel, kind, sequence, time, keyValue, dataSize);
        CHECK(GetEarliestTime(record) <= time && GetLatestTime(record) >= time);
        const bool counted = kind >= 0 && kind <= 2;
        CHECK(GetBytesUsed(record) == (counted ? used + dataSize + 32 : used));
        CHECK(IsRecordUsed(record) == (wasUsed || (counted && channel >= 0 && channel < kMasterChannels)));
    }
    return 0;
}
