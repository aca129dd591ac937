// Other processes for tests: a file held open by mptesthelper.exe.
#pragma once

#include "recorderlibs/Win32Handle.h"
#include "tests/support/TestFiles.h"

#include <windows.h>

#include <string>

namespace testprocess {

// mptesthelper.exe lies at the top of the build directory; test executables
// lie somewhere below it.
inline std::string HelperPath()
{
    std::string directory = testfiles::ModuleDirectory();
    for (;;) {
        const std::string candidate = directory + "\\mptesthelper.exe";
        if (testfiles::Exists(candidate))
            return candidate;
        const std::string::size_type slash = directory.find_last_of('\\');
        if (slash == std::string::npos)
            return std::string();
        directory.resize(slash);
    }
}

// Keeps a file open in another process without any sharing, so that nobody
// can delete, rename or write it, until the object goes.
class HeldFile {
public:
    explicit HeldFile(const std::string& path, int seconds = 120)
    {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        win32::UniqueHandle readEnd;
        win32::UniqueHandle writeEnd;
        if (!::CreatePipe(readEnd.put(), writeEnd.put(), &inherit, 0))
            return;
        ::SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = writeEnd.get();
        startup.hStdError = writeEnd.get();
        std::string command = "\"";
        command += HelperPath();
        command += "\" hold \"";
        command += path;
        command += "\" ";
        command += std::to_string(seconds);
        PROCESS_INFORMATION process{};
        const BOOL started =
            ::CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
        writeEnd.reset();  // the helper's copy is the only writer left
        if (!started)
            return;
        m_process.reset(process.hProcess);
        win32::UniqueHandle thread(process.hThread);
        // The helper prints "held" once the file is open (or "error N").
        std::string output;
        char buffer[64];
        DWORD got = 0;
        while (output.find('\n') == std::string::npos &&
               ::ReadFile(readEnd.get(), buffer, sizeof buffer, &got, nullptr) && got > 0)
            output.append(buffer, got);
        m_held = output.rfind("held", 0) == 0;
    }

    ~HeldFile()
    {
        if (m_process) {
            ::TerminateProcess(m_process.get(), 0);
            ::WaitForSingleObject(m_process.get(), 10000);
        }
    }

    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;

    bool held() const { return m_held; }

private:
    win32::UniqueHandle m_process;
    bool m_held = false;
};

}  // namespace testprocess
