// The cache file beside an image file that is being written (CACHE%04d.tmp):
// the recorder's journal of entries not yet in the image file's tables.
//
// This program only reads it, from the start, through a buffer of its own;
// it is opened the way the recorder opens it, so that a recorder that still
// holds it keeps working.
#pragma once

#include "recorderlibs/Win32Handle.h"
#include "store/format/ByteIo.h"

#include <cstdint>
#include <string>
#include <vector>

class CacheFile : public ByteSource {
public:
    CacheFile() = default;
    ~CacheFile() override = default;
    CacheFile(const CacheFile&) = delete;
    CacheFile& operator=(const CacheFile&) = delete;

    // Read-write, created when missing (an existing file is not emptied),
    // shared for reading and writing, with a sequential-scan hint.
    win32::Error Open(const std::string& path);
    bool IsOpen() const { return m_handle.valid(); }
    void Close();

    std::uint64_t Size() const override;
    std::uint32_t ReadAt(std::uint64_t position, void* destination, std::uint32_t count) override;

private:
    bool Fill(std::uint64_t position);

    win32::UniqueFileHandle m_handle;
    std::vector<std::uint8_t> m_buffer;
    std::uint64_t m_bufferStart = 0;
};
