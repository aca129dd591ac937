// SequentialFile on files of C:, through the process's own pools or small ones.
#include "fileio/FileIoGlobals.h"
#include "fileio/SequentialFile.h"
#include "tests/fileio/FileIoTestSupport.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

using fileiotest::AppText;
using fileiotest::CatchApp;
using fileiotest::Described;
using fileiotest::Pattern;
using fileiotest::ReadWholeFile;
using fileiotest::WriteWholeFile;

namespace {

constexpr std::uint32_t kBlock = 65536;
const DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;

class SequentialFileTest : public ::testing::Test {
protected:
    // A file of the given length with known contents.
    std::string MakeFile(const std::string& name, std::size_t length, unsigned seed = 1)
    {
        const std::string path = dir / name;
        contents = Pattern(length, seed);
        EXPECT_TRUE(WriteWholeFile(path, contents));
        return path;
    }

    testfiles::ScratchDir dir;
    std::vector<char> contents;
};

}  // namespace

TEST_F(SequentialFileTest, OpenRefusesMissingEmptyAndOverlongPaths)
{
    SequentialFile file;
    EXPECT_FALSE(file.IsOpen());
    EXPECT_FALSE(file.Open(dir / "missing.dat", OPEN_EXISTING, kReadWrite, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), ::GetLastError());
    EXPECT_FALSE(file.IsOpen());

    ASSERT_TRUE(WriteWholeFile(dir / "empty.dat", {}));
    EXPECT_FALSE(file.Open(dir / "empty.dat", OPEN_EXISTING, kReadWrite, 0));
    EXPECT_FALSE(file.IsOpen());
    EXPECT_TRUE(::DeleteFileA((dir / "empty.dat").c_str())) << "its handle was closed";

    EXPECT_FALSE(file.Open("", OPEN_EXISTING, kReadWrite, 0));
    // 261 characters are refused before the platform is asked; 260 are tried.
    std::string path = dir.path() + "\\";
    path += std::string(261 - path.size(), 'n');
    ::SetLastError(12345);
    EXPECT_FALSE(file.Open(path, OPEN_EXISTING, kReadWrite, 0));
    EXPECT_EQ(12345u, ::GetLastError());
    path.pop_back();
    EXPECT_FALSE(file.Open(path, OPEN_EXISTING, kReadWrite, 0));
    EXPECT_NE(12345u, ::GetLastError());

    // Opening again closes the first file.
    const std::string one = MakeFile("one.dat", 10);
    ASSERT_TRUE(file.Open(one, OPEN_EXISTING, GENERIC_READ, 0));
    EXPECT_EQ(10u, file.Size());
    const std::string two = MakeFile("two.dat", 3 * kBlock + 7);
    ASSERT_TRUE(file.Open(two, OPEN_ALWAYS, kReadWrite, 0));
    EXPECT_EQ(two, file.Name());
    EXPECT_EQ(4, file.Blocks().BlockCount());
    EXPECT_TRUE(::DeleteFileA(one.c_str())) << "the first file was closed";
}

TEST_F(SequentialFileTest, ReadAndWriteOnAClosedFileThrowWithTheirTexts)
{
    SequentialFile file;
    FilePosition pos(file);
    char byte = 0;
    AppException e = CatchApp([&] { file.Read(pos, &byte, 1); });
    EXPECT_EQ(kAppErrorRead, e.AppCode());
    EXPECT_EQ(0u, e.SysError());
    EXPECT_EQ("App Error 0xc00403fa: " + AppText(kAppErrorRead) +
                  "  FILE: SequentialFile.cpp LINE: # - Read() when file not open",
              Described(e));
    e = CatchApp([&] { file.Write(pos, &byte, 1); });
    EXPECT_EQ("App Error 0xc00403f5: " + AppText(kAppErrorWrite) +
                  "  FILE: SequentialFile.cpp LINE: # - Write() when file not open ().",
              Described(e));

    // After Close the name stays for the message.
    const std::string path = MakeFile("closed.dat", 100);
    ASSERT_TRUE(file.Open(path, OPEN_EXISTING, kReadWrite, 0));
    file.Close();
    EXPECT_FALSE(file.IsOpen());
    e = CatchApp([&] { file.Write(pos, &byte, 1); });
    EXPECT_STREQ(("Write() when file not open (" + path + ").").c_str(), e.Message());
    e = CatchApp([&] { file.Read(pos, &byte, 1); });
    EXPECT_STREQ("Read() when file not open", e.Message());
    file.Close();  // closing twice does nothing
    file.Abort();
}

