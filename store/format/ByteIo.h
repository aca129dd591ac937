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

// The bytes of a source around the last place read, kept between reads.
struct WindowState {
    std::vector<std::uint8_t> bytes;
    std::uint64_t start = 0;
    std::uint32_t filled = 0;

    // Drops what is held (and the memory), for when the source may change.
    void Reset()
    {
        bytes = {};
        start = 0;
        filled = 0;
    }
};

// Serves reads that move forward through a source out of one buffer, which
// is refilled from the position asked for whenever a read leaves it. One
// positioned read of a file costs far more than copying a few bytes out of
// memory, and a scan reads a few bytes of every record. A read returns what
// the source would have returned, provided the source does not change while
// the state is kept; reads longer than the buffer go to the source.
class ReadWindow : public ByteSource {
public:
    ReadWindow(ByteSource& source, WindowState& state, std::uint32_t capacity)
        : m_source(source), m_state(state), m_capacity(capacity) {}

    std::uint64_t Size() const override { return m_source.Size(); }
    std::uint32_t ReadAt(std::uint64_t position, void* destination, std::uint32_t count) override
    {
        if (count > m_capacity)
            return m_source.ReadAt(position, destination, count);
        WindowState& w = m_state;
        if (position < w.start || position - w.start > w.filled || w.filled - (position - w.start) < count) {
            // Never more than the real size holds.
            const std::uint64_t size = m_source.Size();
            const auto want = static_cast<std::uint32_t>(position < size ? std::min<std::uint64_t>(m_capacity, size - position) : 0);
            // Grown only as far as the file needs.
            if (w.bytes.size() < want)
                w.bytes.resize(want);
            w.start = position;
            w.filled = want == 0 ? 0 : std::min(want, m_source.ReadAt(position, w.bytes.data(), want));
        }
        const std::uint32_t n = std::min(count, w.filled - static_cast<std::uint32_t>(position - w.start));
        if (n != 0)
            std::memcpy(destination, w.bytes.data() + (position - w.start), n);
        return n;
    }

private:
    ByteSource& m_source;
    WindowState& m_state;
    std::uint32_t m_capacity;
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
