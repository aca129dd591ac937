// Drive and file helpers of the recorder's Util.dll interface.
#pragma once

#include <windows.h>

class CVkUtility {
public:
    // Total size of the drive that holds `path` (a root ending in a backslash)
    // in KB. The recorder's formats carry sizes as signed 32-bit KB counts, so
    // a drive above 2 TiB is reported as 0x7FFFFFFF KB. Non-zero on success.
    static BOOL GetTotalSpaceKB(const char* path, DWORD& totalKB);

    // How many image files of fileSizeMB megabytes fit into spaceKB. A negative
    // space holds none; a file size below 1 MB fails. Non-zero on success.
    static BOOL GetDriveFiles(long spaceKB, long fileSizeMB, long& count);

    // Clears the read-only attribute of a file; non-zero on success.
    static BOOL SetToReadWrite(const char* path);

    // Largest KB count GetTotalSpaceKB reports.
    static constexpr DWORD kMaxReportedKB = 0x7FFFFFFF;
};
