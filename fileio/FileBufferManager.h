// The block table of one file: which pool buffer caches which block.
//
// Block i covers the file bytes i * blockSize to i * blockSize + blockSize - 1.
// A slot points at the buffer that last cached its block, or is null. Buffers
// go back to their pool implicitly, so a slot may be stale: it counts only
// while its buffer still names this manager and this block (IsMyBuffer), which
// every use checks under BufferStateLock().
//
// Locks, always in this order: the allocation lock (held for a whole
// AllocateRange), the table lock, BufferStateLock(). A pool's lock is taken
// only while the table lock and BufferStateLock() are not held.
#pragma once

#include "fileio/FileBufferPool.h"

#include <cstdint>
#include <utility>
#include <vector>

class FileBufferManager {
public:
    FileBufferManager(FileBufferPool& readPool, FileBufferPool& writePool);
    // Buffers still held are not handed back: files close first, which
    // leaves every buffer of theirs unheld and clean.
    virtual ~FileBufferManager();
    FileBufferManager(const FileBufferManager&) = delete;
    FileBufferManager& operator=(const FileBufferManager&) = delete;

    std::uint32_t BlockSize() const noexcept { return m_blockSize; }
    std::int32_t BlockCount() const;

    // Empties the table and gives it one empty slot per block of length bytes.
    void SetFileLength(std::uint64_t length);
    // The blocks that count bytes from offset touch (count at least 1). A block
    // number beyond what a slot number can hold comes back as -1.
    void ComputeBlockRange(std::uint64_t offset, std::uint64_t count, std::int32_t& first,
                           std::int32_t& last) const;

    // Holds a buffer for every block of the range, taking new ones from the
    // write pool (forWrite) or the read pool; grows the table as needed.
    void AllocateRange(std::int32_t first, std::int32_t last, bool forWrite);
    // Drops one hold of every owned block of the range.
    void ReleaseRange(std::int32_t first, std::int32_t last);

    // The slot's buffer (possibly null or stale) and the block's file offset.
    FileBuffer* GetBufferByIndex(std::int32_t block, std::uint64_t& offset);
    bool IsMyBuffer(std::int32_t block);
    bool BufferRangeValid(std::int32_t first, std::int32_t last);
    // The first owned block of the range with a transfer in flight: mode 0
    // answers whether it is a read, mode 1 whether it is a write, mode 2 true.
    bool IsIOPendingForRange(std::int32_t first, std::int32_t last, int mode);
    bool IsAnyIOPending();
    // Whether any owned block has a transfer in flight or a packet of a
    // finished one still to come off the port.
    bool IsAnyTransferOutstanding();
    // Whether any owned block of the range has a read in flight.
    bool IsReadPendingInRange(std::int32_t first, std::int32_t last);

    // Copies into the held blocks; every block touched becomes valid and
    // dirty, with zeros between its old valid bytes and the copy. Returns the
    // first and last block filled up to their last byte (both -1 when none).
    // Throws AppException, changing nothing, when the copy would leave part
    // of a block whose read failed (other than past the end).
    std::pair<std::int32_t, std::int32_t> CopyIn(const void* source, std::uint64_t offset, std::uint32_t count);
    // Copies out of the held blocks as far as their valid bytes go; returns
    // the number of bytes copied.
    std::uint32_t CopyOut(void* destination, std::uint64_t offset, std::uint32_t count);

    // Every owned block that is dirty with no transfer in flight, in order.
    bool CollectDirtyBlocks(std::vector<std::int32_t>& blocks);
    // Marks every owned dirty block clean without writing it.
    void DiscardDirty();

private:
    bool Owns(std::int32_t block) const;  // under the table lock and BufferStateLock()
    std::int32_t TableSize() const { return static_cast<std::int32_t>(m_table.size()); }

    FileBufferPool& m_readPool;
    FileBufferPool& m_writePool;
    std::uint32_t m_blockSize;
    std::vector<FileBuffer*> m_table;
    mutable CriticalSection m_tableLock;
    CriticalSection m_allocationLock;
};
