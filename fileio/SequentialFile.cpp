#include "fileio/SequentialFile.h"

#include "fileio/AppException.h"
#include "fileio/FileIoGlobals.h"

#include <cstring>
#include <exception>
#include <limits>
#include <mutex>
#include <vector>

namespace {

constexpr const char* kUnit = "SequentialFile.cpp";
constexpr std::size_t kMaxPathLength = 260;
constexpr std::size_t kMaxWaitObjects = MAXIMUM_WAIT_OBJECTS;  // 64

using Guard = std::lock_guard<CriticalSection>;
using StateLock = std::unique_lock<CriticalSection>;

// The pools are in place before main, as the program's other static objects
// are; a failure here is reported again to the first file constructed.
[[maybe_unused]] const bool g_fileIoAtStartUp = [] {
    try {
        FileIoGlobals::Instance();
        return true;
    } catch (...) {
        return false;
    }
}();

// "Write() when file not open (%s)." and "Write() error %d(%s)."
std::string NotOpenText(const std::string& name)
{
    return "Write() when file not open (" + name + ").";
}

std::string WriteErrorText(DWORD error, const std::string& name)
{
    return "Write() error " + std::to_string(static_cast<int>(error)) + "(" + name + ").";
}

// The process's objects, unless the process is ending and they are gone.
FileIoGlobals& LiveGlobals()
{
    RuntimeCheck(!FileIoGlobals::HasEnded(), "SequentialFile():  File I/O has ended.");
    return FileIoGlobals::Instance();
}

// ceil(length / blockSize): the blocks that hold some of the first length bytes.
std::int32_t BlocksWithin(std::uint64_t length, std::uint32_t blockSize)
{
    const std::uint64_t blocks = length / blockSize + (length % blockSize != 0 ? 1 : 0);
    constexpr std::int32_t kMost = std::numeric_limits<std::int32_t>::max();
    return blocks > static_cast<std::uint64_t>(kMost) ? kMost : static_cast<std::int32_t>(blocks);
}

void RaiseTo(std::atomic<std::uint64_t>& value, std::uint64_t at)
{
    std::uint64_t now = value.load();
    while (now < at && !value.compare_exchange_weak(now, at)) {
    }
}

// The reservation of a range of blocks, given back however the operation ends.
class RangeHold {
public:
    RangeHold(FileBufferManager& blocks, std::int32_t first, std::int32_t last, bool forWrite)
        : m_blocks(blocks), m_first(first), m_last(last)
    {
        m_blocks.AllocateRange(first, last, forWrite);
    }
    ~RangeHold()
    {
        try {
            m_blocks.ReleaseRange(m_first, m_last);
        } catch (...) {
        }
    }
    RangeHold(const RangeHold&) = delete;
    RangeHold& operator=(const RangeHold&) = delete;

private:
    FileBufferManager& m_blocks;
    std::int32_t m_first;
    std::int32_t m_last;
};

}  // namespace

std::uint64_t FilePosition::Seek(std::int64_t offset, int origin)
{
    const std::int64_t size = static_cast<std::int64_t>(m_file->Size());
    const std::int64_t current = static_cast<std::int64_t>(m_offset);
    switch (origin) {
    case 0:
        if (offset < 0 || offset >= size)
            throw std::out_of_range("Seek(): Invalid move from begin.");
        m_offset = static_cast<std::uint64_t>(offset);
        break;
    case 1:
        if ((offset < 0 && current + offset < 0) || (offset >= 0 && offset >= size - current))
            throw std::out_of_range("Seek():  Invalid move from current.");
        m_offset = static_cast<std::uint64_t>(current + offset);
        break;
    case 2:
        if (offset > 0 || offset < -size)
            throw std::out_of_range("Seek():  Invalid move from end.");
        m_offset = static_cast<std::uint64_t>(size + offset);
        break;
    default:
        throw std::invalid_argument("Seek():  Unknown seek from position.");
    }
    return m_offset;
}

SequentialFile::SequentialFile() : m_blocks(LiveGlobals().ReadPool(), LiveGlobals().WritePool())
{
    StartCompletionThread();
}

SequentialFile::SequentialFile(FileBufferPool& readPool, FileBufferPool& writePool) : m_blocks(readPool, writePool)
{
    StartCompletionThread();
}

