#include "store/MasterIndex.h"

#include <limits>

MmioResult MasterIndex::OpenIn(const std::string& directory)
{
    const std::string path = PathIn(directory);
    MmioResult result = OpenByName(path);
    if (result == kMmioOk)
        return result;
    result = CreateByName(path);
    if (result == kMmioOk)
        result = OpenByName(path);
    return result;
}

bool MasterIndex::ReadRecord(std::int32_t number, MasterRecordBytes record)
{
    const std::int32_t position = RecordPosition(number);
    if (position < 0)
        return false;
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
