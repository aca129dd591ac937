#include "recorderlibs/DbgLogger.h"

#include "recorderlibs/CRegistry.h"
#include "recorderlibs/Win32Handle.h"

#include <cstdio>
#include <map>
#include <mutex>
#include <streambuf>
#include <string>
#include <vector>

namespace {

struct TraceFile {
    win32::UniqueFileHandle handle;
    long long size = 0;
};

class TraceStore {
public:
    bool Initialize(const std::string& directory, long long maxBytes, long long keptBytes)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_files.clear();
        m_directory = directory;
        while (!m_directory.empty() && (m_directory.back() == '\\' || m_directory.back() == '/'))
            m_directory.pop_back();
        m_maxBytes = maxBytes;
        m_keptBytes = keptBytes < 0 ? 0 : (maxBytes > 0 && keptBytes > maxBytes ? maxBytes : keptBytes);
        m_active = true;
        return CreateDirectoryTree(m_directory);
    }

    bool Shutdown()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_files.clear();
        m_active = false;
        return true;
    }

    std::string PathOf(const std::string& name)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_active ? FilePath(name) : std::string();
    }

    void WriteLine(const std::string& name, const std::string& text)
    {
        SYSTEMTIME now{};
        ::GetLocalTime(&now);
        char prefix[64];
        std::snprintf(prefix, sizeof prefix, "%04u-%02u-%02u %02u:%02u:%02u.%03u [%lu] ", now.wYear, now.wMonth,
                      now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds,
                      static_cast<unsigned long>(::GetCurrentThreadId()));
        std::string line = prefix + text + "\r\n";

        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_active)
            return;
        TraceFile* file = Open(name);
        if (!file)
            return;
        if (m_maxBytes > 0 && file->size + static_cast<long long>(line.size()) > m_maxBytes)
            Trim(*file, m_maxBytes - static_cast<long long>(line.size()));
        LARGE_INTEGER end{};
        DWORD written = 0;
        if (::SetFilePointerEx(file->handle.get(), LARGE_INTEGER{}, &end, FILE_END) &&
            ::WriteFile(file->handle.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr))
            file->size = end.QuadPart + written;
    }

private:
    static bool CreateDirectoryTree(const std::string& path)
    {
        if (path.empty())
            return false;
        const DWORD attributes = ::GetFileAttributesA(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES)
            return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        const std::string::size_type slash = path.find_last_of("\\/");
        if (slash != std::string::npos && slash > 0 && path[slash - 1] != ':')
            CreateDirectoryTree(path.substr(0, slash));
        return ::CreateDirectoryA(path.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS;
    }

    std::string FilePath(const std::string& name) const { return m_directory + "\\" + name + "Trace.log"; }

    TraceFile* Open(const std::string& name)
    {
        auto found = m_files.find(name);
        if (found != m_files.end())
            return &found->second;
        win32::UniqueFileHandle handle(::CreateFileA(FilePath(name).c_str(), GENERIC_READ | GENERIC_WRITE,
                                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                     nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!handle)
            return nullptr;
        LARGE_INTEGER size{};
        ::GetFileSizeEx(handle.get(), &size);
        TraceFile& file = m_files[name];
        file.handle = std::move(handle);
        file.size = size.QuadPart;
        return &file;
    }

    // Keeps the newest whole lines, at most min(keptBytes, room) bytes of them.
    void Trim(TraceFile& file, long long room)
    {
        long long keep = m_keptBytes < room ? m_keptBytes : room;
        if (keep < 0)
            keep = 0;
        std::vector<char> tail;
        if (keep > 0 && file.size > 0) {
            const long long start = file.size > keep ? file.size - keep : 0;
            tail.resize(static_cast<size_t>(file.size - start));
            LARGE_INTEGER at{};
            at.QuadPart = start;
            DWORD read = 0;
            if (!::SetFilePointerEx(file.handle.get(), at, nullptr, FILE_BEGIN) ||
                !::ReadFile(file.handle.get(), tail.data(), static_cast<DWORD>(tail.size()), &read, nullptr))
                read = 0;
            tail.resize(read);
            // Cut at a line start unless the kept part begins the file.
            if (start > 0) {
                size_t cut = 0;
                while (cut < tail.size() && tail[cut] != '\n')
                    ++cut;
                tail.erase(tail.begin(), tail.begin() + static_cast<std::ptrdiff_t>(cut < tail.size() ? cut + 1 : cut));
            }
        }
        DWORD written = 0;
        ::SetFilePointerEx(file.handle.get(), LARGE_INTEGER{}, nullptr, FILE_BEGIN);
        if (!tail.empty())
            ::WriteFile(file.handle.get(), tail.data(), static_cast<DWORD>(tail.size()), &written, nullptr);
        ::SetEndOfFile(file.handle.get());
        file.size = written;
    }

    std::mutex m_mutex;
    std::string m_directory;
    long long m_maxBytes = 0;
    long long m_keptBytes = 0;
    bool m_active = false;
    std::map<std::string, TraceFile> m_files;
};

TraceStore& Store()
{
    static TraceStore store;
    return store;
}

// Collects text; writes each complete line to the store on flush and the
// unfinished rest when the stream is destroyed.
class LineBuffer : public std::streambuf {
public:
    explicit LineBuffer(std::string name) : m_name(std::move(name)) {}
    ~LineBuffer() override
    {
        sync();
        if (!m_pending.empty())
            Store().WriteLine(m_name, m_pending);
    }

protected:
    int_type overflow(int_type ch) override
    {
        if (!traits_type::eq_int_type(ch, traits_type::eof()))
            m_pending.push_back(traits_type::to_char_type(ch));
        return traits_type::not_eof(ch);
    }

    std::streamsize xsputn(const char* text, std::streamsize count) override
    {
        m_pending.append(text, static_cast<size_t>(count));
        return count;
    }

    int sync() override
    {
        std::string::size_type start = 0;
        for (std::string::size_type end; (end = m_pending.find('\n', start)) != std::string::npos; start = end + 1) {
            std::string line = m_pending.substr(start, end - start);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            Store().WriteLine(m_name, line);
        }
        m_pending.erase(0, start);
        return 0;
    }

private:
    std::string m_name;
    std::string m_pending;
};

class LineStream : private LineBuffer, public std::ostream {
public:
    explicit LineStream(std::string name) : LineBuffer(std::move(name)), std::ostream(static_cast<LineBuffer*>(this)) {}
    ~LineStream() override { flush(); }
};

}  // namespace

bool DbgLogger::Initialize(const char* directory, long long maxFileBytes, long long keptBytes)
{
    return Store().Initialize(directory ? directory : "", maxFileBytes, keptBytes);
}

int DbgLogger::GetDebugLevel(const char* logName)
{
    CRegistry registry(HKEY_LOCAL_MACHINE, kDbgLoggerKey);
    DWORD type = 0;
    DWORD level = 0;
    DWORD size = sizeof level;
    if (registry.VkRegQueryValue(logName, &type, &level, &size) != ERROR_SUCCESS || type != REG_DWORD)
        return 0;
    return static_cast<int>(level);
}

std::unique_ptr<std::ostream> DbgLogger::GetLog(const char* logName)
{
    return std::make_unique<LineStream>(logName ? logName : "");
}

bool DbgLogger::Shutdown()
{
    return Store().Shutdown();
}

std::string DbgLogger::GetLogFilePath(const char* logName)
{
    return Store().PathOf(logName ? logName : "");
}
