#include "fileio/FileIoGlobals.h"

#include "fileio/SequentialFile.h"
#include "recorderlibs/DbgLogger.h"

#include <algorithm>
#include <atomic>
#include <mutex>

namespace {

// Constant-initialised and trivially destroyed: valid before and after every
// other static object.
std::atomic<bool> g_ended{false};

using Guard = std::lock_guard<CriticalSection>;

// The trace library keeps its store in a static object of its own. Touching
// it here builds that store before, so it is destroyed after, the completion
// thread that writes to it.
bool PrepareTrace()
{
    DbgLogger::GetLogFilePath("");
    return true;
}

}  // namespace

FileIoGlobals& FileIoGlobals::Instance()
{
    static FileIoGlobals globals;
    return globals;
}

bool FileIoGlobals::HasEnded() noexcept
{
    return g_ended.load();
}

FileIoGlobals::FileIoGlobals()
    : m_traceReady(PrepareTrace()),
      m_readPool(kReadPoolBuffers, kFileBlockSize),
      m_writePool(kWritePoolBuffers, kFileBlockSize),
      m_thread(&SequentialFile::CompletionCallback)
{
}

FileIoGlobals::~FileIoGlobals()
{
    CloseOpenFiles();
    m_thread.Stop();
    g_ended = true;
}

void FileIoGlobals::CloseOpenFiles() noexcept
{
    Guard files(m_filesLock);
    while (!m_openFiles.empty()) {
        SequentialFile* file = m_openFiles.back();
        try {
            file->Close();
        } catch (...) {
            // The process is ending: what could not be written is lost either way.
        }
        auto found = std::find(m_openFiles.begin(), m_openFiles.end(), file);
        if (found != m_openFiles.end())
            m_openFiles.erase(found);
    }
}

void FileIoGlobals::RegisterOpenFile(SequentialFile* file)
{
    Guard files(m_filesLock);
    if (std::find(m_openFiles.begin(), m_openFiles.end(), file) == m_openFiles.end())
        m_openFiles.push_back(file);
}

void FileIoGlobals::UnregisterOpenFile(SequentialFile* file)
{
    Guard files(m_filesLock);
    auto found = std::find(m_openFiles.begin(), m_openFiles.end(), file);
    if (found != m_openFiles.end())
        m_openFiles.erase(found);
}

std::size_t FileIoGlobals::OpenFileCount() const
{
    Guard files(m_filesLock);
    return m_openFiles.size();
}