TEST_F(SequentialFileTest, ReadsReturnTheFileAndStopAtItsEnd)
{
    const std::string path = MakeFile("tail.dat", 3 * kBlock + 1000);
    SequentialFile file;
    ASSERT_TRUE(file.Open(path, OPEN_EXISTING, GENERIC_READ, FILE_SHARE_READ));
    FilePosition pos(file);
    std::vector<char> out(5 * kBlock);

    // Across block boundaries.
    pos.Seek(kBlock - 3, 0);
    ASSERT_EQ(2 * kBlock, file.Read(pos, out.data(), 2 * kBlock));
    EXPECT_EQ(0, std::memcmp(out.data(), contents.data() + kBlock - 3, 2 * kBlock));
    EXPECT_EQ(3u * kBlock - 3, pos.Offset());

    // Starting in the last block and asking for more than remains.
    pos.Seek(3 * kBlock + 10, 0);
    EXPECT_EQ(990u, file.Read(pos, out.data(), 2000));
    EXPECT_EQ(0, std::memcmp(out.data(), contents.data() + 3 * kBlock + 10, 990));
    EXPECT_EQ(file.Size(), pos.Offset());
    EXPECT_EQ(0u, file.Read(pos, out.data(), 10)) << "at the end";

    // One read waits for at most 64 block loads.
    const std::string big = MakeFile("big.dat", 70 * kBlock, 4);
    SequentialFile third;
    ASSERT_TRUE(third.Open(big, OPEN_EXISTING, GENERIC_READ, FILE_SHARE_READ));
    FilePosition start(third);
    std::vector<char> large(65 * kBlock);
    try {
        third.Read(start, large.data(), 65 * kBlock);
        ADD_FAILURE();
    } catch (const std::range_error& e) {
        EXPECT_STREQ("LoadRangeNow(): Maximum number of blocks exceeded.", e.what());
    }
    EXPECT_EQ(0u, start.Offset());
    EXPECT_EQ(64 * kBlock, third.Read(start, large.data(), 64 * kBlock));
    EXPECT_EQ(0, std::memcmp(large.data(), contents.data(), 64 * kBlock));
}

TEST_F(SequentialFileTest, SeekStaysInsideTheFileAndOnlyOriginTwoReachesTheEnd)
{
    const std::string path = MakeFile("seek.dat", 1000);
    SequentialFile file;
    ASSERT_TRUE(file.Open(path, OPEN_EXISTING, kReadWrite, 0));
    FilePosition pos(file);
    EXPECT_EQ(999u, pos.Seek(999, 0));
    EXPECT_EQ(1000u, pos.Seek(0, 2));
    EXPECT_EQ(0u, pos.Seek(-1000, 2));
    EXPECT_EQ(10u, pos.Seek(10, 1));
    EXPECT_EQ(5u, pos.Seek(-5, 1));

    auto rejected = [&](std::int64_t offset, int origin, const char* text) {
        const std::uint64_t before = pos.Offset();
        try {
            pos.Seek(offset, origin);
            ADD_FAILURE() << offset << " from " << origin;
        } catch (const std::out_of_range& e) {
            EXPECT_STREQ(text, e.what());
        }
        EXPECT_EQ(before, pos.Offset());
    };
    rejected(1000, 0, "Seek(): Invalid move from begin.");
    rejected(-1, 0, "Seek(): Invalid move from begin.");
    rejected(995, 1, "Seek():  Invalid move from current.");
    rejected(-6, 1, "Seek():  Invalid move from current.");
    rejected(1, 2, "Seek():  Invalid move from end.");
    rejected(-1001, 2, "Seek():  Invalid move from end.");
    try {
        pos.Seek(0, 3);
        ADD_FAILURE();
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ("Seek():  Unknown seek from position.", e.what());
    }

    // Appending at the end raises the size; the block goes to disk whole.
    pos.Seek(0, 2);
    file.Write(pos, "tail", 4);
    EXPECT_EQ(1004u, file.Size());
    EXPECT_EQ(1004u, pos.Offset());
    EXPECT_EQ(1003u, pos.Seek(-1, 2));
    file.Close();
    const std::vector<char> disk = ReadWholeFile(path);
    ASSERT_EQ(kBlock, disk.size());
    EXPECT_EQ(0, std::memcmp(disk.data(), contents.data(), 1000));
    EXPECT_EQ(0, std::memcmp(disk.data() + 1000, "tail", 4));
}

