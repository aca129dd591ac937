#include "store/format/CacheJournal.h"
#include "store/format/ImageTables.h"
#include "tests/store/ImageBuilder.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

using namespace imagebuilder;


// A record is taken only when the record after it continues its stream's
// numbering; whatever the scan takes, write-back stores and the loader reads.
TEST(ImageScan, SequenceRulesAndRebuiltTablesLoadAgain)
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
        {"0x3000 layout", 0x3000, {V(0, 2, true), A(1, 0), T(0, 0), V(0, 3)}, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        BufferFile file(BuildFile(c.version, c.records, 65536));
        ImageTables scanned;
        ASSERT_TRUE(scanned.LoadHeader(file));
        EXPECT_EQ(ScanAll(scanned, file), c.taken);
        std::uint32_t expectedEnd = kImageHeaderSize;
        for (int i = 0; i < c.taken; ++i)
            expectedEnd += 4 + static_cast<std::uint32_t>(RecordBody(c.records[i]).size());
        EXPECT_EQ(scanned.Header().dataEnd, expectedEnd);
        if (c.taken > 0) {
            EXPECT_EQ(scanned.Frames(c.records[0].kind, c.records[0].stream)[0].position, kImageHeaderSize);
        }

        ASSERT_TRUE(scanned.WriteBack(file));
        ImageTables loaded;
        ASSERT_TRUE(loaded.LoadHeader(file));
        EXPECT_EQ(loaded.Header().version, c.version);
        ASSERT_TRUE(loaded.LoadTables(file));
        for (int stream = 0; stream < kStreamsPerKind; ++stream) {
            for (int kind = 0; kind < kStreamKinds; ++kind)
                EXPECT_EQ(loaded.StreamCount(stream, kind), scanned.StreamCount(stream, kind));
            EXPECT_EQ(loaded.Keys(stream).size(), c.version >= 0x3010 ? scanned.Keys(stream).size() : 0u);
        }
    }
}

