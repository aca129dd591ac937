// The root probe and the wiping of a volume: the only code of this program
// that deletes what it did not write, so every step errs on the side of
// leaving things in place.
#include "volumes/VolumeRoot.h"

#include "recorderlibs/TextCase.h"
#include "recorderlibs/Win32Handle.h"
#include "volumes/ContainedTree.h"
#include "volumes/EntryDeletion.h"
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

bool IsRootDescription(const ListedEntry& entry)
{
    return !(entry.attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
           (EqualNoCase(entry.name, L"VolumeInfo.xml") || EqualNoCase(entry.name, L"VolumeInfoOld.xml"));
}

// The wipe's one walk over a tree, in one of three modes:
// - List: the files are counted by their listing alone; only directories
//   are opened, to be listed.
// - Look: before anything is deleted, every entry the deletion will remove
//   is opened as the deletion opens it, so that whatever would stop the
//   deletion (a file held by a program that does not share deletion, access
//   denied, a read-only attribute that cannot be cleared, a directory that
//   keeps what the wipe leaves in place) stops the wipe here instead. Where
//   links may hide, it also makes sure that no file leads out of the tree,
//   which the deletion then relies on. It changes nothing.
// - Delete: a file no one else holds goes as it is closed; every other
//   entry goes through the steps of an EntryDeletion. It stops at the first
//   failure, unless `keepGoing` (then without a cause).
// Each directory is held open (ContainedTree::HoldDirectory) while the walk
// is below it, listed through that handle once, and removed through it.
enum class WalkMode { List, Look, Delete };

struct WipeWalk {
    WalkMode mode;
    const ContainedTree* tree = nullptr;  // Look, Delete
    EntryDeletion* deletion = nullptr;    // Delete
    FailureCause* cause = nullptr;
    RunProgress* progress = nullptr;
    // Whatever can go goes, each file opened as one no look has seen (what
    // the holding directory keeps).
    bool keepGoing = false;
    std::int32_t files = 0;  // counted (List, Look) or deleted (Delete)
    std::uint64_t bytes = 0;
    // The root's description files left for last, the previous one before
    // the current: a wipe cut short (the process ended, the drive gone)
    // leaves the drive as the volume it was, which the next run prepares
    // again, not as a drive with data and no description, which every run
    // leaves alone.
    bool descriptionsLast = false;
    std::vector<ListedEntry> descriptions{};
    Listing listing = Listing::Unknown;  // the tree's file system's, once its root is listed
    std::vector<ULONGLONG> batch{};      // of the one listing under way

    // Everything below the tree's own directory, which is held meanwhile.
    bool Root(const std::wstring& root)
    {
        bool attributesWritable = false;
        const win32::UniqueFileHandle held = Hold(root, 0, false, attributesWritable);
        if (!held)
            return Blocked(cause, root, "cannot be listed");
        bool whole = Below(root, held.get(), true);
        std::sort(descriptions.begin(), descriptions.end(), [](const ListedEntry& a, const ListedEntry& b) {
            return a.name.size() > b.name.size();
        });
        for (const ListedEntry& entry : descriptions)
            whole = whole && Entry(root, entry);
        return whole;
    }

    // A directory the wipe removes, with everything below it.
    bool Directory(const std::wstring& path, DWORD attributes)
    {
        // Listed by path, it can be held only for listing until it is empty.
        const bool forDeletion = listing != Listing::ByPath;
        bool attributesWritable = false;
        win32::UniqueFileHandle held = Hold(path, attributes, forDeletion, attributesWritable);
        if (!held)
            return Blocked(cause, path, mode == WalkMode::List ? "cannot be listed" : "cannot be removed");
        const bool emptied = Below(path, held.get(), false);
        if (!emptied && !keepGoing)
            return false;
        if (!forDeletion && mode != WalkMode::List) {
            held.reset();
            held = Hold(path, attributes, true, attributesWritable);
            if (!held)
                return Blocked(cause, path, "cannot be removed");
        }
        return RemoveDirectory(held.get(), path, attributes, attributesWritable) && emptied;
    }

    bool Below(const std::wstring& directory, HANDLE held, bool isRoot)
    {
        // Entered once the listing is done: one batch in memory, whatever the depth.
        std::vector<ListedEntry> subdirectories;
        bool keepsDirectory = false;
        bool whole = true;
        {
            DirectoryEntries entries;
            if (!entries.Start(held, directory, listing, batch))
                return Blocked(cause, directory, "cannot be listed");
            ListedEntry entry;
            while (entries.Next(entry)) {
                if (isRoot && descriptionsLast && IsRootDescription(entry)) {
                    descriptions.push_back(entry);
                    continue;
                }
                const WipeEntry kind = ClassifyWipeEntry(entry.attributes, entry.tag, entry.name);
                if (kind == WipeEntry::Skipped)
                    keepsDirectory = keepsDirectory || ((entry.attributes & FILE_ATTRIBUTE_DIRECTORY) &&
                                                        !IsDotEntry(entry.name.c_str()));
                else if (kind == WipeEntry::Directory)
                    subdirectories.push_back(entry);
                else if (!Next(Entry(directory, entry), whole))
                    return false;
            }
            if (entries.failed())
                return Blocked(cause, directory, "cannot be listed");
        }
        // Emptied of everything else, it still holds what the wipe leaves.
        if (mode == WalkMode::Look && keepsDirectory && !isRoot)
            return Blocked(cause, directory, "cannot be removed", ERROR_DIR_NOT_EMPTY);
        for (const ListedEntry& entry : subdirectories)
            if (!Next(Entry(directory, entry), whole))
                return false;
        return whole;
    }

    // One entry of `directory` that the wipe removes, with all below it.
    bool Entry(const std::wstring& directory, const ListedEntry& entry)
    {
        const std::wstring path = JoinPath(directory, entry.name);
        const DWORD attributes = entry.attributes;
        switch (ClassifyWipeEntry(attributes, entry.tag, entry.name)) {
        case WipeEntry::Skipped:
            return true;
        case WipeEntry::Directory:
            return Directory(path, attributes);
        case WipeEntry::Link:
            if (!RemoveLink(path))
                return false;
            if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
                Counted(0);
            return true;
        case WipeEntry::File:
            if (!RemoveFile(path, attributes))
                return Blocked(cause, path, "cannot be deleted");
            Counted(entry.size);
            return true;
        }
        return true;
    }

private:
    // Whether the walk goes on after an entry; `whole` remembers a failure.
    bool Next(bool done, bool& whole)
    {
        whole = whole && done;
        return done || keepGoing;
    }

    // `forDeletion`: with the access of its own deletion.
    win32::UniqueFileHandle Hold(const std::wstring& path, DWORD attributes, bool forDeletion, bool& attributesWritable)
    {
        if (mode != WalkMode::List)
            return tree->HoldDirectory(path, attributes, forDeletion, attributesWritable);
        return win32::UniqueFileHandle(FileCalls::Current().OpenEntry(path, FILE_LIST_DIRECTORY | SYNCHRONIZE));
    }

    bool RemoveDirectory(HANDLE held, const std::wstring& path, DWORD attributes, bool attributesWritable)
    {
        bool removed = true;
        if (mode == WalkMode::Look && (attributes & FILE_ATTRIBUTE_READONLY) && !attributesWritable) {
            ::SetLastError(ERROR_ACCESS_DENIED);  // the system refuses a read-only entry whose attribute stays
            removed = false;
        } else if (mode == WalkMode::Delete) {
            removed = ContainedTree::Delete(held, path, attributes, *deletion);
        }
        return removed || Blocked(cause, path, "cannot be removed");
    }

    bool RemoveLink(const std::wstring& path)
    {
        bool removed = true;
        if (mode == WalkMode::Look)
            removed = ContainedTree::CheckLinkDeletable(path);
        else if (mode == WalkMode::Delete)
            removed = ContainedTree::RemoveLink(path, *deletion);
        return removed || Blocked(cause, path, "cannot be deleted");
    }

    bool RemoveFile(const std::wstring& path, DWORD attributes)
    {
        if (mode == WalkMode::List)
            return true;
        if (mode == WalkMode::Look)
            return tree->CheckDeletable(path, attributes);
        // The look has seen that it leads nowhere else; a read-only file
        // needs its attribute seen to.
        if (!keepGoing && !(attributes & FILE_ATTRIBUTE_READONLY) && ContainedTree::DeleteAtOnce(path))
            return true;
        return tree->Delete(path, attributes, *deletion);
    }

    void Counted(std::uint64_t size)
    {
        ++files;
        bytes += size;
        if (progress && mode == WalkMode::Delete)
            progress->FilesDeleted(files);
    }
};

// What an earlier deletion moved into the holding directory and its holders
// have let go of is deleted where it lies; what they still hold stays, and
// goes when they let go. The directory itself goes once it is empty.
void EmptyHoldingDirectory(const ContainedTree& tree, const std::wstring& root, Listing listing)
{
    const std::wstring holding = JoinPath(root, kHoldingDirectoryName);
    const DWORD attributes = ::GetFileAttributesW(holding.c_str());
    // Only a directory of its own: a link of that name is the wipe's to remove.
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return;
    EntryDeletion inPlace(std::wstring(), true, false);
    WipeWalk walk{WalkMode::Delete, &tree, &inPlace};
    walk.keepGoing = true;
    walk.listing = listing;
    walk.Directory(holding, attributes);
}

}  // namespace

