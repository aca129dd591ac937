// File operations confined to one directory tree.
//
// Deleting is the one thing this program does to what it did not write, so
// every deletion goes through a handle whose resolved path is checked to lie
// inside the tree being emptied. Links (junctions, symbolic links) are
// removed themselves, never followed. Where the system resolves a link while
// opening it (Wine does so with host symbolic links: deleting, moving or
// changing the attributes of the link acts on its target), the operation is
// refused and reported as failed rather than done to the target.
//
// Paths here are the "\\?\" forms of volumes/WidePath.h, so that every name
// on the drive can be listed and deleted.
#pragma once

#include "recorderlibs/Win32Handle.h"
#include "volumes/WidePath.h"

#include <cwchar>
#include <string>

// The directory, a backslash unless it ends in one, and the name.
std::string JoinPath(const std::string& directory, const std::string& name);

// A directory listing that tells "empty" from "cannot be listed": the root of
// a drive has no "." and "..", so an empty root lists nothing at all.
class DirectoryListing {
public:
    bool Start(const std::wstring& directory, const wchar_t* pattern);
    // False at the end; failed() tells an end from a listing error.
    bool Next(WIN32_FIND_DATAW& entry);
    bool failed() const { return m_failed; }

private:
    win32::UniqueFindHandle m_find;
    WIN32_FIND_DATAW m_entry{};
    bool m_pending = false;
    bool m_failed = false;
};

// The "." and ".." a listing gives of every directory but a root.
inline bool IsDotEntry(const wchar_t* name)
{
    return std::wcscmp(name, L".") == 0 || std::wcscmp(name, L"..") == 0;
}

class EntryDeletion;

class ContainedTree {
public:
    // Resolves where the tree itself lies; false when it cannot be opened or
    // its path cannot be read, with the system's reason as the last error.
    bool Attach(const std::wstring& directory);

    // Opens an entry below the tree for its deletion: DELETE and the right to
    // read its attributes, and to write them where that is granted
    // (`attributesWritable`). An invalid handle, the reason left as the last
    // error, when it cannot be opened, when its path cannot be read (the
    // system's own error) or when it lies outside the tree
    // (ERROR_CANT_ACCESS_FILE).
    win32::UniqueFileHandle OpenForDeletion(const std::wstring& path, bool& attributesWritable) const;

    // The look: whether the deletion would be let through. The entry opens as
    // OpenForDeletion opens it and, when read-only (`attributes` as listed),
    // its attributes could be written. Nothing is changed. False with the
    // thread's last error telling why.
    bool CheckDeletable(const std::wstring& path, DWORD attributes) const;

    // Deletes an entry that lies inside the tree through the steps of
    // `deletion` (volumes/EntryDeletion.h); false with the last error.
    bool Delete(const std::wstring& path, DWORD attributes, EntryDeletion& deletion) const;

    // A link (junction, symbolic link, mount point) opened itself, with the
    // access OpenForDeletion asks for; refused (ERROR_NOT_A_REPARSE_POINT)
    // when the system opened something else, as Wine does with a host
    // symbolic link, whose target it would then act on. `attributes`: the
    // link's own; `attributesWritable` as for OpenForDeletion.
    static win32::UniqueFileHandle OpenLink(const std::wstring& path, DWORD& attributes, bool& attributesWritable);
    // The look and the deletion of a link, through OpenLink.
    static bool CheckLinkDeletable(const std::wstring& path);
    static bool RemoveLink(const std::wstring& path, EntryDeletion& deletion);

    // For the clearing of directories (prep/): a file entry deleted where it
    // lies; with `unprotect` a read-only one too, else the system refuses it.
    bool DeleteFile(const std::wstring& path, bool unprotect) const;
    // A link removed where it lies.
    static bool RemoveLink(const std::wstring& path);

private:
    // ERROR_SUCCESS when the handle, opened on `path` below the tree, lies
    // inside it; ERROR_CANT_ACCESS_FILE when it lies outside; otherwise the
    // error of the call that could not tell.
    DWORD Where(HANDLE handle, const std::wstring& path) const;

    std::wstring m_root;      // the tree as attached, ending in a backslash
    std::wstring m_prefix;    // resolved path of the tree, ending in a backslash
    std::wstring m_rootName;  // its path below its volume's root, ending in a backslash
    wchar_t m_drive = 0;      // its drive letter in lower case; 0 for a share
};
