#include "recorderlibs/CDateTime.h"
#include "store/ImageFile.h"
#include "tests/store/ImageBuilder.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

using namespace imagebuilder;

namespace {

std::string Bytes(const std::vector<std::uint8_t>& v)
{
    return std::string(v.begin(), v.end());
}

}  // namespace

TEST(ImageFile, FreshFileByteForByte)
{
    testfiles::ScratchDir dir;
    ImageFile image(131072);
    image.SetBasePath(dir.path() + "\\");
    const std::string path = image.MakePath(5);
    EXPECT_EQ(path, dir.path() + "\\IMG0005.AVI");
    EXPECT_EQ(image.MakePath(10000), dir.path() + "\\IMG10000.AVI");
    EXPECT_EQ(image.MakeCachePath(5), dir.path() + "\\CACHE0005.tmp");
    ASSERT_TRUE(image.CreatePreallocatedFile(path, true));

    std::vector<std::uint8_t> expected;
    for (std::uint32_t word : {0x3010u, 48u, 0u, 48u, 131072u, 452u,
                               static_cast<std::uint32_t>(CDateTime().GetTimeZoneIndex())})
        le::AppendU32(expected, word);
    expected.resize(48, 0);
    for (int table = 0; table < 4; ++table) {  // three frame tables and the key table
        le::AppendU32(expected, 16);
        expected.resize(expected.size() + 64, 0);
    }
    le::AppendU32(expected, 16);  // the meta-data table that the header does not point at
    for (std::uint32_t i = 0; i < 16; ++i)
        le::AppendU32(expected, 388 + 4 * i);
    expected.resize(452, 0);
    const std::string fresh = testfiles::ReadAll(path);
    ASSERT_EQ(fresh.size(), 131072u);
    EXPECT_EQ(fresh.substr(0, 452), Bytes(expected));

    ASSERT_TRUE(image.Open(5, true));
    EXPECT_EQ(image.GetVersion(), 0x3010u);
    EXPECT_FALSE(image.HasMetaData());
    for (int stream = 0; stream < 16; ++stream) {
        EXPECT_EQ(image.GetStreamCount(stream, kVideo), 2u);
        EXPECT_EQ(image.GetStreamCount(stream, kAudio), 0u);
        EXPECT_EQ(image.GetStreamCount(stream, kText), 0u);
        EXPECT_TRUE(image.Tables().Keys(stream).empty());
    }
    ASSERT_TRUE(image.SetWriteMode(true, true));
    ScannedRecord record;
    EXPECT_FALSE(image.ScanNextRecord(record));
    EXPECT_TRUE(image.Close());
    EXPECT_EQ(testfiles::ReadAll(path), fresh);
}