bool IsIgnoredByProbe(const std::string& name)
{
    return name == "." || name == ".." || EqualNoCase(name, "VolumeInfo.xml") ||
           EqualNoCase(name, "VolumeInfoOld.xml") || EqualNoCase(name, "RECYCLED") ||
           EqualNoCase(name, "System Volume Information") || EqualNoCase(name, NarrowName(kHoldingDirectoryName));
}

bool IsLinkTag(DWORD tag)
{
    return tag == 0 || IsReparseTagNameSurrogate(tag);
}

WipeEntry ClassifyWipeEntry(DWORD attributes, DWORD tag, const std::wstring& name)
{
    const bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) && IsLinkTag(tag);
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        if ((!name.empty() && name[0] == L'.') || EqualNoCase(name, kSystemVolumeInformation))
            return WipeEntry::Skipped;
        return link ? WipeEntry::Link : WipeEntry::Directory;
    }
    return link ? WipeEntry::Link : WipeEntry::File;
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

std::int32_t Survey(const std::string& directory, WalkMode mode, std::uint64_t& bytes, FailureCause* cause)
{
    std::wstring wide;
    ContainedTree tree;
    bytes = 0;
    if (!LongPathOf(directory, wide) || (mode == WalkMode::Look && !tree.Attach(wide))) {
        Blocked(cause, directory, "cannot be listed", ::GetLastError());
        return -1;
    }
    WipeWalk walk{mode, &tree};
    walk.cause = cause;
    if (!walk.Root(wide))
        return -1;
    bytes = walk.bytes;
    return walk.files;
}

}  // namespace

