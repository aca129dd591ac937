// Deleting one entry through the handle the wipe opened it with, and the
// platform calls of the wipe's look and deletion, which tests replace.
//
// Windows 10 and later delete with POSIX semantics where the file system has
// them (NTFS): the name goes at once, even while another program holds the
// entry open sharing its deletion (an indexer, a virus scanner, a backup
// agent, an Explorer window), and what that program holds goes when it lets
// go. With the old semantics (Windows 7 and 8, FAT, exFAT, SMB shares, Wine)
// such an entry stays "delete pending" under its name until the holder lets
// go, and its directory cannot be removed meanwhile: there the entry is first
// moved, through the same handle, into the holding directory in the root of
// the tree being emptied, and deleted there.
#pragma once

#include <windows.h>

#include <string>

// The holding directory, in the root of a wiped drive. Its name begins with a
// full stop, so the wipe passes over it as over every such directory; the
// probe ignores it. Each wipe empties it before and after its deletion: what
// is left in it is still held by another program and goes when that program
// lets go.
inline constexpr const wchar_t* kHoldingDirectoryName = L".Mediaprep-deleted";

inline constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Whether an answer says that the system or the file system does not know an
// information class or flag asked for (rather than refusing the entry).
bool ClassRefused(DWORD error);

// The thread's last error after a call that failed; one that failed without
// saying why must not pass for done (ERROR_GEN_FAILURE then).
DWORD LastFailure();

// The platform calls of the wipe's look and deletion, each answering as the
// system does: false (or INVALID_HANDLE_VALUE) with the thread's last error.
class FileCalls {
public:
    virtual ~FileCalls() = default;
    // CreateFileW of an existing entry itself (a link, not its target), with
    // backup semantics and `flags` (FILE_FLAG_DELETE_ON_CLOSE).
    virtual HANDLE OpenEntry(const std::wstring& path, DWORD access, DWORD share = kShareAll, DWORD flags = 0);
    // GetFinalPathNameByHandleW: normalised, in DOS form ("\\?\E:\x").
    virtual bool FinalPath(HANDLE handle, std::wstring& path);
    // FileAttributeTagInfo; where the file system does not know that class,
    // the attributes alone, a reparse point then of no tag.
    virtual bool AttributeTag(HANDLE handle, FILE_ATTRIBUTE_TAG_INFO& info);
    // The next batch of a directory's entries (GetFileInformationByHandleEx,
    // FileFullDirectoryInfo or FileIdBothDirectoryInfo): ERROR_NO_MORE_FILES
    // after the last.
    virtual bool ReadDirectory(HANDLE directory, FILE_INFO_BY_HANDLE_CLASS listing, void* buffer, DWORD size);
    // Whether the system may show a link as a plain file in its listings and
    // open its target under the link's name, even with
    // FILE_FLAG_OPEN_REPARSE_POINT: Wine does so with host symbolic links to
    // files (and deletes the target). Windows marks every link in its
    // listings, and opens the link itself.
    virtual bool LinksMayHide();
    // SetFileInformationByHandle with FileDispositionInfoEx and the flags.
    virtual bool SetDispositionEx(HANDLE handle, DWORD flags);
    // The same with FileDispositionInfo: delete when the last handle closes.
    virtual bool SetDisposition(HANDLE handle);
    // FileBasicInfo with the attributes, the times left as they are.
    virtual bool SetAttributes(HANDLE handle, DWORD attributes);
    // FileRenameInfo to `target`, an NT path ("\??\E:\x"), replacing nothing.
    virtual bool Rename(HANDLE handle, const std::wstring& target);
    virtual bool CreateDirectory(const std::wstring& path);
    virtual void Wait(DWORD milliseconds);

    // The calls in use: the system's, or a test's while one is set. Test
    // seam: set it only while no other thread uses these calls; null puts
    // the system's back.
    static FileCalls& Current();
    static void Replace(FileCalls* calls);
};

// FILE_DISPOSITION_INFO_EX flags (Windows 10 SDK).
inline constexpr DWORD kDispositionDelete = 0x1;
inline constexpr DWORD kDispositionPosixSemantics = 0x2;
inline constexpr DWORD kDispositionIgnoreReadOnly = 0x10;  // Windows 10 1809 and later

// The deletion steps of one walk. The answers the system gives are kept for
// the walk: a way it does not take is not tried again.
class EntryDeletion {
public:
    // `holding`: the holding directory ("\\?\E:\.Mediaprep-deleted"), made
    // when first needed; empty: entries are deleted where they lie.
    // `unprotect`: a read-only entry is deleted too, its attribute cleared
    // where the system needs that; otherwise the system refuses it.
    // `retry`: a directory that is not empty yet is tried again, a few times
    // within half a second (a holder that has just let go of an entry of it).
    EntryDeletion(std::wstring holding, bool unprotect, bool retry);

    // Deletes the entry open in `handle` (with DELETE access and, where
    // granted, FILE_WRITE_ATTRIBUTES) at `path` ("\\?\" form), `attributes`
    // as listed. ERROR_SUCCESS, or the system's answer that stopped it: the
    // entry is then left where it was, its attributes as they were.
    DWORD Delete(HANDLE handle, const std::wstring& path, DWORD attributes);

    enum class Way {
        PosixIgnoringReadOnly,  // FileDispositionInfoEx, POSIX semantics, read-only ignored (Windows 10 1809+)
        Posix,                  // the same with the read-only attribute cleared first (Windows 10 before 1809)
        Old,                    // moved into the holding directory, then FileDispositionInfo
    };
    Way way() const { return m_way; }  // the way the system takes, as far as it has answered

private:
    DWORD Dispose(FileCalls& calls, HANDLE handle, DWORD& attributes, bool& moved);
    bool MoveAside(FileCalls& calls, HANDLE handle);

    std::wstring m_holding;
    bool m_unprotect;
    bool m_retry;
    Way m_way;
    enum class Holding { NotMade, Made, Unusable } m_holdingState = Holding::NotMade;
    std::wstring m_namePrefix;  // of the names given in the holding directory
    unsigned m_moved = 0;
};

// "\\?\E:\x" as an NT path ("\??\E:\x"); "\\?\UNC\s\x" gives "\??\UNC\s\x".
std::wstring NtPathOf(const std::wstring& longPath);
