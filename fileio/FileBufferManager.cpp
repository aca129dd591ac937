#include "fileio/FileBufferManager.h"

#include "fileio/AppException.h"

#include <cstring>
#include <limits>
#include <mutex>

namespace {

constexpr const char* kUnit = "FileBufferManager.cpp";

using Guard = std::lock_guard<CriticalSection>;

}  // namespace

FileBufferManager::FileBufferManager(FileBufferPool& readPool, FileBufferPool& writePool)
    : m_readPool(readPool), m_writePool(writePool), m_blockSize(readPool.BlockSize())
{
}

FileBufferManager::~FileBufferManager() = default;

std::int32_t FileBufferManager::BlockCount() const
{
    Guard table(m_tableLock);
    return TableSize();
}

void FileBufferManager::SetFileLength(std::uint64_t length)
{
    const std::uint64_t blocks = length / m_blockSize + (length % m_blockSize != 0 ? 1 : 0);
    RangeCheck(blocks <= static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()),
               "SetFileLength():  File too large.\n");
    Guard table(m_tableLock);
    m_table.assign(static_cast<std::size_t>(blocks), nullptr);
}

void FileBufferManager::ComputeBlockRange(std::uint64_t offset, std::uint64_t count, std::int32_t& first,
                                          std::int32_t& last) const
{
    constexpr std::uint64_t kMaxBlock = static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max());
    const std::uint64_t firstBlock = offset / m_blockSize;
    const std::uint64_t end = offset + count - 1;
    const std::uint64_t lastBlock = end < offset ? std::numeric_limits<std::uint64_t>::max() : end / m_blockSize;
    first = firstBlock > kMaxBlock ? -1 : static_cast<std::int32_t>(firstBlock);
    last = lastBlock > kMaxBlock ? -1 : static_cast<std::int32_t>(lastBlock);
}

bool FileBufferManager::Owns(std::int32_t block) const
{
    const FileBuffer* buffer = m_table[static_cast<std::size_t>(block)];
    return buffer && buffer->m_owner == this && buffer->m_block == block;
}

void FileBufferManager::AllocateRange(std::int32_t first, std::int32_t last, bool forWrite)
{
    Guard allocation(m_allocationLock);
    std::unique_lock<CriticalSection> table(m_tableLock);
    std::unique_lock<CriticalSection> state(BufferStateLock());
    IndexCheck(first >= 0 && last >= 0 && first <= last, "AllocateRange():  Index out of range.\n");
    FileBufferPool& pool = forWrite ? m_writePool : m_readPool;
    // A range that needs more buffers than the pool has would wait for ever
    // for one of the buffers it holds itself.
    RangeCheck(static_cast<std::uint64_t>(last) - static_cast<std::uint64_t>(first) < pool.BufferCount(),
               "AllocateRange():  Range larger than the buffer pool.\n");
    if (last >= TableSize())
        m_table.resize(static_cast<std::size_t>(last) + 1, nullptr);

    std::int32_t block = first;
    try {
        for (; block <= last; ++block) {
            const std::size_t slot = static_cast<std::size_t>(block);
            if (Owns(block)) {
                ++m_table[slot]->m_holdCount;
                continue;
            }
            state.unlock();
            table.unlock();
            FileBuffer* fresh = pool.AllocateBuffer(block, this);
            table.lock();
            state.lock();
            if (Owns(block)) {
                fresh->Release();
                ++m_table[slot]->m_holdCount;
            } else {
                m_table[slot] = fresh;
            }
        }
    } catch (...) {
        // Whatever this call took is given back before the failure goes on.
        if (!table.owns_lock())
            table.lock();
        if (!state.owns_lock())
            state.lock();
        for (std::int32_t taken = first; taken < block; ++taken)
            if (Owns(taken))
                m_table[static_cast<std::size_t>(taken)]->Release();
        throw;
    }
}

void FileBufferManager::ReleaseRange(std::int32_t first, std::int32_t last)
{
    Guard table(m_tableLock);
    Guard state(BufferStateLock());
    IndexCheck(first >= 0 && first < TableSize() && last >= 0 && last < TableSize() && first <= last,
               "ReleaseRange():  Index out of range.\n");
    for (std::int32_t block = first; block <= last; ++block)
        if (Owns(block))
            m_table[static_cast<std::size_t>(block)]->Release();
}

