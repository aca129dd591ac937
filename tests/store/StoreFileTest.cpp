// The store's files on a real (Wine) file system: names and the open
// sequence, key index and master index records as stored, image files fresh
// and as the recorder writes them; and the fuzz targets over their seeds.
#include "recorderlibs/CDateTime.h"
#include "store/ImageFile.h"
#include "store/KeyIndexFile.h"
#include "store/MasterIndex.h"
#include "tests/store/ImageBuilder.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <map>

using namespace imagebuilder;
using testfiles::ReadAll;

extern "C" int FuzzCacheJournal(const std::uint8_t*, std::size_t);
extern "C" int FuzzFrameHeaders(const std::uint8_t*, std::size_t);
extern "C" int FuzzImageLoad(const std::uint8_t*, std::size_t);
extern "C" int FuzzMasterRecord(const std::uint8_t*, std::size_t);
extern "C" int FuzzRecordScan(const std::uint8_t*, std::size_t);

namespace {

template <class Bytes>
std::string Str(const Bytes& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace

TEST(StoreFiles, NamesOpenSequenceAndIndexRecordsAsStored)
{
    testfiles::ScratchDir dir;
    MmioFile named;
    EXPECT_EQ(named.MakePath("KEY", "NDX", 5), "C:\\KEY0005.NDX");
    named.SetBasePath("D:\\");
    EXPECT_EQ(named.MakePath("IMG", "AVI", 10000), "D:\\IMG10000.AVI");

    // A file whose read-only attribute can be cleared opens for writing; one
    // that another opener keeps from being written opens read-only.
    for (const bool heldByReader : {false, true}) {
        const std::string path = dir / (heldByReader ? "held" : "readonly");
        testfiles::WriteAll(path, "abc");
        ::SetFileAttributesA(path.c_str(), heldByReader ? FILE_ATTRIBUTE_NORMAL : FILE_ATTRIBUTE_READONLY);
        win32::UniqueFileHandle reader(heldByReader ? ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                                                    nullptr, OPEN_EXISTING, 0, nullptr)
                                                    : INVALID_HANDLE_VALUE);
        MmioFile file;
        ASSERT_EQ(file.OpenByName(path), kMmioOk) << path;
        EXPECT_EQ(file.WriteAt("x", 1, 1), heldByReader ? kMmioWriteFailed : kMmioOk) << path;
        char bytes[4] = {};
        std::uint32_t count = 9;
        EXPECT_EQ(file.ReadAt(bytes, 4, 0, count), kMmioOk);
        EXPECT_EQ(count, 3u);
        EXPECT_EQ(file.GetLength(), 3);
        EXPECT_EQ(file.Close(), kMmioOk);
        EXPECT_FALSE(file.IsOpen());
    }

    KeyIndexFile key;
    key.SetBasePath(dir.path() + "\\");
    EXPECT_EQ(key.Open("KEY", "NDX", 7), kMmioMissing);
    ASSERT_TRUE(key.Open(12, -1));  // missing: created, then opened
    EXPECT_EQ(key.GetNumberBase(), 12u);
    key.SetVersion(0x2015);
    KeyRecord record;
    ASSERT_TRUE(LoadKeyRecord(Hex("@16 01 @21 04030201 @31 0A", kKeyRecordSize).data(), kKeyRecordSize, record));
    EXPECT_TRUE(key.AppendRecord(record));
    EXPECT_TRUE(key.AppendRecord(record));
    key.SetVersion(0x3010);
    EXPECT_FALSE(key.AppendRecord(record));
    EXPECT_EQ(key.Close(), kMmioOk);
    const std::string stored = Str(Hex("@5 4B535458 04 @16 01 @23 02 @31 04030201", 39));  // D below the base
    EXPECT_EQ(ReadAll(dir / "KEY0012.NDX"), stored + stored);
    EXPECT_TRUE(key.Create(12));  // empties it
    EXPECT_EQ(ReadAll(dir / "KEY0012.NDX").size(), 0u);
    EXPECT_TRUE(key.Open(12, 100));
    EXPECT_EQ(key.GetNumberBase(), 100u);

    MasterIndex index(10);
    ASSERT_EQ(index.OpenIn(dir.path()), kMmioOk);  // created empty
    std::array<std::uint8_t, kMasterRecordSize> master, back{};
    master.fill(0x5A);
    EXPECT_TRUE(index.ReadRecord(12, master));  // past the end: nothing read, no failure
    EXPECT_EQ(master[0], 0x5A);
    InitRecord(master, 0);
    AddEntry(master, 1, 0, 5, 1700000000, 1, 100);
    EXPECT_TRUE(index.WriteRecord(12, master));
    EXPECT_FALSE(index.WriteRecord(9, master));
    EXPECT_TRUE(index.ReadRecord(12, back));
    EXPECT_EQ(back, master);
    EXPECT_EQ(index.Close(), kMmioOk);
    EXPECT_EQ(ReadAll(dir / "MASTER.NDX").substr(6 + 2 * 688), Str(master));
    MasterIndex again(10);
    EXPECT_EQ(again.OpenIn(dir.path() + "\\"), kMmioOk);
    EXPECT_EQ(again.GetLength(), 6 + 3 * 688);
}

TEST(ImageFile, FreshFileByteForByteAndFilesLeftAsTheyWere)
{
    testfiles::ScratchDir dir;
    ImageFile image(131072);
    image.SetBasePath(dir.path() + "\\");
    const std::string path = image.MakePath(5);
    EXPECT_EQ(path, dir.path() + "\\IMG0005.AVI");
    EXPECT_EQ(image.MakeCachePath(5), dir.path() + "\\CACHE0005.tmp");
    ASSERT_TRUE(image.CreatePreallocatedFile(path, true));
    // The header, then three frame tables and the key table of 16 empty
    // streams, and the meta-data table that the header does not point at.
    std::vector<std::uint8_t> expected =
        Hex("10300000 30000000 00000000 30000000 00000200 C4010000 @48 10 @116 10 @184 10 @252 10 @320 10", 452);
    le::Store32(&expected[24], static_cast<std::uint32_t>(CDateTime().GetTimeZoneIndex()));
    for (std::uint32_t i = 0; i < 16; ++i)
        le::Store32(&expected[324 + 4 * i], 388 + 4 * i);
    const std::string fresh = ReadAll(path);
    ASSERT_EQ(fresh.size(), 131072u);
    EXPECT_EQ(fresh.substr(0, 452), Str(expected));

    ASSERT_TRUE(image.Open(5, true));
    EXPECT_EQ(image.GetVersion(), 0x3010u);
    EXPECT_FALSE(image.HasMetaData());
    for (int stream = 0; stream < 16; ++stream) {
        EXPECT_EQ(image.GetStreamCount(stream, kVideo), 2u);
        EXPECT_EQ(image.GetStreamCount(stream, kAudio) + image.GetStreamCount(stream, kText), 0u);
        EXPECT_TRUE(image.Tables().Keys(stream).empty());
    }
    ASSERT_TRUE(image.SetWriteMode(true, true));
    ScannedRecord record;
    EXPECT_FALSE(image.ScanNextRecord(record));
    EXPECT_TRUE(image.Close());
    EXPECT_EQ(ReadAll(path), fresh);

    for (const std::uint32_t size : {0u, 0x80000000u, 0xFFFFFFFFu})
        EXPECT_FALSE(ImageFile(size).CreatePreallocatedFile(dir / "IMG9999.AVI", true)) << size;
    // Without a size of its own, a missing file is not created by opening it.
    ImageFile unsized(ImageFile::kSizeFromHeader);
    unsized.SetBasePath(dir.path() + "\\");
    EXPECT_FALSE(unsized.Open(7, true));
    EXPECT_FALSE(testfiles::Exists(unsized.MakePath(7)));

    // Falling times are flagged in memory and both entries kept; a Close with
    // nothing changed leaves every byte of the file as it was, flags included.
    std::vector<std::uint8_t> bytes = BuildFile(0x3010, {}, 65536);
    const std::vector<std::uint8_t> entries = Hex("@4 0A @16 09", 24);  // times 10, then 9
    bytes[48 + 4] = 2;  // video stream 0: two entries
    bytes.insert(bytes.begin() + 48 + 8, entries.begin(), entries.end());
    bytes.resize(65536);
    testfiles::WriteAll(dir / "IMG0001.AVI", Str(bytes));
    ImageFile falling(ImageFile::kSizeFromHeader);
    ASSERT_TRUE(falling.OpenByName(dir / "IMG0001.AVI", true));
    EXPECT_EQ(falling.GetHeader().flags & 1, 1u);
    EXPECT_EQ(falling.GetStreamCount(0, kVideo), 4u);
    EXPECT_TRUE(falling.Close());
    EXPECT_EQ(ReadAll(dir / "IMG0001.AVI"), Str(bytes));
}

// Files as the recorder writes them (tools/volwriter.py, made at build time):
// the loader reads their tables, a rebuild finds every record but the last,
// and the rebuilt tables load again to what the scan found.
TEST(ImageFile, RecorderFilesRoundTrip)
{
    const std::string samples = testfiles::ModuleDirectory() + "\\samples";
    std::ifstream expected(samples + "\\expected.txt");
    ASSERT_TRUE(expected) << samples;
    testfiles::ScratchDir dir;
    int files = 0;
    for (std::string line; std::getline(expected, line); ++files) {
        std::istringstream in(line);
        std::string name;
        int number = 0, lastKind = 0, lastStream = 0;
        std::uint32_t version = 0, pending = 0;
        std::map<std::pair<int, int>, std::uint32_t> records;  // by kind and stream
        in >> name >> number >> version >> lastKind >> lastStream >> pending;
        for (int kind, stream; in >> kind >> stream;)
            in >> records[{kind, stream}];
        SCOPED_TRACE(name);
        const std::string cache = "CACHE" + name.substr(3, 4) + ".tmp";
        ASSERT_TRUE(::CopyFileA((samples + "\\" + name).c_str(), (dir / name).c_str(), FALSE));
        ::CopyFileA((samples + "\\" + cache).c_str(), (dir / cache).c_str(), FALSE);
        ImageFile image(1048576);
        image.SetBasePath(dir.path() + "\\");
        ASSERT_TRUE(image.Open(number, true));
        EXPECT_EQ(image.GetVersion(), version);
        for (const auto& [at, count] : records)
            EXPECT_EQ(image.GetStreamCount(at.second, at.first), count + (at.first == kVideo ? 2 : 0));
        ASSERT_TRUE(image.SetWriteMode(true, false));
        ScannedRecord record;
        while (image.ScanNextRecord(record)) {
        }
        EXPECT_TRUE(version < 0x3010 || image.LoadCacheJournal());
        EXPECT_TRUE(image.Close());
        EXPECT_FALSE(testfiles::Exists(dir / cache));
        ASSERT_TRUE(image.Open(number, true));
        for (const auto& [at, count] : records) {
            const std::uint32_t last = at == std::make_pair(lastKind, lastStream) ? 1 : 0;
            const std::uint32_t extra = (at == std::make_pair(int{kText}, 0) ? pending : 0) + (at.first == kVideo ? 2 : 0);
            EXPECT_EQ(image.GetStreamCount(at.second, at.first), count - last + extra);
        }
        EXPECT_TRUE(image.Close());
    }
    EXPECT_EQ(files, 3);
}

// The fuzz targets' checks over their seeds: the recorder's files of every
// generation, damaged ones, journals and headers of every format.
TEST(FuzzTargets, PassTheirSeeds)
{
    const std::pair<const char*, int (*)(const std::uint8_t*, std::size_t)> targets[] = {
        {"FuzzCacheJournal", FuzzCacheJournal}, {"FuzzFrameHeaders", FuzzFrameHeaders},
        {"FuzzImageLoad", FuzzImageLoad}, {"FuzzMasterRecord", FuzzMasterRecord}, {"FuzzRecordScan", FuzzRecordScan}};
    int seeds = 0;
    for (const auto& [name, run] : targets) {
        const std::string dir = testfiles::ModuleDirectory() + "\\samples\\corpus\\" + name;
        for (const auto& seed : std::filesystem::directory_iterator(dir)) {
            const std::string bytes = ReadAll(seed.path().string());
            run(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
            ++seeds;
        }
    }
    EXPECT_EQ(seeds, 49);
}
