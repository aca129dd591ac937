// The root probe and the wiping of a volume: the only code of this program
// that deletes what it did not write, so every step errs on the side of
// leaving things in place.
#include "volumes/VolumeRoot.h"

#include "recorderlibs/Win32Handle.h"
#include "volumes/ContainedTree.h"
#include "volumes/TextCase.h"
#include "volumes/VolumeHandler.h"

namespace {

constexpr const char* kSystemVolumeInformation = "System Volume Information";

std::int32_t CountBelow(const std::string& directory, const ContainedTree& tree)
{
    DirectoryListing listing;
    if (!listing.Start(directory, "*.*"))
        return -1;
    std::int32_t count = 0;
    WIN32_FIND_DATAA entry;
    while (listing.Next(entry)) {
        const std::string path = JoinPath(directory, entry.cFileName);
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

bool DeleteBelow(const std::string& directory, const ContainedTree& tree, std::int32_t& counter)
{
    DirectoryListing listing;
    if (!listing.Start(directory, "*.*"))
        return false;
    WIN32_FIND_DATAA entry;
    while (listing.Next(entry)) {
        const std::string path = JoinPath(directory, entry.cFileName);
        switch (ClassifyWipeEntry(entry.dwFileAttributes, entry.cFileName)) {
        case WipeEntry::Skipped:
            break;
        case WipeEntry::Directory:
            if (!DeleteBelow(path, tree, counter))
                return false;
            // A read-only directory cannot be removed.
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
                ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (!::RemoveDirectoryA(path.c_str()))
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
           EqualNoCase(name, kSystemVolumeInformation);
}

WipeEntry ClassifyWipeEntry(DWORD attributes, const std::string& name)
{
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        if ((!name.empty() && name[0] == '.') || EqualNoCase(name, kSystemVolumeInformation))
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
    DirectoryListing listing;
    if (listing.Start(root, "*")) {
        WIN32_FIND_DATAA entry;
        while (listing.Next(entry)) {
            if (!IsIgnoredByProbe(entry.cFileName)) {
                hasOtherEntries = true;
                break;
            }
        }
    }
    return true;
}

std::int32_t VolumeHandler::CountAndUnprotectFiles(const std::string& directory)
{
    ContainedTree tree;
    if (!tree.Attach(directory))
        return -1;
    return CountBelow(directory, tree);
}

bool VolumeHandler::DeleteVolumeContents(const std::string& directory, std::int32_t& counter)
{
    ContainedTree tree;
    if (!tree.Attach(directory))
        return false;
    return DeleteBelow(directory, tree, counter);
}
