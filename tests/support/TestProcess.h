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
    for (std::string directory = testfiles::ModuleDirectory();;) {
        if (testfiles::Exists(directory + "\\mptesthelper.exe"))
            return directory + "\\mptesthelper.exe";
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
        std::string command = "\"" + HelperPath() + "\" hold \"" + path + "\" " + std::to_string(seconds);
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        if (!::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                              &process))
            return;
        m_process.reset(process.hProcess);
        win32::UniqueHandle thread(process.hThread);
        // Held once nobody else may open it; the helper ends at once when it
        // cannot open the file itself.
        while (!m_held && ::WaitForSingleObject(m_process.get(), 20) == WAIT_TIMEOUT) {
            win32::UniqueFileHandle other(
                ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                              nullptr));
            m_held = !other && ::GetLastError() == ERROR_SHARING_VIOLATION;
        }
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