void SequentialFile::StartCompletionThread()
{
    FileIoGlobals& globals = LiveGlobals();
    m_ioEvent.reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!m_ioEvent)
        throw AppException("SequentialFile():  Could not create event.", kAppErrorEvent, ::GetLastError(), kUnit,
                           __LINE__);
    if (!globals.CompletionThread().StartIfStopped())
        throw AppException("SequentialFile():  Could not start the completion thread.", kAppErrorEvent,
                           ::GetLastError(), kUnit, __LINE__);
}

SequentialFile::~SequentialFile()
{
    try {
        if (IsOpen())
            Close();
    } catch (...) {
    }
}

bool SequentialFile::Open(const std::string& path, DWORD creationDisposition, DWORD desiredAccess, DWORD shareMode,
                          DWORD flagsAndAttributes, LPSECURITY_ATTRIBUTES securityAttributes)
{
    if (IsOpen())
        Close();
    if (path.empty() || path.size() > kMaxPathLength || FileIoGlobals::HasEnded())
        return false;
    win32::UniqueFileHandle handle(::CreateFileA(path.c_str(), desiredAccess, shareMode, securityAttributes,
                                                 creationDisposition, flagsAndAttributes | FILE_FLAG_OVERLAPPED,
                                                 nullptr));
    if (!handle)
        return false;
    m_name = path;
    LARGE_INTEGER length{};
    if (!::GetFileSizeEx(handle.get(), &length) || length.QuadPart <= 0)
        return false;
    m_blocks.SetFileLength(static_cast<std::uint64_t>(length.QuadPart));
    m_size = static_cast<std::uint64_t>(length.QuadPart);
    m_extent = 0;
    m_lastError = 0;
    {
        Guard state(BufferStateLock());
        m_discarding = false;
    }
    FileIoGlobals& globals = FileIoGlobals::Instance();
    // Without the port no transfer would ever be seen to finish.
    if (!globals.CompletionThread().AssociateFile(handle.get(), reinterpret_cast<ULONG_PTR>(this)))
        return false;
    m_handle = std::move(handle);
    m_open = true;
    globals.RegisterOpenFile(this);
    return true;
}

void SequentialFile::Close()
{
    if (!EndUse())
        return;
    // Looked at only now that no Write can run: a write failing up to here
    // is seen, and nothing more is written after it.
    if (m_lastError.load() != 0) {
        Discard();
        return;
    }
    std::exception_ptr failure;
    std::vector<std::int32_t> dirty;
    m_blocks.CollectDirtyBlocks(dirty);
    try {
        for (std::int32_t block : dirty) {
            std::uint64_t offset = 0;
            if (FileBuffer* buffer = m_blocks.GetBufferByIndex(block, offset))
                SaveBuffer(buffer, offset);
        }
    } catch (...) {
        failure = std::current_exception();
    }
    FileIoGlobals::Instance().UnregisterOpenFile(this);
    FinishClose();
    if (failure)
        std::rethrow_exception(failure);
}

void SequentialFile::Abort()
{
    if (EndUse())
        Discard();
}

void SequentialFile::Discard()
{
    {
        Guard state(BufferStateLock());
        m_discarding = true;
    }
    FileIoGlobals::Instance().UnregisterOpenFile(this);
    ::CancelIoEx(m_handle.get(), nullptr);
    FinishClose();
}

bool SequentialFile::EndUse()
{
    std::unique_lock<std::shared_mutex> use(m_useLock);
    return m_open.exchange(false);
}

void SequentialFile::FinishClose()
{
    WaitForIdle();
    // Whatever could not be written is given up, so that every buffer of the
    // file is clean and free for other files once it is closed.
    m_blocks.DiscardDirty();
    m_handle.reset();
}

void SequentialFile::WaitForIdle()
{
    ++m_idleWaiters;
    ::ResetEvent(m_ioEvent.get());
    while (m_blocks.IsAnyTransferOutstanding()) {
        ::WaitForSingleObject(m_ioEvent.get(), 100);
        ::ResetEvent(m_ioEvent.get());
    }
    --m_idleWaiters;
}