TEST_F(SequentialFileTest, ASequentialReaderFindsTheNextBlocksReadAhead)
{
    const std::string path = MakeFile("ahead.dat", 10 * kBlock + 123);
    SequentialFile file;
    ASSERT_TRUE(file.Open(path, OPEN_EXISTING, GENERIC_READ, FILE_SHARE_READ, FILE_FLAG_NO_BUFFERING));
    FilePosition pos(file);
    std::vector<char> out(contents.size());
    for (std::uint32_t got = 0; got < contents.size();)
        got += file.Read(pos, out.data() + got, kBlock);
    EXPECT_EQ(contents, out);
    SequentialFile::TransferCounts counts = file.GetTransferCounts();
    EXPECT_EQ(1u, counts.demandReads) << "only the first block was not read ahead";
    EXPECT_EQ(10u, counts.readAheads);
    EXPECT_EQ(0u, counts.writes);

    // Blocks read before are found again without a transfer.
    pos.Seek(0, 0);
    EXPECT_EQ(100u, file.Read(pos, out.data(), 100));
    EXPECT_EQ(1u, file.GetTransferCounts().demandReads);
    EXPECT_EQ(10u, file.GetTransferCounts().readAheads);

    // Reading on at the end reaches the block past it, which has no data:
    // the read fails, each time it is asked for.
    pos.Seek(0, 2);
    for (int i = 0; i < 2; ++i) {
        const AppException e = CatchApp([&] { file.Read(pos, out.data(), kBlock); });
        EXPECT_EQ(static_cast<std::uint32_t>(ERROR_HANDLE_EOF), e.SysError()) << e.what();
    }
    EXPECT_EQ(file.Size(), pos.Offset());
}

TEST_F(SequentialFileTest, ALongSequentialReadLeavesThePoolFree)
{
    // Far more blocks than the read pool has: every buffer must come back
    // once read, whichever thread finished its transfer.
    const std::string path = MakeFile("long.dat", 1200 * kBlock + 5);
    FileBufferPool& pool = FileIoGlobals::Instance().ReadPool();
    for (DWORD flags : {DWORD(FILE_ATTRIBUTE_NORMAL), DWORD(FILE_FLAG_NO_BUFFERING)}) {
        SequentialFile file;
        ASSERT_TRUE(file.Open(path, OPEN_EXISTING, GENERIC_READ, FILE_SHARE_READ, flags));
        FilePosition pos(file);
        std::vector<char> out(kBlock);
        std::uint64_t total = 0;
        for (std::uint32_t got; total < contents.size() && (got = file.Read(pos, out.data(), kBlock)) != 0;) {
            ASSERT_EQ(0, std::memcmp(out.data(), contents.data() + total, got)) << total;
            total += got;
        }
        EXPECT_EQ(contents.size(), total);
        EXPECT_GE(pool.FreeBufferCount(), 300u) << "buffers lost while reading";
        file.Close();
        EXPECT_EQ(320u, pool.FreeBufferCount());
    }
}

