#include "prep/DirectoryClearing.h"

#include "app/RunLog.h"
#include "recorderlibs/FailureCause.h"
#include "recorderlibs/Win32Handle.h"
#include "volumes/ContainedTree.h"
#include "volumes/WidePath.h"

namespace {

bool IsProtectedPath(const std::string& path)
{
    // Without regard to case: "c:\" names the system drive just as well, and
    // a settings path in another letter case must not empty it.
    return ::lstrcmpiA(path.c_str(), "C:\\") == 0 || ::lstrcmpiA(path.c_str(), "C:\\Windows") == 0;
}

bool IsProtectedDirectory(const std::string& directory)
{
    if (!directory.empty() && directory.back() == '\\')
        return IsProtectedPath(directory) || IsProtectedPath(directory.substr(0, directory.size() - 1));
    return IsProtectedPath(directory);
}

void ReportProtected(RunLog& log)
{
    log.Error("Attempting to delete C:\\");
}

void ReportFailedDelete(RunLog& log, const std::string& path, bool isDirectory, DWORD error)
{
    log.ErrorWithCause("Failed to delete: " + path,
                       CauseLine({path, isDirectory ? "cannot be removed" : "cannot be deleted", error, ""}));
}

// Both forms of one directory: `wide` ("\\?\", every name reachable) for the
// calls, `shown` (as the settings give it) for reports and the protected
// paths; each ends in a backslash.
void ClearBelow(const std::wstring& wide, const std::string& shown, const ContainedTree& tree, RunLog& log,
                ClearingTally* tally);

// What the deletion of the entry would do, as the run would report it.
bool CountEntry(const std::wstring& path, const std::string& shownPath, const ContainedTree& tree,
                const WIN32_FIND_DATAW& entry, RunLog& log, ClearingTally& tally)
{
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        const std::int32_t refusedBefore = tally.refused;
        ClearBelow(path + L"\\", shownPath + "\\", tree, log, &tally);
        ++tally.directories;
        // The run does not clear a directory's read-only attribute either,
        // and the system refuses to remove it.
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
            ++tally.refused;
        return tally.refused == refusedBefore;
    }
    ++tally.files;
    tally.bytes += (static_cast<std::uint64_t>(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_READONLY) {
        ++tally.refused;
        return false;
    }
    return true;
}

void ClearEntry(const std::wstring& wide, const std::string& shown, const ContainedTree& tree,
                const WIN32_FIND_DATAW& entry, RunLog& log, ClearingTally* tally)
{
    // The first two entries are passed over by position; on a listing that
    // returns "." or ".." later, they must still never be entered or deleted.
    if (IsDotEntry(entry.cFileName))
        return;
    const std::wstring path = wide + entry.cFileName;
    const std::string shownPath = shown + NarrowName(entry.cFileName);
    if (IsProtectedPath(shownPath)) {
        ReportProtected(log);
        return;
    }
    bool removed = false;
    const bool isDirectory = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (tally) {
        removed = CountEntry(path, shownPath, tree, entry, log, *tally);
        // What the system would answer the run.
        ::SetLastError(isDirectory && !(entry.dwFileAttributes & FILE_ATTRIBUTE_READONLY) ? ERROR_DIR_NOT_EMPTY
                                                                                         : ERROR_ACCESS_DENIED);
    } else if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        // A junction or link is removed as a link: what it points to lies
        // outside the directory being cleared.
        removed = ContainedTree::RemoveLink(path);
    } else if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        ClearBelow(path + L"\\", shownPath + "\\", tree, log, nullptr);
        removed = ::RemoveDirectoryW(path.c_str()) == 1;
    } else {
        // Read-only files are not made writable: they are reported.
        removed = tree.DeleteFile(path, false);
    }
    if (!removed)
        ReportFailedDelete(log, shownPath, isDirectory, ::GetLastError());
}

void ClearBelow(const std::wstring& wide, const std::string& shown, const ContainedTree& tree, RunLog& log,
                ClearingTally* tally)
{
    WIN32_FIND_DATAW entry;
    const win32::UniqueFindHandle listing(::FindFirstFileW((wide + L"*.*").c_str(), &entry));
    if (!listing)
        return;
    // The listing's first two entries are taken to be "." and "..".
    ::FindNextFileW(listing.get(), &entry);
    while (::FindNextFileW(listing.get(), &entry))
        ClearEntry(wide, shown, tree, entry, log, tally);
}

}  // namespace

void ClearDirectory(const std::string& directory, RunLog& log, ClearingTally* tally)
{
    // As given and as the system resolves it: "C:" or a relative path may
    // name a protected directory just as well.
    std::wstring wide;
    const bool resolved = LongPathOf(directory, wide);
    if (IsProtectedDirectory(directory) || (resolved && IsProtectedDirectory(NarrowName(wide.substr(4))))) {
        ReportProtected(log);
        return;
    }
    ContainedTree tree;
    if (!resolved || !tree.Attach(wide))
        return;
    ClearBelow(wide, JoinPath(directory, ""), tree, log, tally);
}

bool CreateIndexDirectory(const std::string& path, RunLog& log)
{
    if (::CreateDirectoryA(path.c_str(), nullptr) != 1) {
        log.ErrorWithCause("Failed attempting to create: " + path, CauseLine(FailureCause::Last(path, "cannot be created")));
        return false;
    }
    return true;
}
