#include "store/format/ImageTables.h"

#include "store/format/CacheJournal.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

constexpr std::uint64_t kReadChunk = 1 << 20;

// Reads the u32 at position and moves position past it.
bool ReadU32(ByteSource& file, std::uint64_t& position, std::uint32_t& value)
{
    std::uint8_t bytes[4];
    if (file.ReadAt(position, bytes, 4) != 4)
        return false;
    value = le::Load32(bytes);
    position += 4;
    return true;
}

bool ReadStreamCountMark(ByteSource& file, std::uint64_t& position)
{
    std::uint32_t streams = 0;
    return ReadU32(file, position, streams) && streams == kStreamsPerKind;
}

}  // namespace

bool ReadExactly(ByteSource& file, std::uint64_t position, std::uint64_t count, std::vector<std::uint8_t>& out)
{
    const std::uint64_t size = file.Size();
    if (position > size || count > size - position)
        return false;
    out.resize(static_cast<std::size_t>(count));
    for (std::uint64_t done = 0; done < count;) {
        const auto chunk = static_cast<std::uint32_t>(std::min(kReadChunk, count - done));
        if (file.ReadAt(position + done, out.data() + done, chunk) != chunk)
            return false;
        done += chunk;
    }
    return true;
}

void ImageTables::Clear()
{
    for (auto& table : m_frames)
        table.clear();
    for (auto& table : m_keys)
        table.clear();
    for (auto& list : m_metaData)
        list.clear();
    for (auto& list : m_pendingText)
        list.clear();
    m_bytes.clear();
    m_metaDataLoaded = 0;
    m_scanPosition = 0;
    m_scanWindow.Reset();
    m_dirty = false;
}

bool ImageTables::LoadHeader(ByteSource& file)
{
    std::uint8_t first[4];
    if (file.ReadAt(0, first, 4) != 4)
        return false;
    std::vector<std::uint8_t> bytes;
    if (!ReadExactly(file, 0, HeaderReadSize(le::Load32(first)), bytes) ||
        !DecodeHeader(bytes.data(), bytes.size(), m_header))
        return false;
    Clear();
    return true;
}

bool ImageTables::LoadTables(ByteSource& file)
{
    Clear();
    if (ReadTables(file))
        return true;
    Clear();
    return false;
}

bool ImageTables::ReadTables(ByteSource& file)
{
    const TableLayout layout = LayoutOf(m_header.version);
    std::uint64_t position = m_header.tableOffset;
    std::vector<std::uint8_t> bytes;
    if (layout.videoPositions) {
        if (!ReadStreamCountMark(file, position))
            return false;
        for (int stream = 0; stream < kStreamsPerKind; ++stream) {
            std::uint32_t count = 0;
            if (!ReadU32(file, position, count) || !ReadExactly(file, position, 4ull * count, bytes))
                return false;
            position += bytes.size();
            auto& table = FrameTable(kVideo, stream);
            table.reserve(count);
            for (std::uint32_t i = 0; i < count; ++i)
                table.push_back(FrameEntry{le::Load32(&bytes[4 * i]), 0, 0, 0});
        }
    }
    for (int kind = layout.firstFullKind; kind < kStreamKinds; ++kind) {
        if (!ReadStreamCountMark(file, position))
            return false;
        for (int stream = 0; stream < kStreamsPerKind; ++stream) {
            std::uint32_t count = 0;
            if (!ReadU32(file, position, count) || !ReadExactly(file, position, std::uint64_t{kFrameEntrySize} * count, bytes))
                return false;
            position += bytes.size();
            auto& table = FrameTable(kind, stream);
            table.reserve(count);
            for (std::uint32_t i = 0; i < count; ++i) {
                const std::uint8_t* p = &bytes[std::size_t{kFrameEntrySize} * i];
                const FrameEntry entry{le::Load32(p), le::Load32(p + 4), le::Load16(p + 8), le::Load16(p + 10)};
                // Kept as they are: the flag tells the recorder not to rely on the order.
                if (!table.empty() && entry.time < table.back().time)
                    m_header.flags |= 1;
                table.push_back(entry);
            }
        }
    }
    if (layout.keyTable) {
        if (!ReadStreamCountMark(file, position))
            return false;
        for (int stream = 0; stream < kStreamsPerKind; ++stream) {
            std::uint32_t count = 0;
            if (!ReadU32(file, position, count) || !ReadExactly(file, position, std::uint64_t{kKeyEntrySize} * count, bytes))
                return false;
            position += bytes.size();
            auto& table = m_keys[stream];
            table.reserve(count);
            for (std::uint32_t i = 0; i < count; ++i)
                table.push_back(KeyEntry{le::Load32(&bytes[8 * i]), le::Load32(&bytes[8 * i + 4])});
        }
    }
    return true;
}

