// SequentialFile where the model run does not reach: refusals, failures, threads sharing a file, process exit.
#include "fileio/FileIoGlobals.h"
#include "recorderlibs/Win32Handle.h"
#include "tests/fileio/FileIoTest.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <tuple>

using namespace fileiotest;

namespace {

struct SequentialFileTest : ::testing::Test {
    std::string Make(const std::string& name, std::size_t length, unsigned seed = 1)
    {
        testfiles::WriteAll(dir / name, contents = Pattern(length, seed));
        return dir / name;
    }
    testfiles::ScratchDir dir;
    std::string contents;
};

}  // namespace

TEST_F(SequentialFileTest, OpenRefusalsCallsOnAClosedFileAndSeeks)
{
    SequentialFile file;
    testfiles::WriteAll(dir / "empty.dat", "");
    std::string overlong = dir.path() + "\\";
    overlong += std::string(261 - overlong.size(), 'n');
    // Whether the platform is asked (the last error changes).
    const std::pair<std::string, bool> refused[] = {
        {dir / "missing.dat", true}, {dir / "empty.dat", true}, {"", false}, {overlong, false},
        {overlong.substr(0, 260), true}};
    for (const auto& [path, asked] : refused) {
        ::SetLastError(12345);
        EXPECT_FALSE(file.Open(path, OPEN_EXISTING, kReadWrite, 0)) << path;
        EXPECT_EQ(asked, ::GetLastError() != 12345u) << path;
        EXPECT_FALSE(file.IsOpen());
    }
    EXPECT_TRUE(::DeleteFileA((dir / "empty.dat").c_str())) << "its handle was closed";

    FilePosition pos(file);
    char byte = 0;
    EXPECT_STREQ("Read() when file not open", CatchApp([&] { file.Read(pos, &byte, 1); }).Message());
    // Opening again closes the first file; the name stays for messages after Close.
    const std::string one = Make("one.dat", 10);
    ASSERT_TRUE(file.Open(one, OPEN_EXISTING, GENERIC_READ, 0));
    const std::string two = Make("two.dat", 3 * kBlock + 7);
    ASSERT_TRUE(file.Open(two, OPEN_ALWAYS, kReadWrite, 0));
    EXPECT_EQ(two, file.Name());
    EXPECT_EQ(4, file.Blocks().BlockCount());
    EXPECT_TRUE(::DeleteFileA(one.c_str())) << "the first file was closed";
    file.Close();
    const AppException e = CatchApp([&] { file.Write(pos, &byte, 1); });
    EXPECT_EQ(kAppErrorWrite, e.AppCode());
    EXPECT_STREQ(("Write() when file not open (" + two + ").").c_str(), e.Message());
    file.Close();  // closing twice does nothing
    file.Abort();

    ASSERT_TRUE(file.Open(Make("seek.dat", 100), OPEN_EXISTING, GENERIC_READ, 0));
    // Offset, origin, where it lands from 40 (-1: refused, the position kept): within the file or at its end.
    const struct { std::int64_t offset; int origin; std::int64_t to; } seeks[] = {
        {0, 0, 0},   {99, 0, 99},  {100, 0, -1}, {-1, 0, -1},   {59, 1, 99},   {-40, 1, 0},
        {60, 1, -1}, {-41, 1, -1}, {0, 2, 100},  {-100, 2, 0}, {1, 2, -1}, {-101, 2, -1}};
    for (const auto& seek : seeks) {
        pos.Seek(40, 0);
        if (seek.to < 0)
            EXPECT_THROW(pos.Seek(seek.offset, seek.origin), std::out_of_range) << seek.offset << " " << seek.origin;
        else
            EXPECT_EQ(static_cast<std::uint64_t>(seek.to), pos.Seek(seek.offset, seek.origin));
        EXPECT_EQ(static_cast<std::uint64_t>(seek.to < 0 ? 40 : seek.to), pos.Offset()) << seek.offset;
    }
    EXPECT_THROW(pos.Seek(0, 3), std::invalid_argument);
}

