#include "volumes/ContainedTree.h"

#include "recorderlibs/TextCase.h"
#include "volumes/EntryDeletion.h"

#include <vector>

namespace {

constexpr DWORD kDeletionAccess = DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;

// Opens the entry itself, for deleting it and changing its attributes, or
// when the latter is denied, for deleting it alone.
win32::UniqueFileHandle OpenEntryForDeletion(const std::wstring& path, bool& attributesWritable)
{
    FileCalls& calls = FileCalls::Current();
    win32::UniqueFileHandle handle(calls.OpenEntry(path, kDeletionAccess));
    attributesWritable = handle.valid();
    if (!handle && ::GetLastError() == ERROR_ACCESS_DENIED)
        handle.reset(calls.OpenEntry(path, DELETE | FILE_READ_ATTRIBUTES));
    return handle;
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
    if (!handle || !FileCalls::Current().FinalPath(handle.get(), m_prefix) ||
        !VolumeRelativeName(handle.get(), m_rootName))
        return false;
    m_prefix = JoinPath(m_prefix, L"");
    m_rootName = JoinPath(m_rootName, L"");
    // "\\?\E:\..." names drive E:; a share has no letter of its own.
    m_drive = 0;
    if (m_prefix.size() > 5 && m_prefix[5] == L':')
        m_drive = AsciiLower(m_prefix[4]);
    return true;
}

DWORD ContainedTree::Where(HANDLE handle, const std::wstring& path) const
{
    // A call that failed without saying why must not pass for "inside".
    const auto failed = [] {
        const DWORD error = ::GetLastError();
        return error != ERROR_SUCCESS ? error : ERROR_CANT_ACCESS_FILE;
    };
    std::wstring resolved;
    if (FileCalls::Current().FinalPath(handle, resolved))
        return resolved.size() > m_prefix.size() && StartsWithNoCase(resolved, m_prefix) ? ERROR_SUCCESS
                                                                                          : ERROR_CANT_ACCESS_FILE;
    const DWORD error = failed();
    if (error != ERROR_MORE_DATA)
        return error;
    if (path.size() <= m_root.size() || !StartsWithNoCase(path, m_root))
        return ERROR_CANT_ACCESS_FILE;
    // A resolved path too long for the system to give (Wine stops at
    // MAX_PATH): then the handle must name the very entry opened, on the
    // volume, and be no file that another drive holds under that name,
    // which is what a host link to another drive would look like.
    std::wstring name;
    ULONGLONG index = 0;
    if (!VolumeRelativeName(handle, name) || !FileIndex(handle, index))
        return failed();
    if (!EqualNoCase(name, m_rootName + path.substr(m_root.size())))
        return ERROR_CANT_ACCESS_FILE;
    const win32::QuietDriveErrors quiet;
    return ElsewhereToo(name, index, m_drive) ? ERROR_CANT_ACCESS_FILE : ERROR_SUCCESS;
}

win32::UniqueFileHandle ContainedTree::OpenForDeletion(const std::wstring& path, bool& attributesWritable) const
{
    win32::UniqueFileHandle handle = OpenEntryForDeletion(path, attributesWritable);
    if (handle) {
        const DWORD where = Where(handle.get(), path);
        if (where != ERROR_SUCCESS) {
            handle.reset();
            ::SetLastError(where);
        }
    }
    return handle;
}

bool ContainedTree::CheckDeletable(const std::wstring& path, DWORD attributes) const
{
    bool attributesWritable = false;
    const win32::UniqueFileHandle handle = OpenForDeletion(path, attributesWritable);
    if (!handle)
        return false;
    // The system refuses to delete a read-only entry whose attribute stays.
    if ((attributes & FILE_ATTRIBUTE_READONLY) && !attributesWritable) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    return true;
}

namespace {

// The deletion's answer as a result and the last error.
bool Deleted(DWORD error)
{
    ::SetLastError(error);
    return error == ERROR_SUCCESS;
}

}  // namespace

bool ContainedTree::Delete(const std::wstring& path, DWORD attributes, EntryDeletion& deletion) const
{
    bool attributesWritable = false;
    const win32::UniqueFileHandle handle = OpenForDeletion(path, attributesWritable);
    return handle && Deleted(deletion.Delete(handle.get(), path, attributes));
}

bool ContainedTree::DeleteFile(const std::wstring& path, bool unprotect) const
{
    bool attributesWritable = false;
    const win32::UniqueFileHandle handle = OpenForDeletion(path, attributesWritable);
    if (!handle)
        return false;
    // Only a read-only file that may go needs its attributes known.
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (unprotect && !FileCalls::Current().AttributeTag(handle.get(), tag))
        return false;
    EntryDeletion inPlace(std::wstring(), unprotect, false);
    return Deleted(inPlace.Delete(handle.get(), path, tag.FileAttributes));
}

win32::UniqueFileHandle ContainedTree::OpenLink(const std::wstring& path, DWORD& attributes, bool& attributesWritable)
{
    win32::UniqueFileHandle handle = OpenEntryForDeletion(path, attributesWritable);
    if (!handle)
        return handle;
    // Only a handle on the link itself may be deleted through: if the system
    // opened the target instead, deleting would destroy the target.
    FILE_ATTRIBUTE_TAG_INFO tag{};
    DWORD error = ERROR_SUCCESS;
    if (!FileCalls::Current().AttributeTag(handle.get(), tag))
        error = ::GetLastError();
    if (error != ERROR_SUCCESS || !(tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        handle.reset();
        ::SetLastError(error != ERROR_SUCCESS ? error : ERROR_NOT_A_REPARSE_POINT);
        return handle;
    }
    attributes = tag.FileAttributes;
    return handle;
}

bool ContainedTree::CheckLinkDeletable(const std::wstring& path)
{
    DWORD attributes = 0;
    bool attributesWritable = false;
    if (!OpenLink(path, attributes, attributesWritable))
        return false;
    if ((attributes & FILE_ATTRIBUTE_READONLY) && !attributesWritable) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    return true;
}

bool ContainedTree::RemoveLink(const std::wstring& path, EntryDeletion& deletion)
{
    DWORD attributes = 0;
    bool attributesWritable = false;
    const win32::UniqueFileHandle handle = OpenLink(path, attributes, attributesWritable);
    return handle && Deleted(deletion.Delete(handle.get(), path, attributes));
}

bool ContainedTree::RemoveLink(const std::wstring& path)
{
    EntryDeletion inPlace(std::wstring(), true, false);
    return RemoveLink(path, inPlace);
}