FileBuffer* FileBufferManager::GetBufferByIndex(std::int32_t block, std::uint64_t& offset)
{
    Guard table(m_tableLock);
    IndexCheck(block >= 0 && block < TableSize(), "GetBufferByIndex():  Index out of range.\n");
    offset = static_cast<std::uint64_t>(block) * m_blockSize;
    return m_table[static_cast<std::size_t>(block)];
}

bool FileBufferManager::IsMyBuffer(std::int32_t block)
{
    Guard table(m_tableLock);
    Guard state(BufferStateLock());
    IndexCheck(block >= 0 && block < TableSize(), "IsMyBuffer():  Index out of range.");
    return Owns(block);
}

bool FileBufferManager::BufferRangeValid(std::int32_t first, std::int32_t last)
{
    Guard table(m_tableLock);
    Guard state(BufferStateLock());
    IndexCheck(first >= 0 && first < TableSize() && last >= 0 && last < TableSize() && first <= last,
               "BufferRangeValid():  Index out of range.\n");
    for (std::int32_t block = first; block <= last; ++block)
        if (!Owns(block) || m_table[static_cast<std::size_t>(block)]->m_state != BufferState::Valid)
            return false;
    return true;
}

bool FileBufferManager::IsIOPendingForRange(std::int32_t first, std::int32_t last, int mode)
{
    Guard table(m_tableLock);
    Guard state(BufferStateLock());
    if (first > last)
        return false;
    IndexCheck(first >= 0 && first < TableSize() && last >= 0 && last < TableSize(),
               "IsIOPendingForRange():  Index out of range.\n");
    for (std::int32_t block = first; block <= last; ++block) {
        const FileBuffer* buffer = m_table[static_cast<std::size_t>(block)];
        if (!Owns(block) || !buffer->m_inFlight)
            continue;
        switch (mode) {
        case 0:
            return buffer->m_operation != BufferOperation::Write;
        case 1:
            return buffer->m_operation == BufferOperation::Write;
        default:
            return true;
        }
    }
    return false;
}

bool FileBufferManager::IsAnyIOPending()
{
    Guard table(m_tableLock);
    return IsIOPendingForRange(0, TableSize() - 1, 2);
}

bool FileBufferManager::IsAnyTransferOutstanding()
{
    Guard table(m_tableLock);
    Guard state(BufferStateLock());
    for (std::int32_t block = 0; block < TableSize(); ++block)
        if (Owns(block) && m_table[static_cast<std::size_t>(block)]->HasTransferOutstanding())
            return true;
    return false;
}

bool FileBufferManager::IsReadPendingInRange(std::int32_t first, std::int32_t last)
{
    Guard table(m_tableLock);
    Guard state(BufferStateLock());
    for (std::int32_t block = first < 0 ? 0 : first; block <= last && block < TableSize(); ++block) {
        const FileBuffer* buffer = m_table[static_cast<std::size_t>(block)];
        if (Owns(block) && buffer->m_inFlight && buffer->m_operation != BufferOperation::Write)
            return true;
    }
    return false;
}

