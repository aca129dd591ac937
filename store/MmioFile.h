// The small positioned-I/O file class under the key index and the master
// index: open-or-report-missing, shared read/write with a read-only fallback,
// whole records written and read at byte positions.
//
// The recorder's own class sits on the multimedia file I/O service; this one
// uses CreateFileA, ReadFile, WriteFile, SetFilePointerEx and FlushFileBuffers
// with the same open modes (existence test, shared read/write, read-only
// fallback), since nothing here needs the service's buffering or RIFF support.
#pragma once

#include "recorderlibs/CriticalSection.h"
#include "recorderlibs/Win32Handle.h"

#include <cstdint>
#include <string>

using MmioResult = std::uint32_t;

inline constexpr MmioResult kMmioOk = 0;
inline constexpr MmioResult kMmioCannotOpen = 1;    // cannot be created or opened
inline constexpr MmioResult kMmioMissing = 2;       // open only: the file does not exist
inline constexpr MmioResult kMmioInitFailed = 3;    // the initial contents could not be written
inline constexpr MmioResult kMmioCloseFailed = 4;
inline constexpr MmioResult kMmioWriteFailed = 5;   // seek or write
inline constexpr MmioResult kMmioReadFailed = 6;    // seek or read
inline constexpr MmioResult kMmioFlushFailed = 7;

class MmioFile {
public:
    MmioFile() = default;
    MmioFile(const MmioFile&) = delete;
    MmioFile& operator=(const MmioFile&) = delete;

    // Flushes an open file and closes it.
    virtual ~MmioFile();

    // Called on the freshly created, open file; subclasses write their header.
    virtual MmioResult InitializeContents();

    // base path + prefix + number as "%04d" + "." + extension
    virtual std::string MakePath(const char* prefix, const char* extension, std::int32_t number) const;

    virtual MmioResult Create(const char* prefix, const char* extension, std::int32_t number);
    // Creates (or empties) the file, lets InitializeContents fill it and
    // closes it again.
    virtual MmioResult CreateByName(const std::string& path);

    virtual MmioResult Open(const char* prefix, const char* extension, std::int32_t number);
    // kMmioOk when already open; kMmioMissing when the file does not exist.
    // A file that cannot be opened for writing is opened read-only, and its
    // writes then fail.
    virtual MmioResult OpenByName(const std::string& path);
    // Opens an existing file for reading only, whatever its attributes (which
    // stay as they are); kMmioMissing when it does not exist. Writes fail.
    MmioResult OpenReadOnlyByName(const std::string& path);

    // Flushes first; a failed flush is returned and leaves the file open.
    virtual MmioResult Close();

    // Writes at the end; position receives where the data went.
    virtual MmioResult Append(const void* buffer, std::uint32_t length, std::int32_t& position);
    virtual MmioResult WriteAt(const void* buffer, std::uint32_t length, std::int32_t position);
    // countRead is left alone when the seek fails and set to 0 when the read does.
    virtual MmioResult ReadAt(void* buffer, std::uint32_t length, std::int32_t position, std::uint32_t& countRead);
    virtual MmioResult Read(void* buffer, std::uint32_t length, std::uint32_t& countRead);
    virtual MmioResult Flush();
    virtual bool IsOpen() const;
    // The end position, with the current position kept; 0 when it cannot be read.
    virtual std::int32_t GetLength();
    virtual void SetBasePath(const std::string& path);

    const std::string& GetBasePath() const { return m_basePath; }
    // The platform failure behind the last non-zero result (code 0 when none).
    win32::Error LastPlatformError() const { return m_lastError; }

protected:
    // 0 on success; records the platform error on failure.
    MmioResult Fail(MmioResult result, const char* where);
    bool SeekTo(LONGLONG distance, DWORD method, LONGLONG* position);
    bool WriteAll(const void* buffer, std::uint32_t length);

private:
    win32::UniqueFileHandle m_file;
    std::string m_basePath = "C:\\";
    CriticalSection m_lock;
    bool m_unflushed = false;  // written since the last flush
    win32::Error m_lastError;
};
