// Random Read, Write, Seek, Close and reopen on several files at once, checked byte for byte against a
// plain model. A write at or past what was written since Open does not load its blocks, whose rest becomes
// unknown. Partly written blocks stay out of the pools until Close and the pools wait without limit: a run
// closes a file before it keeps more of them than its share of the pools can spare.
#include "tests/fileio/FileIoTest.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <set>
#include <thread>
#include <tuple>
#include <vector>

using fileiotest::kBlock;

namespace {

constexpr std::int16_t kUnknownOnDisk = -1;
constexpr std::int16_t kUnknownInSession = -2;

// Per thread: the most blocks of a read, of a write, and partly written at once.
constexpr unsigned kSteps = 1500, kReadBlocks = 4, kWriteBlocks = 3, kPartBlocks = 2;

struct ModelFile {
    std::string path;
    std::vector<std::int16_t> bytes;  // the logical file; < 0 where unknown
    std::uint64_t diskLength = 0;
    std::uint64_t extent = 0;         // end of what was written since Open
    std::uint64_t touchedEnd = 0;     // end of the last block written since Open
    std::set<std::uint64_t> partlyWritten;  // blocks whose last write ended inside them
    std::unique_ptr<SequentialFile> file;
    std::unique_ptr<FilePosition> pos;
};

std::uint64_t BlockEnd(std::uint64_t offset)
{
    return (offset + kBlock - 1) / kBlock * kBlock;
}

class ModelRun {
public:
    ModelRun(unsigned seed, const std::string& directory, FileBufferPool& readPool, FileBufferPool& writePool)
        : m_seed(seed), m_random(seed), m_readPool(readPool), m_writePool(writePool)
    {
        const std::uint64_t lengths[] = {6 * kBlock + 99, 5 * kBlock, kBlock - 7};
        for (unsigned i = 0; i < 3; ++i) {
            ModelFile f;
            f.path = directory + "\\model" + std::to_string(seed) + "-" + std::to_string(i) + ".dat";
            const std::string initial = fileiotest::Pattern(lengths[i], seed * 31 + i);
            testfiles::WriteAll(f.path, initial);
            const auto* first = reinterpret_cast<const unsigned char*>(initial.data());
            f.bytes.assign(first, first + initial.size());
            f.diskLength = initial.size();
            f.file = NewFile();
            m_files.push_back(std::move(f));
        }
    }

    bool Run()
    {
        for (m_step = 0; m_step < int(kSteps) && !::testing::Test::HasFailure(); ++m_step) {
            ModelFile& f = m_files[Pick(m_files.size())];
            m_current = &f;
            if (!f.file->IsOpen()) {
                Reopen(f);
                continue;
            }
            const std::size_t choice = Pick(100);
            if (choice < 38)
                Read(f);
            else if (choice < 74)
                Write(f);
            else if (choice < 86)
                Refill(f);
            else if (choice < 94)
                Close(f);
            else
                CloseAndVerify(f);
        }
        for (ModelFile& f : m_files)
            if (f.file->IsOpen() && !::testing::Test::HasFailure())
                CloseAndVerify(f);
        return !::testing::Test::HasFailure();
    }

    std::uint64_t Rewrites() const { return m_rewrites; }

private:
    std::unique_ptr<SequentialFile> NewFile() { return std::make_unique<SequentialFile>(m_readPool, m_writePool); }
    std::size_t Pick(std::size_t n) { return static_cast<std::size_t>(m_random() % n); }
    std::uint64_t Between(std::uint64_t low, std::uint64_t high) { return low + m_random() % (high - low + 1); }
    std::string Where() const
    {
        return "seed " + std::to_string(m_seed) + ", step " + std::to_string(m_step) + ": " + m_last;
    }
    void Note(const char* op, const ModelFile& f, std::uint64_t offset, std::uint64_t length)
    {
        m_last = std::string(op) + " " + f.path + " at " + std::to_string(offset) + " length " +
                 std::to_string(length) + " (size " + std::to_string(f.bytes.size()) + ", extent " +
                 std::to_string(f.extent) + ")";
    }

    // Small, about a block, up to the block's end, or anything within limitBlocks blocks from offset.
    std::uint32_t Length(std::uint64_t offset, std::uint32_t limitBlocks)
    {
        const std::size_t kind = Pick(5);
        const std::uint64_t length = kind == 0   ? Between(1, 64)
                                     : kind == 1 ? Between(1, 3000)
                                     : kind == 2 ? Between(kBlock - 50, kBlock + 50)
                                     : kind == 3 ? kBlock - offset % kBlock
                                                 : Between(1, std::uint64_t{limitBlocks} * kBlock);
        const std::uint64_t maxEnd = (offset / kBlock + limitBlocks) * kBlock;
        return static_cast<std::uint32_t>(std::min(length, maxEnd - offset));
    }

