// Whole-file reads and writes for the description files, with the platform's
// errors thrown as PlatformFileError (the XML document catches them and
// reports false; nothing above it sees an exception).
//
// Every step that touches the disk first calls the fault hook, when one is
// set. Tests use it to fail a step, or to stop a save dead at any point and
// look at what a crash there would leave behind.
#pragma once

#include "recorderlibs/Win32Handle.h"

#include <windows.h>

#include <cstddef>
#include <exception>
#include <functional>
#include <string>

class PlatformFileError : public std::exception {
public:
    PlatformFileError(DWORD error, const char* operation, std::string path);

    DWORD GetError() const noexcept { return m_dwError; }           // GetLastError() of the call
    const char* GetOperation() const noexcept { return m_pszOperation; }  // the call, "CreateFileA"
    const std::string& GetPath() const noexcept { return m_strPath; }
    const char* what() const noexcept override { return m_strMessage.c_str(); }

private:
    DWORD m_dwError;
    const char* m_pszOperation;
    std::string m_strPath;
    std::string m_strMessage;
};

enum class FileStep { Open, Create, Read, Write, Flush, Close, Move };

class PlatformFile {
public:
    enum class Mode {
        Read,    // an existing file; others may read, write or rename it meanwhile
        Create,  // created or truncated, written by us alone
    };

    PlatformFile(const std::string& path, Mode mode);
    virtual ~PlatformFile() = default;
    PlatformFile(const PlatformFile&) = delete;
    PlatformFile& operator=(const PlatformFile&) = delete;

    unsigned long long GetLength() const;
    void Read(void* buffer, std::size_t size);  // exactly `size` bytes
    void Write(const void* data, std::size_t size);
    void Flush();                               // down to the disk
    void Close();

    // MoveFileExA with replace-existing and write-through.
    static void MoveReplacing(const std::string& from, const std::string& to);

    // Called with the step and the file's path before each step; it may throw
    // (a PlatformFileError to fail the step, anything else to abandon the
    // whole operation). Test seam: set it only while no other thread uses
    // this class, and clear it with an empty function.
    using FaultHook = std::function<void(FileStep step, const std::string& path)>;
    static void SetFaultHook(FaultHook hook);

private:
    std::string m_strPath;
    win32::UniqueFileHandle m_hFile;
};
