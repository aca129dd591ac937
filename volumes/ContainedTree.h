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

class ContainedTree {
public:
    // Resolves where the tree itself lies; false when it cannot be opened.
    bool Attach(const std::wstring& directory);

    // Whether DeleteFile (or, for a directory, its removal) would be let
    // through: the entry opens for deletion with the sharing the deletion
    // uses and lies inside the tree, and, when read-only (`attributes` as
    // listed), its attributes can be written. With `unprotect`, they go to
    // normal through that handle. False with the thread's last error telling
    // why; nothing is deleted either way.
    bool CheckDeletable(const std::wstring& path, bool unprotect, DWORD attributes) const;
    // The same for a link, removed as RemoveLink removes it.
    static bool CheckLinkDeletable(const std::wstring& path);

    // Deletes a file entry that lies inside the tree; with `unprotect` its
    // attributes go to normal first (a read-only file is refused otherwise).
    bool DeleteFile(const std::wstring& path, bool unprotect) const;

    // Removes a link itself; refused when the system would act on the target.
    static bool RemoveLink(const std::wstring& path);

private:
    // Opens an entry below the tree for its deletion, with the right to change
    // its attributes where that is granted (`attributesWritable`); an invalid
    // handle, the reason left as the last error, when it cannot be opened or
    // lies outside the tree.
    win32::UniqueFileHandle OpenForDeletion(const std::wstring& path, bool& attributesWritable) const;

    // Whether the handle, opened on `path` below the tree, lies inside it.
    bool Contains(HANDLE handle, const std::wstring& path) const;

    std::wstring m_root;      // the tree as attached, ending in a backslash
    std::wstring m_prefix;    // resolved path of the tree, ending in a backslash
    std::wstring m_rootName;  // its path below its volume's root, ending in a backslash
    wchar_t m_drive = 0;      // its drive letter in lower case; 0 for a share
};
