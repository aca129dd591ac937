// The root probe and the wiping of a volume: the only code of this program
// that deletes what it did not write, so every step errs on the side of
// leaving things in place.
#include "volumes/VolumeRoot.h"

#include "recorderlibs/Win32Handle.h"
#include "volumes/VolumeHandler.h"

namespace {

constexpr const char* kSystemVolumeInformation = "System Volume Information";

char AsciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualNoCase(const std::string& a, const char* b)
{
    const std::string other(b);
    if (a.size() != other.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(other[i]))
            return false;
    }
    return true;
}

std::string Join(const std::string& directory, const std::string& name)
{
    if (!directory.empty() && directory.back() == '\\')
        return directory + name;
    return directory + "\\" + name;
}

// A directory listing that tells "empty" from "cannot be listed": the root
// of a drive has no "." and "..", so an empty root lists nothing at all.
class Listing {
public:
    bool Start(const std::string& directory, const char* pattern)
    {
        m_find.reset(::FindFirstFileA(Join(directory, pattern).c_str(), &m_entry));
        if (m_find) {
            m_pending = true;
            return true;
        }
        if (::GetLastError() != ERROR_FILE_NOT_FOUND)
            return false;
        const DWORD attributes = ::GetFileAttributesA(Join(directory, "").c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    }

    // False at the end; `failed` tells an end from a listing error.
    bool Next(WIN32_FIND_DATAA& entry)
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

    bool failed() const { return m_failed; }

private:
    win32::UniqueFindHandle m_find;
    WIN32_FIND_DATAA m_entry{};
    bool m_pending = false;
    bool m_failed = false;
};

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
    const win32::UniqueFileHandle handle(::CreateFileA(Join(directory, "").c_str(), FILE_READ_ATTRIBUTES,
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
    if (!FinalPath(handle, path) || path.size() <= prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (AsciiLower(path[i]) != AsciiLower(prefix[i]))
            return false;
    }
    return true;
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

bool DeleteFileEntry(const std::string& path, const std::string& root)
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
    SetAttributes(handle.get(), FILE_ATTRIBUTE_NORMAL);
    return DeleteOnClose(handle);
}

bool RemoveLink(const std::string& path)
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

std::int32_t CountBelow(const std::string& directory, const std::string& root)
{
    Listing listing;
    if (!listing.Start(directory, "*.*"))
        return -1;
    std::int32_t count = 0;
    WIN32_FIND_DATAA entry;
    while (listing.Next(entry)) {
        const std::string path = Join(directory, entry.cFileName);
        switch (ClassifyWipeEntry(entry.dwFileAttributes, entry.cFileName)) {
        case WipeEntry::Skipped:
            break;
        case WipeEntry::Directory: {
            const std::int32_t below = CountBelow(path, root);
            if (below == -1)
                return -1;
            count += below;
            break;
        }
        case WipeEntry::Link:
            // A link to a file is a file of this drive; its target's
            // attributes are none of our business.
            if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                ++count;
            break;
        case WipeEntry::File:
            UnprotectFile(path, root);
            ++count;
            break;
        }
    }
    return listing.failed() ? -1 : count;
}

bool DeleteBelow(const std::string& directory, const std::string& root, std::int32_t& counter)
{
    Listing listing;
    if (!listing.Start(directory, "*.*"))
        return false;
    WIN32_FIND_DATAA entry;
    while (listing.Next(entry)) {
        const std::string path = Join(directory, entry.cFileName);
        switch (ClassifyWipeEntry(entry.dwFileAttributes, entry.cFileName)) {
        case WipeEntry::Skipped:
            break;
        case WipeEntry::Directory:
            if (!DeleteBelow(path, root, counter))
                return false;
            // A read-only directory cannot be removed.
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
                ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (!::RemoveDirectoryA(path.c_str()))
                return false;
            break;
        case WipeEntry::Link:
            if (!RemoveLink(path))
                return false;
            if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                ++counter;
            break;
        case WipeEntry::File:
            if (!DeleteFileEntry(path, root))
                return false;
            ++counter;
            break;
        }
    }
    return !listing.failed();
}

}  // namespace

bool IsIgnoredByProbe(const std::string& name)
{
    return name == "." || name == ".." || EqualNoCase(name, "VolumeInfo.xml") ||
           EqualNoCase(name, "VolumeInfoOld.xml") || EqualNoCase(name, "RECYCLED") ||
           EqualNoCase(name, kSystemVolumeInformation);
}

WipeEntry ClassifyWipeEntry(DWORD attributes, const std::string& name)
{
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        if ((!name.empty() && name[0] == '.') || EqualNoCase(name, kSystemVolumeInformation))
            return WipeEntry::Skipped;
        return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? WipeEntry::Link : WipeEntry::Directory;
    }
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? WipeEntry::Link : WipeEntry::File;
}

bool VolumeHandler::ProbeVolumeRoot(const std::string& root, bool& hasOtherEntries)
{
    const std::string testFile = Join(root, "testfile.tmp");
    bool writable = false;
    {
        win32::UniqueFileHandle file(::CreateFileA(testFile.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                                   CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        writable = file.valid();
    }
    if (writable)
        ::DeleteFileA(testFile.c_str());  // a file that stays behind does not make the root unwritable

    hasOtherEntries = false;
    if (!writable)
        return false;
    Listing listing;
    if (listing.Start(root, "*")) {
        WIN32_FIND_DATAA entry;
        while (listing.Next(entry)) {
            if (!IsIgnoredByProbe(entry.cFileName)) {
                hasOtherEntries = true;
                break;
            }
        }
    }
    return true;
}

std::int32_t VolumeHandler::CountAndUnprotectFiles(const std::string& directory)
{
    std::string root;
    if (!ResolvedPrefix(directory, root))
        return -1;
    return CountBelow(directory, root);
}

bool VolumeHandler::DeleteVolumeContents(const std::string& directory, std::int32_t& counter)
{
    std::string root;
    if (!ResolvedPrefix(directory, root))
        return false;
    return DeleteBelow(directory, root, counter);
}
