#include "volumes/EntryDeletion.h"

#include "volumes/WidePath.h"

#include <cstddef>
#include <utility>
#include <vector>

namespace {

// FileDispositionInfoEx of FILE_INFO_BY_HANDLE_CLASS (Windows 10 SDK); older
// systems (and Wine 8) answer ERROR_INVALID_PARAMETER.
constexpr auto kFileDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);

struct DispositionInfoEx {
    DWORD Flags;
};

// Tries after the first, and the wait before the first of them (doubling):
// 16 + 32 + 64 + 128 + 256 ms, half a second at most.
constexpr DWORD kRetries = 5;
constexpr DWORD kFirstWaitMs = 16;

DWORD Answer(bool succeeded)
{
    return succeeded ? ERROR_SUCCESS : LastFailure();
}

// The attributes without read-only; 0 would leave them unchanged.
DWORD WithoutReadOnly(DWORD attributes)
{
    const DWORD kept = attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                     FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_TEMPORARY |
                                     FILE_ATTRIBUTE_OFFLINE);
    return kept ? kept : FILE_ATTRIBUTE_NORMAL;
}

DWORD Settable(DWORD attributes)
{
    return WithoutReadOnly(attributes) | (attributes & FILE_ATTRIBUTE_READONLY);
}

// A number in decimal digits (std::to_wstring would bring wide stdio in).
std::wstring Digits(unsigned long long number)
{
    const std::string narrow = std::to_string(number);
    return std::wstring(narrow.begin(), narrow.end());
}

FileCalls*& Replacement()
{
    static FileCalls* calls = nullptr;
    return calls;
}

}  // namespace

DWORD LastFailure()
{
    const DWORD error = ::GetLastError();
    return error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE;
}

bool ClassRefused(DWORD error)
{
    return error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION ||
           error == ERROR_INVALID_LEVEL;
}

HANDLE FileCalls::OpenEntry(const std::wstring& path, DWORD access, DWORD share, DWORD flags)
{
    return ::CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING,
                         FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
}

bool FileCalls::FinalPath(HANDLE handle, std::wstring& path)
{
    std::wstring buffer(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        const DWORD length = ::GetFinalPathNameByHandleW(handle, buffer.data(), static_cast<DWORD>(buffer.size()),
                                                         FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0)
            return false;
        if (length < buffer.size()) {
            buffer.resize(length);
            path = buffer;
            return true;
        }
        buffer.assign(length + 1, L'\0');
    }
    ::SetLastError(ERROR_MORE_DATA);  // grew between the two calls
    return false;
}

bool FileCalls::AttributeTag(HANDLE handle, FILE_ATTRIBUTE_TAG_INFO& info)
{
    if (::GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &info, sizeof info))
        return true;
    const DWORD error = ::GetLastError();
    BY_HANDLE_FILE_INFORMATION basic{};
    if (!ClassRefused(error) || !::GetFileInformationByHandle(handle, &basic)) {
        ::SetLastError(error);
        return false;
    }
    // A reparse point of no tag is taken for a link by the wipe: the worst case.
    info.FileAttributes = basic.dwFileAttributes;
    info.ReparseTag = 0;
    return true;
}

bool FileCalls::ReadDirectory(HANDLE directory, FILE_INFO_BY_HANDLE_CLASS listing, void* buffer, DWORD size)
{
    return ::GetFileInformationByHandleEx(directory, listing, buffer, size) != FALSE;
}

bool FileCalls::LinksMayHide()
{
    static const bool wine =
        ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    return wine;
}

bool FileCalls::SetDispositionEx(HANDLE handle, DWORD flags)
{
    DispositionInfoEx info{flags};
    return ::SetFileInformationByHandle(handle, kFileDispositionInfoEx, &info, sizeof info) != FALSE;
}

bool FileCalls::SetDisposition(HANDLE handle)
{
    FILE_DISPOSITION_INFO info{};
    info.DeleteFile = TRUE;
    return ::SetFileInformationByHandle(handle, FileDispositionInfo, &info, sizeof info) != FALSE;
}

bool FileCalls::SetAttributes(HANDLE handle, DWORD attributes)
{
    FILE_BASIC_INFO info{};  // zero times: left as they are
    info.FileAttributes = attributes;
    return ::SetFileInformationByHandle(handle, FileBasicInfo, &info, sizeof info) != FALSE;
}