// Damaged files: every load fails cleanly, with nothing reserved for counts
// the file cannot hold and nothing read past its real end.
TEST(ImageLoad, DamagedTablesFail)
{
    const std::vector<std::uint8_t> good = [] {
        BufferFile file(BuildFile(0x3010, {V(0, 2, true), V(0, 3), A(0, 0), V(0, 4)}, 4096));
        ImageTables tables;
        tables.LoadHeader(file);
        tables.EnterWriteMode();
        ScanAll(tables, file);
        BufferFile emptyJournal;
        tables.MergeJournal(emptyJournal);  // one empty meta-data item per frame
        tables.WriteBack(file);
        return file.Bytes();
    }();
    const std::uint32_t tableOffset = le::Load32(&good[4]);
    const std::uint32_t metaOffset = le::Load32(&good[8]);
    ASSERT_NE(metaOffset, 0u);
    const struct {
        const char* name;
        std::function<void(std::vector<std::uint8_t>&)> damage;
        bool headerLoads;
    } cases[] = {
        {"frame count of 4,000,000,000", [&](auto& f) { le::Store32(&f[tableOffset + 4], 4000000000u); }, true},
        {"key count of 4,000,000,000", [&](auto& f) { le::Store32(&f[tableOffset + 3 * 68 + 20], 4000000000u); }, true},
        {"stream count mark not 16", [&](auto& f) { le::Store32(&f[tableOffset], 15); }, true},
        {"table offset past the end", [&](auto& f) { le::Store32(&f[4], 0xFFFFFFF0u); }, true},
        {"torn inside the tables", [&](auto& f) { f.resize(tableOffset + 100); }, true},
        {"meta-data count of 4,000,000,000",
         [&](auto& f) { le::Store32(&f[le::Load32(&f[metaOffset + 4])], 4000000000u); }, true},
        {"header form longer than the file", [](auto& f) { le::Store32(&f[0], 0x2000); f.resize(60); }, false},
        {"empty file", [](auto& f) { f.clear(); }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::uint8_t> bytes = good;
        c.damage(bytes);
        BufferFile file(bytes);
        ImageTables tables;
        ASSERT_EQ(tables.LoadHeader(file), c.headerLoads);
        if (!c.headerLoads)
            continue;
        const bool tablesLoaded = tables.LoadTables(file);
        EXPECT_FALSE(tablesLoaded && tables.LoadMetaData(file, -1));
        EXPECT_EQ(tables.StreamCount(0, kVideo), tablesLoaded ? 4u : 2u);
        EXPECT_TRUE(tables.MetaData(0).empty());
    }
}

// A header that claims more than the file holds only leads to short reads.
TEST(ImageScan, StopsAtTheRealEndOfTheFile)
{
    std::vector<std::uint8_t> bytes = BuildFile(0x3010, {V(0, 2), V(0, 3), V(0, 4), V(0, 5)});
    le::Store32(&bytes[16], 0xFFFFFFF0u);
    bytes.resize(kImageHeaderSize + 2 * (4 + RecordBody(V(0, 2)).size()) + 10);  // torn inside the third prefix
    BufferFile file(bytes);
    ImageTables tables;
    ASSERT_TRUE(tables.LoadHeader(file));
    EXPECT_EQ(ScanAll(tables, file), 1);
    EXPECT_FALSE(tables.WriteBack(file));  // the tables would reach past the end
    EXPECT_EQ(file.Bytes(), bytes);
}

TEST(CacheJournal, EntryOfMoreThan131072BytesEndsTheJournal)
{
    for (const std::uint32_t length : {131072u, 131073u}) {
        SCOPED_TRACE(length);
        std::vector<std::uint8_t> journal = EncodeJournalEntry(kJournalMetaData, 0, std::vector<std::uint8_t>(length, 7));
        const std::vector<std::uint8_t> small = EncodeJournalEntry(kJournalMetaData, 0, {1, 2});
        journal.insert(journal.end(), small.begin(), small.end());
        BufferFile source(journal);
        JournalReader reader(source);
        JournalEntry entry;
        int entries = 0;
        while (reader.Next(entry))
            ++entries;
        EXPECT_EQ(entries, length == 131072u ? 2 : 0);
    }
}

// The journal's meta data follow the video frames one to one; a pending text
// record gets the next number of its stream and is stored on write-back,
// one the file already holds is dropped.
TEST(CacheJournal, MergeAndWriteBack)
{
    BufferFile file(BuildFile(0x3010, {V(0, 2, true), T(0, 0), V(0, 3), V(0, 4)}, 4096));
    ImageTables tables;
    ASSERT_TRUE(tables.LoadHeader(file));
    tables.EnterWriteMode();
    ASSERT_EQ(ScanAll(tables, file), 3);

    std::vector<std::uint8_t> journal;
    auto add = [&](std::uint8_t kind, std::uint8_t stream, const std::vector<std::uint8_t>& data) {
        const std::vector<std::uint8_t> entry = EncodeJournalEntry(kind, stream, data);
        journal.insert(journal.end(), entry.begin(), entry.end());
    };
    for (std::uint8_t i = 0; i < 3; ++i)
        add(kJournalMetaData, 0, {i, i});
    add(kJournalMetaData, 1, {9});
    add(kJournalPendingText, 0, RecordBody(T(0, 0)));  // already in the file
    Rec late = T(0, 7);
    late.time = 2000;
    add(kJournalPendingText, 0, RecordBody(late));
    std::vector<std::uint8_t> extension(48, 0);
    extension[28] = 0xEE;
    extension[44] = 1;
    add(kJournalHeaderExtension, 0, extension);
    add(9, 0, {1});  // unknown kinds are skipped
    BufferFile source(journal);
    ASSERT_TRUE(tables.MergeJournal(source));
    EXPECT_FALSE(tables.MergeJournal(source));  // meta data are present now

    EXPECT_EQ(tables.MetaData(0).size(), 2u);
    EXPECT_EQ(tables.MetaData(1).size(), 0u);
    ASSERT_EQ(tables.PendingText(0).size(), 1u);
    ASSERT_EQ(tables.StreamCount(0, kText), 2u);
    EXPECT_EQ(tables.Frames(kText, 0)[1].position, kNoPosition);
    EXPECT_EQ(tables.Header().flags, 1u);
    const std::uint32_t dataEnd = tables.Header().dataEnd;
    ASSERT_TRUE(tables.WriteBack(file));

    ImageTables loaded;
    ASSERT_TRUE(loaded.LoadHeader(file));
    ASSERT_TRUE(loaded.LoadTables(file));
    ASSERT_TRUE(loaded.LoadMetaData(file, -1));
    EXPECT_EQ(loaded.Header().extension[0], 0xEE);
    ASSERT_EQ(loaded.StreamCount(0, kText), 2u);
    const FrameEntry text = loaded.Frames(kText, 0)[1];
    EXPECT_EQ(text.position, dataEnd);
    EXPECT_EQ(text.time, 2000u);
    EXPECT_EQ(le::Load32(&file.Bytes()[dataEnd + 4 + 11]), 1u);  // renumbered
    ASSERT_EQ(loaded.MetaData(0).size(), 2u);
    EXPECT_EQ(loaded.ItemBytes(loaded.MetaData(0)[1])[0], 1);
    // The running total of the tables' size matches what was written.
    EXPECT_EQ(loaded.Header().tablesEnd, loaded.Header().metaDataOffset + 132 + 2 * (2 + 2));
}
