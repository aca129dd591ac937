// The block table on pools of our own, without files.
#include "fileio/AppException.h"
#include "fileio/FileBufferManager.h"
#include "tests/fileio/FileIoTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <vector>

namespace {

constexpr std::uint32_t kBlock = 65536;

template <typename Action>
std::string OutOfRangeText(Action&& action)
{
    try {
        action();
    } catch (const std::out_of_range& e) {
        return e.what();
    }
    return "no std::out_of_range";
}

class BlockTable : public ::testing::Test {
protected:
    FileBufferPool readPool{4, kBlock};
    FileBufferPool writePool{2, kBlock};
    FileBufferManager blocks{readPool, writePool};

    FileBuffer* Slot(std::int32_t block)
    {
        std::uint64_t offset = 0;
        return blocks.GetBufferByIndex(block, offset);
    }
    void Mark(std::int32_t block, bool inFlight, BufferOperation operation)
    {
        std::lock_guard<CriticalSection> state(BufferStateLock());
        Slot(block)->m_inFlight = inFlight;
        Slot(block)->m_operation = operation;
    }
};

}  // namespace

TEST_F(BlockTable, SizesItsTableAndComputesBlockRanges)
{
    blocks.SetFileLength(3 * kBlock);
    EXPECT_EQ(3, blocks.BlockCount());
    blocks.SetFileLength(3 * kBlock + 1);
    EXPECT_EQ(4, blocks.BlockCount());
    std::int32_t first = 0;
    std::int32_t last = 0;
    blocks.ComputeBlockRange(kBlock - 1, 2, first, last);
    EXPECT_EQ(0, first);
    EXPECT_EQ(1, last);
    blocks.ComputeBlockRange(kBlock, kBlock, first, last);
    EXPECT_EQ(1, first);
    EXPECT_EQ(1, last);
}

TEST_F(BlockTable, RangeChecksHaveTheirTexts)
{
    blocks.SetFileLength(2 * kBlock);
    EXPECT_EQ("AllocateRange():  Index out of range.\n", OutOfRangeText([&] { blocks.AllocateRange(-1, 0, false); }));
    EXPECT_EQ("AllocateRange():  Index out of range.\n", OutOfRangeText([&] { blocks.AllocateRange(1, 0, false); }));
    EXPECT_EQ("ReleaseRange():  Index out of range.\n", OutOfRangeText([&] { blocks.ReleaseRange(0, 2); }));
    EXPECT_EQ("ReleaseRange():  Index out of range.\n", OutOfRangeText([&] { blocks.ReleaseRange(1, 0); }));
    EXPECT_EQ("BufferRangeValid():  Index out of range.\n", OutOfRangeText([&] { blocks.BufferRangeValid(0, 2); }));
    EXPECT_EQ("IsIOPendingForRange():  Index out of range.\n",
              OutOfRangeText([&] { blocks.IsIOPendingForRange(-1, 1, 2); }));
    EXPECT_FALSE(blocks.IsIOPendingForRange(1, 0, 2)) << "an empty range has nothing pending";
    EXPECT_EQ("IsMyBuffer():  Index out of range.", OutOfRangeText([&] { blocks.IsMyBuffer(2); }));
    EXPECT_EQ("GetBufferByIndex():  Index out of range.\n", OutOfRangeText([&] {
                  std::uint64_t offset = 0;
                  blocks.GetBufferByIndex(-1, offset);
              }));
    try {
        blocks.CopyIn(nullptr, 0, 1);
        ADD_FAILURE();
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ("CopyIn():  Invalid input buffer.\n", e.what());
    }
    try {
        blocks.CopyOut(nullptr, 0, 1);
        ADD_FAILURE();
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ("CopyOut():  Invalid output buffer.\n", e.what());
    }
    // More blocks than the pool has could never be held at once.
    EXPECT_THROW(blocks.AllocateRange(0, 2, true), std::range_error);
    EXPECT_FALSE(blocks.IsMyBuffer(0)) << "a refused range holds nothing";
}

