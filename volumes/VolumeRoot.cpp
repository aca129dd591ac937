// The root probe and the wiping of a volume: the only code of this program
// that deletes what it did not write, so every step errs on the side of
// leaving things in place.
#include "volumes/VolumeRoot.h"

#include "recorderlibs/Win32Handle.h"
#include "volumes/ContainedTree.h"
#include "volumes/TextCase.h"
#include "volumes/VolumeHandler.h"

namespace {

constexpr const wchar_t* kSystemVolumeInformation = L"System Volume Information";

std::int32_t CountBelow(const std::wstring& directory, const ContainedTree& tree)
{
    DirectoryListing listing;
    if (!listing.Start(directory, L"*.*"))
        return -1;
    std::int32_t count = 0;
    WIN32_FIND_DATAW entry;
    while (listing.Next(entry)) {
        const std::wstring path = JoinPath(directory, entry.cFileName);
        switch (ClassifyWipeEntry(entry.dwFileAttributes, entry.cFileName)) {
        case WipeEntry::Skipped:
            break;
        case WipeEntry::Directory: {
            const std::int32_t below = CountBelow(path, tree);
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
            tree.Unprotect(path);
            ++count;
            break;
        }
    }
    return listing.failed() ? -1 : count;
}

bool DeleteBelow(const std::wstring& directory, const ContainedTree& tree, std::int32_t& counter)
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
            if (!DeleteBelow(path, tree, counter))
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

    hasOtherEntries = false;
    if (!writable)
        return false;
    std::wstring wide;
    DirectoryListing listing;
    if (LongPathOf(root, wide) && listing.Start(wide, L"*")) {
        WIN32_FIND_DATAW entry;
        while (listing.Next(entry)) {
            if (!IsIgnoredByProbe(NarrowName(entry.cFileName))) {
                hasOtherEntries = true;
                break;
            }
        }
    }
    return true;
}

std::int32_t VolumeHandler::CountAndUnprotectFiles(const std::string& directory)
{
    std::wstring wide;
    ContainedTree tree;
    if (!LongPathOf(directory, wide) || !tree.Attach(wide))
        return -1;
    return CountBelow(wide, tree);
}

bool VolumeHandler::DeleteVolumeContents(const std::string& directory, std::int32_t& counter)
{
    std::wstring wide;
    ContainedTree tree;
    if (!LongPathOf(directory, wide) || !tree.Attach(wide))
        return false;
    return DeleteBelow(wide, tree, counter);
}