TEST_F(SequentialFileTest, FullBlocksAreWrittenAtOnceTheRestWhenClosed)
{
    const std::string path = MakeFile("behind.dat", 4 * kBlock);
    const std::vector<char> original = contents;
    const std::vector<char> data = Pattern(4 * kBlock, 9);
    SequentialFile file;
    ASSERT_TRUE(file.Open(path, OPEN_EXISTING, kReadWrite, 0, FILE_FLAG_NO_BUFFERING));
    FilePosition pos(file);

    // A fresh file loads block 0 before changing it, then writes it, full.
    file.Write(pos, data.data(), kBlock);
    SequentialFile::TransferCounts counts = file.GetTransferCounts();
    EXPECT_EQ(1u, counts.demandReads);
    EXPECT_EQ(1u, counts.writes);
    // Past what was written since Open: no load.
    file.Write(pos, data.data() + kBlock, kBlock);
    counts = file.GetTransferCounts();
    EXPECT_EQ(1u, counts.demandReads);
    EXPECT_EQ(2u, counts.writes);
    // A partial block waits for Close.
    file.Write(pos, data.data() + 2 * kBlock, 100);
    counts = file.GetTransferCounts();
    EXPECT_EQ(1u, counts.demandReads);
    EXPECT_EQ(2u, counts.writes);
    // Changing a block written before writes it again.
    pos.Seek(10, 0);
    file.Write(pos, "ab", 2);
    EXPECT_EQ(1u, file.GetTransferCounts().demandReads) << "block 0 is cached";
    file.Close();
    counts = file.GetTransferCounts();
    EXPECT_EQ(4u, counts.writes);

    std::vector<char> expected = original;
    std::memcpy(expected.data(), data.data(), 2 * kBlock + 100);
    std::memcpy(expected.data() + 10, "ab", 2);
    std::vector<char> disk = ReadWholeFile(path);
    ASSERT_EQ(expected.size(), disk.size());
    EXPECT_EQ(0, std::memcmp(expected.data(), disk.data(), 2 * kBlock + 100));
    EXPECT_EQ(0, std::memcmp(expected.data() + 3 * kBlock, disk.data() + 3 * kBlock, kBlock)) << "never touched";

    // Opened again: a block before what was written, not cached, is loaded
    // before it is changed, and keeps the rest of its contents.
    ASSERT_TRUE(file.Open(path, OPEN_EXISTING, kReadWrite, 0));
    pos.Seek(3 * kBlock, 0);
    file.Write(pos, "x", 1);
    pos.Seek(kBlock + 5, 0);
    file.Write(pos, "yz", 2);
    EXPECT_EQ(3u, file.GetTransferCounts().demandReads) << "one for each block, counted since construction";
    file.Close();
    std::memcpy(expected.data() + 3 * kBlock, "x", 1);
    std::memcpy(expected.data() + kBlock + 5, "yz", 2);
    disk = ReadWholeFile(path);
    EXPECT_EQ(0, std::memcmp(expected.data(), disk.data(), 2 * kBlock + 100));
    EXPECT_EQ(0, std::memcmp(expected.data() + 3 * kBlock, disk.data() + 3 * kBlock, kBlock));
}

TEST_F(SequentialFileTest, AbortWritesNothingBack)
{
    const std::string path = MakeFile("abort.dat", 3 * kBlock + 50);
    const std::vector<char> original = contents;
    const std::vector<char> data = Pattern(kBlock, 5);
    {
        SequentialFile file;
        ASSERT_TRUE(file.Open(path, OPEN_EXISTING, kReadWrite, 0));
        FilePosition pos(file);
        pos.Seek(100, 0);
        file.Write(pos, data.data(), 1000);
        pos.Seek(2 * kBlock + 5, 0);
        file.Write(pos, data.data(), 40);
        file.Abort();
        EXPECT_FALSE(file.IsOpen());
        EXPECT_EQ(0u, file.GetTransferCounts().writes);
    }
    EXPECT_EQ(original, ReadWholeFile(path));

    // The same changes reach the file when it is destroyed open.
    {
        SequentialFile file;
        ASSERT_TRUE(file.Open(path, OPEN_EXISTING, kReadWrite, 0));
        FilePosition pos(file);
        pos.Seek(100, 0);
        file.Write(pos, data.data(), 1000);
    }
    const std::vector<char> disk = ReadWholeFile(path);
    ASSERT_EQ(original.size(), disk.size());
    EXPECT_EQ(0, std::memcmp(disk.data() + 100, data.data(), 1000));
    EXPECT_EQ(0, std::memcmp(disk.data(), original.data(), 100));
}

