#include "store/format/FrameHeader.h"

#include "store/format/LittleEndian.h"

#include <cstring>

namespace {

struct FormatSizes {
    std::uint32_t nonKey;
    std::uint32_t key;
};

// Indexed by format 1 to 6.
constexpr FormatSizes kSizes[7] = {{0, 0}, {20, 20}, {14, 22}, {25, 33}, {31, 39}, {31, 39}, {21, 29}};

constexpr std::size_t kMarkerOffset = 5;
constexpr std::size_t kFormatOffset = 9;
constexpr std::uint8_t kNoStream = 127;  // how the older formats say "no stream"

int FormatOfVersion(std::uint32_t fileVersion)
{
    switch (fileVersion) {
    case 0x1000: return 1;
    case 0:
    case 0x2000: return 2;
    case 0x2010: return 3;
    case 0x3000: return 5;
    default: return 6;
    }
}

bool HasMarker(const std::uint8_t* data, std::size_t size)
{
    return size > kFormatOffset && std::memcmp(data + kMarkerOffset, kFrameMarker, sizeof kFrameMarker) == 0;
}

bool IsKeyFrame(const std::uint8_t* data, int format)
{
    switch (format) {
    case 1: return (data[18] & 0x01) != 0;
    case 2: return (data[7] & 0x80) != 0;
    case 3: return (data[14] & 0x80) != 0;
    default: return (data[16] & 0x01) != 0;
    }
}

// The older formats keep D as its distance below the reader's number base.
// A reader without a base (an image-file scan) cannot recover D; it keeps
// only whether anything was stored.
std::uint32_t RelativeD(std::uint32_t stored, std::uint32_t numberBase)
{
    if (numberBase == 0 && stored != 0)
        return 1;
    return numberBase - stored;
}

std::int8_t OldStream(std::uint8_t stored)
{
    return stored == kNoStream ? std::int8_t{-1} : static_cast<std::int8_t>(stored);
}

std::uint8_t StreamByte(const KeyRecord& record)
{
    return static_cast<std::uint8_t>(record.stream);
}

bool KeyFlag(const KeyRecord& record)
{
    return (record.flags & 0x01) != 0;
}

constexpr std::uint32_t kMask18 = 0x3FFFF;

}  // namespace

int VideoHeaderFormat(const std::uint8_t* data, std::size_t size, std::uint32_t fileVersion)
{
    if (!HasMarker(data, size))
        return FormatOfVersion(fileVersion);
    int stored = data[kFormatOffset];
    return stored >= 3 && stored <= 6 ? stored : 6;
}

bool ConvertVideoHeader(const std::uint8_t* data, std::size_t size, KeyRecord& record,
                        std::uint32_t numberBase, std::uint32_t& headerSize, std::uint32_t fileVersion)
{
    record = KeyRecord{};
    std::memcpy(record.marker, kFrameMarker, sizeof kFrameMarker);
    record.format = 6;

    const int format = VideoHeaderFormat(data, size, fileVersion);
    headerSize = kSizes[format].nonKey;
    if (size < headerSize)
        return false;
    const bool key = IsKeyFrame(data, format);
    headerSize = key ? kSizes[format].key : kSizes[format].nonKey;
    if (size < headerSize)
        return false;

    if (format == 6 && key) {
        std::uint8_t packed[kKeyRecordSize] = {};
        std::memcpy(packed, data, kSizes[6].key);
        LoadKeyRecord(packed, sizeof packed, record);
        return true;
    }

    record.time = le::Load32(data);
    record.hundredths = data[4];
    record.flags = key ? 0x01 : 0x00;
    if (format >= 3 && !key)
        record.format = data[kFormatOffset];

    switch (format) {
    case 1:
        record.sequence = le::Load16(data + 5);
        record.fieldC = le::Load16(data + 7);
        record.fieldD = RelativeD(le::Load16(data + 9), numberBase);
        record.keyValue = le::Load32(data + 11);
        record.stream = OldStream(data[15]);
        record.fieldA = le::Load16(data + 16);
        // Only the top byte of B is stored; its low bits are fixed.
        record.fieldB = (static_cast<std::uint32_t>(data[19]) << 24) | 0x7C280;
        break;
    case 2:
        record.sequence = le::Load16(data + 5);
        record.stream = OldStream(data[7] & 0x7F);
        record.fieldA = le::Load16(data + 8);
        record.fieldC = le::Load16(data + 10);
        record.fieldD = RelativeD(le::Load16(data + 12), numberBase);
        if (key) {
            record.keyValue = le::Load32(data + 14);
            record.fieldB = le::Load32(data + 18);
        }
        break;
    case 3:
        record.sequence = le::Load32(data + 10);
        record.stream = OldStream(data[14] & 0x7F);
        record.fieldA = le::Load16(data + 15);
        record.fieldC = le::Load16(data + 17);
        record.fieldD = RelativeD(le::Load16(data + 19), numberBase);
        if (key) {
            record.keyValue = le::Load32(data + 25);
            record.fieldB = le::Load32(data + 29);
        } else {
            record.fieldE = le::Load32(data + 21);
        }
        break;
    case 4:
    case 5:
        record.kind = data[10];
        record.sequence = le::Load32(data + 11);
        record.stream = static_cast<std::int8_t>(data[15]);
        record.fieldA = le::Load32(data + 17);
        record.fieldC = le::Load16(data + 21);
        record.fieldD = format == 4 ? RelativeD(le::Load32(data + 23), numberBase) : le::Load32(data + 23);
        if (key) {
            record.keyValue = le::Load32(data + 31);
            record.fieldB = le::Load32(data + 35);
        } else {
            record.fieldE = le::Load32(data + 27);
        }
        break;
    default:  // format 6, non-key
        record.kind = data[10];
        record.sequence = le::Load32(data + 11);
        record.stream = static_cast<std::int8_t>(data[15]);
        record.fieldA = le::Load32(data + 17);
        break;
    }
    return true;
}