std::pair<std::int32_t, std::int32_t> FileBufferManager::CopyIn(const void* source, std::uint64_t offset,
                                                                std::uint32_t count)
{
    ArgumentCheck(source != nullptr, "CopyIn():  Invalid input buffer.\n");
    std::pair<std::int32_t, std::int32_t> filled(-1, -1);
    if (count == 0)
        return filled;
    std::int32_t first = 0;
    std::int32_t last = 0;
    ComputeBlockRange(offset, count, first, last);
    Guard table(m_tableLock);
    Guard state(BufferStateLock());
    IndexCheck(first >= 0 && last >= 0 && last < TableSize(), "CopyIn():  Index out of range.\n");
    const std::uint32_t start = static_cast<std::uint32_t>(offset - static_cast<std::uint64_t>(first) * m_blockSize);
    const std::uint32_t end = static_cast<std::uint32_t>((offset + count - 1) % m_blockSize) + 1;
    // Checked before anything is copied, so that a refused call leaves the
    // range as it was.
    for (std::int32_t block = first; block <= last; ++block) {
        RuntimeCheck(Owns(block), "CopyIn():  Buffer not found.\n");
        const FileBuffer* buffer = m_table[static_cast<std::size_t>(block)];
        const bool whole = (block != first || start == 0) && (block != last || end == m_blockSize);
        // Bytes of a block whose read failed are unknown: what the copy does
        // not replace would go to disk as it happens to lie in memory. A read
        // past the end stands for nothing, so it is no obstacle.
        if (buffer->m_error != 0 && buffer->m_error != ERROR_HANDLE_EOF && !whole)
            throw AppException("CopyIn() error.", kAppErrorRead, buffer->m_error, kUnit, __LINE__);
    }
    const char* from = static_cast<const char*>(source);
    std::uint32_t remaining = count;
    for (std::int32_t block = first; block <= last; ++block) {
        FileBuffer* buffer = m_table[static_cast<std::size_t>(block)];
        const std::uint32_t position = block == first ? start : 0;
        const std::uint32_t length = remaining < m_blockSize - position ? remaining : m_blockSize - position;
        // A gap before the copy reads as zeros, as a gap in a file does,
        // rather than as whatever the buffer held for its previous owner.
        if (buffer->m_validBytes < position)
            std::memset(buffer->Memory() + buffer->m_validBytes, 0, position - buffer->m_validBytes);
        std::memcpy(buffer->Memory() + position, from, length);
        from += length;
        remaining -= length;
        if (buffer->m_validBytes < position + length)
            buffer->m_validBytes = position + length;
        if (position + length == m_blockSize) {
            if (filled.first < 0)
                filled.first = block;
            filled.second = block;
        }
        buffer->m_dirty = buffer->m_inFlight ? DirtyState::DirtiedInFlight : DirtyState::Dirty;
        // What it holds now is the caller's: the error above was either one
        // past the end or of contents now wholly replaced.
        buffer->m_state = BufferState::Valid;
        buffer->m_error = 0;
    }
    return filled;
}

std::uint32_t FileBufferManager::CopyOut(void* destination, std::uint64_t offset, std::uint32_t count)
{
    ArgumentCheck(destination != nullptr, "CopyOut():  Invalid output buffer.\n");
    if (count == 0)
        return 0;
    std::int32_t first = 0;
    std::int32_t last = 0;
    ComputeBlockRange(offset, count, first, last);
    Guard table(m_tableLock);
    Guard state(BufferStateLock());
    IndexCheck(first >= 0 && last >= 0 && last < TableSize(), "CopyOut():  Index out of range.\n");
    char* to = static_cast<char*>(destination);
    std::uint32_t remaining = count;
    for (std::int32_t block = first; block <= last && remaining > 0; ++block) {
        RuntimeCheck(Owns(block), "CopyOut():  Buffer not found.\n");
        const FileBuffer* buffer = m_table[static_cast<std::size_t>(block)];
        if (buffer->m_error != 0)
            throw AppException("CopyOut() error.", kAppErrorRead, buffer->m_error, kUnit, __LINE__);
        const std::uint32_t position =
            block == first ? static_cast<std::uint32_t>(offset - static_cast<std::uint64_t>(first) * m_blockSize) : 0;
        const std::uint32_t available = buffer->m_validBytes > position ? buffer->m_validBytes - position : 0;
        const std::uint32_t length = remaining < available ? remaining : available;
        std::memcpy(to, buffer->Memory() + position, length);
        to += length;
        remaining -= length;
    }
    return count - remaining;
}

bool FileBufferManager::CollectDirtyBlocks(std::vector<std::int32_t>& blocks)
{
    blocks.clear();
    Guard table(m_tableLock);
    Guard state(BufferStateLock());
    for (std::int32_t block = 0; block < TableSize(); ++block) {
        const FileBuffer* buffer = m_table[static_cast<std::size_t>(block)];
        if (Owns(block) && buffer->IsDirty() && !buffer->m_inFlight)
            blocks.push_back(block);
    }
    return !blocks.empty();
}

void FileBufferManager::DiscardDirty()
{
    Guard table(m_tableLock);
    Guard state(BufferStateLock());
    for (std::int32_t block = 0; block < TableSize(); ++block)
        if (Owns(block) && m_table[static_cast<std::size_t>(block)]->IsDirty())
            m_table[static_cast<std::size_t>(block)]->SetDirty(DirtyState::Clean);
}
