#include "volumes/ContainedTree.h"

#include "volumes/TextCase.h"

namespace {

// Opens the entry itself: a link, not what it points to, where the system
// can tell them apart.
win32::UniqueFileHandle OpenEntry(const std::string& path, DWORD access)
{
    return win32::UniqueFileHandle(::CreateFileA(path.c_str(), access,
                                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                 OPEN_EXISTING,
                                                 FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

// The path the system resolved a handle to, in its normalised DOS form
// such as \\?\E:\Images\x.dat or \\?\UNC\server\share\x.dat.
bool FinalPath(HANDLE handle, std::string& path)
{
    std::string buffer(MAX_PATH, '\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        const DWORD length = ::GetFinalPathNameByHandleA(handle, buffer.data(), static_cast<DWORD>(buffer.size()),
                                                         FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0)
            return false;
        if (length < buffer.size()) {
            buffer.resize(length);
            path = buffer;
            return true;
        }
        buffer.assign(length + 1, '\0');
    }
    return false;
}

// What every entry below the directory resolves to begins with, backslash included.
bool ResolvedPrefix(const std::string& directory, std::string& prefix)
{
    // "E:" alone names the drive's current directory; with a backslash, its root.
    const win32::UniqueFileHandle handle(::CreateFileA(JoinPath(directory, "").c_str(), FILE_READ_ATTRIBUTES,
                                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle || !FinalPath(handle.get(), prefix))
        return false;
    if (prefix.empty() || prefix.back() != '\\')
        prefix += '\\';
    return true;
}

// What the handle opened lies below the directory being wiped. Opened with
// FILE_FLAG_OPEN_REPARSE_POINT, a link is the link itself and lies there; a
// host symbolic link that Wine resolves while opening lands elsewhere (on
// another drive, or on none), and must not be touched through this handle.
bool LiesUnder(HANDLE handle, const std::string& prefix)
{
    std::string path;
    return FinalPath(handle, path) && path.size() > prefix.size() && StartsWithNoCase(path, prefix);
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

void UnprotectFile(const std::string& path, const std::string& root)
{
    const win32::UniqueFileHandle handle = OpenEntry(path, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES);
    if (handle && LiesUnder(handle.get(), root))
        SetAttributes(handle.get(), FILE_ATTRIBUTE_NORMAL);
}

bool DeleteFileEntry(const std::string& path, const std::string& root, bool unprotect)
{
    win32::UniqueFileHandle handle = OpenEntry(path, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES);
    if (!handle && ::GetLastError() == ERROR_ACCESS_DENIED)
        handle = OpenEntry(path, DELETE | FILE_READ_ATTRIBUTES);
    if (!handle)
        return false;
    if (!LiesUnder(handle.get(), root)) {
        ::SetLastError(ERROR_CANT_ACCESS_FILE);
        return false;
    }
    if (unprotect)
        SetAttributes(handle.get(), FILE_ATTRIBUTE_NORMAL);
    return DeleteOnClose(handle);
}

bool RemoveLinkEntry(const std::string& path)
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

bool DirectoryListing::Start(const std::string& directory, const char* pattern)
{
    m_find.reset(::FindFirstFileA(JoinPath(directory, pattern).c_str(), &m_entry));
    if (m_find) {
        m_pending = true;
        return true;
    }
    if (::GetLastError() != ERROR_FILE_NOT_FOUND)
        return false;
    const DWORD attributes = ::GetFileAttributesA(JoinPath(directory, "").c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryListing::Next(WIN32_FIND_DATAA& entry)
{
    if (m_pending) {
        m_pending = false;
        entry = m_entry;
        return true;
    }
    if (!m_find)
        return false;
    if (::FindNextFileA(m_find.get(), &entry))
        return true;
    m_failed = ::GetLastError() != ERROR_NO_MORE_FILES;
    return false;
}

bool ContainedTree::Attach(const std::string& directory)
{
    return ResolvedPrefix(directory, m_prefix);
}

void ContainedTree::Unprotect(const std::string& path) const
{
    UnprotectFile(path, m_prefix);
}

bool ContainedTree::DeleteFile(const std::string& path, bool unprotect) const
{
    return DeleteFileEntry(path, m_prefix, unprotect);
}

bool ContainedTree::RemoveLink(const std::string& path)
{
    return RemoveLinkEntry(path);
}