TEST_F(SequentialFileTest, AWriteTheSystemRefusesFailsEveryLaterWrite)
{
    const std::string path = MakeFile("readonly.dat", 2 * kBlock);
    const std::vector<char> original = contents;
    SequentialFile file;
    ASSERT_TRUE(file.Open(path, OPEN_EXISTING, GENERIC_READ, FILE_SHARE_READ));  // no write access
    FilePosition pos(file);
    const std::vector<char> data = Pattern(kBlock, 6);

    // The full block is written at once; the platform refuses (at once or
    // when the transfer completes).
    AppException first("", 0, 0);
    try {
        file.Write(pos, data.data(), kBlock);
        first = CatchApp([&] { file.Write(pos, data.data(), 10); });
    } catch (const AppException& e) {
        first = e;
    }
    EXPECT_EQ(kAppErrorWrite, first.AppCode());
    EXPECT_EQ(static_cast<std::uint32_t>(ERROR_ACCESS_DENIED), first.SysError());
    if (std::string(first.Message()) == "SaveBuffer():  WriteFile error.") {
        EXPECT_EQ("App Error 0xc00403f5: " + AppText(kAppErrorWrite) + "Sys error 0x5: " + GetSystemErrorText(5) +
                      "  FILE: SequentialFile.cpp LINE: # - SaveBuffer():  WriteFile error.",
                  Described(first));
    }
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), file.LastWriteError());

    for (int i = 0; i < 3; ++i) {
        const AppException later = CatchApp([&] { file.Write(pos, data.data(), 1); });
        EXPECT_EQ("App Error 0xc00403f5: " + AppText(kAppErrorWrite) + "Sys error 0x5: " + GetSystemErrorText(5) +
                      "  FILE: SequentialFile.cpp LINE: # - Write() error 5(" + path + ").",
                  Described(later));
    }
    // Reading still works, and Close discards instead of writing back.
    pos.Seek(kBlock, 0);
    char byte = 0;
    EXPECT_EQ(1u, file.Read(pos, &byte, 1));
    EXPECT_EQ(original[kBlock], byte);
    file.Close();
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(original, ReadWholeFile(path));

    // A new Open starts without the old error.
    ASSERT_TRUE(file.Open(path, OPEN_EXISTING, kReadWrite, 0));
    EXPECT_EQ(0u, file.LastWriteError());
    pos.Seek(0, 0);
    file.Write(pos, "ok", 2);
    file.Close();
    EXPECT_EQ(0, std::memcmp(ReadWholeFile(path).data(), "ok", 2));
}

TEST_F(SequentialFileTest, AWriteLargerThanTheWritePoolIsRefused)
{
    const std::string path = MakeFile("huge.dat", 70 * kBlock);
    SequentialFile file;
    ASSERT_TRUE(file.Open(path, OPEN_EXISTING, kReadWrite, 0));
    FilePosition pos(file);
    const std::vector<char> data(65 * kBlock, 'h');
    EXPECT_THROW(file.Write(pos, data.data(), 65 * kBlock), std::range_error);
    EXPECT_EQ(0u, pos.Offset());
    file.Close();
    EXPECT_EQ(contents, ReadWholeFile(path));
}

// One thread writes ahead of another in the same file: neither may lower the
// size (or the end of what was written) that the other has just raised.
TEST_F(SequentialFileTest, TwoThreadsWritingOneFileNeverLowerItsSize)
{
    const std::string path = MakeFile("shared.dat", 100);
    SequentialFile file;
    ASSERT_TRUE(file.Open(path, OPEN_EXISTING, kReadWrite, 0));
    constexpr int kWrites = 20000;
    std::atomic<int> lowered{0};
    auto writer = [&](std::int64_t start, std::uint32_t count) {
        FilePosition pos(file);
        pos.Seek(start, 0);
        const std::vector<char> data(count, 'w');
        for (int i = 0; i < kWrites; ++i) {
            file.Write(pos, data.data(), count);
            if (file.Size() < pos.Offset())
                ++lowered;
        }
    };
    std::thread behind(writer, 0, 8);
    std::thread ahead(writer, 50, 16);
    behind.join();
    ahead.join();
    EXPECT_EQ(0, lowered.load());
    EXPECT_EQ(50u + 16u * kWrites, file.Size());
    file.Close();
}

