// mptesthelper.exe: another process for the tests.
//   sleep S                 waits S seconds
//   hold|read|share PATH... S  keeps the files open meanwhile, then "held"; exit 1 when it cannot:
//       hold   created if missing, no sharing (the recorder's file being recorded)
//       read   for reading, others may read
//       share  files or directories, others may read and delete (indexers, virus scanners, Explorer)
//   console TEXT PROGRAM ARGS...  the program on a console of its own; Ctrl+C once TEXT shows and
//       again a second later; prints the console's lines and "exit CODE"
//   pipe PROGRAM ARGS...    the program's output into a 64-byte pipe nobody reads; prints "exit CODE"
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr DWORD kLongestRunMs = 280000;

BOOL WINAPI Ignore(DWORD)
{
    return TRUE;
}

std::string Screen(HANDLE screen)
{
    CONSOLE_SCREEN_BUFFER_INFO info{};
    std::string lines;
    if (!::GetConsoleScreenBufferInfo(screen, &info))
        return lines;
    std::string row(static_cast<std::size_t>(info.dwSize.X), ' ');
    for (SHORT y = 0; y <= info.dwCursorPosition.Y; ++y) {
        DWORD read = 0;
        ::ReadConsoleOutputCharacterA(screen, row.data(), static_cast<DWORD>(row.size()), COORD{0, y}, &read);
        lines += row.substr(0, row.find_last_not_of(' ') + 1) + "\n";
    }
    return lines;
}

// Runs argv with `output` (may be null) as standard output and error; `tick` every 50 ms until it ends.
template <typename Tick>
int Run(char** argv, HANDLE output, Tick tick)
{
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = output;
    std::string command;
    for (char** arg = argv; *arg; ++arg)
        command += std::string(command.empty() ? "" : " ") + "\"" + *arg + "\"";
    PROCESS_INFORMATION process{};
    if (!::CreateProcessA(nullptr, command.data(), nullptr, nullptr, output != nullptr, 0, nullptr, nullptr, &startup,
                          &process)) {
        std::printf("error %lu\n", ::GetLastError());
        return 1;
    }
    for (const DWORD start = ::GetTickCount(); ::WaitForSingleObject(process.hProcess, 50) == WAIT_TIMEOUT;) {
        tick();
        if (::GetTickCount() - start > kLongestRunMs)
            ::TerminateProcess(process.hProcess, 99);
    }
    DWORD code = 0;
    ::GetExitCodeProcess(process.hProcess, &code);
    std::printf("exit %lu\n", code);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return 0;
}

int OnConsole(const char* text, char** argv)
{
    ::FreeConsole();
    if (!::AllocConsole())
        return 3;
    ::SetConsoleCtrlHandler(Ignore, TRUE);
    const HANDLE screen = ::CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr, OPEN_EXISTING, 0, nullptr);
    ::SetConsoleScreenBufferSize(screen, COORD{200, 500});  // no line wrapped
    int sent = 0;
    DWORD last = 0;
    // No standard handles: the program finds no output but the console.
    const int result = Run(argv, nullptr, [&] {
        if (sent < 2 && (sent == 0 ? Screen(screen).find(text) != std::string::npos : ::GetTickCount() - last >= 1000)) {
            ::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
            ++sent;
            last = ::GetTickCount();
        }
    });
    std::printf("%s", Screen(screen).c_str());
    return result;
}

int IntoPipe(char** argv)
{
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    HANDLE read = nullptr, write = nullptr;
    if (!::CreatePipe(&read, &write, &inherited, 64))
        return 3;
    ::SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
    return Run(argv, write, [] {});
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc >= 4 && std::strcmp(argv[1], "console") == 0)
        return OnConsole(argv[2], argv + 3);
    if (argc >= 3 && std::strcmp(argv[1], "pipe") == 0)
        return IntoPipe(argv + 2);
    const bool read = argc >= 4 && std::strcmp(argv[1], "read") == 0;
    const bool share = argc >= 4 && std::strcmp(argv[1], "share") == 0;
    const bool hold = read || share || (argc >= 4 && std::strcmp(argv[1], "hold") == 0);
    if (!hold && (argc != 3 || std::strcmp(argv[1], "sleep") != 0)) {
        std::fprintf(stderr, "usage: mptesthelper sleep S | hold PATH... S | read PATH... S | share PATH... S |"
                             " console TEXT PROGRAM ARGS... | pipe PROGRAM ARGS...\n");
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
