// mptesthelper.exe: small Windows-side chores for the tests (usage below).
// "touch" exits with GetLastError(); "drives" prints letter, GetDriveTypeA
// and total size in KB of each drive D: to Z:.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    const std::string command = argc >= 2 ? argv[1] : "";
    if (command == "sleep" && argc == 3) {
        ::Sleep(static_cast<DWORD>(std::atof(argv[2]) * 1000));
        return 0;
    }
    if ((command == "hold" && argc == 4) || (command == "touch" && argc == 3)) {
        const bool hold = command == "hold";
        HANDLE file = ::CreateFileA(argv[2], GENERIC_WRITE | (hold ? GENERIC_READ : 0), 0, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            const DWORD error = ::GetLastError();
            if (hold)
                std::printf("error %lu\n", error);
            return hold ? 1 : static_cast<int>(error);
        }
        if (hold) {
            std::printf("held\n");
            std::fflush(stdout);
            ::Sleep(static_cast<DWORD>(std::atof(argv[3]) * 1000));
        }
        ::CloseHandle(file);
        return 0;
    }
    if (command == "drives" && argc == 2) {
        for (char letter = 'D'; letter <= 'Z'; ++letter) {
            const char root[] = {letter, ':', '\\', '\0'};
            const UINT type = ::GetDriveTypeA(root);
            ULARGE_INTEGER available{}, total{}, free{};
            if (type != DRIVE_NO_ROOT_DIR && type != DRIVE_UNKNOWN)
                std::printf("%c %u %llu\n", letter, type,
                            ::GetDiskFreeSpaceExA(root, &available, &total, &free) ? total.QuadPart / 1024 : 0);
        }
        return 0;
    }
    std::fprintf(stderr, "usage: mptesthelper sleep S | hold PATH S | touch PATH | drives\n");
    return 2;
}
