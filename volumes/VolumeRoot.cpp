// The root probe and the wiping of a volume: the only code of this program
// that deletes what it did not write, so every step errs on the side of
// leaving things in place.
#include "volumes/VolumeRoot.h"

#include "recorderlibs/TextCase.h"
#include "recorderlibs/Win32Handle.h"
#include "volumes/ContainedTree.h"
#include "volumes/VolumeHandler.h"

#include <algorithm>
#include <vector>

namespace {

constexpr const wchar_t* kSystemVolumeInformation = L"System Volume Information";

// A "\\?\" path as the user knows it ("E:\Images\x.avi").
std::string ShownPath(const std::wstring& path)
{
    if (path.rfind(L"\\\\?\\UNC\\", 0) == 0)
        return "\\\\" + NarrowName(path.substr(8));
    if (path.rfind(L"\\\\?\\", 0) == 0)
        return NarrowName(path.substr(4));
    return NarrowName(path);
}

bool Blocked(FailureCause* cause, const std::string& shown, const char* failure, DWORD code)
{
    if (cause)
        *cause = FailureCause{shown, failure, code, std::string()};
    return false;
}

bool Blocked(FailureCause* cause, const std::wstring& path, const char* failure, DWORD code)
{
    return Blocked(cause, ShownPath(path), failure, code);
}

bool Blocked(FailureCause* cause, const std::wstring& path, const char* failure)
{
    return Blocked(cause, path, failure, ::GetLastError());
}

// The wipe's look before it deletes anything: every entry the deletion will
// remove is opened as the deletion opens it, so that whatever would stop the
// deletion (a file held by a program that does not share deletion, access
// denied, a read-only attribute that will not go, a directory that keeps
// what the wipe leaves in place) stops the wipe here instead, before the
// first deletion. With `unprotect`, files lose their read-only and other
// attributes through that handle. Without a tree, entries are only listed
// and counted: nothing is opened and nothing stops the count.
struct WipeSurvey {
    const ContainedTree* tree;
    bool unprotect;
    FailureCause* cause;
    std::int32_t files = 0;
    std::uint64_t bytes = 0;