bool ImageTables::LoadMetaData(ByteSource& file, int stream)
{
    if (stream < -1 || stream >= kStreamsPerKind)
        return false;
    const std::uint16_t asked = stream == -1 ? 0xFFFF : static_cast<std::uint16_t>(1u << stream);
    const auto wanted = static_cast<std::uint16_t>(asked & ~m_metaDataLoaded);
    if (wanted == 0)
        return true;
    m_metaDataLoaded |= wanted;
    if (!LayoutOf(m_header.version).metaData || m_header.metaDataOffset == 0)
        return true;
    if (ReadMetaData(file, wanted))
        return true;
    for (int s = 0; s < kStreamsPerKind; ++s) {
        if (wanted & (1u << s))
            m_metaData[s].clear();
    }
    return false;
}

bool ImageTables::ReadMetaData(ByteSource& file, std::uint16_t wanted)
{
    std::uint64_t position = m_header.metaDataOffset;
    std::vector<std::uint8_t> positions;
    if (!ReadStreamCountMark(file, position) || !ReadExactly(file, position, 4 * kStreamsPerKind, positions))
        return false;
    std::vector<std::uint8_t> bytes;
    for (int stream = 0; stream < kStreamsPerKind; ++stream) {
        if (!(wanted & (1u << stream)))
            continue;
        position = le::Load32(&positions[4 * static_cast<std::size_t>(stream)]);
        std::uint32_t count = 0;
        if (!ReadU32(file, position, count) || position > file.Size() || count > (file.Size() - position) / 2)
            return false;
        auto& list = m_metaData[stream];
        list.clear();
        list.reserve(count);
        for (std::uint32_t i = 0; i < count; ++i) {
            std::uint8_t lengthBytes[2];
            if (file.ReadAt(position, lengthBytes, 2) != 2 || !ReadExactly(file, position + 2, le::Load16(lengthBytes), bytes))
                return false;
            position += 2 + bytes.size();
            if (m_bytes.size() + bytes.size() >= kNoPosition)
                return false;
            list.push_back(AddBytes(bytes.data(), bytes.size()));
        }
    }
    return true;
}

ImageTables::Item ImageTables::AddBytes(const std::uint8_t* data, std::size_t length)
{
    Item item;
    item.offset = static_cast<std::uint32_t>(m_bytes.size());
    item.length = static_cast<std::uint32_t>(length);
    m_bytes.insert(m_bytes.end(), data, data + length);
    return item;
}

void ImageTables::EnterWriteMode()
{
    // Room for a good stretch of recording before anything moves.
    constexpr std::size_t kEntries = 512;
    for (auto& table : m_frames)
        table.reserve(kEntries);
    for (auto& list : m_metaData)
        list.reserve(kEntries);
    for (auto& list : m_pendingText)
        list.reserve(kEntries);
    m_bytes.reserve(512 * 1024);
    m_writeMode = true;
}

std::uint32_t ImageTables::StreamCount(int stream, int kind) const
{
    if (stream < 0 || stream >= kStreamsPerKind || kind < 0 || kind >= kStreamKinds)
        return 0;
    const auto count = static_cast<std::uint32_t>(Frames(kind, stream).size());
    return kind == kVideo ? count + 2 : count;
}

bool ImageTables::HasMetaData() const
{
    if (!m_writeMode)
        return m_header.metaDataOffset != 0;
    return std::any_of(m_metaData.begin(), m_metaData.end(), [](const auto& list) { return !list.empty(); });
}

