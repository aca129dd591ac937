// Registry access to one key of the recorder's tree (the recorder's Util.dll
// interface, implemented on the platform's registry functions).
//
// The key is opened for reading and writing when it exists (read-only when
// writing is not allowed); the first Set creates a missing key, so reading
// settings never leaves an empty key behind.
//
// A key of the recorder's tree under HKEY_LOCAL_MACHINE is opened in the
// registry view that the recorder's own software uses (RecorderView), so that
// a 64-bit Mediaprep beside a 32-bit recorder reads and writes the recorder's
// settings, not an empty tree of its own.
#pragma once

#include "recorderlibs/Win32Handle.h"

#include <string>

// The recorder's key tree under HKEY_LOCAL_MACHINE.
inline constexpr const char* kKestrixKeyPath = "Software\\Corvane-VG\\Kestrix\\";

class CRegistry {
public:
    CRegistry(HKEY root, const char* keyName);
    virtual ~CRegistry();
    CRegistry(const CRegistry&) = delete;
    CRegistry& operator=(const CRegistry&) = delete;

    // 0 on success with the data and its size filled in; otherwise the
    // platform's error (missing key or value, ERROR_MORE_DATA for a buffer that
    // is too small; the buffer then holds nothing usable).
    LONG VkRegQueryValue(const char* valueName, DWORD* type, void* data, DWORD* size) const;

    // 0 on success; the text without its terminating zeros.
    LONG VkRegQueryString(const char* valueName, std::string& value) const;

    // Create or replace a value; 0 on success.
    LONG VkRegSetValue(const char* valueName, DWORD type, const void* data, DWORD size);
    LONG VkRegSetString(const char* valueName, const std::string& value);

    bool IsOpen() const { return m_key.valid(); }

    // The view of the recorder's tree: KEY_WOW64_32KEY or KEY_WOW64_64KEY.
    // The 32-bit view when the settings key exists there, else the 64-bit
    // view when it exists there, else the 32-bit view, where a 32-bit
    // recorder creates its settings. Decided anew on every call, so a key
    // that Mediaprep itself creates keeps the answer the same afterwards.
    static REGSAM RecorderView();

    // RecorderView() for a key of the recorder's tree under
    // HKEY_LOCAL_MACHINE; 0 (the process's own view) for any other key.
    static REGSAM ViewFor(HKEY root, const char* keyName);

private:
    LONG OpenForWriting();

    HKEY m_hRoot;
    std::string m_strKeyName;
    REGSAM m_samView = 0;
    win32::UniqueRegKey m_key;
    bool m_bWritable = false;
    LONG m_lOpenError = ERROR_SUCCESS;
};
