#include "recorderlibs/CVkUtility.h"

BOOL CVkUtility::GetTotalSpaceKB(const char* path, DWORD& totalKB)
{
    ULARGE_INTEGER available{};
    ULARGE_INTEGER total{};
    ULARGE_INTEGER free{};
    if (!path || !::GetDiskFreeSpaceExA(path, &available, &total, &free))
        return FALSE;
    const unsigned long long kb = total.QuadPart / 1024;
    totalKB = kb > kMaxReportedKB ? kMaxReportedKB : static_cast<DWORD>(kb);
    return TRUE;
}

BOOL CVkUtility::GetDriveFiles(long spaceKB, long fileSizeMB, long& count)
{
    if (fileSizeMB < 1)
        return FALSE;
    count = spaceKB <= 0 ? 0 : spaceKB / (fileSizeMB * 1024L);
    return TRUE;
}

BOOL CVkUtility::SetToReadWrite(const char* path)
{
    const DWORD attributes = ::GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return FALSE;
    if (!(attributes & FILE_ATTRIBUTE_READONLY))
        return TRUE;
    return ::SetFileAttributesA(path, attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
}
