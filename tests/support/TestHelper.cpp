// mptesthelper.exe: another process for the tests. "sleep S" waits S
// seconds; "hold PATH... S" also keeps the files (created if missing) open
// without any sharing meanwhile, as a recorder's own software holds the file
// it records into, or ends with exit code 1 when it cannot.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv)
{
    const bool hold = argc >= 4 && std::strcmp(argv[1], "hold") == 0;
    if (!hold && (argc != 3 || std::strcmp(argv[1], "sleep") != 0)) {
        std::fprintf(stderr, "usage: mptesthelper sleep S | hold PATH... S\n");
        return 2;
    }
    for (int i = 2; hold && i < argc - 1; ++i) {
        // Left open until the process ends.
        if (::CreateFileA(argv[i], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                          nullptr) == INVALID_HANDLE_VALUE) {
            std::printf("error %lu\n", ::GetLastError());
            return 1;
        }
    }
    std::printf("held\n");
    std::fflush(stdout);
    ::Sleep(static_cast<DWORD>(std::atof(argv[argc - 1]) * 1000));
    return 0;
}
