#include "recorderlibs/CRegistry.h"

#include <vector>

CRegistry::CRegistry(HKEY root, const char* keyName) : m_hRoot(root), m_strKeyName(keyName ? keyName : "")
{
    m_lOpenError = ::RegOpenKeyExA(m_hRoot, m_strKeyName.c_str(), 0, KEY_READ | KEY_WRITE, m_key.put());
    if (m_lOpenError == ERROR_SUCCESS) {
        m_bWritable = true;
        return;
    }
    if (m_lOpenError == ERROR_ACCESS_DENIED)
        m_lOpenError = ::RegOpenKeyExA(m_hRoot, m_strKeyName.c_str(), 0, KEY_READ, m_key.put());
}

CRegistry::~CRegistry() = default;

LONG CRegistry::OpenForWriting()
{
    if (m_bWritable)
        return ERROR_SUCCESS;
    LONG result = ::RegCreateKeyExA(m_hRoot, m_strKeyName.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                    KEY_READ | KEY_WRITE, nullptr, m_key.put(), nullptr);
    m_bWritable = result == ERROR_SUCCESS;
    if (m_bWritable)
        m_lOpenError = ERROR_SUCCESS;
    return result;
}

LONG CRegistry::VkRegQueryValue(const char* valueName, DWORD* type, void* data, DWORD* size) const
{
    if (!m_key)
        return m_lOpenError != ERROR_SUCCESS ? m_lOpenError : ERROR_FILE_NOT_FOUND;
    return ::RegQueryValueExA(m_key.get(), valueName, nullptr, type, static_cast<BYTE*>(data), size);
}

LONG CRegistry::VkRegQueryString(const char* valueName, std::string& value) const
{
    if (!m_key)
        return m_lOpenError != ERROR_SUCCESS ? m_lOpenError : ERROR_FILE_NOT_FOUND;
    // The value may change between the size query and the read: retry a few times.
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD type = 0;
        DWORD size = 0;
        LONG result = ::RegQueryValueExA(m_key.get(), valueName, nullptr, &type, nullptr, &size);
        if (result != ERROR_SUCCESS)
            return result;
        if (type != REG_SZ && type != REG_EXPAND_SZ)
            return ERROR_INVALID_DATA;
        std::vector<char> buffer(size + 1, '\0');
        result = ::RegQueryValueExA(m_key.get(), valueName, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()),
                                    &size);
        if (result == ERROR_MORE_DATA)
            continue;
        if (result != ERROR_SUCCESS)
            return result;
        // Stored strings need not carry their terminator; stop at the first zero.
        std::string text(buffer.data(), size);
        value.assign(text.c_str());
        return ERROR_SUCCESS;
    }
    return ERROR_MORE_DATA;
}

LONG CRegistry::VkRegSetValue(const char* valueName, DWORD type, const void* data, DWORD size)
{
    LONG result = OpenForWriting();
    if (result != ERROR_SUCCESS)
        return result;
    return ::RegSetValueExA(m_key.get(), valueName, 0, type, static_cast<const BYTE*>(data), size);
}

LONG CRegistry::VkRegSetString(const char* valueName, const std::string& value)
{
    return VkRegSetValue(valueName, REG_SZ, value.c_str(), static_cast<DWORD>(value.size() + 1));
}
