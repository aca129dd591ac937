// mptesthelper.exe: another process for the tests. "sleep S" waits S
// seconds; "hold PATH S" also keeps the file (created if missing) open
// without any sharing meanwhile (with "read" instead of "hold": an existing
// file, for reading, others may read), or ends with exit code 1 when it cannot.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv)
{
    const bool hold = argc == 4 && std::strcmp(argv[1], "hold") == 0;
    const bool read = argc == 4 && std::strcmp(argv[1], "read") == 0;
    if (!hold && !read && (argc != 3 || std::strcmp(argv[1], "sleep") != 0)) {
        std::fprintf(stderr, "usage: mptesthelper sleep S | hold PATH S | read PATH S\n");
        return 2;
    }
    HANDLE file = hold   ? ::CreateFileA(argv[2], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL, nullptr)
                  : read ? ::CreateFileA(argv[2], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr)
                         : nullptr;
    if (file == INVALID_HANDLE_VALUE) {
        std::printf("error %lu\n", ::GetLastError());
        return 1;
    }
    std::printf("held\n");
    std::fflush(stdout);
    ::Sleep(static_cast<DWORD>(std::atof(argv[argc - 1]) * 1000));
    return 0;
}
