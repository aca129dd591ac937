// Block buffers shared by every open file of the process.
//
// A FileBufferPool owns a fixed number of equal, page-aligned blocks and hands
// them out in least-recently-handed-out order. A buffer that is neither held
// nor dirty is free: any file may get it at any time, and the file that had it
// before notices by its owner and block no longer being its own. The state of
// every buffer is guarded by one process-wide lock, BufferStateLock().
#pragma once

#include "recorderlibs/CriticalSection.h"
#include "recorderlibs/Win32Handle.h"

#include <windows.h>

#include <cstdint>
#include <list>
#include <memory>
#include <vector>

class FileBufferManager;
class FileBufferPool;

// The lock over the state of every FileBuffer of the process. It is taken
// after a pool's own lock and after a manager's table lock, never before.
CriticalSection& BufferStateLock();

enum class BufferOperation : std::int32_t { DemandRead = 0, ReadAhead = 1, Write = 2 };
enum class BufferState : std::int32_t { Empty = 0, Valid = 1, Failed = 2 };
enum class DirtyState : std::int32_t { Clean = 0, Dirty = 1, DirtiedInFlight = 2 };

// Committed read-write pages of one block, released with the owner.
class PageMemory {
public:
    explicit PageMemory(std::size_t size);
    ~PageMemory();
    PageMemory(const PageMemory&) = delete;
    PageMemory& operator=(const PageMemory&) = delete;

    char* get() const noexcept { return m_bytes; }
    // Gives up the pages without freeing them (a transfer may still land there).
    void Abandon() noexcept { m_bytes = nullptr; }

private:
    char* m_bytes;
};

// One cached block. Every field is read and changed under BufferStateLock().
// The OVERLAPPED header comes first, so that the header the completion port
// hands back is the buffer's address.
class FileBuffer {
public:
    OVERLAPPED m_overlapped;
    std::int32_t m_block;
    FileBufferManager* m_owner;
    std::uint32_t m_validBytes;
    bool m_inFlight;
    BufferOperation m_operation;
    BufferState m_state;
    DWORD m_error;
    PageMemory m_memory;
    win32::UniqueHandle m_privateEvent;  // a waiting reader's manual-reset event, or none
    HANDLE m_poolEvent;                  // the owning pool's free-buffer event
    std::uint32_t m_holdCount;
    DirtyState m_dirty;
    FileBufferPool* m_pool;
    // The platform accepted the transfer in flight; m_sequence tells the
    // transfers of the buffer apart, so that a late issuer cannot mark a
    // newer one.
    bool m_issued;
    std::uint32_t m_sequence;
    DWORD m_issuer;  // the thread that issued it
    // Transfers completed without their packet (see SequentialFile): that
    // many packets for this buffer are still to come off the port and are
    // skipped. Until then the buffer is not free.
    std::uint32_t m_packetsToSkip;

    FileBuffer(const FileBuffer&) = delete;
    FileBuffer& operator=(const FileBuffer&) = delete;

    static FileBuffer* FromOverlapped(OVERLAPPED* overlapped) noexcept
    {
        return reinterpret_cast<FileBuffer*>(overlapped);
    }
    char* Memory() const noexcept { return m_memory.get(); }
    bool IsDirty() const noexcept { return m_dirty != DirtyState::Clean; }
    // Nobody holds it, it has nothing to write, and no transfer can still
    // land in it (a demand read whose reader gave up while it was in flight).
    bool IsFree() const noexcept
    {
        return m_holdCount == 0 && !IsDirty() && !m_inFlight && m_packetsToSkip == 0;
    }
    // A transfer in flight, or a packet of a finished one still to come.
    bool HasTransferOutstanding() const noexcept { return m_inFlight || m_packetsToSkip != 0; }

    void Hold();
    // The last release closes the private event; a clean buffer then becomes
    // free and the pool is told.
    void Release();
    void SetDirty(DirtyState state);
    // Tells the pool when the buffer has become free (under BufferStateLock()).
    void NoteIfFree() const noexcept;

private:
    friend class FileBufferPool;
    FileBuffer(std::size_t blockSize, HANDLE poolEvent, FileBufferPool* pool);
    void Reset() noexcept;
    void SignalFree() const noexcept;
};

class FileBufferPool {
public:
    FileBufferPool(std::uint32_t count, std::uint32_t blockSize);
    virtual ~FileBufferPool();
    FileBufferPool(const FileBufferPool&) = delete;
    FileBufferPool& operator=(const FileBufferPool&) = delete;

    // A buffer held once for owner and block. Waits, without time limit, while
    // every buffer is held or dirty: a dirty buffer becomes free when its
    // write completes, and only a block filled to its end is written before
    // its file is closed. So callers keep fewer partly written blocks open
    // than the pool has buffers to spare.
    FileBuffer* AllocateBuffer(std::int32_t block, FileBufferManager* owner);

    std::uint32_t BufferCount() const noexcept { return m_count; }
    std::uint32_t BlockSize() const noexcept { return m_blockSize; }

    // How often an allocation found nothing free and had to wait (tests, benchmarks).
    std::uint64_t WaitCount() const;
    // Whether any buffer of the pool has a transfer under way.
    bool AnyInFlight() const;
    // How many buffers are neither held nor dirty.
    std::uint32_t FreeBufferCount() const;

private:
    friend class FileBuffer;
    void NoteRelease(const FileBuffer& buffer) const noexcept;

    std::uint32_t m_count;
    std::uint32_t m_blockSize;
    std::list<FileBuffer*> m_buffers;  // in hand-out order, the oldest first
    mutable CriticalSection m_lock;
    win32::UniqueHandle m_freeEvent;   // auto-reset: one waiter searches again per signal
    std::vector<std::unique_ptr<FileBuffer>> m_storage;
    std::uint32_t m_waiters = 0;       // under BufferStateLock()
    std::uint64_t m_waits = 0;         // under BufferStateLock()
};
