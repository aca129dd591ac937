// mptesthelper.exe: small Windows-side chores for the tests.
//
//   mptesthelper sleep SECONDS          sleep (timeout tests)
//   mptesthelper hold PATH SECONDS      open PATH without sharing, print "held", keep it open
//   mptesthelper touch PATH             create or open PATH for writing; exit code = GetLastError()
//   mptesthelper drives                 one line per existing drive D: to Z:: "E 3 153600"
//                                       (letter, GetDriveTypeA, total size in KB)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

int Sleep(int argc, char** argv)
{
    if (argc < 3)
        return 2;
    ::Sleep(static_cast<DWORD>(std::atof(argv[2]) * 1000));
    return 0;
}

int Hold(int argc, char** argv)
{
    if (argc < 4)
        return 2;
    HANDLE file = ::CreateFileA(argv[2], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::printf("error %lu\n", ::GetLastError());
        return 1;
    }
    std::printf("held\n");
    std::fflush(stdout);
    ::Sleep(static_cast<DWORD>(std::atof(argv[3]) * 1000));
    ::CloseHandle(file);
    return 0;
}

int Touch(int argc, char** argv)
{
    if (argc < 3)
        return 2;
    HANDLE file = ::CreateFileA(argv[2], GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return static_cast<int>(::GetLastError());
    ::CloseHandle(file);
    return 0;
}

int Drives()
{
    for (char letter = 'D'; letter <= 'Z'; ++letter) {
        const char root[] = {letter, ':', '\\', '\0'};
        const UINT type = ::GetDriveTypeA(root);
        if (type == DRIVE_NO_ROOT_DIR || type == DRIVE_UNKNOWN)
            continue;
        ULARGE_INTEGER available{}, total{}, free{};
        const unsigned long long kb =
            ::GetDiskFreeSpaceExA(root, &available, &total, &free) ? total.QuadPart / 1024 : 0;
        std::printf("%c %u %llu\n", letter, type, kb);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc >= 2 && std::strcmp(argv[1], "sleep") == 0)
        return Sleep(argc, argv);
    if (argc >= 2 && std::strcmp(argv[1], "hold") == 0)
        return Hold(argc, argv);
    if (argc >= 2 && std::strcmp(argv[1], "touch") == 0)
        return Touch(argc, argv);
    if (argc >= 2 && std::strcmp(argv[1], "drives") == 0)
        return Drives();
    std::fprintf(stderr, "usage: mptesthelper sleep S | hold PATH S | touch PATH | drives\n");
    return 2;
}
