// The byte-level formats: frame headers, master records, image tables and
// the cache journal, all over buffers in memory.
#include "store/format/CacheJournal.h"
#include "store/format/FrameHeader.h"
#include "store/format/MasterRecord.h"
#include "tests/store/ImageBuilder.h"

#include <gtest/gtest.h>

#include <array>

using namespace imagebuilder;

namespace {

using Record = std::array<std::uint8_t, kMasterRecordSize>;

std::int32_t At(const Record& r, std::size_t offset) { return static_cast<std::int32_t>(le::Load32(&r[offset])); }

Record Empty(std::uint32_t capacity = 0)
{
    Record r;
    r.fill(0xAB);
    InitRecord(r, capacity);
    return r;
}

}  // namespace

// One record, every field its own bytes, in each key-index form (D, 90, is
// stored as 10 below a base of 100 where it is relative).
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

// Stored headers and the in-memory record they read as (its 39 bytes; none
// when the header is incomplete).
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

TEST(MasterRecord, EmptyRecordAndEntriesOfEachKind)
{
    const Record r = Empty(0x12345678);
    const std::pair<std::size_t, std::int32_t> words[] = {
        {0, 2085724800}, {4, 115200}, {8, 0}, {12, 0x12345678}, {16, 0}, {20, -1}, {24, 0}, {32, 1}, {92, 1},
        {96, 2085724800}, {156, 2085724800}, {160, 115200}, {220, 115200}, {224, 0}, {284, 0}, {288, 0},
        {296, -1}, {356, -1}, {360, 2085724800}, {420, 2085724800}, {424, 115200}, {484, 115200}, {488, 0},
        {496, -1}, {556, -1}, {560, 2085724800}, {620, 2085724800}, {624, 115200}, {684, 115200}};
    for (const auto& [offset, value] : words)
        EXPECT_EQ(At(r, offset), value) << "offset " << offset;
    for (std::size_t mask : {28, 292, 492})  // 16-bit masks; the padding after them is left alone
        EXPECT_EQ(At(r, mask), static_cast<std::int32_t>(0xABAB0000)) << mask;
    EXPECT_FALSE(IsRecordUsed(r));
    EXPECT_TRUE(IsEmptyRecord(Empty()));
    EXPECT_FALSE(IsEmptyRecord(r));  // the capacity is one of the compared words
    EXPECT_EQ(MasterRecordOffset(12, 10), 6 + 2 * 688);
    EXPECT_LT(MasterRecordOffset(9, 10), 0);

    // Entries land in their kind's block at their channel; a channel keeps
    // its last sequence number and its span, the record the whole span.
    Record e = Empty(), expected = Empty();
    AddEntry(e, 3, 0, 77, 1700000000, 9, 100);
    AddEntry(e, 3, 0, 80, 1500000000, 0, 0);
    AddEntry(e, 15, 1, 78, 1600000000, 9, 50);
    AddEntry(e, 0, 2, 79, 1650000000, 9, 10);
    const std::pair<std::size_t, std::uint32_t> changed[] = {
        {0, 1500000000}, {4, 1700000000}, {8, 100 + 50 + 10 + 4 * 32}, {24, 1}, {28, 0xABAB0008}, {44, 80},
        {108, 1500000000}, {172, 1700000000}, {236, 1}, {288, 1}, {292, 0xABAB8000}, {356, 78}, {420, 1600000000},
        {484, 1600000000}, {488, 1}, {492, 0xABAB0001}, {496, 79}, {560, 1650000000}, {624, 1650000000}};
    for (const auto& [offset, value] : changed)
        le::Store32(&expected[offset], value);
    EXPECT_EQ(e, expected);
    EXPECT_TRUE(IsRecordUsed(e) && !IsEmptyRecord(e));
}

// A record is taken only when the record after it continues its stream's
// numbering.
TEST(ImageScan, SequenceRules)
{
    const struct {
        const char* name;
        std::uint32_t version;
        std::vector<Rec> records;
        int taken;
    } cases[] = {
        {"video from 2, audio from 0", 0x3010, {V(0, 2, true), A(0, 0), V(0, 3), A(0, 1), T(3, 0), V(0, 4)}, 5},
        {"video from 0", 0x3010, {V(0, 0), V(0, 1), V(0, 2)}, 0},
        {"audio from 2", 0x3010, {A(0, 2), A(0, 3), A(0, 4)}, 0},
        {"one too high ends the scan", 0x3010, {V(0, 2), V(0, 3), V(0, 5), V(0, 6)}, 1},
        {"streams are numbered apart", 0x3010, {V(0, 2), V(1, 2, true), V(0, 3), V(1, 3), V(15, 2)}, 4},
        {"the last record is not taken", 0x3010, {V(0, 2)}, 0},
        {"old generation: everything is video", 0x2015, {V(0, 2), V(0, 3), A(0, 0), V(0, 4)}, 2},
    };
    for (const auto& c : cases) {
        BufferFile file(BuildFile(c.version, c.records, 65536));
        ImageTables scanned;
        ASSERT_TRUE(scanned.LoadHeader(file));
        EXPECT_EQ(ScanAll(scanned, file), c.taken) << c.name;
    }
    // Too short for the header its first word calls for.
    for (const std::size_t size : {0, 60}) {
        BufferFile file(Hex("00200000", 64));
        file.Bytes().resize(size);
        EXPECT_FALSE(ImageTables().LoadHeader(file)) << size;
    }
}

// The journal's meta data follow the video frames one to one; a pending text
// record gets the next number of its stream and is stored on write-back,
// one the file already holds is dropped. An entry over 131072 bytes ends it.
TEST(CacheJournal, MergeAndWriteBack)
{
    for (const std::uint32_t length : {131072u, 131073u}) {
        std::vector<std::uint8_t> journal = EncodeJournalEntry(kJournalMetaData, 0, std::vector<std::uint8_t>(length, 7));
        const std::vector<std::uint8_t> small = EncodeJournalEntry(kJournalMetaData, 0, {1, 2});
        journal.insert(journal.end(), small.begin(), small.end());
        BufferFile source(journal);
        JournalReader reader(source);
        JournalEntry entry;
        int entries = 0;
        while (reader.Next(entry))
            ++entries;
        EXPECT_EQ(entries, length == 131072u ? 2 : 0) << length;
    }

    BufferFile file(BuildFile(0x3010, {V(0, 2, true), T(0, 0), V(0, 3), V(0, 4)}, 4096));
    ImageTables tables;
    ASSERT_TRUE(tables.LoadHeader(file));
    tables.EnterWriteMode();
    ASSERT_EQ(ScanAll(tables, file), 3);
    std::vector<std::uint8_t> journal;
    const std::pair<std::uint8_t, std::vector<std::uint8_t>> entries[] = {
        {kJournalMetaData, {0, 0}}, {kJournalMetaData, {1, 1}}, {kJournalMetaData, {2, 2}},
        {kJournalPendingText, RecordBody(T(0, 0))},  // already in the file
        {kJournalPendingText, RecordBody(T(0, 7))}, {kJournalHeaderExtension, Hex("@28 EE", 48)}};
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
    EXPECT_EQ(le::Load32(&file.Bytes()[dataEnd + 4 + 11]), 1u);  // renumbered
    ASSERT_EQ(loaded.MetaData(0).size(), 2u);
    EXPECT_EQ(loaded.ItemBytes(loaded.MetaData(0)[1])[1], 1);
    // The running total of the tables' size matches what was written.
    EXPECT_EQ(loaded.Header().tablesEnd, loaded.Header().metaDataOffset + 132 + 2 * (2 + 2));
}
