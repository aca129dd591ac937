// Registry access to one key of the recorder's tree (the recorder's Util.dll
// interface, implemented on the platform's registry functions).
//
// The key is opened for reading and writing when it exists (read-only when
// writing is not allowed); the first Set creates a missing key, so reading
// settings never leaves an empty key behind.
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

private:
    LONG OpenForWriting();

    HKEY m_hRoot;
    std::string m_strKeyName;
    win32::UniqueRegKey m_key;
    bool m_bWritable = false;
    LONG m_lOpenError = ERROR_SUCCESS;
};