    void Read(ModelFile& f)
    {
        const std::uint64_t size = f.bytes.size();
        const std::uint64_t offset = Pick(3) == 0 && f.pos->Offset() < size ? f.pos->Offset() : Between(0, size - 1);
        std::uint32_t length = Length(offset, kReadBlocks);
        if (Pick(4) != 0)  // else past the end now and then
            length = static_cast<std::uint32_t>(std::min<std::uint64_t>(length, size - offset));
        // Not into bytes whose contents this session left unknown.
        const auto from = f.bytes.begin() + static_cast<std::ptrdiff_t>(offset);
        const auto to = from + static_cast<std::ptrdiff_t>(std::min<std::uint64_t>(length, size - offset));
        if (const auto unknown = std::find(from, to, kUnknownInSession); unknown != to)
            length = static_cast<std::uint32_t>(unknown - from);
        if (length == 0)
            return;
        Note("Read", f, offset, length);
        f.pos->Seek(static_cast<std::int64_t>(offset), 0);
        std::string out(length, '\0');
        if ((offset + length - 1) / kBlock >= BlockEnd(size) / kBlock) {
            const AppException e = fileiotest::CatchApp([&] { f.file->Read(*f.pos, out.data(), length); });
            ASSERT_EQ(std::make_tuple(kAppErrorRead, std::uint32_t{ERROR_HANDLE_EOF}, offset),
                      std::make_tuple(e.AppCode(), e.SysError(), f.pos->Offset()))
                << Where() << ": " << e.what();
            return;
        }
        const std::uint32_t got = f.file->Read(*f.pos, out.data(), length);
        length = static_cast<std::uint32_t>(std::min<std::uint64_t>(length, size - offset));
        ASSERT_EQ(std::make_pair(length, offset + length), std::make_pair(got, f.pos->Offset())) << Where();
        Compare(f, offset, out.substr(0, length));
    }

    void Compare(const ModelFile& f, std::uint64_t offset, const std::string& actual)
    {
        for (std::size_t i = 0; i < actual.size(); ++i)
            if (const std::int16_t b = f.bytes[offset + i]; b >= 0 && b != static_cast<unsigned char>(actual[i]))
                FAIL() << Where() << ": byte " << offset + i << " is " << int(static_cast<unsigned char>(actual[i]))
                       << ", expected " << b;
    }

    void Write(ModelFile& f)
    {
        const std::uint64_t size = f.bytes.size();
        // Append, at the cursor, just before a block end (to meet the write just issued for it), or anywhere.
        const std::size_t kind = Pick(4);
        const std::uint64_t offset =
            kind == 0   ? size
            : kind == 1 ? std::min<std::uint64_t>(f.pos->Offset(), size)
            : kind == 2 ? std::min<std::uint64_t>(size, (Between(0, size) / kBlock + 1) * kBlock - Between(1, 200))
                        : Between(0, size - 1);
        WriteAt(f, offset, Length(offset, kWriteBlocks));
    }

    void WriteAt(ModelFile& f, std::uint64_t offset, std::uint32_t length)
    {
        const std::uint64_t end = offset + length;
        if (end % kBlock != 0 && !f.partlyWritten.count(end / kBlock) && !RoomForAPartBlock())
            return;
        const std::string data = fileiotest::Pattern(length, static_cast<unsigned>(m_random()));
        Note("Write", f, offset, length);
        f.pos->Seek(static_cast<std::int64_t>(offset) - static_cast<std::int64_t>(f.bytes.size()), 2);
        f.file->Write(*f.pos, data.data(), length);
        ASSERT_EQ(end, f.pos->Offset()) << Where();

        // At or past the extent the blocks' old contents may be skipped: what lies past the extent there
        // becomes unknown. What was written before stays, even where the block left the cache.
        const bool skipsOldContents = f.extent != 0 && offset >= f.extent;
        for (std::uint64_t block = offset / kBlock; block <= (end - 1) / kBlock; ++block)
            f.partlyWritten.erase(block);
        if (end % kBlock != 0)
            f.partlyWritten.insert(end / kBlock);
        if (f.bytes.size() < end)
            f.bytes.resize(end, 0);
        const std::uint64_t unknownEnd = skipsOldContents ? std::min<std::uint64_t>(BlockEnd(end), f.bytes.size()) : 0;
        for (std::uint64_t i = std::max(offset / kBlock * kBlock, f.extent); i < unknownEnd; ++i)
            if (i < offset || i >= end)
                f.bytes[i] = kUnknownInSession;
        for (std::uint32_t i = 0; i < length; ++i)
            f.bytes[offset + i] = static_cast<unsigned char>(data[i]);
        f.extent = std::max(f.extent, end);
        f.touchedEnd = std::max(f.touchedEnd, BlockEnd(end));
        ASSERT_EQ(f.bytes.size(), f.file->Size()) << Where();
    }

