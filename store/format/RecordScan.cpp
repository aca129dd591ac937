// Rebuilding the tables of an image file from its records, for files whose
// tables cannot be trusted. A record is only taken when the record after it
// is well-formed and continues the numbering of its stream: the bytes after
// the last record of a file are its table of contents or whatever the disk
// held before, and a record torn by a power cut must not reach the tables.
#include "store/format/ImageTables.h"

#include <algorithm>

namespace {

// Several records of the usual sizes, so that one read of the file serves
// many records.
constexpr std::uint32_t kScanWindowSize = 256 * 1024;

}  // namespace

bool ImageTables::ReadPrefixAt(ByteSource& file, std::uint64_t position, RecordPrefix& prefix, std::uint32_t& length)
{
    // Bounded by the size the header gives; the source bounds it by the
    // real size, which a damaged header may overstate.
    const std::uint64_t limit = m_header.fileSize;
    std::uint8_t bytes[4 + kRecordPrefixSize];
    if (position + sizeof bytes > limit || file.ReadAt(position, bytes, sizeof bytes) != sizeof bytes)
        return false;
    length = le::Load32(bytes);
    return length >= kRecordPrefixSize && ParseRecordPrefix(bytes + 4, kRecordPrefixSize, prefix);
}

std::uint32_t ImageTables::ExpectedSequence(const RecordPrefix& prefix, std::uint32_t extra) const
{
    const auto count = static_cast<std::uint32_t>(Frames(prefix.kind, prefix.stream).size());
    // Video numbering starts at 2, the others at 0.
    return count + extra + (prefix.kind == kVideo ? 2 : 0);
}

bool ImageTables::ScanNext(ByteSource& file, ScannedRecord& record)
{
    if (m_scanPosition == 0) {
        for (auto& table : m_frames)
            table.clear();
        for (auto& table : m_keys)
            table.clear();
        m_scanPosition = kImageHeaderSize;
        m_header.tableOffset = kImageHeaderSize;
        m_header.dataEnd = kImageHeaderSize;
        m_header.tablesEnd = kFreshTablesEnd;
        m_scanWindow.Reset();
    }
    // Each record is read three times in small pieces (its prefix, the
    // prefix after it, its header), all close together and moving forward.
    ReadWindow window(file, m_scanWindow, kScanWindowSize);
    if (ScanRecord(window, record))
        return true;
    m_scanWindow.Reset();
    return false;
}

bool ImageTables::ScanRecord(ByteSource& file, ScannedRecord& record)
{
    const std::uint64_t position = m_scanPosition;
    RecordPrefix current;
    std::uint32_t length = 0;
    if (!ReadPrefixAt(file, position, current, length) || current.sequence != ExpectedSequence(current, 0)) {
        m_scanPosition = 0;
        return false;
    }
    const std::uint64_t next = position + 4 + length;
    RecordPrefix following;
    std::uint32_t followingLength = 0;
    const bool followingRead = ReadPrefixAt(file, next, following, followingLength);
    const bool sameStream = following.kind == current.kind && following.stream == current.stream;
    if (!followingRead || following.sequence != ExpectedSequence(following, sameStream ? 1 : 0)) {
        m_scanPosition = 0;
        return false;
    }

    std::uint8_t header[kMaxParsedHeader];
    const std::uint32_t headerBytes = std::min(length, kMaxParsedHeader);
    if (file.ReadAt(position + 4, header, headerBytes) != headerBytes)
        return false;
    // Before the generation that added audio and text, every record is video.
    if (m_header.version < 0x3000 && current.kind != kVideo)
        return false;
    record = ScannedRecord{};
    record.kind = current.kind;
    record.length = length;
    record.prefix = current;
    record.keyFrame = true;
    if (current.kind == kVideo) {
        std::uint32_t headerSize = 0;
        if (!ConvertVideoHeader(header, headerBytes, record.video, 0, headerSize, m_header.version))
            return false;
        record.keyFrame = (record.video.flags & 1) != 0;
        record.keyValue = record.video.keyValue;
    } else if (current.kind == kAudio) {
        if (!ParseAudioHeader(header, headerBytes, record.audio))
            return false;
    } else if (!ParseTextHeader(header, headerBytes, record.text)) {
        return false;
    }

    auto& table = FrameTable(current.kind, current.stream);
    table.push_back(FrameEntry{static_cast<std::uint32_t>(position), current.time,
                               static_cast<std::uint16_t>(current.hundredths * 10),
                               static_cast<std::uint16_t>(record.keyFrame ? 1 : 0)});
    m_header.tablesEnd += length + 4 + kFrameEntrySize;
    if (current.kind == kVideo && record.keyFrame) {
        m_keys[current.stream].push_back(KeyEntry{record.keyValue, static_cast<std::uint32_t>(table.size() - 1)});
        m_header.tablesEnd += kKeyEntrySize;
    }
    m_header.dataEnd += length + 4;
    m_scanPosition = static_cast<std::uint32_t>(next);
    m_dirty = true;
    return true;
}
