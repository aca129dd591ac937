// The image store's formats in memory, its files on a Wine file system and the fuzz targets over their
// seeds; files as the recorder writes them are the last-files check's.
#include "recorderlibs/CDateTime.h"
#include "store/ImageFile.h"
#include "store/ImageRepair.h"
#include "store/KeyIndexFile.h"
#include "store/MasterIndex.h"
#include "store/format/CacheJournal.h"
#include "tests/store/ImageBuilder.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <tuple>

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

// Open and create as the subclasses do them, with every open refused.
template <class File>
struct Refusing : File {
    using File::File;
    MmioResult OpenByName(const std::string&) override { return refusal; }
    MmioResult CreateByName(const std::string&) override { return created = true, kMmioOk; }
    MmioResult refusal = kMmioOk;
    bool created = false;
};

}  // namespace

// One record, every field its own bytes, in each key-index form (D, 90, is 10 below a base of 100 where relative).
TEST(FrameHeader, KeyIndexFormatsAsStored)
{
    KeyRecord r;
    ASSERT_TRUE(LoadKeyRecord(
        Hex("44332211 55 4B535458 06 00 0D0C0B0A 03 01 04030201 24232221 34333231 4241 5A000000 FFFFFF7F").data(),
        kKeyRecordSize, r));
    const std::pair<std::uint32_t, const char*> cases[] = {
        {0x1000, "44332211 55 0D0C 4241 0A00 24232221 03 0403 01 31"},
        {0x2000, "44332211 55 0D0C 83 0403 4241 0A00 24232221 34333231"},
        {0x2010, "44332211 55 4B535458 03 0D0C0B0A 83 0403 4241 0A00 FFFF0300 24232221 34333231"},
        {0x2015, "44332211 55 4B535458 04 00 0D0C0B0A 03 01 04030201 4241 0A000000 FFFF0300 24232221 34333231"},
        {0x3000, "44332211 55 4B535458 05 00 0D0C0B0A 03 01 04030201 4241 5A000000 FFFFFF7F 24232221 34333231"},
    };
    for (const auto& [version, stored] : cases) {
        std::uint8_t out[64] = {};
        const std::size_t size = WriteKeyIndexRecord(r, version, 100, out, sizeof out);
        EXPECT_EQ(std::vector<std::uint8_t>(out, out + size), Hex(stored)) << version;
    }
}

// Stored headers and the 39 bytes of the record they read as (none when incomplete).
TEST(FrameHeader, ReadingStoredHeaders)
{
    const struct {
        const char* name;
        std::uint32_t version;
        std::vector<std::uint8_t> stored;
        std::uint32_t base, headerSize;
        const char* read;
    } cases[] = {
        {"format 2 non-key: 14 bytes, no key value or B", 0x2000, Hex("@7 7F", 14), 0, 14, "@5 4B535458 06 @15 FF"},
        {"blank format 1", 0x1000, Hex("@19 3C", 20), 0, 20, "@5 4B535458 06 @25 80C2073C"},
        {"format 1 stream 127", 0x1000, Hex("@15 7F", 20), 0, 20, "@5 4B535458 06 @15 FF @25 80C207"},
        {"no base, D stored 5", 0x2000, Hex("@12 05", 14), 0, 14, "@5 4B535458 06 @31 01"},
        {"no base, D stored 0", 0x2000, Hex("", 14), 0, 14, "@5 4B535458 06"},
        {"base 100, D stored 5", 0x2000, Hex("@12 05", 14), 100, 14, "@5 4B535458 06 @31 5F"},
        {"marked format 4 in a 0x3000 file: D relative, non-key keeps its format", 0x3000,
         Hex("@5 4B535458 04 @23 05000000 78563412", 31), 100, 31, "@5 4B535458 04 @31 5F000000 78563412"},
        {"format 5 keeps D", 0x3000, Hex("@5 4B535458 05 @23 05", 31), 100, 31, "@5 4B535458 05 @31 05"},
        {"format 6 key taken as stored", 0x3010, Hex("@5 4B535458 06 02 @16 03 @21 07000000 08", 29), 100, 29,
         "@5 4B535458 06 02 @16 03 @21 07 @25 08"},
        {"key header cut short", 0x2010, Hex("@5 4B535458 03 @14 80", 32), 0, 33, nullptr},
        {"too short for any header", 0x3010, Hex("", 9), 0, 21, nullptr},
    };
    for (const auto& c : cases) {
        KeyRecord r;
        std::uint32_t headerSize = 0;
        EXPECT_EQ(ConvertVideoHeader(c.stored.data(), c.stored.size(), r, c.base, headerSize, c.version),
                  c.read != nullptr) << c.name;
        EXPECT_EQ(headerSize, c.headerSize) << c.name;
        std::uint8_t packed[kKeyRecordSize];
        StoreKeyRecord(r, packed);
        if (c.read) {
            EXPECT_EQ(std::vector<std::uint8_t>(packed, packed + kKeyRecordSize), Hex(c.read, kKeyRecordSize)) << c.name;
        }
    }
}

