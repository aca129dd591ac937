// wipe_bench.exe: the wipe of a directory, for tools/bench --wipe.
//   new DIR      Mediaprep's wipe (VolumeHandler::DeleteVolumeContents: the look, then the deletion)
//   windows DIR  the same with the system's answer that links never hide, as on Windows: the look does
//                not read each file's path (safe only on a tree without host links)
//   old DIR      the wipe before it, frozen: each directory listed by path in each pass, each entry
//                opened by path for the look and again for the deletion, its resolved path read both
//                times, every entry moved into the holding directory before its deletion where the
//                system has no POSIX semantics
// Prints "RESULT mode files=N seconds=S"; exit code 1 when the wipe failed.
#include "volumes/ContainedTree.h"
#include "volumes/EntryDeletion.h"
#include "volumes/VolumeHandler.h"
#include "volumes/VolumeRoot.h"

#include <cstdio>
#include <string>

namespace {

double Now()
{
    LARGE_INTEGER counter{};
    LARGE_INTEGER frequency{};
    ::QueryPerformanceCounter(&counter);
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

struct WindowsAnswers : FileCalls {
    bool LinksMayHide() override { return false; }
};

// The walk as it was, for files and plain directories (what the bench's
// tree holds): false at the first entry that fails.
struct OldWalk {
    const ContainedTree& tree;
    EntryDeletion* deletion;  // null: the look
    std::int32_t files = 0;

    bool Below(const std::wstring& directory)
    {
        DirectoryListing listing;
        if (!listing.Start(directory, L"*.*"))
            return false;
        WIN32_FIND_DATAW entry;
        while (listing.Next(entry)) {
            const bool isDirectory = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            if (isDirectory && entry.cFileName[0] == L'.')
                continue;
            const std::wstring path = JoinPath(directory, entry.cFileName);
            if ((isDirectory && !Below(path)) || !Remove(path, entry.dwFileAttributes))
                return false;
            files += isDirectory ? 0 : 1;
        }
        return !listing.failed();
    }

    bool Remove(const std::wstring& path, DWORD attributes)
    {
        bool writable = false;
        const win32::UniqueFileHandle handle = tree.OpenForDeletion(path, writable);
        return handle && (!deletion || deletion->Delete(handle.get(), path, attributes) == ERROR_SUCCESS);
    }
};

bool OldWipe(const std::string& directory, std::int32_t& deleted)
{
    std::wstring wide;
    ContainedTree tree;
    if (!LongPathOf(directory, wide) || !tree.Attach(wide))
        return false;
    OldWalk look{tree, nullptr};
    if (!look.Below(wide))
        return false;
    EntryDeletion deletion(JoinPath(wide, kHoldingDirectoryName), true, true);
    OldWalk walk{tree, &deletion};
    const bool wiped = walk.Below(wide);
    ::RemoveDirectoryW(JoinPath(wide, kHoldingDirectoryName).c_str());
    deleted = walk.files;
    return wiped;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc == 3 ? argv[1] : "";
    if (mode != "old" && mode != "new" && mode != "windows") {
        std::fprintf(stderr, "usage: wipe_bench old|new|windows DIR\n");
        return 2;
    }
    WindowsAnswers windows;
    if (mode == "windows")
        FileCalls::Replace(&windows);
    VolumeHandler handler{DatabaseSettings(), GUID{}};
    const double start = Now();
    std::int32_t deleted = 0;
    const bool wiped = mode == "old" ? OldWipe(argv[2], deleted) : handler.DeleteVolumeContents(argv[2], deleted);
    const double end = Now();
    FileCalls::Replace(nullptr);
    std::printf("RESULT %s files=%d seconds=%.4f\n", mode.c_str(), static_cast<int>(deleted), end - start);
    return wiped ? 0 : 1;
}