TEST_F(BlockTable, AllocatingPastTheEndGrowsTheTableAndHoldsEveryBlock)
{
    blocks.SetFileLength(1);
    blocks.AllocateRange(0, 2, false);
    EXPECT_EQ(3, blocks.BlockCount());
    for (std::int32_t block = 0; block <= 2; ++block) {
        ASSERT_TRUE(blocks.IsMyBuffer(block));
        EXPECT_EQ(1u, Slot(block)->m_holdCount);
        EXPECT_EQ(block, Slot(block)->m_block);
    }
    // Owned blocks are held again, not allocated again.
    blocks.AllocateRange(1, 2, true);
    EXPECT_EQ(2u, Slot(1)->m_holdCount);
    blocks.ReleaseRange(0, 2);
    blocks.ReleaseRange(1, 2);
    for (std::int32_t block = 0; block <= 2; ++block)
        EXPECT_EQ(0u, Slot(block)->m_holdCount);
    // The write pool supplies blocks reserved for writing.
    blocks.AllocateRange(3, 3, true);
    FileBuffer* written = Slot(3);
    blocks.ReleaseRange(3, 3);
    FileBufferPool* owningPool = written->m_pool;
    EXPECT_EQ(&writePool, owningPool);
}

TEST_F(BlockTable, CopyInReportsTheBlocksItFilledAndMarksThemDirty)
{
    blocks.SetFileLength(4 * kBlock);
    const std::vector<char> data = fileiotest::Pattern(3 * kBlock, 1);

    blocks.AllocateRange(1, 1, true);
    auto filled = blocks.CopyIn(data.data(), kBlock, kBlock - 1);
    EXPECT_EQ(-1, filled.first);
    EXPECT_EQ(-1, filled.second);
    EXPECT_EQ(kBlock - 1, Slot(1)->m_validBytes);
    filled = blocks.CopyIn(data.data(), kBlock, kBlock);
    EXPECT_EQ(1, filled.first);
    EXPECT_EQ(1, filled.second);
    EXPECT_EQ(DirtyState::Dirty, Slot(1)->m_dirty);
    EXPECT_EQ(BufferState::Valid, Slot(1)->m_state);
    blocks.ReleaseRange(1, 1);
    blocks.DiscardDirty();

    // From the middle of block 0 to the middle of block 2: blocks 0 and 1 are
    // filled up to their last byte, block 2 is not.
    blocks.AllocateRange(0, 1, false);
    blocks.AllocateRange(2, 2, true);
    filled = blocks.CopyIn(data.data(), 100, 2 * kBlock);
    EXPECT_EQ(0, filled.first);
    EXPECT_EQ(1, filled.second);
    EXPECT_EQ(kBlock, Slot(0)->m_validBytes);
    EXPECT_EQ(100u, Slot(2)->m_validBytes);
    EXPECT_EQ(0, std::memcmp(Slot(0)->Memory() + 100, data.data(), kBlock - 100));
    EXPECT_EQ(0, std::memcmp(Slot(2)->Memory(), data.data() + 2 * kBlock - 100, 100));

    // A block with its write in flight is dirtied again.
    Mark(0, true, BufferOperation::Write);
    blocks.CopyIn(data.data(), 0, 1);
    EXPECT_EQ(DirtyState::DirtiedInFlight, Slot(0)->m_dirty);
    Mark(0, false, BufferOperation::Write);

    std::vector<std::int32_t> dirty;
    EXPECT_TRUE(blocks.CollectDirtyBlocks(dirty));
    EXPECT_EQ((std::vector<std::int32_t>{0, 1, 2}), dirty);
    Mark(1, true, BufferOperation::Write);
    blocks.CollectDirtyBlocks(dirty);
    EXPECT_EQ((std::vector<std::int32_t>{0, 2}), dirty) << "not a block whose write is in flight";
    Mark(1, false, BufferOperation::Write);
    blocks.ReleaseRange(0, 2);
    blocks.DiscardDirty();
    EXPECT_FALSE(blocks.CollectDirtyBlocks(dirty));
    EXPECT_TRUE(dirty.empty());
}