TEST(MasterRecord, EmptyAndUsedRecords)
{
    std::array<std::uint8_t, kMasterRecordSize> r, empty;
    for (auto [record, capacity] : {std::pair{&r, 0x12345678u}, {&empty, 0u}}) {
        record->fill(0xAB);
        InitRecord(*record, capacity);
    }
    for (std::size_t mask : {28, 292, 492})  // 16-bit masks; the padding after them is left alone
        EXPECT_EQ(le::Load32(&r[mask]), 0xABAB0000u) << mask;
    EXPECT_FALSE(IsRecordUsed(r));
    EXPECT_TRUE(IsEmptyRecord(empty));
    EXPECT_FALSE(IsEmptyRecord(r));  // the capacity is one of the compared words
}

// The journal's meta data follow the video frames one to one; a pending text record gets the next number of
// its stream and is stored on write-back, one the file holds is dropped. An entry over 131072 bytes ends it.
TEST(CacheJournal, MergeAndWriteBack)
{
    for (const std::uint32_t length : {131072u, 131073u}) {
        BufferFile source(EncodeJournalEntry(kJournalMetaData, 0, std::vector<std::uint8_t>(length, 7)));
        JournalEntry entry;
        EXPECT_EQ(JournalReader(source).Next(entry), length == 131072u) << length;
    }

    BufferFile file(BuildFile(0x3010, {V(0, 2, true), T(0, 0), V(0, 3), V(0, 4)}, 131072));
    ImageTables tables;
    ASSERT_TRUE(tables.LoadHeader(file));
    tables.EnterWriteMode();
    ASSERT_EQ(ScanAll(tables, file), 3);
    std::vector<std::uint8_t> journal;
    // A meta-data item over 65535 bytes cannot be stored: its frame keeps its slot, empty; a text record can.
    std::vector<std::uint8_t> longText = RecordBody(T(0, 7));
    longText.resize(70000, 0x5A);
    const std::pair<std::uint8_t, std::vector<std::uint8_t>> entries[] = {
        {kJournalMetaData, {0, 0}}, {kJournalMetaData, std::vector<std::uint8_t>(65536, 1)},
        {kJournalMetaData, {2, 2}},
        {kJournalPendingText, RecordBody(T(0, 0))},  // already in the file
        {kJournalPendingText, longText}, {kJournalHeaderExtension, Hex("@28 EE", 48)}};
    for (const auto& [kind, data] : entries) {
        const std::vector<std::uint8_t> entry = EncodeJournalEntry(kind, 0, data);
        journal.insert(journal.end(), entry.begin(), entry.end());
    }
    BufferFile source(journal);
    ASSERT_TRUE(tables.MergeJournal(source));
    const std::uint32_t dataEnd = tables.Header().dataEnd;
    ASSERT_TRUE(tables.WriteBack(file));

    ImageTables loaded;
    ASSERT_TRUE(loaded.LoadHeader(file) && loaded.LoadTables(file) && loaded.LoadMetaData(file, -1));
    EXPECT_EQ(loaded.Header().extension[0], 0xEE);
    ASSERT_EQ(loaded.StreamCount(0, kText), 2u);
    EXPECT_EQ(loaded.Frames(kText, 0)[1].position, dataEnd);
    EXPECT_EQ(le::Load32(&file.Bytes()[dataEnd]), 70000u);
    EXPECT_EQ(le::Load32(&file.Bytes()[dataEnd + 4 + 11]), 1u);  // renumbered
    ASSERT_EQ(loaded.MetaData(0).size(), 2u);
    EXPECT_EQ(loaded.MetaData(0)[0].length, 2u);
    EXPECT_EQ(loaded.MetaData(0)[1].length, 0u);
    EXPECT_EQ(loaded.Header().tablesEnd, loaded.Header().metaDataOffset + 132 + (2 + 2) + 2);
}