bool ImageTables::MergeJournal(ByteSource& journal)
{
    if (!m_writeMode || HasMetaData())
        return false;
    JournalReader reader(journal);
    JournalEntry entry;
    while (reader.Next(entry)) {
        const std::size_t length = entry.data.size();
        const bool room = entry.stream < kStreamsPerKind && m_bytes.size() + length < kNoPosition;
        if (entry.kind == kJournalMetaData && entry.stream < kStreamsPerKind) {
            // The list runs one item per video frame. An item stores a 16-bit
            // length, so a longer one cannot be kept; its frame keeps its slot
            // without meta data, so that every later item stays on its frame.
            const Item item = room && length <= kMaxMetaDataItem ? AddBytes(entry.data.data(), length) : Item{};
            m_metaData[entry.stream].push_back(item);
            m_header.tablesEnd += item.length + 2u;
            m_dirty = true;
        } else if (entry.kind == kJournalPendingText && room) {
            // A whole record, stored with a 32-bit length: any entry fits.
            m_pendingText[entry.stream].push_back(AddBytes(entry.data.data(), length));
            m_header.tablesEnd += static_cast<std::uint32_t>(length + 16);
            m_dirty = true;
        } else if (entry.kind == kJournalHeaderExtension && length >= kImageHeaderSize) {
            std::memcpy(m_header.extension.data(), entry.data.data() + 28, m_header.extension.size());
            m_header.flags = le::Load32(entry.data.data() + 44);
            m_dirty = true;
        }
    }
    m_metaDataLoaded = 0xFFFF;
    // One meta-data item per video frame, no more and no fewer.
    for (int stream = 0; stream < kStreamsPerKind; ++stream) {
        auto& list = m_metaData[stream];
        const std::size_t frames = Frames(kVideo, stream).size();
        if (list.size() == frames)
            continue;
        for (std::size_t i = frames; i < list.size(); ++i)
            m_header.tablesEnd -= list[i].length + 2u;
        if (list.size() < frames)
            m_header.tablesEnd += static_cast<std::uint32_t>(2 * (frames - list.size()));
        list.resize(frames);
        m_dirty = true;
    }
    MergePendingText();
    return true;
}

void ImageTables::MergePendingText()
{
    for (int stream = 0; stream < kStreamsPerKind; ++stream) {
        auto& list = m_pendingText[stream];
        auto& table = FrameTable(kText, stream);
        std::vector<Item> kept;
        for (const Item& item : list) {
            std::uint8_t* record = m_bytes.data() + item.offset;
            // A record the file already holds, or too short to be one, is dropped.
            if (item.length < kRecordPrefixSize || table.size() > le::Load32(record + 11)) {
                m_header.tablesEnd -= item.length + 16u;
                continue;
            }
            le::Store32(record + 11, static_cast<std::uint32_t>(table.size()));
            table.push_back(FrameEntry{kNoPosition, le::Load32(record), static_cast<std::uint16_t>(record[4] * 10), 1});
            kept.push_back(item);
        }
        if (kept.size() != list.size())
            m_dirty = true;
        list = std::move(kept);
    }
}

