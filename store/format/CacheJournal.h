// The cache journal beside an image file that is being written: entries the
// recorder had not yet put into the image file's tables when it stopped.
// Plain byte code, no platform calls.
#pragma once

#include "store/format/ByteIo.h"

#include <cstdint>
#include <vector>

inline constexpr std::uint32_t kJournalHeadSize = 7;
inline constexpr std::uint8_t kJournalTag = 1;
inline constexpr std::uint32_t kMaxJournalEntry = 0x20000;

enum JournalEntryKind : std::uint8_t {
    kJournalMetaData = 0,     // meta-data item for the next frame of a video stream
    kJournalPendingText = 1,  // a whole text record, not yet in the image file
    kJournalHeaderExtension = 2,
};

struct JournalEntry {
    std::uint8_t kind = 0;
    std::uint8_t stream = 0;
    std::vector<std::uint8_t> data;
};

// Reads the journal from its start, one entry at a time. The journal ends at
// the first head that is short, has another tag or announces more than
// kMaxJournalEntry bytes, and at the first entry whose data are short: a
// journal torn by a power cut ends where its last whole entry ends.
class JournalReader {
public:
    // The size is taken once: asking the file for it costs a system call,
    // and the journal has thousands of entries.
    explicit JournalReader(ByteSource& source) : m_source(source), m_size(source.Size()) {}
    bool Next(JournalEntry& entry);

private:
    ByteSource& m_source;
    std::uint64_t m_size;
    std::uint64_t m_position = 0;
};

// One entry as the recorder appends it (for tests and tools).
std::vector<std::uint8_t> EncodeJournalEntry(std::uint8_t kind, std::uint8_t stream,
                                             const std::vector<std::uint8_t>& data);
