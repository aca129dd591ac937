// The block table and the pools without files, in states that transfers reach only by chance; the worker thread.
#include "fileio/WorkerThread.h"
#include "tests/fileio/FileIoTest.h"

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <thread>
#include <tuple>

using namespace std::chrono_literals;
using fileiotest::kBlock;

TEST(FileBufferManager, AFreedBlockIsFoundAgainUntilAnotherOwnerTakesItsBufferAndPendingTransfersAnswer)
{
    FileBufferPool readPool{4, kBlock};
    FileBufferPool writePool{2, kBlock};
    FileBufferManager blocks{readPool, writePool};
    std::uint64_t offset = 0;
    auto Slot = [&](std::int32_t block) { return blocks.GetBufferByIndex(block, offset); };
    auto Mark = [&](std::int32_t block, bool inFlight, BufferOperation operation, DWORD error = 0) {
        std::lock_guard<CriticalSection> state(BufferStateLock());
        Slot(block)->m_error = error;
        Slot(block)->m_inFlight = inFlight;
        Slot(block)->m_operation = operation;
    };
    blocks.SetFileLength(3 * kBlock);
    blocks.AllocateRange(0, 0, false);
    FileBuffer* first = Slot(0);
    blocks.CopyIn("x", 0, 1);
    blocks.DiscardDirty();  // as after its write completed
    blocks.ReleaseRange(0, 0);
    EXPECT_TRUE(blocks.IsMyBuffer(0) && blocks.BufferRangeValid(0, 0)) << "free, but still ours and valid";

    // Another table takes every buffer of the read pool and fills it: our slot goes stale.
    FileBufferManager other(readPool, writePool);
    other.SetFileLength(4 * kBlock);
    other.AllocateRange(0, 3, false);
    const std::string full(4 * kBlock, 'o');
    other.CopyIn(full.data(), 0, 4 * kBlock);
    other.DiscardDirty();
    EXPECT_FALSE(first != Slot(0) || blocks.IsMyBuffer(0) || blocks.BufferRangeValid(0, 0)) << "stale";
    EXPECT_NO_THROW(blocks.ReleaseRange(0, 0)) << "a stale slot is not ours to release";
    EXPECT_EQ(1u, first->m_holdCount);

    other.ReleaseRange(0, 3);
    blocks.AllocateRange(0, 2, false);
    EXPECT_FALSE(blocks.BufferRangeValid(0, 0)) << "a new buffer must be read first";
    std::string out(101, 'x');
    blocks.CopyIn("b", kBlock + 100, 1);
    EXPECT_EQ(std::string(100, '\0') + "b", out.substr(0, blocks.CopyOut(out.data(), kBlock, 101))) << "not 'o's";

    // A failed read stands against a copy that leaves some of the block, unless it was past the end.
    const struct { DWORD error; std::uint64_t at; std::uint32_t count, code, valid1, valid2; } copies[] = {
        {ERROR_CRC, 2 * kBlock - 1, 2, kAppErrorRead, 101, 0}, {ERROR_CRC, 2 * kBlock, kBlock, 0, 101, kBlock},
        {ERROR_HANDLE_EOF, 2 * kBlock - 1, 2, 0, kBlock, kBlock}};
    for (const auto& c : copies) {
        Mark(2, false, BufferOperation::DemandRead, c.error);  // its read failed
        const auto copy = [&] { blocks.CopyIn(full.data(), c.at, c.count); };
        const AppException e = c.code != 0 ? fileiotest::CatchApp(copy) : (copy(), AppException("", 0, 0));
        const DWORD left = c.code != 0 ? c.error : 0;  // a refusal leaves the buffer as it was
        EXPECT_EQ(std::tuple(c.code, left, left, left == 0, left == 0, c.valid1, c.valid2),
                  std::tuple(e.AppCode(), e.SysError(), Slot(2)->m_error, Slot(2)->IsDirty(),
                             Slot(2)->m_state == BufferState::Valid, Slot(1)->m_validBytes, Slot(2)->m_validBytes))
            << c.error << " " << c.count;
    }

    // Transfers pending: the first one in the range answers, by its kind (mode 0 reads, 1 writes, 2 either).
    EXPECT_FALSE(blocks.IsAnyIOPending());
    Mark(1, true, BufferOperation::Write);
    Mark(2, true, BufferOperation::ReadAhead);
    const struct { std::int32_t first, last; int mode; bool pending; } ranges[] = {
        {0, 2, 0, false}, {0, 2, 1, true}, {0, 2, 2, true}, {2, 2, 0, true},
        {2, 2, 1, false}, {0, 0, 2, false}, {1, 0, 2, false}};
    for (const auto& r : ranges)
        EXPECT_EQ(r.pending, blocks.IsIOPendingForRange(r.first, r.last, r.mode)) << r.first << r.last << r.mode;
    EXPECT_TRUE(blocks.IsReadPendingInRange(0, 2) && blocks.IsAnyIOPending()) << "a read behind the write";
    EXPECT_FALSE(blocks.IsReadPendingInRange(0, 1));
    Mark(1, false, BufferOperation::Write);
    Mark(2, false, BufferOperation::ReadAhead);
    blocks.ReleaseRange(0, 2);
}

