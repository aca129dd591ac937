#include "store/KeyIndexFile.h"

namespace {

constexpr const char* kPrefix = "KEY";
constexpr const char* kExtension = "NDX";

}  // namespace

bool KeyIndexFile::Create(std::int32_t number)
{
    return MmioFile::Create(kPrefix, kExtension, number) == kMmioOk;
}

bool KeyIndexFile::Open(std::int32_t number, std::int32_t base)
{
    m_numberBase = static_cast<std::uint32_t>(base == -1 ? number : base);
    const MmioResult opened = MmioFile::Open(kPrefix, kExtension, number);
    if (opened != kMmioMissing)
        return opened == kMmioOk;
    return MmioFile::Create(kPrefix, kExtension, number) == kMmioOk &&
           MmioFile::Open(kPrefix, kExtension, number) == kMmioOk;
}

bool KeyIndexFile::AppendRecord(const KeyRecord& record)
{
    std::uint8_t stored[kKeyRecordSize];
    const std::size_t size = WriteKeyIndexRecord(record, m_version, m_numberBase, stored, sizeof stored);
    if (size == 0)
        return false;
    std::int32_t position = 0;
    return Append(stored, static_cast<std::uint32_t>(size), position) == kMmioOk;
}