    // Fills a block to its end, so that its write starts, and changes it at once: the change meets the write.
    void Refill(ModelFile& f)
    {
        const std::uint64_t blockEnd = (Between(0, f.bytes.size() - 1) / kBlock + 1) * kBlock;
        const std::uint64_t offset = std::min<std::uint64_t>(f.bytes.size(), blockEnd - Between(1, 3000));
        const std::uint32_t length = static_cast<std::uint32_t>(blockEnd - offset);
        WriteAt(f, offset, length);
        if (!::testing::Test::HasFailure())
            WriteAt(f, offset + Between(0, length - 1), 1 + static_cast<std::uint32_t>(Between(0, 40)));
    }

    // Without room for another partly written block, closes the file with the most; false when that is this one.
    bool RoomForAPartBlock()
    {
        std::size_t open = 0;
        ModelFile* most = nullptr;
        for (ModelFile& g : m_files) {
            open += g.partlyWritten.size();
            if (!most || g.partlyWritten.size() > most->partlyWritten.size())
                most = &g;
        }
        if (open < kPartBlocks)
            return true;
        Close(*most);
        return m_current != most;
    }

    void Close(ModelFile& f)
    {
        m_last = "Close " + f.path;
        f.file->Close();
        m_rewrites += f.file->GetTransferCounts().rewrites;
        f.file = NewFile();  // its counts start from zero
        f.pos.reset();
        f.partlyWritten.clear();
        f.diskLength = std::max(f.diskLength, f.touchedEnd);
        if (f.bytes.size() < f.diskLength)
            f.bytes.resize(f.diskLength, 0);  // past the size, a block is written with zeros
        std::replace(f.bytes.begin(), f.bytes.end(), kUnknownInSession, kUnknownOnDisk);
    }

    void CloseAndVerify(ModelFile& f)
    {
        Close(f);
        m_last = "Verify " + f.path;
        const std::string disk = testfiles::ReadAll(f.path);
        ASSERT_TRUE(f.diskLength == disk.size() && f.bytes.size() == disk.size()) << Where() << ": " << disk.size();
        Compare(f, 0, disk);
    }

    void Reopen(ModelFile& f)
    {
        const bool noBuffering = Pick(2) == 0;
        m_last = "Open " + f.path + (noBuffering ? " without buffering" : "");
        ASSERT_TRUE(f.file->Open(f.path, OPEN_EXISTING, fileiotest::kReadWrite, 0,
                                 noBuffering ? FILE_FLAG_NO_BUFFERING : FILE_ATTRIBUTE_NORMAL))
            << Where();
        ASSERT_EQ(f.diskLength, f.file->Size()) << Where();
        f.pos = std::make_unique<FilePosition>(*f.file);
        f.extent = f.touchedEnd = 0;
    }

    unsigned m_seed;
    std::mt19937_64 m_random;
    FileBufferPool& m_readPool;
    FileBufferPool& m_writePool;
    std::vector<ModelFile> m_files;
    int m_step = 0;
    ModelFile* m_current = nullptr;
    std::string m_last;
    std::uint64_t m_rewrites = 0;
};

}  // namespace

// Pools far smaller than the files, shared by three threads with three files each: buffers go from file to
// file all the time. A thread may hold a read range with its read-ahead or a write range, and its part blocks.
TEST(SequentialFileModel, MatchesThePlainModelWithThreadsOnSmallPools)
{
    testfiles::ScratchDir dir;
    constexpr unsigned kThreads = 3;
    FileBufferPool readPool(kThreads * (kReadBlocks + 2 + kPartBlocks), kBlock);
    FileBufferPool writePool(kThreads * (kWriteBlocks + kPartBlocks), kBlock);
    std::atomic<std::uint64_t> rewrites{0};
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            ModelRun run(100 + t, dir.path(), readPool, writePool);
            EXPECT_TRUE(run.Run()) << "thread " << t;
            rewrites += run.Rewrites();
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_GT(rewrites.load(), 0u) << "no change ever met its block's write in flight";
    EXPECT_TRUE(fileiotest::AllFree(readPool, writePool));
}