std::uint32_t SequentialFile::Read(FilePosition& pos, void* destination, std::uint32_t count)
{
    std::shared_lock<std::shared_mutex> use(m_useLock);
    if (!IsOpen())
        throw AppException("Read() when file not open", kAppErrorRead, 0, kUnit, __LINE__);
    if (count == 0)
        return 0;
    std::int32_t first = 0;
    std::int32_t last = 0;
    m_blocks.ComputeBlockRange(pos.m_offset, count, first, last);
    RangeHold hold(m_blocks, first, last, false);
    std::uint32_t copied = 0;
    if (m_blocks.BufferRangeValid(first, last)) {
        copied = m_blocks.CopyOut(destination, pos.m_offset, count);
        ReadAhead(last);
    } else {
        LoadRangeNow(first, last, true);
        copied = m_blocks.CopyOut(destination, pos.m_offset, count);
    }
    pos.m_offset += copied;
    return copied;
}

void SequentialFile::Write(FilePosition& pos, const void* source, std::uint32_t count)
{
    std::shared_lock<std::shared_mutex> use(m_useLock);
    if (!IsOpen())
        throw AppException(NotOpenText(m_name), kAppErrorWrite, 0, kUnit, __LINE__);
    const DWORD lastError = m_lastError.load();
    if (lastError != 0)
        throw AppException(WriteErrorText(lastError, m_name), kAppErrorWrite, lastError, kUnit, __LINE__);
    if (count == 0)
        return;
    std::int32_t first = 0;
    std::int32_t last = 0;
    m_blocks.ComputeBlockRange(pos.m_offset, count, first, last);
    RangeHold hold(m_blocks, first, last, true);
    if (!m_blocks.BufferRangeValid(first, last)) {
        // At or past what was written since Open the old contents are not
        // needed: a writer filling the file in order reads nothing. Unless a
        // read is still landing in a block of the range, or the first block
        // holds the end of what was written and is not valid here. No state
        // is known to reach the latter: that block was never filled, so never
        // written back, and stays dirty, and cached, until Close. It is kept
        // as a defensive check: a needless load costs only a read.
        const std::uint64_t extent = m_extent.load();
        const std::uint64_t firstStart = static_cast<std::uint64_t>(first) * m_blocks.BlockSize();
        const bool appending = extent != 0 && pos.m_offset >= extent &&
                               !m_blocks.IsReadPendingInRange(first, last) &&
                               (extent <= firstStart || m_blocks.BufferRangeValid(first, first));
        // Blocks that begin at or past the size were never written: the
        // platform has nothing there to read and would only fail the read.
        const std::int32_t lastExisting = BlocksWithin(m_size.load(), m_blocks.BlockSize()) - 1;
        if (!appending && first <= lastExisting)
            LoadRangeNow(first, last < lastExisting ? last : lastExisting, false);
    }
    const std::pair<std::int32_t, std::int32_t> filled = m_blocks.CopyIn(source, pos.m_offset, count);
    if (filled.first >= 0)
        SaveRangeAsync(filled.first, filled.second);
    pos.m_offset += count;
    // Other threads may write this file too: neither may go back.
    RaiseTo(m_extent, pos.m_offset);
    RaiseTo(m_size, pos.m_offset);
}

void SequentialFile::LoadRangeNow(std::int32_t first, std::int32_t last, bool readAhead)
{
    std::vector<HANDLE> events;
    std::size_t loaded = 0;
    for (std::int32_t block = first; block <= last; ++block) {
        std::uint64_t offset = 0;
        FileBuffer* buffer = m_blocks.GetBufferByIndex(block, offset);
        RuntimeCheck(buffer != nullptr, "LoadRangeNow(): Buffer not found.");
        bool loading = false;
        if (HANDLE event = LoadBuffer(buffer, 0, offset, &loading))
            events.push_back(event);
        loaded += loading ? 1 : 0;
    }
    if (readAhead)
        ReadAhead(last);
    // Counted whether or not a wait turned out to be needed: a range refused
    // on one run must not pass on another because its reads finished early.
    RangeCheck(loaded <= kMaxWaitObjects, "LoadRangeNow(): Maximum number of blocks exceeded.");
    if (events.empty())
        return;
    if (::WaitForMultipleObjects(static_cast<DWORD>(events.size()), events.data(), TRUE, INFINITE) == WAIT_FAILED)
        throw AppException("LoadRangeNow() error waiting for multiple objects.", kAppErrorEvent, ::GetLastError(),
                           kUnit, __LINE__);
}