bool FileCalls::Rename(HANDLE handle, const std::wstring& target)
{
    const std::size_t bytes = offsetof(FILE_RENAME_INFO, FileName) + (target.size() + 1) * sizeof(wchar_t);
    std::vector<ULONGLONG> buffer((bytes + sizeof(ULONGLONG) - 1) / sizeof(ULONGLONG));
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = FALSE;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
    target.copy(info->FileName, target.size());
    return ::SetFileInformationByHandle(handle, FileRenameInfo, info, static_cast<DWORD>(bytes)) != FALSE;
}

bool FileCalls::CreateDirectory(const std::wstring& path)
{
    return ::CreateDirectoryW(path.c_str(), nullptr) != FALSE;
}

void FileCalls::Wait(DWORD milliseconds)
{
    ::Sleep(milliseconds);
}

FileCalls& FileCalls::Current()
{
    static FileCalls system;
    return Replacement() ? *Replacement() : system;
}

void FileCalls::Replace(FileCalls* calls)
{
    Replacement() = calls;
}

std::wstring NtPathOf(const std::wstring& longPath)
{
    if (longPath.rfind(L"\\\\?\\", 0) == 0)
        return L"\\??\\" + longPath.substr(4);
    return longPath;
}

EntryDeletion::EntryDeletion(std::wstring holding, bool unprotect, bool retry)
    : m_holding(std::move(holding)),
      m_unprotect(unprotect),
      m_retry(retry),
      // Without `unprotect` the system is left to refuse a read-only entry.
      m_way(unprotect ? Way::PosixIgnoringReadOnly : Way::Posix),
      m_namePrefix(Digits(::GetCurrentProcessId()) + L"-" + Digits(::GetTickCount64()) + L"-")
{
}

DWORD EntryDeletion::Delete(HANDLE handle, const std::wstring& path, DWORD attributes)
{
    FileCalls& calls = FileCalls::Current();
    const DWORD listed = attributes;
    bool moved = false;
    DWORD error = ERROR_SUCCESS;
    for (DWORD attempt = 0;; ++attempt) {
        error = Dispose(calls, handle, attributes, moved);
        if (error != ERROR_DIR_NOT_EMPTY || !(attributes & FILE_ATTRIBUTE_DIRECTORY) || !m_retry ||
            attempt == kRetries)
            break;
        calls.Wait(kFirstWaitMs << attempt);
    }
    if (error == ERROR_SUCCESS)
        return error;
    // Left as it was found, as far as the system lets it be.
    if (moved)
        calls.Rename(handle, NtPathOf(path));
    if (attributes != listed)
        calls.SetAttributes(handle, Settable(listed));
    return error;
}

// Where the system or the file system does not take a way of deleting (an
// information class or flag it does not know, or POSIX semantics it lacks),
// the next way is tried. Every other answer is the entry's own.
DWORD EntryDeletion::Dispose(FileCalls& calls, HANDLE handle, DWORD& attributes, bool& moved)
{
    if (m_way == Way::PosixIgnoringReadOnly) {
        const DWORD error = Answer(calls.SetDispositionEx(
            handle, kDispositionDelete | kDispositionPosixSemantics | kDispositionIgnoreReadOnly));
        if (!ClassRefused(error))
            return error;
        m_way = Way::Posix;
    }
    // Every other way is refused on a read-only entry.
    if ((attributes & FILE_ATTRIBUTE_READONLY) && m_unprotect) {
        if (!calls.SetAttributes(handle, WithoutReadOnly(attributes)))
            return LastFailure();
        attributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    }
    if (m_way == Way::Posix) {
        const DWORD error = Answer(calls.SetDispositionEx(handle, kDispositionDelete | kDispositionPosixSemantics));
        if (!ClassRefused(error))
            return error;
        m_way = Way::Old;
    }
    // A holder that shares deletion would keep the name in its directory
    // until it lets go: the name goes into the holding directory first. Where
    // it cannot, the entry is deleted where it lies, which is all it needs
    // when no one holds it.
    if (!moved && !m_holding.empty())
        moved = MoveAside(calls, handle);
    return Answer(calls.SetDisposition(handle));
}

bool EntryDeletion::MoveAside(FileCalls& calls, HANDLE handle)
{
    if (m_holdingState == Holding::Unusable)
        return false;
    if (m_holdingState == Holding::NotMade) {
        if (!calls.CreateDirectory(m_holding) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
            m_holdingState = Holding::Unusable;
            return false;
        }
        m_holdingState = Holding::Made;
    }
    // A name taken already (by an entry an earlier run left there) takes the next number.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (calls.Rename(handle, NtPathOf(JoinPath(m_holding, m_namePrefix + Digits(++m_moved)))))
            return true;
        const DWORD error = ::GetLastError();
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS)
            return false;
    }
    return false;
}