std::int32_t VolumeHandler::CountFiles(const std::string& directory, std::uint64_t& bytes, FailureCause* cause)
{
    return Survey(directory, WalkMode::Look, bytes, cause);
}

std::int32_t VolumeHandler::ListFiles(const std::string& directory)
{
    std::uint64_t bytes = 0;
    return Survey(directory, WalkMode::List, bytes, nullptr);
}

bool VolumeHandler::DeleteVolumeContents(const std::string& directory, std::int32_t& counter, FailureCause* cause,
                                         bool* leftWhole)
{
    if (leftWhole)
        *leftWhole = true;
    std::wstring wide;
    ContainedTree tree;
    if (!LongPathOf(directory, wide) || !tree.Attach(wide))
        return Blocked(cause, directory, "cannot be listed", ::GetLastError());
    WipeWalk look{WalkMode::Look, &tree};
    look.cause = cause;
    if (!look.Root(wide))
        return false;
    if (m_progress)
        m_progress->FilesCounted(look.files);
    if (leftWhole)
        *leftWhole = false;
    // What a wipe before this one left in the holding directory, first.
    EmptyHoldingDirectory(tree, wide, look.listing);
    EntryDeletion deletion(JoinPath(wide, kHoldingDirectoryName), true, true);
    WipeWalk walk{WalkMode::Delete, &tree, &deletion, cause, m_progress};
    walk.files = counter;
    walk.listing = look.listing;
    walk.descriptionsLast = true;
    const bool deleted = walk.Root(wide);
    counter = walk.files;
    EmptyHoldingDirectory(tree, wide, look.listing);
    return deleted;
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