TEST_F(BlockTable, CopyOutStopsAtTheValidBytesAndReportsAFailedRead)
{
    blocks.SetFileLength(2 * kBlock);
    const std::vector<char> data = fileiotest::Pattern(kBlock + 50, 2);
    blocks.AllocateRange(0, 1, true);
    blocks.CopyIn(data.data(), 0, kBlock + 50);
    std::vector<char> out(2 * kBlock, '\0');
    EXPECT_EQ(kBlock + 50, blocks.CopyOut(out.data(), 0, 2 * kBlock));
    EXPECT_EQ(0, std::memcmp(out.data(), data.data(), kBlock + 50));
    EXPECT_EQ(10u, blocks.CopyOut(out.data(), kBlock + 40, 100));
    EXPECT_EQ(0u, blocks.CopyOut(out.data(), kBlock + 60, 5)) << "past the valid bytes";

    {
        std::lock_guard<CriticalSection> state(BufferStateLock());
        Slot(1)->m_error = ERROR_CRC;
    }
    const AppException e = fileiotest::CatchApp([&] { blocks.CopyOut(out.data(), kBlock - 10, 20); });
    EXPECT_STREQ("CopyOut() error.", e.Message());
    EXPECT_EQ(kAppErrorRead, e.AppCode());
    EXPECT_EQ(static_cast<std::uint32_t>(ERROR_CRC), e.SysError());
    EXPECT_EQ(" FILE: FileBufferManager.cpp LINE: ", e.Location().substr(0, 35));
    blocks.ReleaseRange(0, 1);
    blocks.DiscardDirty();
}

TEST_F(BlockTable, AFreedBlockIsFoundAgainUntilAnotherOwnerTakesItsBuffer)
{
    blocks.SetFileLength(kBlock);
    blocks.AllocateRange(0, 0, false);
    FileBuffer* first = Slot(0);
    blocks.CopyIn("x", 0, 1);
    blocks.DiscardDirty();  // as after its write completed
    blocks.ReleaseRange(0, 0);
    EXPECT_TRUE(blocks.IsMyBuffer(0)) << "free, but still ours";
    EXPECT_TRUE(blocks.BufferRangeValid(0, 0)) << "no new read needed";
    blocks.AllocateRange(0, 0, false);
    EXPECT_EQ(first, Slot(0));
    blocks.ReleaseRange(0, 0);

    // Another table takes every buffer of the read pool: our slot goes stale.
    FileBufferManager other(readPool, writePool);
    other.SetFileLength(4 * kBlock);
    other.AllocateRange(0, 3, false);
    EXPECT_EQ(first, Slot(0)) << "the slot still points at it";
    EXPECT_FALSE(blocks.IsMyBuffer(0));
    EXPECT_FALSE(blocks.BufferRangeValid(0, 0));
    EXPECT_NO_THROW(blocks.ReleaseRange(0, 0)) << "a stale slot is not ours to release";
    EXPECT_EQ(1u, first->m_holdCount);
    other.ReleaseRange(0, 3);

    blocks.AllocateRange(0, 0, false);
    EXPECT_TRUE(blocks.IsMyBuffer(0));
    EXPECT_FALSE(blocks.BufferRangeValid(0, 0)) << "a new buffer must be read first";
    blocks.ReleaseRange(0, 0);
}

TEST_F(BlockTable, PendingTransfersAreAnsweredByTheFirstOneInTheRange)
{
    blocks.SetFileLength(3 * kBlock);
    blocks.AllocateRange(0, 2, false);
    EXPECT_FALSE(blocks.IsAnyIOPending());
    EXPECT_FALSE(blocks.IsIOPendingForRange(0, 2, 2));

    Mark(1, true, BufferOperation::Write);
    Mark(2, true, BufferOperation::ReadAhead);
    EXPECT_FALSE(blocks.IsIOPendingForRange(0, 2, 0)) << "the first is a write";
    EXPECT_TRUE(blocks.IsIOPendingForRange(0, 2, 1));
    EXPECT_TRUE(blocks.IsIOPendingForRange(0, 2, 2));
    EXPECT_TRUE(blocks.IsIOPendingForRange(2, 2, 0));
    EXPECT_FALSE(blocks.IsIOPendingForRange(2, 2, 1));
    EXPECT_TRUE(blocks.IsReadPendingInRange(0, 2)) << "a read behind the write";
    EXPECT_FALSE(blocks.IsReadPendingInRange(0, 1));
    EXPECT_TRUE(blocks.IsAnyIOPending());

    Mark(1, false, BufferOperation::Write);
    Mark(2, true, BufferOperation::DemandRead);
    EXPECT_TRUE(blocks.IsIOPendingForRange(0, 2, 0));
    Mark(2, false, BufferOperation::DemandRead);
    EXPECT_FALSE(blocks.IsAnyIOPending());
    blocks.ReleaseRange(0, 2);
}
