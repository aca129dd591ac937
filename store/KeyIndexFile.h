// The key index file of an image file before version 0x3010: the headers of
// its key frames again, one fixed-size record each, with no header of its own.
#pragma once

#include "store/MmioFile.h"
#include "store/format/FrameHeader.h"

#include <cstdint>

class KeyIndexFile : public MmioFile {
public:
    using MmioFile::Create;
    using MmioFile::Open;

    // Creates KEY<number>.NDX in the base path, emptying an existing one.
    bool Create(std::int32_t number);
    // Opens KEY<number>.NDX, creating it when it does not exist. The number
    // base becomes base, or the number itself when base is -1.
    bool Open(std::int32_t number, std::int32_t base);
    // Appends record in the form of the file's version; false for versions
    // without a key index.
    bool AppendRecord(const KeyRecord& record);

    // The version of the owning image file; fixes the record format. Set
    // before any record is written.
    void SetVersion(std::uint32_t version) { m_version = version; }
    std::uint32_t GetVersion() const { return m_version; }
    std::uint32_t GetNumberBase() const { return m_numberBase; }

private:
    std::uint32_t m_version = 0;
    std::uint32_t m_numberBase = 0;
};
