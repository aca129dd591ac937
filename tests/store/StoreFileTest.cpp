// The index files on a real (Wine) file system: names, the open sequence,
// key index records as stored, master index records at their offsets.
#include "store/KeyIndexFile.h"
#include "store/MasterIndex.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <array>

namespace {

using testfiles::ReadAll;
using testfiles::ScratchDir;
using testfiles::WriteAll;

TEST(MmioFile, Names)
{
    MmioFile file;
    EXPECT_EQ(file.MakePath("KEY", "NDX", 5), "C:\\KEY0005.NDX");
    file.SetBasePath("D:\\");
    EXPECT_EQ(file.MakePath("IMG", "AVI", 5), "D:\\IMG0005.AVI");
    EXPECT_EQ(file.MakePath("IMG", "AVI", 10000), "D:\\IMG10000.AVI");
}

TEST(MmioFile, OpenSequence)
{
    ScratchDir dir;
    KeyIndexFile missing;
    missing.SetBasePath(dir.path() + "\\");
    EXPECT_EQ(missing.Open("KEY", "NDX", 7), kMmioMissing);
    EXPECT_FALSE(missing.IsOpen());

    // A file whose read-only attribute can be cleared opens for writing; one
    // that another opener keeps from being written opens read-only.
    const struct {
        const char* name;
        bool readOnlyAttribute;
        bool heldByReader;
        MmioResult write;
    } cases[] = {
        {"attribute", true, false, kMmioOk},
        {"reader", false, true, kMmioWriteFailed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir / c.name;
        WriteAll(path, "abc");
        if (c.readOnlyAttribute)
            ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
        win32::UniqueFileHandle reader;
        if (c.heldByReader)
            reader = win32::UniqueFileHandle(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        MmioFile file;
        ASSERT_EQ(file.OpenByName(path), kMmioOk);
        EXPECT_EQ(file.WriteAt("x", 1, 1), c.write);
        char bytes[4] = {};
        std::uint32_t count = 9;
        EXPECT_EQ(file.ReadAt(bytes, 4, 0, count), kMmioOk);
        EXPECT_EQ(count, 3u);
        EXPECT_EQ(file.GetLength(), 3);
        EXPECT_EQ(file.Close(), kMmioOk);
        EXPECT_FALSE(file.IsOpen());
    }
}

TEST(KeyIndexFile, RecordsAreAppendedInTheVersionsForm)
{
    ScratchDir dir;
    KeyIndexFile file;
    file.SetBasePath(dir.path() + "\\");
    ASSERT_TRUE(file.Open(12, -1));  // missing: created, then opened
    EXPECT_EQ(file.GetNumberBase(), 12u);
    file.SetVersion(0x2015);
    KeyRecord record;
    record.flags = 1;
    record.fieldD = 10;
    record.keyValue = 0x01020304;
    EXPECT_TRUE(file.AppendRecord(record));
    EXPECT_TRUE(file.AppendRecord(record));
    EXPECT_EQ(file.GetLength(), 2 * 39);
    file.SetVersion(0x3010);
    EXPECT_FALSE(file.AppendRecord(record));
    EXPECT_EQ(file.Close(), kMmioOk);

    const std::string stored = ReadAll(dir / "KEY0012.NDX");
    ASSERT_EQ(stored.size(), 2u * 39);
    EXPECT_EQ(stored.substr(39 + 5, 5), std::string("KSTX\x04", 5));
    EXPECT_EQ(stored[39 + 23], 2);  // D kept as its distance below the base
    EXPECT_EQ(stored.substr(39 + 31, 4), "\x04\x03\x02\x01");

    EXPECT_TRUE(file.Create(12));  // empties it
    EXPECT_EQ(ReadAll(dir / "KEY0012.NDX").size(), 0u);
    EXPECT_TRUE(file.Open(12, 100));
    EXPECT_EQ(file.GetNumberBase(), 100u);
}

TEST(MasterIndex, RecordsLieAtTheirOffsets)
{
    ScratchDir dir;
    MasterIndex index(10);
    ASSERT_EQ(index.OpenIn(dir.path()), kMmioOk);  // created empty
    std::array<std::uint8_t, kMasterRecordSize> record;
    record.fill(0x5A);
    EXPECT_TRUE(index.ReadRecord(12, record));  // past the end: nothing read, no failure
    EXPECT_EQ(record[0], 0x5A);

    InitRecord(record, 0);
    AddEntry(record, 1, 0, 5, 1700000000, 1, 100);
    EXPECT_TRUE(index.WriteRecord(12, record));
    EXPECT_FALSE(index.WriteRecord(9, record));
    std::array<std::uint8_t, kMasterRecordSize> back{};
    EXPECT_TRUE(index.ReadRecord(12, back));
    EXPECT_EQ(back, record);
    EXPECT_EQ(index.Close(), kMmioOk);

    const std::string stored = ReadAll(dir / "MASTER.NDX");
    ASSERT_EQ(stored.size(), 6u + 3 * 688);
    EXPECT_EQ(stored.substr(1382), std::string(record.begin(), record.end()));

    MasterIndex again(10);
    EXPECT_EQ(again.OpenIn(dir.path() + "\\"), kMmioOk);
    EXPECT_EQ(again.GetLength(), 6 + 3 * 688);
}

}  // namespace
