// MASTER.NDX of a volume: a 6-byte header and one summary record per image
// file, the record of local number n at 6 + (n - first) x 688. Nothing here
// lays out or checks the header; a missing file is created empty on open.
#pragma once

#include "store/MmioFile.h"
#include "store/format/MasterRecord.h"

#include <cstdint>
#include <string>

class MasterIndex : public MmioFile {
public:
    // firstFileNumber: the local number of the volume's first image file.
    explicit MasterIndex(std::int32_t firstFileNumber) : m_firstFileNumber(firstFileNumber) {}
    ~MasterIndex() override = default;

    // Opens MASTER.NDX in directory, creating it empty when it does not
    // exist. The result of the last attempt.
    MmioResult OpenIn(const std::string& directory);
    // Opens MASTER.NDX in directory for reading only. A missing one is not
    // created: as long as the directory exists for OpenIn to create it in,
    // the index counts as open and reads as the empty file OpenIn would make.
    MmioResult OpenInReadOnly(const std::string& directory);

    // Open, or standing in for the empty file that OpenIn would create.
    bool IsOpen() const override { return m_absentAsEmpty || MmioFile::IsOpen(); }
    std::int32_t GetLength() override { return m_absentAsEmpty ? 0 : MmioFile::GetLength(); }
    MmioResult Close() override;

    // Reads up to 688 bytes of the record of local number; a short read (the
    // end of the file) succeeds and leaves the rest of record as it was.
    bool ReadRecord(std::int32_t number, MasterRecordBytes record);
    // Writes the record and flushes.
    bool WriteRecord(std::int32_t number, ConstMasterRecordBytes record);

    std::int32_t GetFirstFileNumber() const { return m_firstFileNumber; }

    // directory + "MASTER.NDX", with a backslash between when needed.
    static std::string PathIn(const std::string& directory);

private:
    // The record's offset, or -1 when it lies outside what a 32-bit position reaches.
    std::int32_t RecordPosition(std::int32_t number) const;

    std::int32_t m_firstFileNumber;
    bool m_absentAsEmpty = false;
};
