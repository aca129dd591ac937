// Video frame headers: the six stored formats and the one 39-byte in-memory
// form that the rest of the store works on. Plain byte code, no platform calls.
#pragma once

#include <cstddef>
#include <cstdint>

// The in-memory form of any video frame header (39 bytes when stored, packed,
// little-endian, fields at the offsets given in the comments).
struct KeyRecord {
    std::uint32_t time = 0;        // 0: whole seconds
    std::uint8_t hundredths = 0;   // 4
    char marker[4] = {};           // 5: "KSTX"
    std::uint8_t format = 0;       // 9
    std::uint8_t kind = 0;         // 10: 0 video
    std::uint32_t sequence = 0;    // 11
    std::int8_t stream = 0;        // 15: the older formats' 127 reads as -1
    std::uint8_t flags = 0;        // 16: bit 0 key frame
    std::uint32_t fieldA = 0;      // 17
    std::uint32_t keyValue = 0;    // 21
    std::uint32_t fieldB = 0;      // 25
    std::uint16_t fieldC = 0;      // 29
    std::uint32_t fieldD = 0;      // 31
    std::uint32_t fieldE = 0;      // 35
};

inline constexpr std::size_t kKeyRecordSize = 39;

// Reads the stored header at [data, data + size) into record. headerSize
// receives the size of the stored header (the non-key or key size of its
// format). False when size is shorter than that header, in which case
// nothing past data + size was read.
bool ConvertVideoHeader(const std::uint8_t* data, std::size_t size, KeyRecord& record,
                        std::uint32_t numberBase, std::uint32_t& headerSize, std::uint32_t fileVersion);

inline constexpr char kFrameMarker[4] = {'K', 'S', 'T', 'X'};

// The stored format (1 to 6) of the header at [data, data + size): the
// format byte of a header that carries the marker, otherwise the one that
// fileVersion implies. A marked header whose format byte names no marked
// format (anything but 3 to 6) is laid out as the newest format, 6.
int VideoHeaderFormat(const std::uint8_t* data, std::size_t size, std::uint32_t fileVersion);

// Size of one key index record for an image file of version, 0 for versions
// without a key index (0x3010 and later, or unknown ones).
std::size_t KeyIndexRecordSize(std::uint32_t fileVersion);

// Writes record in the key-index form of fileVersion into out. Returns the
// bytes written, or 0 (nothing written) for a version without a key index
// or when capacity is too small.
std::size_t WriteKeyIndexRecord(const KeyRecord& record, std::uint32_t fileVersion, std::uint32_t numberBase,
                                std::uint8_t* out, std::size_t capacity);

// The 39 packed bytes of a KeyRecord.
void StoreKeyRecord(const KeyRecord& record, std::uint8_t* out);
// False (record untouched) when size is below kKeyRecordSize.
bool LoadKeyRecord(const std::uint8_t* data, std::size_t size, KeyRecord& record);