HANDLE SequentialFile::LoadBuffer(FileBuffer* buffer, int mode, std::uint64_t offset, bool* loading)
{
    RuntimeCheck(buffer != nullptr, "Null buffer sent to LoadBuffer().");
    StateLock state(BufferStateLock());
    SettleFinishedRead(buffer);
    if (mode == 1 && (buffer->m_state == BufferState::Valid || buffer->m_inFlight)) {
        buffer->Release();
        return nullptr;
    }
    if (buffer->m_state == BufferState::Valid)
        return nullptr;
    if (loading)
        *loading = true;
    if (!buffer->m_inFlight) {
        buffer->m_overlapped = OVERLAPPED{};
        // An event left set by an earlier read must not end the wait for this one.
        if (buffer->m_privateEvent)
            ::ResetEvent(buffer->m_privateEvent.get());
        buffer->m_overlapped.Offset = static_cast<DWORD>(offset);
        buffer->m_overlapped.OffsetHigh = static_cast<DWORD>(offset >> 32);
        buffer->m_operation = mode == 0 ? BufferOperation::DemandRead : BufferOperation::ReadAhead;
        buffer->m_inFlight = true;
        const std::uint32_t sequence = PrepareIssue(buffer);
        ++(mode == 0 ? m_demandReads : m_readAheads);
        state.unlock();
        const BOOL issued = ::ReadFile(m_handle.get(), buffer->Memory(), m_blocks.BlockSize(), nullptr,
                                       &buffer->m_overlapped);
        const DWORD error = issued ? ERROR_SUCCESS : ::GetLastError();
        state.lock();
        if (issued || error == ERROR_IO_PENDING) {
            if (buffer->m_sequence == sequence)
                buffer->m_issued = true;
        } else {
            CompleteTransfer(buffer, 0, error);
            throw AppException("LoadBuffer():  ReadFile error.", kAppErrorRead, error, kUnit, __LINE__);
        }
        if (mode != 0)
            return nullptr;
        // A read served from the system's cache (and every read under Wine)
        // has finished by now: the reader need not wait for the completion
        // thread to take its packet, nor make an event to wait on.
        SettleFinishedRead(buffer);
    }
    if (mode != 0 || !buffer->m_inFlight)
        return nullptr;
    // Made under the lock while the read is in flight: its completion, which
    // takes the lock, finds the event and signals it.
    if (!buffer->m_privateEvent) {
        buffer->m_privateEvent.reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
        if (!buffer->m_privateEvent)
            throw AppException("LoadBuffer(): Failed to create event.", kAppErrorEvent, ::GetLastError(), kUnit,
                               __LINE__);
    }
    return buffer->m_privateEvent.get();
}

void SequentialFile::ReadAhead(std::int32_t last)
{
    const std::int32_t start = last + 1;
    std::int32_t end = last + m_readAheadBlocks;
    // Not past the size either: a read beyond the end grows the table, and
    // the blocks it added hold nothing to read ahead.
    const std::int32_t tableSlots = m_blocks.BlockCount();
    const std::int32_t sizeBlocks = BlocksWithin(m_size.load(), m_blocks.BlockSize());
    const std::int32_t slots = tableSlots < sizeBlocks ? tableSlots : sizeBlocks;
    const std::uint64_t extent = m_extent.load();
    const std::uint64_t extentBlocks = extent / m_blocks.BlockSize();
    if (start >= slots || (extent != 0 && static_cast<std::uint64_t>(start) >= extentBlocks))
        return;
    if (end > slots - 1)
        end = slots - 1;
    if (extent != 0 && static_cast<std::uint64_t>(end) > extentBlocks - 1)
        end = static_cast<std::int32_t>(extentBlocks - 1);
    m_blocks.AllocateRange(start, end, false);
    std::int32_t block = start;
    try {
        for (; block <= end; ++block) {
            std::uint64_t offset = 0;
            FileBuffer* buffer = m_blocks.GetBufferByIndex(block, offset);
            RuntimeCheck(buffer != nullptr, "ReadAhead(): Buffer not found.");
            LoadBuffer(buffer, 1, offset);
        }
    } catch (...) {
        // The failed block's hold went with its transfer; the blocks not
        // reached yet are still held for reads that will never be issued.
        if (block < end)
            m_blocks.ReleaseRange(block + 1, end);
        throw;
    }
}

