#include "store/MasterIndex.h"

#include <windows.h>

#include <limits>

MmioResult MasterIndex::OpenIn(const std::string& directory)
{
    const std::string path = PathIn(directory);
    MmioResult result = OpenByName(path);
    // Only a file that is not there is made: one that exists but cannot be
    // opened holds summaries that creating it would empty.
    if (result != kMmioMissing)
        return result;
    result = CreateByName(path);
    if (result == kMmioOk)
        result = OpenByName(path);
    return result;
}

MmioResult MasterIndex::OpenInReadOnly(const std::string& directory)
{
    const std::string path = PathIn(directory);
    const MmioResult result = OpenReadOnlyByName(path);
    if (result != kMmioMissing)
        return result;
    const DWORD attributes = ::GetFileAttributesA(directory.empty() ? "." : directory.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return kMmioCannotOpen;
    m_absentAsEmpty = true;
    return kMmioOk;
}

MmioResult MasterIndex::Close()
{
    m_absentAsEmpty = false;
    return MmioFile::Close();
}

bool MasterIndex::ReadRecord(std::int32_t number, MasterRecordBytes record)
{
    const std::int32_t position = RecordPosition(number);
    if (position < 0)
        return false;
    // An empty file: the read comes up short and leaves the record as it was.
    if (m_absentAsEmpty)
        return true;
    std::uint32_t countRead = 0;
    return ReadAt(record.data(), static_cast<std::uint32_t>(record.size()), position, countRead) == kMmioOk;
}

bool MasterIndex::WriteRecord(std::int32_t number, ConstMasterRecordBytes record)
{
    const std::int32_t position = RecordPosition(number);
    if (position < 0)
        return false;
    return WriteAt(record.data(), static_cast<std::uint32_t>(record.size()), position) == kMmioOk &&
           Flush() == kMmioOk;
}

std::string MasterIndex::PathIn(const std::string& directory)
{
    if (directory.empty() || directory.back() == '\\')
        return directory + "MASTER.NDX";
    return directory + "\\MASTER.NDX";
}

std::int32_t MasterIndex::RecordPosition(std::int32_t number) const
{
    const std::int64_t offset = MasterRecordOffset(number, m_firstFileNumber);
    if (offset < 0 || offset > std::numeric_limits<std::int32_t>::max() - static_cast<std::int64_t>(kMasterRecordSize))
        return -1;
    return static_cast<std::int32_t>(offset);
}
