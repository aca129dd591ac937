#include "store/format/ImageFormat.h"

#include "store/format/ByteIo.h"

#include <cstring>

namespace {

constexpr std::uint8_t kMarker[4] = {'K', 'S', 'T', 'X'};

bool IsOldestForm(std::uint32_t version)
{
    return version == 0x1000 || version == 0x2000;
}

}  // namespace

std::uint32_t HeaderReadSize(std::uint32_t version)
{
    if (version == 0x1000)
        return 28;
    if (version == 0x2000)
        return 72;
    return version > 0x3000 ? kImageHeaderSize : 24;
}

std::uint32_t HeaderWriteSize(std::uint32_t version)
{
    if (IsOldestForm(version))
        return 20;
    return version > 0x3000 ? kImageHeaderSize : 24;
}

bool DecodeHeader(const std::uint8_t* data, std::size_t size, ImageHeader& header)
{
    if (size < 4)
        return false;
    const std::uint32_t version = le::Load32(data);
    if (size < HeaderReadSize(version))
        return false;
    header = ImageHeader{};
    header.version = version;
    header.tableOffset = le::Load32(data + 4);
    if (version > 0x3000) {
        header.metaDataOffset = le::Load32(data + 8);
        header.dataEnd = le::Load32(data + 12);
        header.fileSize = le::Load32(data + 16);
        header.tablesEnd = le::Load32(data + 20);
        header.timeZoneIndex = static_cast<std::int32_t>(le::Load32(data + 24));
        std::memcpy(header.extension.data(), data + 28, header.extension.size());
        header.flags = le::Load32(data + 44);
        return true;
    }
    header.dataEnd = le::Load32(data + 8);
    header.fileSize = le::Load32(data + 12);
    header.tablesEnd = le::Load32(data + 16);
    header.timeZoneIndex = IsOldestForm(version) ? -1 : static_cast<std::int32_t>(le::Load32(data + 20));
    return true;
}

std::vector<std::uint8_t> EncodeHeader(const ImageHeader& header)
{
    std::vector<std::uint8_t> out;
    le::AppendU32(out, header.version);
    le::AppendU32(out, header.tableOffset);
    if (header.version > 0x3000) {
        le::AppendU32(out, header.metaDataOffset);
        le::AppendU32(out, header.dataEnd);
        le::AppendU32(out, header.fileSize);
        le::AppendU32(out, header.tablesEnd);
        le::AppendU32(out, static_cast<std::uint32_t>(header.timeZoneIndex));
        out.insert(out.end(), header.extension.begin(), header.extension.end());
        le::AppendU32(out, header.flags);
        return out;
    }
    le::AppendU32(out, header.dataEnd);
    le::AppendU32(out, header.fileSize);
    le::AppendU32(out, header.tablesEnd);
    if (!IsOldestForm(header.version))
        le::AppendU32(out, static_cast<std::uint32_t>(header.timeZoneIndex));
    return out;
}

ImageHeader MakeFreshHeader(std::uint32_t fileSize, std::int32_t timeZoneIndex)
{
    ImageHeader header;
    header.version = kImageVersion;
    header.tableOffset = kImageHeaderSize;
    header.dataEnd = kImageHeaderSize;
    header.fileSize = fileSize;
    header.tablesEnd = kFreshTablesEnd;
    header.timeZoneIndex = timeZoneIndex;
    return header;
}

std::vector<std::uint8_t> MakeFreshTable()
{
    std::vector<std::uint8_t> out;
    out.reserve(kFreshTableSize);
    // Three frame tables and the key table, every stream empty.
    for (int table = 0; table < kStreamKinds + 1; ++table) {
        le::AppendU32(out, kStreamsPerKind);
        out.insert(out.end(), 4 * kStreamsPerKind, 0);
    }
    // An empty meta-data table, although the header does not point at it.
    const auto metaStart = static_cast<std::uint32_t>(kImageHeaderSize + out.size());
    le::AppendU32(out, kStreamsPerKind);
    for (std::uint32_t stream = 0; stream < kStreamsPerKind; ++stream)
        le::AppendU32(out, metaStart + 4 + 4 * kStreamsPerKind + 4 * stream);
    out.insert(out.end(), 4 * kStreamsPerKind, 0);
    return out;
}

TableLayout LayoutOf(std::uint32_t version)
{
    TableLayout layout{};
    layout.videoPositions = version <= 0x3000;
    layout.firstFullKind = version <= 0x2015 ? kStreamKinds : (version < kImageVersion ? kAudio : kVideo);
    layout.keyTable = version >= kImageVersion;
    layout.metaData = version >= kImageVersion;
    return layout;
}

bool ParseRecordPrefix(const std::uint8_t* data, std::size_t size, RecordPrefix& prefix)
{
    if (size < kRecordPrefixSize || std::memcmp(data + 5, kMarker, sizeof kMarker) != 0)
        return false;
    if (data[10] >= kStreamKinds || data[15] >= kStreamsPerKind)
        return false;
    prefix.time = le::Load32(data);
    prefix.hundredths = data[4];
    prefix.format = data[9];
    prefix.kind = data[10];
    prefix.sequence = le::Load32(data + 11);
    prefix.stream = data[15];
    return true;
}

bool ParseAudioHeader(const std::uint8_t* data, std::size_t size, AudioHeader& header)
{
    if (size < kAudioHeaderSize || !ParseRecordPrefix(data, size, header.prefix))
        return false;
    header.field16 = le::Load32(data + 16);
    header.field20 = le::Load32(data + 20);
    header.field24 = le::Load32(data + 24);
    return true;
}

bool ParseTextHeader(const std::uint8_t* data, std::size_t size, TextHeader& header)
{
    if (!ParseRecordPrefix(data, size, header.prefix))
        return false;
    const bool old = header.prefix.format == 1;
    if (size < (old ? kOldTextHeaderSize : kTextHeaderSize))
        return false;
    header.field16 = le::Load32(data + 16);
    header.field20 = le::Load16(data + 20);
    header.field22 = le::Load16(data + 22);
    header.field24 = old ? 0 : le::Load32(data + 24);
    header.field28 = old ? 0 : le::Load16(data + 28);
    header.prefix.format = 2;
    return true;
}
