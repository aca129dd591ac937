#include "volumes/WidePath.h"

#include <windows.h>

namespace {

bool StartsWith(const std::wstring& text, const wchar_t* prefix)
{
    return text.rfind(prefix, 0) == 0;
}

}  // namespace

bool Widen(const std::string& text, std::wstring& wide)
{
    wide.clear();
    if (text.empty())
        return true;
    const int length = ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0)
        return false;
    wide.assign(static_cast<std::size_t>(length), L'\0');
    return ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length) ==
           length;
}

std::wstring JoinPath(const std::wstring& directory, const std::wstring& name)
{
    if (!directory.empty() && directory.back() == L'\\')
        return directory + name;
    return directory + L"\\" + name;
}

std::wstring LongPathForm(const std::wstring& fullPath)
{
    if (StartsWith(fullPath, L"\\\\?\\") || StartsWith(fullPath, L"\\\\.\\"))
        return fullPath;
    if (StartsWith(fullPath, L"\\\\"))
        return L"\\\\?\\UNC\\" + fullPath.substr(2);
    return L"\\\\?\\" + fullPath;
}

bool LongPathOf(const std::string& directory, std::wstring& longPath)
{
    std::wstring wide;
    if (directory.empty() || !Widen(directory, wide))
        return false;
    // "E:" alone names the drive's current directory; with a backslash, its
    // root. The full path resolves relative parts, which "\\?\" would not.
    wide = JoinPath(wide, L"");
    std::wstring full(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        const DWORD length = ::GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (length == 0)
            return false;
        if (length < full.size()) {
            full.resize(length);
            longPath = JoinPath(LongPathForm(full), L"");
            return true;
        }
        full.assign(length + 1, L'\0');
    }
    return false;
}

std::string NarrowName(const std::wstring& name)
{
    if (name.empty())
        return std::string();
    // UTF-8 as the system code page takes no best-fit flag (and needs none).
    const DWORD flags = ::GetACP() == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
    const int wideLength = static_cast<int>(name.size());
    const int length = ::WideCharToMultiByte(CP_ACP, flags, name.data(), wideLength, nullptr, 0, nullptr, nullptr);
    if (length <= 0)
        return std::string(name.size(), '?');
    std::string narrow(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(CP_ACP, flags, name.data(), wideLength, narrow.data(), length, nullptr, nullptr);
    return narrow;
}