std::size_t KeyIndexRecordSize(std::uint32_t fileVersion)
{
    switch (fileVersion) {
    case 0x1000: return 20;
    case 0x2000: return 22;
    case 0x2010: return 33;
    case 0x2015:
    case 0x3000: return 39;
    default: return 0;
    }
}

std::size_t WriteKeyIndexRecord(const KeyRecord& record, std::uint32_t fileVersion, std::uint32_t numberBase,
                                std::uint8_t* out, std::size_t capacity)
{
    const std::size_t size = KeyIndexRecordSize(fileVersion);
    if (size == 0 || capacity < size)
        return 0;
    std::memset(out, 0, size);
    le::Store32(out, record.time);
    out[4] = record.hundredths;
    const std::uint32_t relativeD = numberBase - record.fieldD;

    switch (fileVersion) {
    case 0x1000:
        le::Store16(out + 5, record.sequence);
        le::Store16(out + 7, record.fieldC);
        le::Store16(out + 9, relativeD);
        le::Store32(out + 11, record.keyValue);
        out[15] = StreamByte(record);
        le::Store16(out + 16, record.fieldA);
        out[18] = KeyFlag(record) ? 0x01 : 0x00;
        out[19] = static_cast<std::uint8_t>(record.fieldB >> 24);
        break;
    case 0x2000:
        le::Store16(out + 5, record.sequence);
        out[7] = static_cast<std::uint8_t>((StreamByte(record) & 0x7F) | (KeyFlag(record) ? 0x80 : 0x00));
        le::Store16(out + 8, record.fieldA);
        le::Store16(out + 10, record.fieldC);
        le::Store16(out + 12, relativeD);
        le::Store32(out + 14, record.keyValue);
        le::Store32(out + 18, record.fieldB);
        break;
    case 0x2010:
        std::memcpy(out + kMarkerOffset, kFrameMarker, sizeof kFrameMarker);
        out[kFormatOffset] = 3;
        le::Store32(out + 10, record.sequence);
        out[14] = static_cast<std::uint8_t>((StreamByte(record) & 0x7F) | (KeyFlag(record) ? 0x80 : 0x00));
        le::Store16(out + 15, record.fieldA);
        le::Store16(out + 17, record.fieldC);
        le::Store16(out + 19, relativeD);
        le::Store32(out + 21, record.fieldE & kMask18);
        le::Store32(out + 25, record.keyValue);
        le::Store32(out + 29, record.fieldB);
        break;
    default: {  // 0x2015 and 0x3000
        const bool format4 = fileVersion == 0x2015;
        std::memcpy(out + kMarkerOffset, kFrameMarker, sizeof kFrameMarker);
        out[kFormatOffset] = format4 ? 4 : 5;
        out[10] = 0;  // video
        le::Store32(out + 11, record.sequence);
        out[15] = StreamByte(record);
        out[16] = record.flags;
        le::Store32(out + 17, record.fieldA);
        le::Store16(out + 21, record.fieldC);
        le::Store32(out + 23, format4 ? relativeD : record.fieldD);
        le::Store32(out + 27, format4 ? record.fieldE & kMask18 : record.fieldE);
        le::Store32(out + 31, record.keyValue);
        le::Store32(out + 35, record.fieldB);
        break;
    }
    }
    return size;
}

void StoreKeyRecord(const KeyRecord& record, std::uint8_t* out)
{
    le::Store32(out, record.time);
    out[4] = record.hundredths;
    std::memcpy(out + 5, record.marker, sizeof record.marker);
    out[9] = record.format;
    out[10] = record.kind;
    le::Store32(out + 11, record.sequence);
    out[15] = StreamByte(record);
    out[16] = record.flags;
    le::Store32(out + 17, record.fieldA);
    le::Store32(out + 21, record.keyValue);
    le::Store32(out + 25, record.fieldB);
    le::Store16(out + 29, record.fieldC);
    le::Store32(out + 31, record.fieldD);
    le::Store32(out + 35, record.fieldE);
}

bool LoadKeyRecord(const std::uint8_t* data, std::size_t size, KeyRecord& record)
{
    if (size < kKeyRecordSize)
        return false;
    record.time = le::Load32(data);
    record.hundredths = data[4];
    std::memcpy(record.marker, data + 5, sizeof record.marker);
    record.format = data[9];
    record.kind = data[10];
    record.sequence = le::Load32(data + 11);
    record.stream = static_cast<std::int8_t>(data[15]);
    record.flags = data[16];
    record.fieldA = le::Load32(data + 17);
    record.keyValue = le::Load32(data + 21);
    record.fieldB = le::Load32(data + 25);
    record.fieldC = le::Load16(data + 29);
    record.fieldD = le::Load32(data + 31);
    record.fieldE = le::Load32(data + 35);
    return true;
}
