// Merging any bytes as the cache journal of an image file that holds a few
// frames, then writing the tables back and loading them again.
#include "store/format/CacheJournal.h"
#include "tests/store/ImageBuilder.h"
#include "tests/store/native/FuzzSupport.h"

using namespace imagebuilder;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Room to write back a large journal.
    BufferFile file(BuildFile(0x3010, {V(0, 2, true), V(1, 2, true), T(0, 0), V(0, 3), V(1, 3), V(0, 4)},
                              static_cast<std::uint32_t>(2 * size + 8192)));
    static ImageTables tables;  // reused as in FuzzRecordScan; loading keeps write mode on
    tables.LeaveWriteMode();
    CHECK(tables.LoadHeader(file));
    BufferFile empty;
    CHECK(!tables.MergeJournal(empty));  // read mode
    tables.EnterWriteMode();
    CHECK(ScanAll(tables, file) == 5);
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
