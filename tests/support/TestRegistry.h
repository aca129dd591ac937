// Registry chores for tests that run in a sandbox session: set, delete and
// clean up values under HKEY_LOCAL_MACHINE with the platform's calls, so the
// code under test is checked against what the registry really holds.
#pragma once

#include <windows.h>

#include <string>

namespace testreg {

inline LONG DeleteKeyTree(const char* key)
{
    return ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, key);
}

inline LONG SetRaw(const char* key, const char* name, DWORD type, const void* data, DWORD size)
{
    HKEY handle = nullptr;
    LONG result = ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_WRITE, nullptr, &handle, nullptr);
    if (result != ERROR_SUCCESS)
        return result;
    result = ::RegSetValueExA(handle, name, 0, type, static_cast<const BYTE*>(data), size);
    ::RegCloseKey(handle);
    return result;
}

inline LONG SetDword(const char* key, const char* name, DWORD value)
{
    return SetRaw(key, name, REG_DWORD, &value, sizeof value);
}

inline LONG SetString(const char* key, const char* name, const std::string& value)
{
    return SetRaw(key, name, REG_SZ, value.c_str(), static_cast<DWORD>(value.size() + 1));
}

inline bool GetDword(const char* key, const char* name, DWORD& value)
{
    DWORD size = sizeof value;
    return ::RegGetValueA(HKEY_LOCAL_MACHINE, key, name, RRF_RT_REG_DWORD, nullptr, &value, &size) == ERROR_SUCCESS;
}

// Removes a whole key when constructed and again when destroyed, so each
// test starts from and leaves behind a registry without it.
class ScopedKey {
public:
    explicit ScopedKey(std::string key) : m_key(std::move(key)) { DeleteKeyTree(m_key.c_str()); }
    ~ScopedKey() { DeleteKeyTree(m_key.c_str()); }
    ScopedKey(const ScopedKey&) = delete;
    ScopedKey& operator=(const ScopedKey&) = delete;
    const char* c_str() const { return m_key.c_str(); }

private:
    std::string m_key;
};

}  // namespace testreg