// Close while another thread reads and writes: every call either runs whole
// before the handle goes or finds the file closed; none reaches the handle
// afterwards or leaves a block dirty behind.
TEST_F(SequentialFileTest, CloseWaitsForCallsUnderWayAndLaterOnesFindTheFileClosed)
{
    FileBufferPool readPool(12, kBlock);
    FileBufferPool writePool(8, kBlock);
    const std::string path = MakeFile("closing.dat", 4 * kBlock);
    for (int round = 0; round < 30; ++round) {
        SequentialFile file(readPool, writePool);
        ASSERT_TRUE(file.Open(path, OPEN_EXISTING, kReadWrite, 0));
        std::atomic<bool> started{false};
        std::string failure;
        std::thread user([&] {
            FilePosition pos(file);
            std::vector<char> data(3000, 'u');
            try {
                for (std::uint32_t i = 0;; ++i) {
                    pos.Seek((i * 7919) % (4 * kBlock - 3000), 0);
                    if (i % 2 != 0)
                        file.Write(pos, data.data(), 3000);
                    else
                        file.Read(pos, data.data(), 3000);
                    started = true;
                }
            } catch (const AppException& e) {
                if (e.SysError() != 0)
                    failure = e.what();
            }
        });
        while (!started)
            std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::microseconds(100 * round));
        file.Close();
        user.join();
        EXPECT_EQ("", failure) << "round " << round;
        EXPECT_EQ(readPool.BufferCount(), readPool.FreeBufferCount()) << "round " << round;
        EXPECT_EQ(writePool.BufferCount(), writePool.FreeBufferCount()) << "round " << round;
    }
}

// A read refused at once while reading ahead fails the Read that asked for
// it, and keeps no buffer from the pools. Here the handle may only write: a
// block cached by writing is read, and the next one, which another file has
// since taken, is read ahead.
TEST_F(SequentialFileTest, AReadAheadRefusedAtOnceFailsTheRead)
{
    FileBufferPool readPool(4, kBlock);
    FileBufferPool writePool(3, kBlock);
    const std::string path = MakeFile("writeonly.dat", 4 * kBlock);
    const std::string otherPath = MakeFile("other.dat", kBlock, 2);
    SequentialFile file(readPool, writePool);
    ASSERT_TRUE(file.Open(path, OPEN_EXISTING, GENERIC_WRITE, 0));
    FilePosition pos(file);
    pos.Seek(0, 2);
    const std::vector<char> data(2 * kBlock + 10, 'd');
    file.Write(pos, data.data(), 2 * kBlock + 10);  // blocks 4 and 5 written, 6 partly
    while (writePool.AnyInFlight())
        std::this_thread::yield();
    pos.Seek(4 * kBlock, 0);
    file.Write(pos, "e", 1);  // block 4 dirty again: only block 5's buffer is free

    SequentialFile other(readPool, writePool);
    ASSERT_TRUE(other.Open(otherPath, OPEN_EXISTING, kReadWrite, 0));
    FilePosition otherPos(other);
    otherPos.Seek(0, 2);
    other.Write(otherPos, "o", 1);

    pos.Seek(4 * kBlock, 0);
    char out[10] = {};
    const AppException e = CatchApp([&] { file.Read(pos, out, sizeof out); });
    EXPECT_STREQ("LoadBuffer():  ReadFile error.", e.Message());
    EXPECT_EQ(static_cast<std::uint32_t>(ERROR_ACCESS_DENIED), e.SysError()) << e.what();
    EXPECT_EQ(4u * kBlock, pos.Offset());
    file.Close();
    other.Close();
    EXPECT_EQ(readPool.BufferCount(), readPool.FreeBufferCount());
    EXPECT_EQ(writePool.BufferCount(), writePool.FreeBufferCount());
}
