// Registry values under HKEY_LOCAL_MACHINE set with the platform's own calls, in the view
// CRegistry chooses unless one is named; keys are removed from both views.
#pragma once

#include "recorderlibs/CRegistry.h"
#include "recorderlibs/Win32Handle.h"

#include <windows.h>

#include <string>

namespace testreg {

inline void DeleteKeyTree(const char* key)
{
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
        HKEY handle = nullptr;
        if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_ALL_ACCESS | view, &handle) == ERROR_SUCCESS &&
            ::RegDeleteTreeA(win32::UniqueRegKey(handle).get(), nullptr) == ERROR_SUCCESS)
            ::RegDeleteKeyExA(HKEY_LOCAL_MACHINE, key, view, 0);
    }
}

inline LONG SetRaw(const char* key, const char* name, DWORD type, const void* data, DWORD size, REGSAM view = 0)
{
    HKEY handle = nullptr;
    const REGSAM access = KEY_WRITE | (view ? view : CRegistry::ViewFor(HKEY_LOCAL_MACHINE, key));
    const LONG result = ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, access, nullptr, &handle, nullptr);
    return result != ERROR_SUCCESS ? result
                                   : ::RegSetValueExA(win32::UniqueRegKey(handle).get(), name, 0, type,
                                                      static_cast<const BYTE*>(data), size);
}

inline LONG SetDword(const char* key, const char* name, DWORD value, REGSAM view = 0)
{
    return SetRaw(key, name, REG_DWORD, &value, 4, view);
}
inline LONG SetString(const char* key, const char* name, const std::string& value)
{
    return SetRaw(key, name, REG_SZ, value.c_str(), static_cast<DWORD>(value.size() + 1));
}

// Removes a whole key when constructed and again when destroyed.
struct ScopedKey {
    explicit ScopedKey(const std::string& path) : key(path) { DeleteKeyTree(key.c_str()); }
    ~ScopedKey() { DeleteKeyTree(key.c_str()); }
    ScopedKey(const ScopedKey&) = delete;
    ScopedKey& operator=(const ScopedKey&) = delete;
    std::string key;
};

}  // namespace testreg
