// mptesthelper.exe: another process for the tests. "sleep S" waits S
// seconds; "hold PATH... S" also keeps the files (created if missing) open
// without any sharing meanwhile, as a recorder's own software holds the file
// it records into ("read" instead of "hold": existing files, for reading,
// others may read; "share": existing files or directories, for reading,
// others may read and delete, as indexers, virus scanners, backup agents and
// Explorer windows hold them), or ends with exit code 1 when it cannot.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv)
{
    const bool read = argc >= 4 && std::strcmp(argv[1], "read") == 0;
    const bool share = argc >= 4 && std::strcmp(argv[1], "share") == 0;
    const bool hold = read || share || (argc >= 4 && std::strcmp(argv[1], "hold") == 0);
    if (!hold && (argc != 3 || std::strcmp(argv[1], "sleep") != 0)) {
        std::fprintf(stderr, "usage: mptesthelper sleep S | hold PATH... S | read PATH... S | share PATH... S\n");
        return 2;
    }
    for (int i = 2; hold && i < argc - 1; ++i) {
        // Left open until the process ends.
        const HANDLE file =
            read    ? ::CreateFileA(argv[i], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr)
            : share ? ::CreateFileA(argv[i], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr)
                    : ::CreateFileA(argv[i], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            std::printf("error %lu\n", ::GetLastError());
            return 1;
        }
    }
    std::printf("held\n");
    std::fflush(stdout);
    ::Sleep(static_cast<DWORD>(std::atof(argv[argc - 1]) * 1000));
    return 0;
}
