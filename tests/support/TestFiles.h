// File chores for tests: fresh scratch directories and whole-file reads.
#pragma once

#include "recorderlibs/Win32Handle.h"

#include <windows.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <string>

namespace testfiles {

inline void RemoveTree(const std::string& path)
{
    WIN32_FIND_DATAA entry;
    win32::UniqueFindHandle find(::FindFirstFileA((path + "\\*").c_str(), &entry));
    for (bool more = find.valid(); more; more = ::FindNextFileA(find.get(), &entry)) {
        const std::string name = entry.cFileName, full = path + "\\" + name;
        if (name == "." || name == ".." || !::SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL))
            continue;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            RemoveTree(full);
        else
            ::DeleteFileA(full.c_str());
    }
    ::RemoveDirectoryA(path.c_str());
}

// A new empty directory in the system's temporary directory (on C:), removed with its contents at the end.
class ScratchDir {
public:
    ScratchDir()
    {
        static std::atomic<int> counter{0};
        char temp[MAX_PATH];
        ::GetTempPathA(MAX_PATH, temp);
        m_path = temp + ("mptest-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(counter++));
        RemoveTree(m_path);
        ::CreateDirectoryA(m_path.c_str(), nullptr);
    }
    ~ScratchDir() { RemoveTree(m_path); }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "\\" + name; }

private:
    std::string m_path;
};

inline std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline bool Exists(const std::string& path) { return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

inline void WriteAll(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Where the running test executable lies (no trailing backslash).
inline std::string ModuleDirectory()
{
    char path[MAX_PATH] = {};
    const std::string module(path, ::GetModuleFileNameA(nullptr, path, MAX_PATH));
    return module.substr(0, module.find_last_of("\\/"));
}

}  // namespace testfiles