    bool Below(const std::wstring& directory, bool isRoot)
    {
        DirectoryListing listing;
        if (!listing.Start(directory, L"*.*"))
            return Blocked(cause, directory, "cannot be listed");
        bool keepsDirectory = false;
        WIN32_FIND_DATAW entry;
        while (listing.Next(entry)) {
            const std::wstring path = JoinPath(directory, entry.cFileName);
            const bool isDirectory = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            switch (ClassifyWipeEntry(entry.dwFileAttributes, entry.cFileName)) {
            case WipeEntry::Skipped:
                keepsDirectory = keepsDirectory || (isDirectory && !IsDotEntry(entry.cFileName));
                break;
            case WipeEntry::Directory:
                if (!Below(path, false))
                    return false;
                // The deletion clears a read-only directory's attribute itself,
                // when it can.
                if (tree && !tree->CheckDeletable(path, false, entry.dwFileAttributes))
                    return Blocked(cause, path, "cannot be removed");
                break;
            case WipeEntry::Link:
                if (tree && !ContainedTree::CheckLinkDeletable(path))
                    return Blocked(cause, path, "cannot be deleted");
                files += isDirectory ? 0 : 1;
                break;
            case WipeEntry::File:
                if (tree && !tree->CheckDeletable(path, unprotect, entry.dwFileAttributes))
                    return Blocked(cause, path, "cannot be deleted");
                bytes += (static_cast<std::uint64_t>(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow;
                ++files;
                break;
            }
        }
        if (listing.failed())
            return Blocked(cause, directory, "cannot be listed");
        // Emptied of everything else, it still holds what the wipe leaves.
        if (tree && keepsDirectory && !isRoot)
            return Blocked(cause, directory, "cannot be removed", ERROR_DIR_NOT_EMPTY);
        return true;
    }
};

bool DeleteCountedFile(const std::wstring& path, const ContainedTree& tree, std::int32_t& counter, FailureCause* cause,
                       RunProgress* progress)
{
    if (!tree.DeleteFile(path, true))
        return Blocked(cause, path, "cannot be deleted");
    ++counter;
    if (progress)
        progress->FilesDeleted(counter);
    return true;
}

bool IsRootDescription(const WIN32_FIND_DATAW& entry)
{
    const std::wstring name = entry.cFileName;
    return !(entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
           (EqualNoCase(name, L"VolumeInfo.xml") || EqualNoCase(name, L"VolumeInfoOld.xml"));
}

// `descriptions`, given for the root only, receives the root's description
// files instead of deleting them.
bool DeleteBelow(const std::wstring& directory, const ContainedTree& tree, std::int32_t& counter, FailureCause* cause,
                 RunProgress* progress, std::vector<std::wstring>* descriptions = nullptr)
{
    DirectoryListing listing;
    if (!listing.Start(directory, L"*.*"))
        return Blocked(cause, directory, "cannot be listed");
    WIN32_FIND_DATAW entry;
    while (listing.Next(entry)) {
        const std::wstring path = JoinPath(directory, entry.cFileName);
        if (descriptions && IsRootDescription(entry)) {
            descriptions->push_back(path);
            continue;
        }
        switch (ClassifyWipeEntry(entry.dwFileAttributes, entry.cFileName)) {
        case WipeEntry::Skipped:
            break;
        case WipeEntry::Directory:
            if (!DeleteBelow(path, tree, counter, cause, progress))
                return false;
            // A read-only directory cannot be removed.
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
                ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (!::RemoveDirectoryW(path.c_str()))
                return Blocked(cause, path, "cannot be removed");
            break;
        case WipeEntry::Link:
            if (!ContainedTree::RemoveLink(path))
                return Blocked(cause, path, "cannot be deleted");
            if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                ++counter;
            break;
        case WipeEntry::File:
            if (!DeleteCountedFile(path, tree, counter, cause, progress))
                return false;
            break;
        }
    }
    return !listing.failed() || Blocked(cause, directory, "cannot be listed");
}

}  // namespace

bool IsIgnoredByProbe(const std::string& name)
{
    return name == "." || name == ".." || EqualNoCase(name, "VolumeInfo.xml") ||
           EqualNoCase(name, "VolumeInfoOld.xml") || EqualNoCase(name, "RECYCLED") ||
           EqualNoCase(name, "System Volume Information");
}

WipeEntry ClassifyWipeEntry(DWORD attributes, const std::wstring& name)
{
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        if ((!name.empty() && name[0] == L'.') || EqualNoCase(name, kSystemVolumeInformation))
            return WipeEntry::Skipped;
        return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? WipeEntry::Link : WipeEntry::Directory;
    }
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? WipeEntry::Link : WipeEntry::File;
}

namespace {

bool HasOtherEntries(const std::string& root)
{
    std::wstring wide;
    DirectoryListing listing;
    if (LongPathOf(root, wide) && listing.Start(wide, L"*")) {
        WIN32_FIND_DATAW entry;
        while (listing.Next(entry))
            if (!IsIgnoredByProbe(NarrowName(entry.cFileName)))
                return true;
    }
    return false;
}

// Opens one file of the root for writing, writing nothing; true when one
// gave an answer. Files that are read-only by attribute or held by another
// program tell nothing about the drive.
bool TryRootFile(const std::string& root, bool& writable)
{
    std::wstring wide;
    DirectoryListing listing;
    if (!LongPathOf(root, wide) || !listing.Start(wide, L"*"))
        return false;
    WIN32_FIND_DATAW entry;
    while (listing.Next(entry)) {
        if (entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_REPARSE_POINT))
            continue;
        const win32::UniqueFileHandle file(::CreateFileW(JoinPath(wide, entry.cFileName).c_str(), GENERIC_WRITE,
                                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file.valid()) {
            writable = true;
            return true;
        }
        const DWORD error = ::GetLastError();
        if (error == ERROR_ACCESS_DENIED || error == ERROR_WRITE_PROTECT) {
            writable = false;
            return true;
        }
    }
    return false;
}

}  // namespace

bool VolumeHandler::JudgeVolumeRoot(const std::string& root, bool& hasOtherEntries, WriteJudgement& how)
{
    hasOtherEntries = false;
    DWORD flags = 0;
    bool writable = true;
    if (::GetVolumeInformationA(JoinPath(root, "").c_str(), nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) &&
        (flags & FILE_READ_ONLY_VOLUME)) {
        how = WriteJudgement::ReadOnlyVolume;
        writable = false;
    } else if (TryRootFile(root, writable)) {
        how = writable ? WriteJudgement::RootFileOpened : WriteJudgement::RootFileRefused;
    } else {
        how = WriteJudgement::NothingToTry;
    }
    if (writable)
        hasOtherEntries = HasOtherEntries(root);
    return writable;
}

bool VolumeHandler::ProbeVolumeRoot(const std::string& root, bool& hasOtherEntries)
{
    const std::string testFile = JoinPath(root, "testfile.tmp");
    bool writable = false;
    {
        win32::UniqueFileHandle file(::CreateFileA(testFile.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                                   CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        writable = file.valid();
    }
    if (writable)
        ::DeleteFileA(testFile.c_str());  // a file that stays behind does not make the root unwritable

    hasOtherEntries = writable && HasOtherEntries(root);
    return writable;
}

namespace {

// `look`: every entry is opened as the deletion will open it.
std::int32_t Survey(const std::string& directory, bool look, bool unprotect, std::uint64_t& bytes,
                    FailureCause* cause)
{
    std::wstring wide;
    ContainedTree tree;
    bytes = 0;
    if (!LongPathOf(directory, wide) || (look && !tree.Attach(wide))) {
        Blocked(cause, directory, "cannot be listed", ::GetLastError());
        return -1;
    }
    WipeSurvey survey{look ? &tree : nullptr, unprotect, cause};
    if (!survey.Below(wide, true))
        return -1;
    bytes = survey.bytes;
    return survey.files;
}

}  // namespace

std::int32_t VolumeHandler::CountAndUnprotectFiles(const std::string& directory, FailureCause* cause)
{
    std::uint64_t bytes = 0;
    return Survey(directory, true, true, bytes, cause);
}

std::int32_t VolumeHandler::CountFiles(const std::string& directory, std::uint64_t& bytes, FailureCause* cause)
{
    return Survey(directory, true, false, bytes, cause);
}

std::int32_t VolumeHandler::ListFiles(const std::string& directory)
{
    std::uint64_t bytes = 0;
    return Survey(directory, false, false, bytes, nullptr);
}

bool VolumeHandler::DeleteVolumeContents(const std::string& directory, std::int32_t& counter, FailureCause* cause)
{
    std::wstring wide;
    ContainedTree tree;
    if (!LongPathOf(directory, wide) || !tree.Attach(wide))
        return Blocked(cause, directory, "cannot be listed", ::GetLastError());
    // The description goes last, the previous one before the current: a wipe
    // cut short (the process ended, the drive gone) leaves the drive as the
    // volume it was, which the next run prepares again, not as a drive with
    // data and no description, which every run leaves alone.
    std::vector<std::wstring> descriptions;
    if (!DeleteBelow(wide, tree, counter, cause, m_progress, &descriptions))
        return false;
    std::sort(descriptions.begin(), descriptions.end(), [](const std::wstring& a, const std::wstring& b) {
        return a.size() > b.size();
    });
    for (const std::wstring& path : descriptions)
        if (!DeleteCountedFile(path, tree, counter, cause, m_progress))
            return false;
    return true;
}

bool DirectoriesCreatable(const std::vector<std::string>& surviving, const std::vector<std::string>& settings,
                          std::size_t* failed, DWORD* error)
{
    const auto fails = [&](std::size_t setting, DWORD code) {
        if (failed && error) {
            *failed = setting;
            *error = code;
        }
        return false;
    };
    // Directories as their component lists below the root; the root is {}.
    std::vector<std::vector<std::string>> existing{{}};
    for (const std::string& name : surviving)
        existing.push_back({name});
    const auto exists = [&](const std::vector<std::string>& path) {
        for (const auto& known : existing) {
            if (known.size() != path.size())
                continue;
            bool same = true;
            for (std::size_t i = 0; same && i < path.size(); ++i)
                same = EqualNoCase(known[i], path[i]);
            if (same)
                return true;
        }
        return false;
    };
    for (std::size_t n = 0; n < settings.size(); ++n) {
        const std::string& setting = settings[n];
        std::vector<std::string> path;
        std::string part;
        for (std::size_t i = 0; i <= setting.size(); ++i) {
            if (i < setting.size() && setting[i] != '\\' && setting[i] != '/') {
                part += setting[i];
                continue;
            }
            if (part == ".." && !path.empty())
                path.pop_back();
            else if (!part.empty() && part != "." && part != "..")
                path.push_back(part);
            part.clear();
        }
        if (exists(path))
            return fails(n, ERROR_ALREADY_EXISTS);
        if (!exists(std::vector<std::string>(path.begin(), path.end() - 1)))
            return fails(n, ERROR_PATH_NOT_FOUND);
        existing.push_back(path);
    }
    return true;
}
