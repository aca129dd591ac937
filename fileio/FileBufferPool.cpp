#include "fileio/FileBufferPool.h"

#include "fileio/AppException.h"

#include <mutex>
#include <new>

namespace {
constexpr const char* kUnit = "FileBufferPool.cpp";
}

CriticalSection& BufferStateLock()
{
    static CriticalSection lock;
    return lock;
}

PageMemory::PageMemory(std::size_t size)
    : m_bytes(static_cast<char*>(::VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE)))
{
    if (!m_bytes)
        throw std::bad_alloc();
}

PageMemory::~PageMemory()
{
    if (m_bytes)
        ::VirtualFree(m_bytes, 0, MEM_RELEASE);
}

FileBuffer::FileBuffer(std::size_t blockSize, HANDLE poolEvent, FileBufferPool* pool)
    : m_overlapped{},
      m_block(0),
      m_owner(nullptr),
      m_validBytes(0),
      m_inFlight(false),
      m_operation(BufferOperation::Write),
      m_state(BufferState::Empty),
      m_error(0),
      m_memory(blockSize),
      m_poolEvent(poolEvent),
      m_holdCount(0),
      m_dirty(DirtyState::Clean),
      m_pool(pool),
      m_issued(false),
      m_sequence(0),
      m_issuer(0),
      m_packetsToSkip(0)
{
}

void FileBuffer::Reset() noexcept
{
    m_holdCount = 0;
    m_block = 0;
    m_owner = nullptr;
    m_state = BufferState::Empty;
    m_validBytes = 0;
    m_operation = BufferOperation::Write;
    m_inFlight = false;
    m_dirty = DirtyState::Clean;
    m_privateEvent.reset();
    m_error = 0;
    m_issued = false;
}

void FileBuffer::SignalFree() const noexcept
{
    m_pool->NoteRelease(*this);
}

void FileBuffer::NoteIfFree() const noexcept
{
    if (IsFree())
        SignalFree();
}

void FileBuffer::Hold()
{
    std::lock_guard<CriticalSection> state(BufferStateLock());
    ++m_holdCount;
}

void FileBuffer::Release()
{
    std::lock_guard<CriticalSection> state(BufferStateLock());
    if (m_holdCount == 0)
        return;  // never below zero, whatever a caller does
    if (--m_holdCount == 0) {
        m_privateEvent.reset();
        NoteIfFree();
    }
}

void FileBuffer::SetDirty(DirtyState state)
{
    std::lock_guard<CriticalSection> lock(BufferStateLock());
    m_dirty = state;
    NoteIfFree();
}

FileBufferPool::FileBufferPool(std::uint32_t count, std::uint32_t blockSize)
    : m_count(count), m_blockSize(blockSize)
{
    BufferStateLock();  // built before, and so destroyed after, every pool
    m_freeEvent.reset(::CreateEventA(nullptr, FALSE, FALSE, nullptr));
    if (!m_freeEvent)
        throw AppException("FileBufferPool():  Could not create event.", kAppErrorEvent, ::GetLastError(), kUnit,
                           __LINE__);
    m_storage.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        m_storage.push_back(std::unique_ptr<FileBuffer>(new FileBuffer(blockSize, m_freeEvent.get(), this)));
        m_buffers.push_back(m_storage.back().get());
    }
}

FileBufferPool::~FileBufferPool()
{
    // A transfer still under way would land in freed memory: such a block is
    // left to the end of the process instead. Files close before the pools
    // go, so this only happens when a transfer never completed.
    std::lock_guard<CriticalSection> state(BufferStateLock());
    for (auto& buffer : m_storage) {
        if (buffer->m_inFlight) {
            buffer->m_memory.Abandon();
            buffer.release();
        }
    }
}

void FileBufferPool::NoteRelease(const FileBuffer& buffer) const noexcept
{
    // Nobody waiting: nothing to wake (the event would only stay set).
    if (m_waiters > 0)
        ::SetEvent(buffer.m_poolEvent);
}

FileBuffer* FileBufferPool::AllocateBuffer(std::int32_t block, FileBufferManager* owner)
{
    for (;;) {
        {
            std::lock_guard<CriticalSection> pool(m_lock);
            std::lock_guard<CriticalSection> state(BufferStateLock());
            for (auto it = m_buffers.begin(); it != m_buffers.end(); ++it) {
                FileBuffer* buffer = *it;
                if (buffer->IsFree()) {
                    buffer->Reset();
                    buffer->m_holdCount = 1;
                    buffer->m_block = block;
                    buffer->m_owner = owner;
                    m_buffers.splice(m_buffers.end(), m_buffers, it);
                    return buffer;
                }
            }
            ++m_waiters;
            ++m_waits;
        }
        const DWORD waited = ::WaitForSingleObject(m_freeEvent.get(), INFINITE);
        const DWORD error = ::GetLastError();
        {
            std::lock_guard<CriticalSection> state(BufferStateLock());
            --m_waiters;
        }
        if (waited != WAIT_OBJECT_0)
            throw AppException("AllocateBuffer():  Wait for a free buffer failed.", kAppErrorEvent, error, kUnit,
                               __LINE__);
    }
}

std::uint64_t FileBufferPool::WaitCount() const
{
    std::lock_guard<CriticalSection> state(BufferStateLock());
    return m_waits;
}

bool FileBufferPool::AnyInFlight() const
{
    std::lock_guard<CriticalSection> state(BufferStateLock());
    for (const auto& buffer : m_storage)
        if (buffer->m_inFlight)
            return true;
    return false;
}

std::uint32_t FileBufferPool::FreeBufferCount() const
{
    std::lock_guard<CriticalSection> state(BufferStateLock());
    std::uint32_t free = 0;
    for (const auto& buffer : m_storage)
        if (buffer->IsFree())
            ++free;
    return free;
}