TEST_F(SequentialFileTest, ReadsAheadGivesEveryBufferBackAndRefusesRangesNoPoolHolds)
{
    // Far more blocks than the read pool has: every buffer comes back, whichever thread finished its transfer.
    SequentialFile file;
    std::string out(kBlock, '\0');
    const std::string longPath = Make("long.dat", 1200 * kBlock + 5);
    FileBufferPool& pool = FileIoGlobals::Instance().ReadPool();
    for (DWORD flags : {DWORD(FILE_ATTRIBUTE_NORMAL), DWORD(FILE_FLAG_NO_BUFFERING)}) {
        ASSERT_TRUE(file.Open(longPath, OPEN_EXISTING, GENERIC_READ, FILE_SHARE_READ, flags));
        FilePosition at(file);
        std::uint64_t total = 0;
        for (std::uint32_t got; total < contents.size() && (got = file.Read(at, out.data(), kBlock)) != 0;) {
            ASSERT_EQ(0, std::memcmp(out.data(), contents.data() + total, got)) << total;
            total += got;
        }
        EXPECT_EQ(contents.size(), total);
        // Reads settled by the reader still pass the completion thread, late on a loaded machine.
        for (int wait = 0; wait < 400 && pool.FreeBufferCount() < 300u; ++wait)
            ::Sleep(25);
        EXPECT_GE(pool.FreeBufferCount(), 300u) << "buffers lost while reading";
        file.Close();
        EXPECT_EQ(kReadPoolBuffers, pool.FreeBufferCount());
    }
    // Only the first block of each pass was not read ahead.
    const SequentialFile::TransferCounts counts = file.GetTransferCounts();
    EXPECT_EQ(std::make_tuple(2u, 2400u, 0u), std::make_tuple(counts.demandReads, counts.readAheads, counts.writes));

    // More blocks than one wait takes or the write pool holds would never be had at once: refused whole.
    ASSERT_TRUE(file.Open(longPath, OPEN_EXISTING, GENERIC_READ, FILE_SHARE_READ));
    FilePosition at(file);
    out.resize(65 * kBlock);
    EXPECT_THROW(file.Read(at, out.data(), 65 * kBlock), std::range_error);
    EXPECT_THROW(file.Write(at, out.data(), 65 * kBlock), std::range_error);
    EXPECT_EQ(0u, at.Offset());
    EXPECT_EQ(64 * kBlock, file.Read(at, out.data(), 64 * kBlock));
    EXPECT_EQ(0, std::memcmp(out.data(), contents.data(), 64 * kBlock));
}

// An uncached block is loaded before it changes; Abort writes none of it back, the destructor of an open file does.
TEST_F(SequentialFileTest, AbortWritesNothingBackADestroyedOpenFileEverything)
{
    const std::string path = Make("behind.dat", 4 * kBlock);
    std::string expected = contents;
    for (bool abort : {true, false}) {
        {
            SequentialFile file;
            ASSERT_TRUE(file.Open(path, OPEN_EXISTING, kReadWrite, 0));
            FilePosition at(file);
            at.Seek(kBlock + 5, 0);
            file.Write(at, "yz", 2);
            EXPECT_EQ(1u, file.GetTransferCounts().demandReads);
            if (abort)
                file.Abort();
            EXPECT_EQ(!abort, file.IsOpen());
        }
        if (!abort)
            expected.replace(kBlock + 5, 2, "yz");
        EXPECT_TRUE(expected == testfiles::ReadAll(path)) << (abort ? "Abort" : "destroyed open");
    }
}

// Two threads appending to one file: neither lowers the size the other has just raised.
TEST_F(SequentialFileTest, TwoThreadsWritingOneFileNeverLowerItsSize)
{
    SequentialFile file;
    ASSERT_TRUE(file.Open(Make("shared.dat", 100), OPEN_EXISTING, kReadWrite, 0));
    std::atomic<int> lowered{0};
    std::uint64_t ends[2] = {};  // where each writer's last write ended
    auto writer = [&](int id, std::uint32_t count) {
        FilePosition pos(file);
        const std::string data(count, 'w');
        for (int i = 0; i < 20000; ++i) {
            pos.Seek(0, 2);  // both append, so they race on every write
            file.Write(pos, data.data(), count);
            if (file.Size() < (ends[id] = pos.Offset()))
                ++lowered;
        }
    };
    std::thread eights(writer, 0, 8);
    std::thread sixteens(writer, 1, 16);
    eights.join();
    sixteens.join();
    EXPECT_EQ(0, lowered.load());
    EXPECT_EQ(std::max(ends[0], ends[1]), file.Size());
}

