// File operations confined to one directory tree.
//
// Deleting is the one thing this program does to what it did not write, so
// nothing is deleted outside the tree being emptied. The wipe holds a handle
// on every directory from the tree down to the one it works in, each checked
// once to lie inside the tree and to be no link, and shared with no one who
// would delete or rename it: an entry opened below it itself
// (FILE_FLAG_OPEN_REPARSE_POINT) then lies inside the tree. Links
// (junctions, symbolic links) are removed themselves, never followed. Where
// the system may open a link's target under the link's name without marking
// the link in its listings (FileCalls::LinksMayHide: Wine's host symbolic
// links, whose targets Wine would delete, move or change), every entry's
// resolved path is checked as well, and one outside is refused.
//
// Paths here are the "\\?\" forms of volumes/WidePath.h, so that every name
// on the drive can be listed and deleted.
#pragma once

#include "recorderlibs/Win32Handle.h"
#include "volumes/WidePath.h"

#include <cstdint>
#include <cwchar>
#include <string>
#include <vector>

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

// One entry as a directory's listing gives it.
struct ListedEntry {
    std::wstring name;
    DWORD attributes = 0;
    DWORD tag = 0;  // the reparse tag, where the attributes name a reparse point
    std::uint64_t size = 0;
};

// How a file system gives a directory's entries.
enum class Listing {
    Unknown,     // not asked yet
    Full,        // FileFullDirectoryInfo through a handle: no short names
    IdBoth,      // FileIdBothDirectoryInfo through a handle, where the first is not known
    ByPath,      // neither: FindFirstFileExW by path, which shares nothing with a holder of DELETE access
};

// The entries of a directory held open, read through its handle in batches
// of up to 64 KB, or listed by path where the system or the file system knows
// neither class. The directory's "." and ".." come too.
class DirectoryEntries {
public:
    // `how`: the way found for the file system so far; Unknown tries each in
    // turn and keeps the first it takes. `batch`: room for one batch, which
    // listings that do not overlap share.
    bool Start(HANDLE directory, const std::wstring& path, Listing& how, std::vector<ULONGLONG>& batch);
    // False at the end; failed() tells an end from a listing error.
    bool Next(ListedEntry& entry);
    bool failed() const { return m_failed; }

private:
    bool Fetch();

    HANDLE m_directory = INVALID_HANDLE_VALUE;
    Listing m_how = Listing::Unknown;
    std::vector<ULONGLONG>* m_batch = nullptr;
    std::size_t m_next = 0;  // byte offset of the next record; none once the batch is used up
    bool m_ended = false;
    bool m_failed = false;
    DirectoryListing m_listing;
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

    // Opens a directory of the tree (the tree itself, or one below it) to be
    // held while the walk works below it: for listing and, with `deletion`,
    // for its own deletion (and writing its attributes where it is read-only
    // by `attributes` as listed and that is granted: `attributesWritable`).
    // It shares reading and writing but not deletion, so that no one renames
    // or deletes it while it is held. Refused when it is no directory or a
    // link now, or lies outside the tree (ERROR_CANT_ACCESS_FILE), with the
    // system's own error when that cannot be told.
    win32::UniqueFileHandle HoldDirectory(const std::wstring& path, DWORD attributes, bool deletion,
                                          bool& attributesWritable) const;

    // Opens an entry below the tree for its deletion: DELETE and the right to
    // read its attributes, and to write them where that is granted
    // (`attributesWritable`). An invalid handle, the reason left as the last
    // error, when it cannot be opened, when its path cannot be read (the
    // system's own error) or when it lies outside the tree
    // (ERROR_CANT_ACCESS_FILE).
    win32::UniqueFileHandle OpenForDeletion(const std::wstring& path, bool& attributesWritable) const;

    // The look at a file in a held directory: whether Delete would be let
    // through. It opens as Delete opens it and, when read-only (`attributes`
    // as listed), its attributes could be written. Nothing is changed. False
    // with the thread's last error telling why.
    bool CheckDeletable(const std::wstring& path, DWORD attributes) const;

    // Deletes a file in a held directory, or a directory of the tree
    // (`held`: its held handle), through the steps of `deletion`
    // (volumes/EntryDeletion.h), sharing it with whoever holds it; false with
    // the last error.
    bool Delete(const std::wstring& path, DWORD attributes, EntryDeletion& deletion) const;
    static bool Delete(HANDLE held, const std::wstring& path, DWORD attributes, EntryDeletion& deletion);

    // A file in a held directory that no one else has open, deleted as it is
    // closed: one open and one close. False, deleting nothing, when it is
    // open elsewhere, read-only or cannot be opened; Delete then goes the
    // longer way.
    static bool DeleteAtOnce(const std::wstring& path);

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
    // A file of a held directory opened sharing everything, for DELETE and,
    // where it is read-only, to write its attributes when granted; its path
    // checked where links may hide.
    win32::UniqueFileHandle OpenFile(const std::wstring& path, DWORD attributes, bool& attributesWritable) const;

    std::wstring m_root;      // the tree as attached, ending in a backslash
    std::wstring m_prefix;    // resolved path of the tree, ending in a backslash
    std::wstring m_rootName;  // its path below its volume's root, ending in a backslash
    wchar_t m_drive = 0;      // its drive letter in lower case; 0 for a share
};
