// Video frame headers: any bytes read under every version; a KeyRecord written in each key-index form, read back.
#include "store/format/FrameHeader.h"
#include "tests/store/ImageBuilder.h"

#include <algorithm>

namespace {

constexpr std::uint32_t kVersions[] = {0, 0x1000, 0x2000, 0x2010, 0x2015, 0x3000, 0x3010, 0x3020};
constexpr std::uint32_t kHeaderSizes[] = {14, 20, 21, 22, 25, 29, 31, 33, 39};

// What the key-index form of each version keeps of a record; eMask for non-key records, 0 when E is not stored.
constexpr struct Form {
    std::uint32_t version;
    int format;
    bool narrowSequence, narrowA, relativeD;
    std::uint32_t dMask, eMask;
    bool sevenBitStream;
} kForms[] = {
    {0x1000, 1, true, true, true, 0xFFFF, 0, false},
    {0x2000, 2, true, true, true, 0xFFFF, 0, true},
    {0x2010, 3, false, true, true, 0xFFFF, 0x3FFFF, true},
    {0x2015, 4, false, false, true, 0xFFFFFFFF, 0x3FFFF, false},
    {0x3000, 5, false, false, false, 0xFFFFFFFF, 0xFFFFFFFF, false},
};

void WriteThenRead(const KeyRecord& in, std::uint32_t base)
{
    std::uint8_t stored[64];
    for (const Form& form : kForms) {
        const std::size_t size = WriteKeyIndexRecord(in, form.version, base, stored, sizeof stored);
        CHECK(size == KeyIndexRecordSize(form.version) && size != 0);
        // The unmarked formats cannot tell bytes 5 to 9 that spell a marker from one: such a record reads as marked.
        if (VideoHeaderFormat(stored, size, form.version) != form.format)
            continue;
        KeyRecord out;
        std::uint32_t headerSize = 0;
        CHECK(ConvertVideoHeader(stored, size, out, base, headerSize, form.version) && headerSize <= size);
        const bool key = (in.flags & 1) != 0;
        CHECK((out.flags & 1) == (in.flags & 1));
        CHECK(out.time == in.time && out.hundredths == in.hundredths && out.fieldC == in.fieldC && out.kind == 0);
        CHECK(out.sequence == (form.narrowSequence ? in.sequence & 0xFFFF : in.sequence));
        CHECK(out.fieldA == (form.narrowA ? in.fieldA & 0xFFFF : in.fieldA));
        CHECK(out.format == (key || form.format < 3 ? 6 : form.format));
        const std::uint8_t stream = static_cast<std::uint8_t>(in.stream) & (form.sevenBitStream ? 0x7F : 0xFF);
        CHECK(static_cast<std::uint8_t>(out.stream) == (form.format <= 3 && stream == 127 ? 0xFF : stream));
        if (!form.relativeD || (base != 0 && ((base - in.fieldD) & ~form.dMask) == 0))
            CHECK(out.fieldD == in.fieldD);
        CHECK(out.fieldE == (key ? 0 : in.fieldE & form.eMask));
        CHECK(out.keyValue == (form.format == 1 || key ? in.keyValue : 0));
        CHECK(out.fieldB == (form.format == 1 ? (in.fieldB & 0xFF000000u) | 0x7C280u : key ? in.fieldB : 0));
    }
    CHECK(WriteKeyIndexRecord(in, 0x3010, base, stored, sizeof stored) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 4)
        return 0;
    const std::uint32_t base = le::Load32(data);
    // An exact-size copy, so that AddressSanitizer sees any read past the end.
    const std::vector<std::uint8_t> exact(data + 4, data + size);
    KeyRecord record;
    for (std::uint32_t version : kVersions) {
        std::uint32_t headerSize = 0;
        const bool complete = ConvertVideoHeader(exact.data(), exact.size(), record, base, headerSize, version);
        CHECK(std::find(std::begin(kHeaderSizes), std::end(kHeaderSizes), headerSize) != std::end(kHeaderSizes));
        CHECK(complete == (headerSize <= exact.size()));
    }
    if (LoadKeyRecord(exact.data(), exact.size(), record)) {
        std::uint8_t packed[kKeyRecordSize];
        StoreKeyRecord(record, packed);
        CHECK(std::memcmp(packed, exact.data(), kKeyRecordSize) == 0);
        WriteThenRead(record, base);
    }
    return 0;
}
