#include "app/ReportOutput.h"

#include <cstdio>
#include <fstream>

// A program without a console window of its own inherits no console:
// standard output is there only when it was redirected; otherwise the
// console of the program that started it, if it has one.
ConsoleOutput::ConsoleOutput()
{
    HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (output != nullptr && output != INVALID_HANDLE_VALUE && ::GetFileType(output) != FILE_TYPE_UNKNOWN) {
        m_hOutput = output;
        return;
    }
    // Access denied: attached already (Wine gives a program started from a
    // console that console, whatever its kind).
    if (!::AttachConsole(ATTACH_PARENT_PROCESS) && ::GetLastError() != ERROR_ACCESS_DENIED)
        return;
    m_console.reset(::CreateFileA("CONOUT$", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    if (m_console.valid())
        m_hOutput = m_console.get();
}

bool ConsoleOutput::WriteLine(const std::string& line)
{
    if (!Available())
        return false;
    const std::string text = line + "\r\n";
    DWORD written = 0;
    return ::WriteFile(m_hOutput, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) != FALSE;
}

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
    ConsoleOutput console;
    for (const std::string& line : lines)
        if (!console.WriteLine(line))
            break;
}