// Close while another thread reads and writes: each call runs whole or finds the file closed; no block stays dirty.
TEST_F(SequentialFileTest, CloseWaitsForCallsUnderWayAndLaterOnesFindTheFileClosed)
{
    FileBufferPool readPool(12, kBlock);
    FileBufferPool writePool(8, kBlock);
    const std::string path = Make("closing.dat", 4 * kBlock);
    for (int round = 0; round < 30; ++round) {
        SequentialFile file(readPool, writePool);
        ASSERT_TRUE(file.Open(path, OPEN_EXISTING, kReadWrite, 0));
        std::atomic<bool> started{false};
        std::string failure;
        std::thread user([&] {
            FilePosition pos(file);
            std::string data(3000, 'u');
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
        EXPECT_TRUE(AllFree(readPool, writePool)) << "round " << round;
    }
}

// A read-ahead refused at once fails its Read and keeps no buffer: on a write-only handle, block 4
// (cached by writing) is read and block 5, whose buffer another file has taken, is read ahead.
TEST_F(SequentialFileTest, AReadAheadRefusedAtOnceFailsTheRead)
{
    FileBufferPool readPool(4, kBlock);
    FileBufferPool writePool(3, kBlock);
    SequentialFile file(readPool, writePool);
    ASSERT_TRUE(file.Open(Make("writeonly.dat", 4 * kBlock), OPEN_EXISTING, GENERIC_WRITE, 0));
    FilePosition pos(file);
    pos.Seek(0, 2);
    const std::string data(2 * kBlock + 10, 'd');
    file.Write(pos, data.data(), 2 * kBlock + 10);  // blocks 4 and 5 written, 6 partly
    while (writePool.AnyInFlight())
        std::this_thread::yield();
    pos.Seek(4 * kBlock, 0);
    file.Write(pos, "e", 1);  // block 4 dirty again: only block 5's buffer is free

    SequentialFile other(readPool, writePool);
    ASSERT_TRUE(other.Open(Make("other.dat", kBlock, 2), OPEN_EXISTING, kReadWrite, 0));
    FilePosition otherPos(other);
    otherPos.Seek(0, 2);
    other.Write(otherPos, "o", 1);

    pos.Seek(4 * kBlock, 0);
    char out[10] = {};
    const AppException e = CatchApp([&] { file.Read(pos, out, sizeof out); });
    EXPECT_STREQ("LoadBuffer():  ReadFile error.", e.Message());
    EXPECT_EQ(std::make_pair(std::uint32_t{ERROR_ACCESS_DENIED}, std::uint64_t{4} * kBlock),
              std::make_pair(e.SysError(), pos.Offset())) << e.what();
    file.Close();
    other.Close();
    EXPECT_TRUE(AllFree(readPool, writePool));
}

// The process ends with a file open and transfers in flight: no hang, no crash, and the file
// is written back unless no destructors run.
TEST_F(SequentialFileTest, EveryWayOfEndingTheProcessEndsItCleanly)
{
    constexpr std::uint32_t kLength = 8 * kBlock + 300;
    std::string written(kLength, '\0');
    for (std::uint32_t i = 0; i < kLength; ++i)
        written[i] = static_cast<char>((i * 7 + i / kBlock) & 0xFF);  // as the child writes
    for (const std::string mode : {"leak", "exit"}) {
        const std::string path = Make(mode + ".dat", kLength);
        std::string line = '"' + testfiles::ModuleDirectory() + "\\fileio_child.exe\" " + mode + " \"" + path + '"';
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        ASSERT_TRUE(::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                     &process))
            << line;
        win32::UniqueHandle child(process.hProcess), thread(process.hThread);
        if (::WaitForSingleObject(child.get(), 30000) != WAIT_OBJECT_0) {
            ADD_FAILURE() << mode << ": the process did not end within 30 s";
            ::TerminateProcess(child.get(), 99);
            ::WaitForSingleObject(child.get(), 10000);
        }
        DWORD exitCode = 0;
        ::GetExitCodeProcess(child.get(), &exitCode);
        EXPECT_EQ(mode == "leak" ? 0u : 7u, exitCode) << mode;
        EXPECT_TRUE(mode == "exit" || written == testfiles::ReadAll(path).substr(0, kLength)) << mode;
    }
}
