// A random-access file with its own block cache on overlapped I/O.
//
// Callers read and write any byte range through a FilePosition; the file moves
// data only in whole 65536-byte blocks at block-aligned offsets (so it may be
// opened with FILE_FLAG_NO_BUFFERING), reads two blocks ahead of a reader,
// writes every block as soon as a writer has filled it to its last byte, and
// writes the other changed blocks when it is closed. Finished transfers come
// back on the process's completion thread (FileIoGlobals).
//
// Only files that exist with a non-zero length can be opened: they are
// created and pre-allocated elsewhere and filled through this class. A block
// is always written whole, so the file on disk grows to the end of the last
// block written; bytes of a block that were neither read from the file nor
// written by the caller (a write at or past the data written since Open
// skips reading the old contents) are unspecified.
#pragma once

#include "fileio/FileBufferManager.h"
#include "recorderlibs/Win32Handle.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <shared_mutex>
#include <string>

class SequentialFile;

// A caller's cursor into one SequentialFile.
class FilePosition {
public:
    explicit FilePosition(SequentialFile& file) noexcept : m_file(&file) {}

    // origin 0: from the beginning (0 <= offset < size); 1: from the current
    // offset (the result inside the file); 2: from the end (offset <= 0; the
    // only way to reach the end itself). Returns the new offset; an invalid
    // move throws std::out_of_range and leaves the offset, an unknown origin
    // throws std::invalid_argument.
    std::uint64_t Seek(std::int64_t offset, int origin);

    std::uint64_t Offset() const noexcept { return m_offset; }
    SequentialFile& File() const noexcept { return *m_file; }

private:
    friend class SequentialFile;
    SequentialFile* m_file;
    std::uint64_t m_offset = 0;
};

class SequentialFile {
public:
    // Transfers issued since construction, for tests and benchmarks.
    struct TransferCounts {
        std::uint64_t demandReads = 0;
        std::uint64_t readAheads = 0;
        std::uint64_t writes = 0;      // every block write, including the two below
        std::uint64_t rewrites = 0;    // blocks changed again while their write was in flight
    };

    // Uses the process's two pools; starts the completion thread if it does
    // not run yet.
    SequentialFile();
    // Uses pools of the caller's own, which must outlive the object.
    SequentialFile(FileBufferPool& readPool, FileBufferPool& writePool);
    // Closes an open file (a failure to write back is not reported here).
    virtual ~SequentialFile();
    SequentialFile(const SequentialFile&) = delete;
    SequentialFile& operator=(const SequentialFile&) = delete;

    // The arguments of CreateFileA, in this order; FILE_FLAG_OVERLAPPED is
    // always added. False for a path of 0 or more than 260 characters, a file
    // that cannot be opened, and an empty file.
    bool Open(const std::string& path, DWORD creationDisposition, DWORD desiredAccess, DWORD shareMode,
              DWORD flagsAndAttributes = FILE_ATTRIBUTE_NORMAL, LPSECURITY_ATTRIBUTES securityAttributes = nullptr);
    // Waits for Read and Write calls of other threads to end (later ones
    // throw as on a closed file), writes back changed blocks (or, after a
    // failed write, discards them), waits until nothing is in flight and
    // closes the handle. The file is
    // closed afterwards even when a write-back is refused at once; that
    // failure is then thrown.
    void Close();
    // Closes without writing anything back.
    void Abort();

    // Copies up to count bytes at pos and advances pos by what was copied,
    // which is less than count only where the file's data ends inside a block.
    std::uint32_t Read(FilePosition& pos, void* destination, std::uint32_t count);
    // Writes count bytes at pos, advances pos and raises the size past it.
    void Write(FilePosition& pos, const void* source, std::uint32_t count);

    bool IsOpen() const noexcept { return m_open.load(); }
    const std::string& Name() const noexcept { return m_name; }
    std::uint64_t Size() const noexcept { return m_size.load(); }
    // The error of the first failed write since Open; 0 when none.
    DWORD LastWriteError() const noexcept { return m_lastError.load(); }
    TransferCounts GetTransferCounts() const noexcept;
    FileBufferManager& Blocks() noexcept { return m_blocks; }

    // A finished transfer of one of this file's buffers (completion thread).
    void ProcessIOCompletion(FileBuffer* buffer, DWORD bytes, DWORD error);
    // The completion thread's callback: hands a transfer back to its file.
    static void CompletionCallback(DWORD error, DWORD bytes, ULONG_PTR key, OVERLAPPED* overlapped);

private:
    friend class FilePosition;

    void StartCompletionThread();
    // The event to wait on for a demand read still in flight, or none;
    // *loading tells whether the block was not valid (a read was needed).
    HANDLE LoadBuffer(FileBuffer* buffer, int mode, std::uint64_t offset, bool* loading = nullptr);
    void LoadRangeNow(std::int32_t first, std::int32_t last, bool readAhead);
    void ReadAhead(std::int32_t last);
    void SaveRangeAsync(std::int32_t first, std::int32_t last);
    void SaveBuffer(FileBuffer* buffer, std::uint64_t offset);
    std::uint32_t PrepareIssue(FileBuffer* buffer);
    void IssueWrite(FileBuffer* buffer, std::uint32_t sequence);
    // A read the platform has finished whose packet the completion thread
    // has not taken yet is completed at once by the thread that needs it,
    // instead of waiting for that thread (under BufferStateLock()).
    // Only the thread that issued the read settles it: it sees the header
    // whole, as the platform left it when the call returned.
    bool SettleFinishedRead(FileBuffer* buffer);
    void CompleteTransfer(FileBuffer* buffer, DWORD bytes, DWORD error);
    // The completion itself; returns the sequence of a second write to issue
    // (after the lock is released), or 0.
    std::uint32_t CompleteTransferLocked(FileBuffer* buffer, DWORD bytes, DWORD error);
    void WaitForIdle();
    void FinishClose();
    // Closes giving up every changed block (Abort, and Close after a failed
    // write); the file is marked closed already.
    void Discard();
    // Marks the file closed once no Read or Write is under way; false when
    // it was closed already.
    bool EndUse();

    win32::UniqueFileHandle m_handle;
    std::string m_name;
    std::atomic<std::uint64_t> m_size{0};
    win32::UniqueHandle m_ioEvent;
    std::atomic<std::uint64_t> m_extent{0};
    std::atomic<DWORD> m_lastError{0};
    std::int32_t m_readAheadBlocks = 2;
    FileBufferManager m_blocks;

    std::atomic<bool> m_open{false};
    // Held shared by Read and Write for their whole run and exclusively to
    // close, so that no transfer is issued on a handle being closed.
    std::shared_mutex m_useLock;
    bool m_discarding = false;                 // under BufferStateLock(): changed blocks are given up
    std::atomic<int> m_idleWaiters{0};         // threads in WaitForIdle
    std::atomic<std::uint64_t> m_demandReads{0};
    std::atomic<std::uint64_t> m_readAheads{0};
    std::atomic<std::uint64_t> m_writes{0};
    std::atomic<std::uint64_t> m_rewrites{0};
};
