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