TEST(ImageFile, PreallocationRejectsSizesOutOfRange)
{
    testfiles::ScratchDir dir;
    for (const std::uint32_t size : {0u, 0x80000000u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(size);
        ImageFile image(size);
        const std::string path = dir / ("IMG" + std::to_string(size) + ".AVI");
        EXPECT_FALSE(image.CreatePreallocatedFile(path, true));
        if (size == 0) {
            EXPECT_FALSE(testfiles::Exists(path));
        }
    }
    // Without a size of its own, a missing file is not created by opening it.
    ImageFile image(ImageFile::kSizeFromHeader);
    image.SetBasePath(dir.path() + "\\");
    EXPECT_FALSE(image.Open(7, true));
    EXPECT_FALSE(testfiles::Exists(image.MakePath(7)));
}

// Falling times are flagged in memory and both entries kept; a Close with
// nothing changed leaves every byte of the file as it was, flags included.
TEST(ImageFile, FallingTimesAreFlaggedAndCloseWithoutChangesWritesNothing)
{
    testfiles::ScratchDir dir;
    std::vector<std::uint8_t> bytes = BuildFile(0x3010, {}, 65536);
    auto setEntry = [&](std::size_t index, std::uint32_t time) {
        le::Store32(&bytes[48 + 8 + 12 * index + 4], time);
    };
    le::Store32(&bytes[48 + 4], 2);  // video stream 0: two entries
    bytes.insert(bytes.begin() + 48 + 8, 24, 0);
    bytes.resize(65536);
    setEntry(0, 10);
    setEntry(1, 9);
    const std::string path = dir / "IMG0001.AVI";
    testfiles::WriteAll(path, Bytes(bytes));

    ImageFile image(ImageFile::kSizeFromHeader);
    ASSERT_TRUE(image.OpenByName(path, true));
    EXPECT_EQ(image.GetHeader().flags & 1, 1u);
    EXPECT_EQ(image.GetStreamCount(0, kVideo), 4u);
    EXPECT_TRUE(image.Close());
    EXPECT_EQ(testfiles::ReadAll(path), Bytes(bytes));
}

// Files as the recorder writes them (tools/volwriter.py, made at build time):
// the loader reads their tables, a rebuild finds every record but the last,
// and the rebuilt tables load again to what the scan found.
TEST(ImageFile, RecorderFilesRoundTrip)
{
    const std::string samples = testfiles::ModuleDirectory() + "\\samples";
    std::ifstream expected(samples + "\\expected.txt");
    ASSERT_TRUE(expected) << samples;
    struct Sample {
        std::string name;
        int number = 0;
        std::uint32_t version = 0;
        std::map<std::pair<int, int>, std::uint32_t> records;  // by kind and stream
        std::pair<int, int> last;
        std::uint32_t pending = 0;
    };
    std::vector<Sample> files;
    for (std::string line; std::getline(expected, line);) {
        std::istringstream in(line);
        std::string what;
        in >> what;
        if (what == "file") {
            files.emplace_back();
            in >> files.back().name >> files.back().number >> files.back().version;
        } else if (what == "stream") {
            int kind = 0, stream = 0;
            in >> kind >> stream;
            in >> files.back().records[{kind, stream}];
        } else if (what == "last") {
            in >> files.back().last.first >> files.back().last.second;
        } else if (what == "pending") {
            in >> files.back().pending;
        }
    }
    ASSERT_EQ(files.size(), 3u);

    testfiles::ScratchDir dir;
    for (const Sample& sample : files) {
        SCOPED_TRACE(sample.name);
        const std::string cache = "CACHE" + sample.name.substr(3, 4) + ".tmp";
        ASSERT_TRUE(::CopyFileA((samples + "\\" + sample.name).c_str(), (dir / sample.name).c_str(), FALSE));
        ::CopyFileA((samples + "\\" + cache).c_str(), (dir / cache).c_str(), FALSE);
        {
            ImageFile image(1048576);
            image.SetBasePath(dir.path() + "\\");
            ASSERT_TRUE(image.Open(sample.number, true));
            EXPECT_EQ(image.GetVersion(), sample.version);
            for (const auto& [at, records] : sample.records)
                EXPECT_EQ(image.GetStreamCount(at.second, at.first), records + (at.first == kVideo ? 2 : 0));
            EXPECT_TRUE(image.Close());
        }
        std::map<std::pair<int, int>, std::uint32_t> scanned;
        {
            ImageFile image(ImageFile::kSizeFromHeader);
            image.SetBasePath(dir.path() + "\\");
            ASSERT_TRUE(image.Open(sample.number, false));
            ASSERT_TRUE(image.SetWriteMode(true, false));
            ScannedRecord record;
            while (image.ScanNextRecord(record))
                ++scanned[{record.kind, record.prefix.stream}];
            if (sample.version >= 0x3010) {
                EXPECT_TRUE(image.LoadCacheJournal());
            }
            EXPECT_TRUE(image.Close());
        }
        EXPECT_FALSE(testfiles::Exists(dir / cache));
        for (const auto& [at, records] : sample.records)
            EXPECT_EQ(scanned[at], records - (at == sample.last ? 1 : 0));
        ImageFile image(1048576);
        image.SetBasePath(dir.path() + "\\");
        ASSERT_TRUE(image.Open(sample.number, true));
        for (const auto& [at, count] : scanned) {
            const std::uint32_t pending = at.first == kText && at.second == 0 ? sample.pending : 0;
            EXPECT_EQ(image.GetStreamCount(at.second, at.first), count + pending + (at.first == kVideo ? 2 : 0));
        }
        EXPECT_TRUE(image.Close());
    }
}
