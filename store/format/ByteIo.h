// Positioned byte access for the image-file code, and little-endian appends.
// The format code reads and writes through these two interfaces only, so
// that the same code runs over an open file on the recorder and over a plain
// byte buffer in tests and fuzzing.
#pragma once

#include "store/format/LittleEndian.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

// Reads at a position. Size() is the real length of what lies behind it,
// whatever a damaged header claims; reads past it come back short.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t Size() const = 0;
    // Copies up to count bytes at position; returns how many were copied.
    virtual std::uint32_t ReadAt(std::uint64_t position, void* destination, std::uint32_t count) = 0;
};

class ByteSink {
public:
    virtual ~ByteSink() = default;
    virtual std::uint64_t Size() const = 0;
    virtual bool WriteAt(std::uint64_t position, const void* source, std::uint32_t count) = 0;
};

// A whole file held in memory: the fuzz targets load from it, the tests also
// write back into it and load again.
class BufferFile : public ByteSource, public ByteSink {
public:
    BufferFile() = default;
    explicit BufferFile(std::vector<std::uint8_t> bytes) : m_bytes(std::move(bytes)) {}
    BufferFile(const std::uint8_t* data, std::size_t size) : m_bytes(data, data + size) {}

    std::uint64_t Size() const override { return m_bytes.size(); }
    std::uint32_t ReadAt(std::uint64_t position, void* destination, std::uint32_t count) override
    {
        if (position >= m_bytes.size())
            return 0;
        const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(count, m_bytes.size() - position));
        if (n != 0)
            std::memcpy(destination, m_bytes.data() + position, n);
        return n;
    }
    // Writes only inside the buffer: a file does not grow by write-back.
    bool WriteAt(std::uint64_t position, const void* source, std::uint32_t count) override
    {
        if (position > m_bytes.size() || count > m_bytes.size() - position)
            return false;
        if (count != 0)
            std::memcpy(m_bytes.data() + position, source, count);
        return true;
    }

    std::vector<std::uint8_t>& Bytes() { return m_bytes; }
    const std::vector<std::uint8_t>& Bytes() const { return m_bytes; }

private:
    std::vector<std::uint8_t> m_bytes;
};

namespace le {

inline void AppendU16(std::vector<std::uint8_t>& out, std::uint16_t v)
{
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

inline void AppendU32(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

}  // namespace le
