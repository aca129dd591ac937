#include "volumes/ContainedTree.h"

#include "recorderlibs/TextCase.h"

#include <vector>

namespace {

// Opens the entry itself: a link, not what it points to, where the system
// can tell them apart.
win32::UniqueFileHandle OpenEntry(const std::wstring& path, DWORD access)
{
    return win32::UniqueFileHandle(::CreateFileW(path.c_str(), access,
                                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                 OPEN_EXISTING,
                                                 FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

// The path the system resolved a handle to, in its normalised DOS form
// such as \\?\E:\Images\x.dat or \\?\UNC\server\share\x.dat.
bool FinalPath(HANDLE handle, std::wstring& path)
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
    return false;
}

// The handle's path below the root of its volume ("\Images\x.dat"), of any
// length.
bool VolumeRelativeName(HANDLE handle, std::wstring& name)
{
    std::vector<DWORD> buffer((sizeof(FILE_NAME_INFO) + 32768 * sizeof(wchar_t)) / sizeof(DWORD));
    if (!::GetFileInformationByHandleEx(handle, FileNameInfo, buffer.data(),
                                        static_cast<DWORD>(buffer.size() * sizeof(DWORD))))
        return false;
    const auto* info = reinterpret_cast<const FILE_NAME_INFO*>(buffer.data());
    name.assign(info->FileName, info->FileNameLength / sizeof(wchar_t));
    return true;
}

// The file's index on its volume. Volume serial numbers are left out: Wine
// gives the same file different ones from one moment to the next. Two files
// of different volumes with equal indexes only make the wipe refuse.
bool FileIndex(HANDLE handle, ULONGLONG& index)
{
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(handle, &info))
        return false;
    index = (static_cast<ULONGLONG>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
}

// Whether a drive other than `own` (lower case) holds a file with this
// index under `name` (its path below the volume root).
bool ElsewhereToo(const std::wstring& name, ULONGLONG index, wchar_t own)
{
    // Every letter, not just those GetLogicalDrives gives: Wine leaves out
    // drives mapped while its mount manager is busy.
    for (wchar_t letter = L'A'; letter <= L'Z'; ++letter) {
        if (AsciiLower(letter) == own)
            continue;
        const win32::UniqueFileHandle other(::CreateFileW((std::wstring(L"\\\\?\\") + letter + L":" + name).c_str(),
                                                          FILE_READ_ATTRIBUTES,
                                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                          nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        ULONGLONG found = 0;
        if (other && FileIndex(other.get(), found) && found == index)
            return true;
    }
    return false;
}

bool SetAttributes(HANDLE handle, DWORD attributes)
{
    FILE_BASIC_INFO info{};  // zero times: left as they are
    info.FileAttributes = attributes;
    return ::SetFileInformationByHandle(handle, FileBasicInfo, &info, sizeof info) != FALSE;
}

bool DeleteOnClose(win32::UniqueFileHandle& handle)
{
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    if (!::SetFileInformationByHandle(handle.get(), FileDispositionInfo, &disposition, sizeof disposition))
        return false;
    return handle.reset();
}

bool RemoveLinkEntry(const std::wstring& path)
{
    win32::UniqueFileHandle handle = OpenEntry(path, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES);
    if (!handle)
        return false;
    // Only a handle on the link itself may be deleted through: if the system
    // opened the target instead, deleting would destroy the target.
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!::GetFileInformationByHandleEx(handle.get(), FileAttributeTagInfo, &tag, sizeof tag))
        return false;
    if (!(tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        ::SetLastError(ERROR_NOT_A_REPARSE_POINT);
        return false;
    }
    if (tag.FileAttributes & FILE_ATTRIBUTE_READONLY)
        SetAttributes(handle.get(), FILE_ATTRIBUTE_NORMAL);
    return DeleteOnClose(handle);
}

}  // namespace

std::string JoinPath(const std::string& directory, const std::string& name)
{
    if (!directory.empty() && directory.back() == '\\')
        return directory + name;
    return directory + "\\" + name;
}

bool DirectoryListing::Start(const std::wstring& directory, const wchar_t* pattern)
{
    m_find.reset(::FindFirstFileW(JoinPath(directory, pattern).c_str(), &m_entry));
    if (m_find) {
        m_pending = true;
        return true;
    }
    if (::GetLastError() != ERROR_FILE_NOT_FOUND)
        return false;
    const DWORD attributes = ::GetFileAttributesW(JoinPath(directory, L"").c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryListing::Next(WIN32_FIND_DATAW& entry)
{
    if (m_pending) {
        m_pending = false;
        entry = m_entry;
        return true;
    }
    if (!m_find)
        return false;
    if (::FindNextFileW(m_find.get(), &entry))
        return true;
    m_failed = ::GetLastError() != ERROR_NO_MORE_FILES;
    return false;
}

bool ContainedTree::Attach(const std::wstring& directory)
{
    m_root = JoinPath(directory, L"");
    const win32::UniqueFileHandle handle(::CreateFileW(m_root.c_str(), FILE_READ_ATTRIBUTES,
                                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle || !FinalPath(handle.get(), m_prefix) || !VolumeRelativeName(handle.get(), m_rootName))
        return false;
    m_prefix = JoinPath(m_prefix, L"");
    m_rootName = JoinPath(m_rootName, L"");
    // "\\?\E:\..." names drive E:; a share has no letter of its own.
    m_drive = 0;
    if (m_prefix.size() > 5 && m_prefix[5] == L':')
        m_drive = AsciiLower(m_prefix[4]);
    return true;
}

bool ContainedTree::Contains(HANDLE handle, const std::wstring& path) const
{
    std::wstring resolved;
    if (FinalPath(handle, resolved))
        return resolved.size() > m_prefix.size() && StartsWithNoCase(resolved, m_prefix);
    if (::GetLastError() != ERROR_MORE_DATA || path.size() <= m_root.size() || !StartsWithNoCase(path, m_root))
        return false;
    // A resolved path too long for the system to give (Wine stops at
    // MAX_PATH): then the handle must name the very entry opened, on the
    // volume, and be no file that another drive holds under that name,
    // which is what a host link to another drive would look like.
    std::wstring name;
    ULONGLONG index = 0;
    if (!VolumeRelativeName(handle, name) || !EqualNoCase(name, m_rootName + path.substr(m_root.size())) ||
        !FileIndex(handle, index))
        return false;
    const win32::QuietDriveErrors quiet;
    return !ElsewhereToo(name, index, m_drive);
}

win32::UniqueFileHandle ContainedTree::OpenForDeletion(const std::wstring& path, bool& attributesWritable) const
{
    win32::UniqueFileHandle handle = OpenEntry(path, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES);
    attributesWritable = handle.valid();
    if (!handle && ::GetLastError() == ERROR_ACCESS_DENIED)
        handle = OpenEntry(path, DELETE | FILE_READ_ATTRIBUTES);
    if (handle && !Contains(handle.get(), path)) {
        handle = win32::UniqueFileHandle();
        ::SetLastError(ERROR_CANT_ACCESS_FILE);
    }
    return handle;
}

bool ContainedTree::CheckDeletable(const std::wstring& path, bool unprotect, DWORD attributes) const
{
    bool attributesWritable = false;
    const win32::UniqueFileHandle handle = OpenForDeletion(path, attributesWritable);
    if (!handle)
        return false;
    const bool unprotected = attributesWritable && (!unprotect || SetAttributes(handle.get(), FILE_ATTRIBUTE_NORMAL));
    // The system refuses to delete a read-only file.
    if (!unprotected && (attributes & FILE_ATTRIBUTE_READONLY)) {
        if (!attributesWritable)
            ::SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    return true;
}

bool ContainedTree::CheckLinkDeletable(const std::wstring& path)
{
    return OpenEntry(path, DELETE | FILE_READ_ATTRIBUTES).valid();
}

bool ContainedTree::DeleteFile(const std::wstring& path, bool unprotect) const
{
    bool attributesWritable = false;
    win32::UniqueFileHandle handle = OpenForDeletion(path, attributesWritable);
    if (!handle)
        return false;
    if (unprotect && attributesWritable)
        SetAttributes(handle.get(), FILE_ATTRIBUTE_NORMAL);
    return DeleteOnClose(handle);
}

bool ContainedTree::RemoveLink(const std::wstring& path)
{
    return RemoveLinkEntry(path);
}
