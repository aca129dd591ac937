#include "prep/DirectoryClearing.h"

#include "app/RunLog.h"
#include "recorderlibs/Win32Handle.h"
#include "volumes/ContainedTree.h"

#include <cstring>

namespace {

bool IsProtectedPath(const std::string& path)
{
    // Without regard to case: "c:\" names the system drive just as well, and
    // a settings path in another letter case must not empty it.
    return ::lstrcmpiA(path.c_str(), "C:\\") == 0 || ::lstrcmpiA(path.c_str(), "C:\\Windows") == 0;
}

bool IsDotEntry(const char* name)
{
    return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

void ReportProtected(RunLog& log)
{
    log.Error("Attempting to delete C:\\");
}

void ReportFailedDelete(RunLog& log, const std::string& path)
{
    log.Error("Failed to delete: " + path);
}

void ClearEntry(const std::string& directory, const ContainedTree& tree, const WIN32_FIND_DATAA& entry, RunLog& log)
{
    // The first two entries are passed over by position; on a listing that
    // returns "." or ".." later, they must still never be entered or deleted.
    if (IsDotEntry(entry.cFileName))
        return;
    const std::string path = directory + entry.cFileName;
    if (IsProtectedPath(path)) {
        ReportProtected(log);
        return;
    }
    bool removed = false;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        // A junction or link is removed as a link: what it points to lies
        // outside the directory being cleared.
        removed = ContainedTree::RemoveLink(path);
    } else if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        ClearDirectory(path + "\\", log);
        removed = ::RemoveDirectoryA(path.c_str()) == 1;
    } else {
        // Read-only files are not made writable: they are reported.
        removed = tree.DeleteFile(path, false);
    }
    if (!removed)
        ReportFailedDelete(log, path);
}

}  // namespace

void ClearDirectory(const std::string& directory, RunLog& log)
{
    std::string withoutSlash = directory;
    if (!withoutSlash.empty() && withoutSlash.back() == '\\')
        withoutSlash.pop_back();
    if (IsProtectedPath(directory) || IsProtectedPath(withoutSlash)) {
        ReportProtected(log);
        return;
    }

    WIN32_FIND_DATAA entry;
    win32::UniqueFindHandle listing(::FindFirstFileA((directory + "*.*").c_str(), &entry));
    ContainedTree tree;
    if (!listing || !tree.Attach(directory))
        return;
    // The listing's first two entries are taken to be "." and "..".
    ::FindNextFileA(listing.get(), &entry);
    while (::FindNextFileA(listing.get(), &entry))
        ClearEntry(directory, tree, entry, log);
}

bool CreateIndexDirectory(const std::string& path, RunLog& log)
{
    if (::CreateDirectoryA(path.c_str(), nullptr) != 1) {
        log.Error("Failed attempting to create: " + path);
        return false;
    }
    return true;
}
