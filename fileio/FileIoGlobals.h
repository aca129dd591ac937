// The process-wide objects of the file layer: the read pool, the write pool,
// the completion-port thread and the list of open files.
//
// They live in one object that is built on first use (a function-local
// static), so it exists before any file whatever the order in which the
// program's static objects are built; SequentialFile.cpp also asks for it
// during start-up so that the pools are in place before main. The buffer-state
// lock and the trace library are built before it and therefore outlive it.
//
// At process end it is destroyed after every static object that used it:
// files still open are closed then (their changed blocks are written back, as
// the C library flushes open streams at exit), the completion thread is
// stopped, and the pools free their memory.
#pragma once

#include "fileio/FileBufferPool.h"
#include "fileio/WorkerThread.h"

#include <cstdint>
#include <vector>

class SequentialFile;

inline constexpr std::uint32_t kFileBlockSize = 65536;
inline constexpr std::uint32_t kReadPoolBuffers = 320;
inline constexpr std::uint32_t kWritePoolBuffers = 64;

class FileIoGlobals {
public:
    // Built on the first call; a failure to build throws and is tried again on
    // the next call.
    static FileIoGlobals& Instance();
    // True once the objects have been destroyed at process end.
    static bool HasEnded() noexcept;

    FileBufferPool& ReadPool() noexcept { return m_readPool; }
    FileBufferPool& WritePool() noexcept { return m_writePool; }
    CompletionPortThread& CompletionThread() noexcept { return m_thread; }

    void RegisterOpenFile(SequentialFile* file);
    void UnregisterOpenFile(SequentialFile* file);
    std::size_t OpenFileCount() const;

private:
    FileIoGlobals();
    ~FileIoGlobals();
    FileIoGlobals(const FileIoGlobals&) = delete;
    FileIoGlobals& operator=(const FileIoGlobals&) = delete;

    void CloseOpenFiles() noexcept;

    // Destroyed in the reverse order: the thread stops before the pools go.
    bool m_traceReady;
    mutable CriticalSection m_filesLock;
    std::vector<SequentialFile*> m_openFiles;
    FileBufferPool m_readPool;
    FileBufferPool m_writePool;
    CompletionPortThread m_thread;
};
