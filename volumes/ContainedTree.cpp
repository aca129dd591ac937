#include "volumes/ContainedTree.h"

#include "recorderlibs/TextCase.h"
#include "volumes/EntryDeletion.h"
#include "volumes/VolumeRoot.h"

#include <cstddef>
#include <vector>

namespace {

constexpr DWORD kBatchBytes = 64 * 1024;
constexpr std::size_t kNoRecord = static_cast<std::size_t>(-1);

// Opens the entry itself with `access` and, where `writeAttributes`, the
// right to change its attributes too, or when that is denied, without it
// (`attributesWritable` tells which).
win32::UniqueFileHandle OpenEntryWith(const std::wstring& path, DWORD access, DWORD share, bool writeAttributes,
                                      bool& attributesWritable)
{
    FileCalls& calls = FileCalls::Current();
    win32::UniqueFileHandle handle;
    if (writeAttributes)
        handle.reset(calls.OpenEntry(path, access | FILE_WRITE_ATTRIBUTES, share));
    attributesWritable = handle.valid();
    if (!handle && (!writeAttributes || ::GetLastError() == ERROR_ACCESS_DENIED))
        handle.reset(calls.OpenEntry(path, access, share));
    return handle;
}

// Opens the entry itself for deleting it and, where granted, changing its
// attributes.
win32::UniqueFileHandle OpenEntryForDeletion(const std::wstring& path, bool& attributesWritable)
{
    return OpenEntryWith(path, DELETE | FILE_READ_ATTRIBUTES, kShareAll, true, attributesWritable);
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
    // No short names, and large batches from the file system; where it does
    // not know the class that asks for, the one every file system knows.
    const std::wstring path = JoinPath(directory, pattern);
    for (const FINDEX_INFO_LEVELS level : {FindExInfoBasic, FindExInfoStandard}) {
        m_find.reset(::FindFirstFileExW(path.c_str(), level, &m_entry, FindExSearchNameMatch, nullptr,
                                        FIND_FIRST_EX_LARGE_FETCH));
        if (m_find || !ClassRefused(::GetLastError()))
            break;
    }
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

bool DirectoryEntries::Start(HANDLE directory, const std::wstring& path, Listing& how,
                             std::vector<ULONGLONG>& batch)
{
    m_directory = directory;
    m_batch = &batch;
    m_batch->resize(kBatchBytes / sizeof(ULONGLONG));
    m_ended = m_failed = false;
    for (const Listing way : {Listing::Full, Listing::IdBoth}) {
        if (how != Listing::Unknown && how != way)
            continue;
        m_how = way;
        if (Fetch() || m_ended) {
            how = way;
            return true;
        }
        const DWORD error = ::GetLastError();
        // An empty root has not even "." and "..": nothing is found at once.
        if (error == ERROR_FILE_NOT_FOUND) {
            m_failed = false;
            m_ended = true;
            how = way;
            return true;
        }
        if (how != Listing::Unknown || !ClassRefused(error))
            return false;
        m_failed = false;
    }
    how = m_how = Listing::ByPath;
    return m_listing.Start(path, L"*");
}

bool DirectoryEntries::Fetch()
{
    m_next = kNoRecord;
    const auto listing = m_how == Listing::Full ? FileFullDirectoryInfo : FileIdBothDirectoryInfo;
    if (FileCalls::Current().ReadDirectory(m_directory, listing, m_batch->data(), kBatchBytes)) {
        m_next = 0;
        return true;
    }
    const DWORD error = LastFailure();
    m_ended = error == ERROR_NO_MORE_FILES;
    m_failed = !m_ended;
    ::SetLastError(error);
    return false;
}

bool DirectoryEntries::Next(ListedEntry& entry)
{
    if (m_how == Listing::ByPath) {
        WIN32_FIND_DATAW found;
        if (!m_listing.Next(found)) {
            m_failed = m_listing.failed();
            return false;
        }
        entry.name = found.cFileName;
        entry.attributes = found.dwFileAttributes;
        entry.tag = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? found.dwReserved0 : 0;
        entry.size = (static_cast<std::uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
        return true;
    }
    if (m_next == kNoRecord && (m_ended || m_failed || !Fetch()))
        return false;
    // Both records begin alike, up to where the reparse tag stands; the name
    // follows later in the second.
    const auto* bytes = reinterpret_cast<const unsigned char*>(m_batch->data());
    const auto* record = reinterpret_cast<const FILE_FULL_DIR_INFO*>(bytes + m_next);
    const std::size_t nameAt = m_next + (m_how == Listing::Full ? offsetof(FILE_FULL_DIR_INFO, FileName)
                                                                : offsetof(FILE_ID_BOTH_DIR_INFO, FileName));
    // A record that would reach beyond the batch is a listing gone wrong.
    if (nameAt > kBatchBytes || record->FileNameLength > kBatchBytes - nameAt ||
        record->NextEntryOffset > kBatchBytes - m_next) {
        m_failed = true;
        ::SetLastError(ERROR_INVALID_DATA);
        return false;
    }
    const auto* name = reinterpret_cast<const wchar_t*>(bytes + nameAt);
    entry.name.assign(name, record->FileNameLength / sizeof(wchar_t));
    entry.attributes = record->FileAttributes;
    // The listing gives a reparse point's tag where its extended attributes' size would be.
    entry.tag = (record->FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? record->EaSize : 0;
    entry.size = static_cast<std::uint64_t>(record->EndOfFile.QuadPart);
    m_next = record->NextEntryOffset ? m_next + record->NextEntryOffset : kNoRecord;
    return true;
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
    if (FileCalls::Current().FinalPath(handle, resolved)) {
        if (EqualNoCase(JoinPath(path, L""), m_root))  // the tree itself, held
            return EqualNoCase(JoinPath(resolved, L""), m_prefix) ? ERROR_SUCCESS : ERROR_CANT_ACCESS_FILE;
        return resolved.size() > m_prefix.size() && StartsWithNoCase(resolved, m_prefix) ? ERROR_SUCCESS
                                                                                          : ERROR_CANT_ACCESS_FILE;
    }
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

win32::UniqueFileHandle ContainedTree::HoldDirectory(const std::wstring& path, DWORD attributes, bool deletion,
                                                     bool& attributesWritable) const
{
    const DWORD access = (deletion ? DELETE : 0) | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
    win32::UniqueFileHandle handle =
        OpenEntryWith(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      deletion && (attributes & FILE_ATTRIBUTE_READONLY), attributesWritable);
    if (!handle)
        return handle;
    FILE_ATTRIBUTE_TAG_INFO tag{};
    DWORD error = ERROR_SUCCESS;
    if (!FileCalls::Current().AttributeTag(handle.get(), tag))
        error = LastFailure();
    // Replaced by a link since it was listed, it might lead anywhere. The tree
    // itself may be a mount point: Wine marks a drive's root so where the
    // drive is a mount of its own.
    else if (!(tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
             ((tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && IsLinkTag(tag.ReparseTag) &&
              !EqualNoCase(JoinPath(path, L""), m_root)))
        error = ERROR_CANT_ACCESS_FILE;
    else
        error = Where(handle.get(), path);
    if (error != ERROR_SUCCESS) {
        handle.reset();
        ::SetLastError(error);
    }
    return handle;
}

win32::UniqueFileHandle ContainedTree::OpenFile(const std::wstring& path, DWORD attributes,
                                                bool& attributesWritable) const
{
    win32::UniqueFileHandle handle = OpenEntryWith(path, DELETE | FILE_READ_ATTRIBUTES, kShareAll,
                                                   (attributes & FILE_ATTRIBUTE_READONLY) != 0, attributesWritable);
    if (handle && FileCalls::Current().LinksMayHide()) {
        const DWORD where = Where(handle.get(), path);
        if (where != ERROR_SUCCESS) {
            handle.reset();
            ::SetLastError(where);
        }
    }
    return handle;
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
    const win32::UniqueFileHandle handle = OpenFile(path, attributes, attributesWritable);
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
    const win32::UniqueFileHandle handle = OpenFile(path, attributes, attributesWritable);
    return handle && Delete(handle.get(), path, attributes, deletion);
}

bool ContainedTree::Delete(HANDLE held, const std::wstring& path, DWORD attributes, EntryDeletion& deletion)
{
    return Deleted(deletion.Delete(held, path, attributes));
}

bool ContainedTree::DeleteAtOnce(const std::wstring& path)
{
    // Shared with no one: an open fails while anyone else holds the file, so
    // its name goes as it is closed, on every system; a holder that shares
    // deletion needs the longer way.
    win32::UniqueFileHandle handle(FileCalls::Current().OpenEntry(path, DELETE, 0, FILE_FLAG_DELETE_ON_CLOSE));
    return handle && handle.reset();
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
