#include "prep/DirectoryClearing.h"

#include "app/RunLog.h"
#include "recorderlibs/Win32Handle.h"

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

void ClearEntry(const std::string& directory, const WIN32_FIND_DATAA& entry, RunLog& log)
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
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        // A junction or directory link is removed as a link: what it points to
        // lies outside the directory being cleared.
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            ClearDirectory(path + "\\", log);
        if (::RemoveDirectoryA(path.c_str()) != 1)
            ReportFailedDelete(log, path);
    } else if (::DeleteFileA(path.c_str()) != 1) {
        ReportFailedDelete(log, path);
    }
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
    if (!listing)
        return;
    // The listing's first two entries are taken to be "." and "..".
    ::FindNextFileA(listing.get(), &entry);
    while (::FindNextFileA(listing.get(), &entry))
        ClearEntry(directory, entry, log);
}

bool CreateIndexDirectory(const std::string& path, RunLog& log)
{
    if (::CreateDirectoryA(path.c_str(), nullptr) != 1) {
        log.Error("Failed attempting to create: " + path);
        return false;
    }
    return true;
}
