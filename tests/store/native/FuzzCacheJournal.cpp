// Merging any bytes as the cache journal of an image file that holds a few
// frames, then writing the tables back and loading them again.
#include "store/format/CacheJournal.h"
#include "tests/store/native/FuzzSupport.h"

namespace {

// A 0x3010 file without records whose tables list frames of video streams 0
// and 1 and one text frame, with room to write back a large journal.
std::vector<std::uint8_t> ImageWithFrames(std::size_t room)
{
    std::vector<std::uint8_t> file(kImageHeaderSize, 0);
    const std::uint32_t counts[kStreamKinds][2] = {{3, 1}, {0, 0}, {1, 0}};
    for (int kind = 0; kind < kStreamKinds; ++kind) {
        le::AppendU32(file, kStreamsPerKind);
        for (int stream = 0; stream < kStreamsPerKind; ++stream) {
            const std::uint32_t count = stream < 2 ? counts[kind][stream] : 0;
            le::AppendU32(file, count);
            for (std::uint32_t i = 0; i < count; ++i) {
                le::AppendU32(file, kImageHeaderSize);
                le::AppendU32(file, 1000 + i);
                le::AppendU16(file, 0);
                le::AppendU16(file, 1);
            }
        }
    }
    le::AppendU32(file, kStreamsPerKind);
    file.resize(file.size() + 4 * kStreamsPerKind + room, 0);
    ImageHeader header = MakeFreshHeader(static_cast<std::uint32_t>(file.size()), 0);
    const std::vector<std::uint8_t> bytes = EncodeHeader(header);
    std::copy(bytes.begin(), bytes.end(), file.begin());
    return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    BufferFile file(ImageWithFrames(2 * size + 4096));
    ImageTables tables;
    CHECK(tables.LoadHeader(file) && tables.LoadTables(file));
    BufferFile empty;
    CHECK(!tables.MergeJournal(empty));  // read mode
    tables.EnterWriteMode();
    BufferFile journal(data, size);
    CHECK(tables.MergeJournal(journal));
    for (int stream = 0; stream < kStreamsPerKind; ++stream) {
        CHECK(tables.MetaData(stream).size() == tables.Frames(kVideo, stream).size());
        for (const ImageTables::Item& item : tables.PendingText(stream)) {
            CHECK(item.length >= kRecordPrefixSize);
            CHECK(le::Load32(tables.ItemBytes(item) + 11) < tables.Frames(kText, stream).size());
        }
    }
    CheckWriteBackLoadsAgain(tables, file);
    return 0;
}
