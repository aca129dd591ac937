// The root probe and the wiping of a volume: the only code of this program
// that deletes what it did not write, so every step errs on the side of
// leaving things in place.
#include "volumes/VolumeRoot.h"

#include "recorderlibs/TextCase.h"
#include "recorderlibs/Win32Handle.h"
#include "volumes/ContainedTree.h"
#include "volumes/VolumeHandler.h"

namespace {

constexpr const wchar_t* kSystemVolumeInformation = L"System Volume Information";

// What the deletion would remove. Without a tree, nothing is unprotected.
// With `stops`, the count ends where the deletion would: at a directory below
// the root that keeps one the wipe leaves in place, so that its removal fails
// once its other entries are gone; `*stops` then tells so.
std::int32_t CountBelow(const std::wstring& directory, const ContainedTree* tree, std::uint64_t& bytes,
                        bool* stops, bool isRoot = true)
{
    DirectoryListing listing;
    if (!listing.Start(directory, L"*.*"))
        return -1;
    std::int32_t count = 0;
    bool keepsDirectory = false;
    WIN32_FIND_DATAW entry;
    while (listing.Next(entry)) {
        const std::wstring path = JoinPath(directory, entry.cFileName);
        switch (ClassifyWipeEntry(entry.dwFileAttributes, entry.cFileName)) {
        case WipeEntry::Skipped:
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !IsDotEntry(entry.cFileName))
                keepsDirectory = true;
            break;
        case WipeEntry::Directory: {
            const std::int32_t below = CountBelow(path, tree, bytes, stops, false);
            if (below == -1)
                return -1;
            count += below;
            if (stops && *stops)
                return count;
            break;
        }
        case WipeEntry::Link:
            // A link to a file is a file of this drive; its target's
            // attributes are none of our business.
            if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                ++count;
            break;
        case WipeEntry::File:
            if (tree)
                tree->Unprotect(path);
            bytes += (static_cast<std::uint64_t>(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow;
            ++count;
            break;
        }
    }
    if (listing.failed())
        return -1;
    if (stops && keepsDirectory && !isRoot)
        *stops = true;
    return count;
}

bool DeleteBelow(const std::wstring& directory, const ContainedTree& tree, std::int32_t& counter,
                 RunProgress* progress)
{
    DirectoryListing listing;
    if (!listing.Start(directory, L"*.*"))
        return false;
    WIN32_FIND_DATAW entry;
    while (listing.Next(entry)) {
        const std::wstring path = JoinPath(directory, entry.cFileName);
        switch (ClassifyWipeEntry(entry.dwFileAttributes, entry.cFileName)) {
        case WipeEntry::Skipped:
            break;
        case WipeEntry::Directory:
            if (!DeleteBelow(path, tree, counter, progress))
                return false;
            // A read-only directory cannot be removed.
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
                ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (!::RemoveDirectoryW(path.c_str()))
                return false;
            break;
        case WipeEntry::Link:
            if (!ContainedTree::RemoveLink(path))
                return false;
            if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                ++counter;
            break;
        case WipeEntry::File:
            if (!tree.DeleteFile(path, true))
                return false;
            ++counter;
            if (progress)
                progress->FilesDeleted(counter);
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

std::int32_t VolumeHandler::CountAndUnprotectFiles(const std::string& directory)
{
    std::wstring wide;
    ContainedTree tree;
    if (!LongPathOf(directory, wide) || !tree.Attach(wide))
        return -1;
    std::uint64_t bytes = 0;
    return CountBelow(wide, &tree, bytes, nullptr);
}

std::int32_t VolumeHandler::CountFiles(const std::string& directory, std::uint64_t& bytes, bool& deletionFails)
{
    std::wstring wide;
    bytes = 0;
    deletionFails = false;
    if (!LongPathOf(directory, wide))
        return -1;
    return CountBelow(wide, nullptr, bytes, &deletionFails);
}

bool VolumeHandler::DeleteVolumeContents(const std::string& directory, std::int32_t& counter)
{
    std::wstring wide;
    ContainedTree tree;
    if (!LongPathOf(directory, wide) || !tree.Attach(wide))
        return false;
    return DeleteBelow(wide, tree, counter, m_progress);
}

bool DirectoriesCreatable(const std::vector<std::string>& surviving, const std::vector<std::string>& settings)
{
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
    for (const std::string& setting : settings) {
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
            return false;
        if (!exists(std::vector<std::string>(path.begin(), path.end() - 1)))
            return false;
        existing.push_back(path);
    }
    return true;
}
