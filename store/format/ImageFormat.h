// The byte layouts of an image file: its header in every generation, the
// record prefix and the audio and text headers, the table entries, and the
// contents of a freshly initialised file. Plain byte code, no platform calls.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

inline constexpr std::uint32_t kImageVersion = 0x3010;  // the generation this program writes
inline constexpr std::uint32_t kImageHeaderSize = 48;
inline constexpr std::uint32_t kFreshTableSize = 404;
inline constexpr std::uint32_t kFreshTablesEnd = kImageHeaderSize + kFreshTableSize;
inline constexpr int kStreamsPerKind = 16;
inline constexpr int kStreamKinds = 3;
inline constexpr std::uint32_t kRecordPrefixSize = 16;
inline constexpr std::uint32_t kMaxParsedHeader = 128;  // bytes of a record read to parse its header
inline constexpr std::uint32_t kAudioHeaderSize = 28;
inline constexpr std::uint32_t kTextHeaderSize = 30;
inline constexpr std::uint32_t kOldTextHeaderSize = 24;
inline constexpr std::uint32_t kFrameEntrySize = 12;
inline constexpr std::uint32_t kKeyEntrySize = 8;
inline constexpr std::uint32_t kNoPosition = 0xFFFFFFFF;  // a record still only in the cache journal

enum StreamKind : int { kVideo = 0, kAudio = 1, kText = 2 };

// The header in its 48-byte layout, whatever generation it was read from.
struct ImageHeader {
    std::uint32_t version = 0;
    std::uint32_t tableOffset = 0;
    std::uint32_t metaDataOffset = 0;
    std::uint32_t dataEnd = 0;
    std::uint32_t fileSize = 0;
    std::uint32_t tablesEnd = 0;
    std::int32_t timeZoneIndex = 0;
    std::array<std::uint8_t, 16> extension{};
    std::uint32_t flags = 0;  // bit 0: frame times of some stream fall
};

// How many bytes the stored header of a generation occupies.
std::uint32_t HeaderReadSize(std::uint32_t version);
// How many of those bytes this program knows and writes back: the others
// belong to that generation's software and are left as they are.
std::uint32_t HeaderWriteSize(std::uint32_t version);
// data must hold HeaderReadSize(version of its first u32) bytes.
bool DecodeHeader(const std::uint8_t* data, std::size_t size, ImageHeader& header);
// The header in the layout of its own generation (HeaderWriteSize bytes).
std::vector<std::uint8_t> EncodeHeader(const ImageHeader& header);

ImageHeader MakeFreshHeader(std::uint32_t fileSize, std::int32_t timeZoneIndex);
// The table of contents of a file without records (kFreshTableSize bytes).
std::vector<std::uint8_t> MakeFreshTable();

// Which tables a generation keeps, in the order they are stored.
struct TableLayout {
    bool videoPositions;  // u32 positions of the video records only
    int firstFullKind;    // first kind with 12-byte entries; kStreamKinds when none
    bool keyTable;
    bool metaData;
};
TableLayout LayoutOf(std::uint32_t version);

// The first 16 bytes of every audio, text and newer video header.
struct RecordPrefix {
    std::uint32_t time = 0;
    std::uint8_t hundredths = 0;
    std::uint8_t format = 0;
    std::uint8_t kind = 0;
    std::uint32_t sequence = 0;
    std::uint8_t stream = 0;
};

// False unless size covers a prefix with the marker, a known kind and a
// stream below 16.
bool ParseRecordPrefix(const std::uint8_t* data, std::size_t size, RecordPrefix& prefix);

struct AudioHeader {
    RecordPrefix prefix;
    std::uint32_t field16 = 0;
    std::uint32_t field20 = 0;
    std::uint32_t field24 = 0;
};

// Always in its newer form; an older one reads with the last two fields 0.
struct TextHeader {
    RecordPrefix prefix;
    std::uint32_t field16 = 0;
    std::uint16_t field20 = 0;
    std::uint16_t field22 = 0;
    std::uint32_t field24 = 0;
    std::uint16_t field28 = 0;
};

bool ParseAudioHeader(const std::uint8_t* data, std::size_t size, AudioHeader& header);
bool ParseTextHeader(const std::uint8_t* data, std::size_t size, TextHeader& header);

struct FrameEntry {
    std::uint32_t position = 0;  // of the record's length field
    std::uint32_t time = 0;
    std::uint16_t thousandths = 0;
    std::uint16_t keyFlag = 0;
};

struct KeyEntry {
    std::uint32_t keyValue = 0;
    std::uint32_t frameIndex = 0;
};
