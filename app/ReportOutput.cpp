#include "app/ReportOutput.h"

#include "recorderlibs/Win32Handle.h"

#include <windows.h>

#include <cstdio>
#include <fstream>

namespace {

// A program without a console window of its own inherits no console:
// standard output is there only when it was redirected; otherwise the
// console of the program that started it, if it has one.
win32::UniqueFileHandle OpenConsole(HANDLE& output)
{
    output = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (output != nullptr && output != INVALID_HANDLE_VALUE && ::GetFileType(output) != FILE_TYPE_UNKNOWN)
        return win32::UniqueFileHandle();
    output = INVALID_HANDLE_VALUE;
    if (!::AttachConsole(ATTACH_PARENT_PROCESS))
        return win32::UniqueFileHandle();
    win32::UniqueFileHandle console(
        ::CreateFileA("CONOUT$", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    output = console.get();
    return console;
}

}  // namespace

bool WriteReport(const std::string& path, const std::vector<std::string>& lines)
{
    std::ofstream file(path, std::ios::out | std::ios::trunc);
    if (file.fail()) {
        char message[1024];
        std::snprintf(message, sizeof message, "Could not open output file: %s\n", path.c_str());
        ::OutputDebugStringA(message);
    }
    for (const std::string& line : lines)
        if (file.good())
            file << line << "\n";
    file.close();
    const bool kept = !file.fail();
    WriteToConsole(lines);
    return kept;
}

void WriteToConsole(const std::vector<std::string>& lines)
{
    HANDLE output = INVALID_HANDLE_VALUE;
    const win32::UniqueFileHandle console = OpenConsole(output);
    if (output == INVALID_HANDLE_VALUE)
        return;
    for (const std::string& line : lines) {
        const std::string text = line + "\r\n";
        DWORD written = 0;
        if (!::WriteFile(output, text.data(), static_cast<DWORD>(text.size()), &written, nullptr))
            break;
    }
}
