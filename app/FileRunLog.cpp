#include "app/FileRunLog.h"

#include <windows.h>

#include <cstdio>

FileRunLog::FileRunLog(const std::string& path) : m_file(path, std::ios::out | std::ios::trunc)
{
    if (m_file.fail()) {
        char message[1024];
        std::snprintf(message, sizeof message, "Could not open output file: %s\n", path.c_str());
        ::OutputDebugStringA(message);
        return;
    }
    m_file << "Configuring Kestrix Drives\n";
}

void FileRunLog::Error(const std::string& text)
{
    if (m_file.good())
        m_file << "Error:" << text << "\n";
}

void FileRunLog::Message(const std::string& text)
{
    if (m_file.good())
        m_file << "Message: " << text << "\n";
}
