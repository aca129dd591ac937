#include "app/FileRunLog.h"

#include <windows.h>

#include <cstdio>
#include <mutex>

FileRunLog::FileRunLog(const std::string& path) : m_file(path, std::ios::out | std::ios::trunc)
{
    if (m_file.fail()) {
        char message[1024];
        std::snprintf(message, sizeof message, "Could not open output file: %s\n", path.c_str());
        ::OutputDebugStringA(message);
        return;
    }
    m_file << "Configuring Kestrix Drives\n" << std::flush;
}

void FileRunLog::Write(const char* head, const std::string& text)
{
    std::lock_guard<CriticalSection> lock(m_lock);
    if (m_file.good())
        m_file << head << text << "\n" << std::flush;
}

void FileRunLog::Error(const std::string& text)
{
    Write("Error:", text);
}

void FileRunLog::Message(const std::string& text)
{
    Write("Message: ", text);
}
