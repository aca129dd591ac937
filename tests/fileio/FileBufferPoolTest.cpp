// Pools of our own size, the worker thread and the completion-port thread.
#include "fileio/FileBufferPool.h"
#include "fileio/WorkerThread.h"


#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

constexpr std::uint32_t kBlock = 65536;

FileBufferManager* Owner(int n)
{
    return reinterpret_cast<FileBufferManager*>(static_cast<std::uintptr_t>(0x1000 * n));
}

}  // namespace

TEST(FileBufferPool, HandsOutPageAlignedBuffersInLeastRecentlyHandedOutOrder)
{
    FileBufferPool pool(3, kBlock);
    EXPECT_EQ(3u, pool.BufferCount());
    EXPECT_EQ(kBlock, pool.BlockSize());
    FileBuffer* a = pool.AllocateBuffer(7, Owner(1));
    FileBuffer* b = pool.AllocateBuffer(8, Owner(1));
    FileBuffer* c = pool.AllocateBuffer(9, Owner(2));
    for (FileBuffer* buffer : {a, b, c}) {
        EXPECT_EQ(0u, reinterpret_cast<std::uintptr_t>(buffer->Memory()) % 4096);
        EXPECT_EQ(1u, buffer->m_holdCount);
        EXPECT_EQ(static_cast<void*>(buffer), static_cast<void*>(&buffer->m_overlapped));
        std::memset(buffer->Memory(), 0x5A, kBlock);  // committed read-write memory
    }
    EXPECT_EQ(7, a->m_block);
    EXPECT_EQ(Owner(2), c->m_owner);

    // Released in another order: the oldest hand-out goes first all the same.
    c->Release();
    a->Release();
    b->Release();
    EXPECT_EQ(a, pool.AllocateBuffer(1, Owner(3)));
    EXPECT_EQ(b, pool.AllocateBuffer(2, Owner(3)));
    // A free buffer keeps its contents, its owner and block until handed out.
    EXPECT_EQ(Owner(2), c->m_owner);
    EXPECT_EQ(9, c->m_block);
    EXPECT_EQ(0x5A, c->Memory()[kBlock - 1]);
    c->Hold();  // taken back by its old owner
    {
        std::lock_guard<CriticalSection> state(BufferStateLock());
        c->m_privateEvent.reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
        c->m_validBytes = 100;
    }
    c->Release();
    EXPECT_FALSE(c->m_privateEvent.valid()) << "the last release closes the private event";
    EXPECT_EQ(c, pool.AllocateBuffer(3, Owner(3)));
    EXPECT_EQ(0u, c->m_validBytes) << "reset when handed out";
}

TEST(FileBufferPool, AnAllocationWaitsUntilABufferIsReleasedClean)
{
    FileBufferPool pool(2, kBlock);
    FileBuffer* a = pool.AllocateBuffer(0, Owner(1));
    FileBuffer* b = pool.AllocateBuffer(1, Owner(1));

    std::atomic<bool> done{false};
    auto waiter = std::async(std::launch::async, [&] {
        FileBuffer* got = pool.AllocateBuffer(2, Owner(2));
        done = true;
        return got;
    });
    std::this_thread::sleep_for(150ms);
    EXPECT_FALSE(done) << "every buffer is held";

    // Released while dirty: not free, no wake-up.
    b->SetDirty(DirtyState::Dirty);
    b->Release();
    std::this_thread::sleep_for(150ms);
    EXPECT_FALSE(done) << "a dirty buffer is not free";

    // Its write completes: now it is.
    b->SetDirty(DirtyState::Clean);
    ASSERT_EQ(std::future_status::ready, waiter.wait_for(10s));
    EXPECT_EQ(b, waiter.get());
    EXPECT_EQ(2, b->m_block);
    EXPECT_GE(pool.WaitCount(), 1u);
    a->Release();
}

namespace {

class CountingThread : public WorkerThread {
public:
    ~CountingThread() override { Stop(); }
    std::atomic<int> loops{0};

protected:
    void ThreadProc() override
    {
        while (!IsStopRequested()) {
            ++loops;
            std::this_thread::sleep_for(1ms);
        }
    }
};

}  // namespace

TEST(WorkerThread, StartsStopsAndRestarts)
{
    CountingThread thread;
    thread.Stop();  // nothing to stop
    EXPECT_FALSE(thread.IsRunning());
    ASSERT_TRUE(thread.Start());
    while (thread.loops < 3)
        std::this_thread::sleep_for(1ms);
    EXPECT_TRUE(thread.IsRunning());
    EXPECT_FALSE(thread.IsStopRequested());
    EXPECT_TRUE(thread.StartIfStopped()) << "running already";
    thread.Stop();
    EXPECT_FALSE(thread.IsRunning());
    EXPECT_TRUE(thread.IsStopRequested());
    const int loops = thread.loops;
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(loops, thread.loops.load()) << "the thread has ended";

    ASSERT_TRUE(thread.Start());  // a stopped thread starts again
    EXPECT_FALSE(thread.IsStopRequested());
    while (thread.loops == loops)
        std::this_thread::sleep_for(1ms);
    ASSERT_TRUE(thread.Start());  // and a running one is replaced
    EXPECT_TRUE(thread.IsRunning());
}

namespace {

struct Packet {
    DWORD error;
    DWORD bytes;
    ULONG_PTR key;
    OVERLAPPED* overlapped;
};
std::mutex g_packetsLock;
std::vector<Packet> g_packets;

void Collect(DWORD error, DWORD bytes, ULONG_PTR key, OVERLAPPED* overlapped)
{
    std::lock_guard<std::mutex> lock(g_packetsLock);
    g_packets.push_back({error, bytes, key, overlapped});
    if (bytes == 99)
        throw std::runtime_error("the loop must survive this");
}

std::size_t PacketCount()
{
    std::lock_guard<std::mutex> lock(g_packetsLock);
    return g_packets.size();
}

}  // namespace

TEST(CompletionPortThread, HandsEveryPacketToTheCallbackAndSurvivesItsExceptions)
{
    g_packets.clear();
    CompletionPortThread thread(&Collect);
    ASSERT_NE(nullptr, thread.Port());
    ASSERT_TRUE(thread.Start());
    OVERLAPPED marker{};
    ::PostQueuedCompletionStatus(thread.Port(), 99, 5, &marker);
    ::PostQueuedCompletionStatus(thread.Port(), 12, 6, &marker);
    for (int i = 0; i < 1000 && PacketCount() < 2; ++i)
        std::this_thread::sleep_for(5ms);
    ASSERT_EQ(2u, PacketCount());
    EXPECT_EQ(99u, g_packets[0].bytes);
    EXPECT_EQ(6u, g_packets[1].key);
    EXPECT_EQ(&marker, g_packets[1].overlapped);
    EXPECT_EQ(0u, g_packets[1].error);
    thread.Stop();
    EXPECT_FALSE(thread.IsRunning());
}