std::vector<std::uint8_t> ImageTables::EncodeTables(std::uint32_t tableOffset)
{
    const TableLayout layout = LayoutOf(m_header.version);
    std::vector<std::uint8_t> out;
    if (layout.videoPositions) {
        le::AppendU32(out, kStreamsPerKind);
        for (int stream = 0; stream < kStreamsPerKind; ++stream) {
            le::AppendU32(out, static_cast<std::uint32_t>(Frames(kVideo, stream).size()));
            for (const FrameEntry& entry : Frames(kVideo, stream))
                le::AppendU32(out, entry.position);
        }
    }
    for (int kind = layout.firstFullKind; kind < kStreamKinds; ++kind) {
        le::AppendU32(out, kStreamsPerKind);
        for (int stream = 0; stream < kStreamsPerKind; ++stream) {
            le::AppendU32(out, static_cast<std::uint32_t>(Frames(kind, stream).size()));
            for (const FrameEntry& entry : Frames(kind, stream)) {
                le::AppendU32(out, entry.position);
                le::AppendU32(out, entry.time);
                le::AppendU16(out, entry.thousandths);
                le::AppendU16(out, entry.keyFlag);
            }
        }
    }
    if (layout.keyTable) {
        le::AppendU32(out, kStreamsPerKind);
        for (const auto& table : m_keys) {
            le::AppendU32(out, static_cast<std::uint32_t>(table.size()));
            for (const KeyEntry& entry : table) {
                le::AppendU32(out, entry.keyValue);
                le::AppendU32(out, entry.frameIndex);
            }
        }
    }
    const bool anyMetaData = std::any_of(m_metaData.begin(), m_metaData.end(), [](const auto& l) { return !l.empty(); });
    m_header.metaDataOffset = 0;
    if (layout.metaData && anyMetaData) {
        m_header.metaDataOffset = tableOffset + static_cast<std::uint32_t>(out.size());
        EncodeMetaData(out, m_header.metaDataOffset);
    }
    return out;
}

void ImageTables::EncodeMetaData(std::vector<std::uint8_t>& out, std::uint32_t metaDataOffset) const
{
    le::AppendU32(out, kStreamsPerKind);
    std::uint32_t position = metaDataOffset + 4 + 4 * kStreamsPerKind;
    for (const auto& list : m_metaData) {
        le::AppendU32(out, position);
        position += 4;
        for (const Item& item : list)
            position += item.length + 2u;
    }
    for (const auto& list : m_metaData) {
        le::AppendU32(out, static_cast<std::uint32_t>(list.size()));
        for (const Item& item : list) {
            le::AppendU16(out, static_cast<std::uint16_t>(item.length));
            if (const std::uint8_t* bytes = ItemBytes(item))
                out.insert(out.end(), bytes, bytes + item.length);
        }
    }
}

bool ImageTables::WriteBack(ByteSink& file)
{
    m_dirty = false;
    // The file changes under what the scan read.
    m_scanWindow.Reset();
    // The pending text records go after the last record, in stream order.
    const std::uint64_t dataEnd = m_header.dataEnd;
    std::vector<std::uint8_t> records;
    for (int stream = 0; stream < kStreamsPerKind; ++stream) {
        auto& table = FrameTable(kText, stream);
        for (const Item& item : m_pendingText[stream]) {
            const std::uint8_t* record = m_bytes.data() + item.offset;
            const std::uint32_t sequence = le::Load32(record + 11);
            if (sequence >= table.size())
                break;
            table[sequence].position = static_cast<std::uint32_t>(dataEnd + records.size());
            le::AppendU32(records, item.length);
            records.insert(records.end(), record, record + item.length);
        }
        m_pendingText[stream].clear();
    }
    const std::uint64_t tableOffset = dataEnd + records.size();
    // A damaged header must not make the tables overwrite the header.
    if (dataEnd < kImageHeaderSize || tableOffset >= kNoPosition)
        return false;
    const std::vector<std::uint8_t> tables = EncodeTables(static_cast<std::uint32_t>(tableOffset));
    const std::uint64_t end = tableOffset + tables.size();
    if (end > file.Size() || end > std::numeric_limits<std::uint32_t>::max())
        return false;
    if (!records.empty() && !file.WriteAt(dataEnd, records.data(), static_cast<std::uint32_t>(records.size())))
        return false;
    if (!file.WriteAt(tableOffset, tables.data(), static_cast<std::uint32_t>(tables.size())))
        return false;
    m_header.dataEnd = static_cast<std::uint32_t>(tableOffset);
    m_header.tableOffset = static_cast<std::uint32_t>(tableOffset);
    // Older generations keep no running total; theirs is where the tables end.
    if (m_header.version < kImageVersion)
        m_header.tablesEnd = static_cast<std::uint32_t>(end);
    const std::vector<std::uint8_t> header = EncodeHeader(m_header);
    return file.WriteAt(0, header.data(), static_cast<std::uint32_t>(header.size()));
}
