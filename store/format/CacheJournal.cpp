#include "store/format/CacheJournal.h"

bool JournalReader::Next(JournalEntry& entry)
{
    std::uint8_t head[kJournalHeadSize];
    if (m_source.ReadAt(m_position, head, kJournalHeadSize) != kJournalHeadSize || head[0] != kJournalTag)
        return false;
    const std::uint32_t length = le::Load32(head + 3);
    const std::uint64_t dataStart = m_position + kJournalHeadSize;
    if (length > kMaxJournalEntry || dataStart > m_size || length > m_size - dataStart)
        return false;
    entry.kind = head[1];
    entry.stream = head[2];
    entry.data.resize(length);
    if (length != 0 && m_source.ReadAt(dataStart, entry.data.data(), length) != length)
        return false;
    m_position = dataStart + length;
    return true;
}

std::vector<std::uint8_t> EncodeJournalEntry(std::uint8_t kind, std::uint8_t stream,
                                             const std::vector<std::uint8_t>& data)
{
    std::vector<std::uint8_t> out{kJournalTag, kind, stream};
    le::AppendU32(out, static_cast<std::uint32_t>(data.size()));
    out.insert(out.end(), data.begin(), data.end());
    return out;
}
