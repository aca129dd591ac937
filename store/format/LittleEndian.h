// Little-endian loads and stores over byte buffers. Every on-disk integer of
// the image store is little-endian; assembling values byte by byte keeps the
// code independent of the host's byte order and of alignment.
#pragma once

#include <cstddef>
#include <cstdint>

namespace le {

inline std::uint16_t Load16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

inline std::uint32_t Load32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

inline std::uint64_t Load64(const std::uint8_t* p)
{
    return static_cast<std::uint64_t>(Load32(p)) | (static_cast<std::uint64_t>(Load32(p + 4)) << 32);
}

inline void Store16(std::uint8_t* p, std::uint32_t value)
{
    p[0] = static_cast<std::uint8_t>(value);
    p[1] = static_cast<std::uint8_t>(value >> 8);
}

inline void Store32(std::uint8_t* p, std::uint32_t value)
{
    p[0] = static_cast<std::uint8_t>(value);
    p[1] = static_cast<std::uint8_t>(value >> 8);
    p[2] = static_cast<std::uint8_t>(value >> 16);
    p[3] = static_cast<std::uint8_t>(value >> 24);
}

inline void Store64(std::uint8_t* p, std::uint64_t value)
{
    Store32(p, static_cast<std::uint32_t>(value));
    Store32(p + 4, static_cast<std::uint32_t>(value >> 32));
}

}  // namespace le
