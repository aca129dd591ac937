// wipe_bench.exe: the wipe of a drive, timed inside the process.
//   old DIR   the count opening each file for its attributes only, then the deletion
//   new DIR   the look opening each file for deletion as the deletion will, changing nothing, then the deletion
// Prints "RESULT mode files=N count=S delete=S seconds=S"; exit code 1 when the wipe failed.
#include "volumes/ContainedTree.h"
#include "volumes/VolumeHandler.h"

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

// The count as it was: each file opened for its attributes, checked to lie
// on the drive, and unprotected; nothing asks whether it can be deleted.
std::int32_t OldCount(const std::wstring& directory)
{
    DirectoryListing listing;
    if (!listing.Start(directory, L"*.*"))
        return -1;
    std::int32_t count = 0;
    WIN32_FIND_DATAW entry;
    while (listing.Next(entry)) {
        const std::wstring path = JoinPath(directory, entry.cFileName);
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (IsDotEntry(entry.cFileName))
                continue;
            const std::int32_t below = OldCount(path);
            if (below == -1)
                return -1;
            count += below;
            continue;
        }
        const win32::UniqueFileHandle handle(::CreateFileW(
            path.c_str(), FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
            FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        wchar_t resolved[MAX_PATH];
        if (handle && ::GetFinalPathNameByHandleW(handle.get(), resolved, MAX_PATH, FILE_NAME_NORMALIZED) != 0) {
            FILE_BASIC_INFO info{};
            info.FileAttributes = FILE_ATTRIBUTE_NORMAL;
            ::SetFileInformationByHandle(handle.get(), FileBasicInfo, &info, sizeof info);
        }
        ++count;
    }
    return listing.failed() ? -1 : count;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc == 3 ? argv[1] : "";
    if (mode != "old" && mode != "new") {
        std::fprintf(stderr, "usage: wipe_bench old|new DIR\n");
        return 2;
    }
    VolumeHandler handler{DatabaseSettings(), GUID{}};
    std::wstring wide;
    if (!LongPathOf(argv[2], wide))
        return 1;
    const double start = Now();
    std::uint64_t bytes = 0;
    const std::int32_t files = mode == "old" ? OldCount(wide) : handler.CountFiles(argv[2], bytes);
    const double counted = Now();
    std::int32_t deleted = 0;
    const bool wiped = files != -1 && handler.DeleteVolumeContents(argv[2], deleted);
    const double end = Now();
    std::printf("RESULT %s files=%d count=%.4f delete=%.4f seconds=%.4f\n", mode.c_str(), static_cast<int>(deleted),
                counted - start, end - counted, end - start);
    return wiped && deleted == files ? 0 : 1;
}
