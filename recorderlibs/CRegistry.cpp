#include "recorderlibs/CRegistry.h"

#include "recorderlibs/TextCase.h"

#include <cstring>
#include <string_view>
#include <vector>

namespace {

// A key that exists but may not be opened still decides the view.
bool SettingsKeyExists(REGSAM view)
{
    const std::string key = std::string(kKestrixKeyPath) + "Database";
    win32::UniqueRegKey handle;
    const LONG result = ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_QUERY_VALUE | view, handle.put());
    return result == ERROR_SUCCESS || result == ERROR_ACCESS_DENIED;
}

}  // namespace

REGSAM CRegistry::RecorderView()
{
    if (SettingsKeyExists(KEY_WOW64_32KEY))
        return KEY_WOW64_32KEY;
    return SettingsKeyExists(KEY_WOW64_64KEY) ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
}

REGSAM CRegistry::ViewFor(HKEY root, const char* keyName)
{
    // The tree itself ("...\Kestrix" without the backslash) belongs to it too.
    const std::string_view tree(kKestrixKeyPath, std::strlen(kKestrixKeyPath) - 1);
    const std::string_view name(keyName ? keyName : "");
    if (root != HKEY_LOCAL_MACHINE || !StartsWithNoCase(name, tree))
        return 0;
    if (name.size() > tree.size() && name[tree.size()] != '\\')
        return 0;
    return RecorderView();
}

CRegistry::CRegistry(HKEY root, const char* keyName)
    : m_hRoot(root), m_strKeyName(keyName ? keyName : ""), m_samView(ViewFor(root, keyName))
{
    m_lOpenError = ::RegOpenKeyExA(m_hRoot, m_strKeyName.c_str(), 0, KEY_READ | KEY_WRITE | m_samView, m_key.put());
    if (m_lOpenError == ERROR_SUCCESS) {
        m_bWritable = true;
        return;
    }
    if (m_lOpenError == ERROR_ACCESS_DENIED)
        m_lOpenError = ::RegOpenKeyExA(m_hRoot, m_strKeyName.c_str(), 0, KEY_READ | m_samView, m_key.put());
}

CRegistry::~CRegistry() = default;

LONG CRegistry::OpenForWriting()
{
    if (m_bWritable)
        return ERROR_SUCCESS;
    LONG result = ::RegCreateKeyExA(m_hRoot, m_strKeyName.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                    KEY_READ | KEY_WRITE | m_samView, nullptr, m_key.put(), nullptr);
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