TEST(FileBufferPool, HandsOutTheLeastRecentlyHandedOutBufferAndWaitsForACleanOne)
{
    FileBufferPool pool(2, kBlock);
    FileBufferManager* const owner = nullptr;
    FileBuffer* a = pool.AllocateBuffer(7, owner);
    FileBuffer* b = pool.AllocateBuffer(8, owner);
    EXPECT_EQ(0u, reinterpret_cast<std::uintptr_t>(a->Memory()) % 4096);
    b->Release();
    a->Release();
    EXPECT_EQ(a, pool.AllocateBuffer(1, owner)) << "released last, handed out first";
    EXPECT_EQ(b, pool.AllocateBuffer(2, owner));
    a->Hold();  // taken back by its owner: two releases free it

    std::atomic<bool> done{false};
    auto waiter = std::async(std::launch::async, [&] {
        FileBuffer* got = pool.AllocateBuffer(3, owner);
        done = true;
        return got;
    });
    // Released while dirty or still held: not free, no wake-up.
    b->SetDirty(DirtyState::Dirty);
    b->Release();
    a->Release();
    std::this_thread::sleep_for(150ms);
    EXPECT_FALSE(done) << "every buffer is held or dirty";
    b->SetDirty(DirtyState::Clean);  // its write completes
    ASSERT_EQ(std::future_status::ready, waiter.wait_for(10s));
    EXPECT_EQ(b, waiter.get());
    EXPECT_EQ(0u, b->m_validBytes) << "reset when handed out";
    EXPECT_GE(pool.WaitCount(), 1u);
    a->Release();
}

namespace {

struct CountingThread : WorkerThread {
    using WorkerThread::WorkerThread;
    ~CountingThread() override { Stop(); }
    void ThreadProc() override
    {
        for (; !IsStopRequested(); ++loops)
            std::this_thread::sleep_for(1ms);
    }
    std::atomic<int> loops{0};
};

}  // namespace

TEST(WorkerThread, StartsStopsAndRestartsInEveryApartmentMode)
{
    for (int comMode : {0, 1, 2}) {
        CountingThread thread(comMode);
        thread.Stop();  // nothing to stop
        ASSERT_TRUE(thread.Start());
        while (thread.loops < 3)
            std::this_thread::sleep_for(1ms);
        EXPECT_TRUE(thread.StartIfStopped()) << "running already";
        thread.Stop();
        const int loops = thread.loops;
        std::this_thread::sleep_for(20ms);
        EXPECT_FALSE(thread.IsRunning() || loops != thread.loops) << "the thread has ended";
        ASSERT_TRUE(thread.Start() && thread.Start()) << "a stopped thread starts again, a running one is replaced";
        EXPECT_TRUE(thread.IsRunning() && !thread.IsStopRequested());
    }
}