void SequentialFile::SaveRangeAsync(std::int32_t first, std::int32_t last)
{
    for (std::int32_t block = first; block <= last; ++block) {
        std::uint64_t offset = 0;
        FileBuffer* buffer = m_blocks.GetBufferByIndex(block, offset);
        RuntimeCheck(buffer != nullptr, "SaveRangeAsync(): Buffer not found.");
        SaveBuffer(buffer, offset);
    }
}

void SequentialFile::SaveBuffer(FileBuffer* buffer, std::uint64_t offset)
{
    std::uint32_t sequence = 0;
    {
        Guard state(BufferStateLock());
        if (buffer->m_state != BufferState::Valid || !buffer->IsDirty() || buffer->m_inFlight)
            return;
        // The slot was looked up without this lock: the buffer may have been
        // written, freed and given to another file or block since.
        if (buffer->m_owner != &m_blocks || static_cast<std::uint64_t>(buffer->m_block) * m_blocks.BlockSize() != offset)
            return;
        // A block goes to disk whole even when it holds less: what lies past
        // its data is what the buffer last held, perhaps for another file.
        if (buffer->m_validBytes < m_blocks.BlockSize())
            std::memset(buffer->Memory() + buffer->m_validBytes, 0, m_blocks.BlockSize() - buffer->m_validBytes);
        buffer->m_overlapped.Internal = 0;
        buffer->m_overlapped.InternalHigh = 0;
        buffer->m_overlapped.hEvent = nullptr;
        buffer->m_overlapped.Offset = static_cast<DWORD>(offset);
        buffer->m_overlapped.OffsetHigh = static_cast<DWORD>(offset >> 32);
        buffer->m_operation = BufferOperation::Write;
        buffer->m_inFlight = true;
        sequence = PrepareIssue(buffer);
    }
    IssueWrite(buffer, sequence);
}

std::uint32_t SequentialFile::PrepareIssue(FileBuffer* buffer)
{
    // Pending from now on, for whoever looks at the header before the
    // platform does.
    buffer->m_overlapped.Internal = static_cast<ULONG_PTR>(STATUS_PENDING);
    buffer->m_issued = false;
    buffer->m_issuer = ::GetCurrentThreadId();
    if (++buffer->m_sequence == 0)
        buffer->m_sequence = 1;  // 0 means "no write to issue" to the callers
    return buffer->m_sequence;
}

// The buffer is marked as a write in flight; issues it without the lock.
void SequentialFile::IssueWrite(FileBuffer* buffer, std::uint32_t sequence)
{
    ++m_writes;
    const BOOL issued =
        ::WriteFile(m_handle.get(), buffer->Memory(), m_blocks.BlockSize(), nullptr, &buffer->m_overlapped);
    const DWORD error = issued ? ERROR_SUCCESS : ::GetLastError();
    Guard state(BufferStateLock());
    if (issued || error == ERROR_IO_PENDING) {
        if (buffer->m_sequence == sequence)
            buffer->m_issued = true;
        return;
    }
    CompleteTransfer(buffer, 0, error);
    throw AppException("SaveBuffer():  WriteFile error.", kAppErrorWrite, error, kUnit, __LINE__);
}

void SequentialFile::ProcessIOCompletion(FileBuffer* buffer, DWORD bytes, DWORD error)
{
    RuntimeCheck(buffer != nullptr, "ProcessIOCompletion(): Got null buffer.");
    std::uint32_t writeAgain = 0;
    {
        Guard state(BufferStateLock());
        if (buffer->m_packetsToSkip > 0) {
            // Its transfer was completed already (SettleFinishedRead).
            --buffer->m_packetsToSkip;
            buffer->NoteIfFree();
            if (m_idleWaiters.load() > 0)
                ::SetEvent(m_ioEvent.get());
            return;
        }
        writeAgain = CompleteTransferLocked(buffer, bytes, error);
    }
    if (writeAgain != 0)
        IssueWrite(buffer, writeAgain);
}