TEST(StoreFiles, NamesOpenSequenceIndexRecordsAndImageFilesAsStored)
{
    testfiles::ScratchDir dir;
    // A file whose read-only attribute can be cleared opens for writing.
    testfiles::WriteAll(dir / "readonly", "abc");
    ::SetFileAttributesA((dir / "readonly").c_str(), FILE_ATTRIBUTE_READONLY);
    MmioFile file;
    ASSERT_EQ(file.OpenByName(dir / "readonly"), kMmioOk);
    EXPECT_TRUE(file.WriteAt("x", 1, 1) == kMmioOk && file.GetLength() == 3 && file.Close() == kMmioOk);

    // Only a file that is not there is created; a name that cannot be looked at is not missing.
    for (const MmioResult refusal : {kMmioMissing, kMmioCannotOpen}) {
        Refusing<KeyIndexFile> keys;
        Refusing<MasterIndex> master(0);
        keys.refusal = master.refusal = refusal;
        EXPECT_TRUE(!keys.Open(3, -1) && master.OpenIn(dir.path()) == refusal);
        EXPECT_TRUE(keys.created == master.created && master.created == (refusal == kMmioMissing)) << refusal;
    }
    EXPECT_EQ(MmioFile().OpenByName(dir / "bad<name"), kMmioCannotOpen);

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

    ImageFile image(131072);
    image.SetBasePath(dir.path() + "\\");
    const std::string path = image.MakePath(5);
    EXPECT_EQ(path, dir.path() + "\\IMG0005.AVI");
    EXPECT_EQ(image.MakePath(10000), dir.path() + "\\IMG10000.AVI");
    EXPECT_EQ(image.MakeCachePath(5), dir.path() + "\\CACHE0005.tmp");
    ASSERT_TRUE(image.CreatePreallocatedFile(path, true));
    // A fresh file has no record; a Close with nothing changed writes nothing.
    const std::string fresh = ReadAll(path);
    ASSERT_EQ(fresh.size(), 131072u);
    ASSERT_TRUE(image.Open(5, true) && !image.HasMetaData() && image.SetWriteMode(true, true));
    ScannedRecord scanned;
    EXPECT_FALSE(image.ScanNextRecord(scanned.kind, scanned.video, scanned.audio, scanned.text, scanned.length));
    EXPECT_TRUE(image.SetWriteMode(false, false) && image.Close());
    EXPECT_EQ(ReadAll(path), fresh);

    for (const std::uint32_t size : {0u, 0x80000000u, 0xFFFFFFFFu})
        EXPECT_FALSE(ImageFile(size).CreatePreallocatedFile(dir / "IMG9999.AVI", true)) << size;
    // Without a size of its own, a missing file is not created by opening it.
    ImageFile unsized(ImageFile::kSizeFromHeader);
    unsized.SetBasePath(dir.path() + "\\");
    EXPECT_FALSE(unsized.Open(7, true));
    EXPECT_FALSE(testfiles::Exists(unsized.MakePath(7)));

    // Falling times are flagged in memory, both entries kept, and the file left as it was by a Close.
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

// Every generation: a summary stale in any kind's numbering is rebuilt; a record damaged in any field the scan
// reads ends the scan before it (a record counts only when the next one continues it).
TEST(ImageRepair, EveryGenerationRebuiltUpToItsFirstDamage)
{
    testfiles::ScratchDir dir;
    const ImageStoreLocation location{dir.path() + "\\", dir.path() + "\\", 65536};
    MasterIndex index(0);
    ASSERT_EQ(index.OpenIn(dir.path()), kMmioOk);
    // Offset in the fourth record, bytes, value; records taken; summary word made stale.
    const struct {
        std::size_t at, width;
        std::uint32_t value;
        int taken;
        std::size_t summaryAt;
    } damages[] = {{0, 0, 0, 6, 32}, {0, 0, 0, 6, 300}, {0, 0, 0, 6, 504}, {0, 4, 0x7FFFFF00, 3, 0} /* length */,
                   {9, 1, 0, 2, 0} /* marker */, {14, 1, 7, 2, 0} /* kind */, {15, 4, 99, 2, 0} /* sequence */,
                   {19, 1, 16, 2, 0} /* stream */};
    std::int32_t n = 0;
    for (const std::uint32_t version : {0x1000u, 0x2000u, 0x2010u, 0x2015u, 0x3000u, 0x3010u}) {
        // Before 0x3000 every record is video.
        const std::vector<Rec> records =
            version >= 0x3000 ? std::vector<Rec>{V(0, 2, true), A(1, 0), T(2, 0), V(0, 3), A(1, 1), T(2, 1), V(0, 4)}
                              : std::vector<Rec>{V(0, 2, true), V(3, 2, true), V(0, 3), V(3, 3), V(0, 4), V(3, 4), V(0, 5)};
        const std::size_t fourth = 48 + 12 + RecordBody(records[0]).size() + RecordBody(records[1]).size() +
                                   RecordBody(records[2]).size();
        for (const auto& d : damages) {
            SCOPED_TRACE(std::to_string(version) + " at " + std::to_string(d.at + d.summaryAt));
            std::vector<std::uint8_t> bytes = BuildFile(version, records, 65536);
            for (std::size_t i = 0; i < d.width; ++i)
                bytes[fourth + d.at + i] = static_cast<std::uint8_t>(d.value >> (8 * i));
            ImageFile image(ImageFile::kSizeFromHeader);
            image.SetBasePath(location.imageDirectory);
            testfiles::WriteAll(image.MakePath(++n), Str(bytes));
            ASSERT_EQ(RebuildRecord(location, index, n), RebuildResult::Stored);
            ASSERT_TRUE(image.Open(n, true));
            int entries = -2 * kStreamsPerKind;  // video numbers start at 2
            for (int stream = 0; stream < kStreamsPerKind; ++stream)
                for (int kind = 0; kind < kStreamKinds; ++kind)
                    entries += static_cast<int>(image.GetStreamCount(stream, kind));
            EXPECT_EQ(entries, d.taken);
            image.Close();  // MatchesSummary opens it again
            EXPECT_TRUE(MatchesSummary(location, index, n));
            MasterRecordBuffer summary = EmptyRecord(0);
            ASSERT_TRUE(index.ReadRecord(n, summary));
            le::Store32(&summary[d.summaryAt], le::Load32(&summary[d.summaryAt]) + 1);
            if (d.summaryAt == 0 || !index.WriteRecord(n, summary))
                continue;
            EXPECT_FALSE(MatchesSummary(location, index, n));
            EXPECT_EQ(RebuildRecord(location, index, n), RebuildResult::Stored);
            EXPECT_TRUE(MatchesSummary(location, index, n));
        }
    }
    BufferFile mixed(BuildFile(0x2015, {V(0, 2, true), A(0, 0), V(0, 3)}, 65536)), cut(Hex("00200000", 60));
    ImageTables tables;  // before 0x3000 another kind ends the scan; a header must be whole
    EXPECT_TRUE(tables.LoadHeader(mixed) && ScanAll(tables, mixed) == 1 && !tables.LoadHeader(cut));

    // Missing only when the system says so.
    const std::tuple<std::string, std::int32_t, bool> names[] = {{location.imageDirectory, 1, true},
        {location.imageDirectory, 100, false}, {dir / "nowhere\\", 1, false}, {dir / "bad<name\\", 1, true}};
    for (const auto& [directory, number, exists] : names)
        EXPECT_EQ(ImageFileExists(ImageStoreLocation{directory, directory, 65536}, number), exists) << directory;
}

// The fuzz targets' checks over their seeds; a target aborts the test when its checks fail.
TEST(FuzzTargets, PassTheirSeeds)
{
    const std::pair<const char*, int (*)(const std::uint8_t*, std::size_t)> targets[] = {
        {"FuzzCacheJournal", FuzzCacheJournal}, {"FuzzFrameHeaders", FuzzFrameHeaders},
        {"FuzzImageLoad", FuzzImageLoad}, {"FuzzMasterRecord", FuzzMasterRecord}, {"FuzzRecordScan", FuzzRecordScan}};
    for (const auto& [name, run] : targets) {
        const std::string dir = testfiles::ModuleDirectory() + "\\corpus\\" + name;
        bool seeded = false;
        for (const auto& seed : std::filesystem::directory_iterator(dir)) {
            const std::string bytes = ReadAll(seed.path().string());
            run(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
            seeded = true;
        }
        EXPECT_TRUE(seeded) << name;
    }
}