bool SequentialFile::SettleFinishedRead(FileBuffer* buffer)
{
    if (!buffer->m_inFlight || !buffer->m_issued || buffer->m_operation == BufferOperation::Write ||
        buffer->m_issuer != ::GetCurrentThreadId() || !HasOverlappedIoCompleted(&buffer->m_overlapped))
        return false;
    DWORD bytes = 0;
    DWORD error = 0;
    if (!::GetOverlappedResult(m_handle.get(), &buffer->m_overlapped, &bytes, FALSE))
        error = ::GetLastError();
    if (error == ERROR_IO_INCOMPLETE)
        return false;
    ++buffer->m_packetsToSkip;
    CompleteTransferLocked(buffer, bytes, error);  // a read: never written again
    return true;
}

void SequentialFile::CompleteTransfer(FileBuffer* buffer, DWORD bytes, DWORD error)
{
    std::uint32_t writeAgain = 0;
    {
        Guard state(BufferStateLock());
        writeAgain = CompleteTransferLocked(buffer, bytes, error);
    }
    if (writeAgain != 0)
        IssueWrite(buffer, writeAgain);
}

std::uint32_t SequentialFile::CompleteTransferLocked(FileBuffer* buffer, DWORD bytes, DWORD error)
{
    std::uint32_t writeAgain = 0;
    if (buffer->m_inFlight) {
        const bool isWrite = buffer->m_operation == BufferOperation::Write;
        // A write that lands short means the drive is full.
        if (isWrite && error == 0 && bytes < m_blocks.BlockSize())
            error = ERROR_DISK_FULL;
        buffer->m_error = error;
        buffer->m_inFlight = false;
        if (error != 0) {
            buffer->m_state = BufferState::Failed;
            if (!isWrite)
                buffer->m_validBytes = 0;
        } else {
            // A write leaves what the block holds as it was: a partly filled
            // last block keeps its end, and its unwritten rest stays unread.
            if (!isWrite)
                buffer->m_validBytes = bytes;
            buffer->m_state = BufferState::Valid;
        }
        if (buffer->m_operation == BufferOperation::ReadAhead)
            buffer->Release();
        if (isWrite) {
            if (error != 0) {
                DWORD none = 0;
                m_lastError.compare_exchange_strong(none, error);
                // The file writes nothing more, and Close would give the
                // change up: kept dirty, the buffer would be lost to the pool
                // and a writer waiting there for it would wait for ever.
                buffer->m_dirty = DirtyState::Clean;
            } else if (buffer->m_dirty == DirtyState::DirtiedInFlight) {
                buffer->m_dirty = DirtyState::Dirty;
                if (!m_discarding) {
                    // Marked in flight before the lock goes, so that nobody
                    // sees this file idle before the second write is issued.
                    buffer->m_overlapped.InternalHigh = 0;
                    buffer->m_overlapped.hEvent = nullptr;
                    buffer->m_inFlight = true;
                    writeAgain = PrepareIssue(buffer);
                    ++m_rewrites;
                }
            } else {
                buffer->SetDirty(DirtyState::Clean);
            }
        } else if (buffer->m_privateEvent) {
            ::SetEvent(buffer->m_privateEvent.get());
        }
        buffer->NoteIfFree();
    }
    if (m_idleWaiters.load() > 0)
        ::SetEvent(m_ioEvent.get());
    return writeAgain;
}

void SequentialFile::CompletionCallback(DWORD error, DWORD bytes, ULONG_PTR key, OVERLAPPED* overlapped)
{
    if (key == 0)
        return;
    reinterpret_cast<SequentialFile*>(key)->ProcessIOCompletion(FileBuffer::FromOverlapped(overlapped), bytes, error);
}

SequentialFile::TransferCounts SequentialFile::GetTransferCounts() const noexcept
{
    TransferCounts counts;
    counts.demandReads = m_demandReads.load();
    counts.readAheads = m_readAheads.load();
    counts.writes = m_writes.load();
    counts.rewrites = m_rewrites.load();
    return counts;
}
