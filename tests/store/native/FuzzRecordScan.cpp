// The tables of an image file of any bytes rebuilt by scanning its records, written back and loaded again.
#include "tests/store/ImageBuilder.h"

using namespace imagebuilder;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    BufferFile file(data, size);
    static ImageTables tables;  // kept from run to run: write mode reserves a megabyte, slow under ASan
    if (!tables.LoadHeader(file))
        return 0;
    tables.EnterWriteMode();
    ScannedRecord record;
    std::uint32_t taken = 0;
    std::uint64_t end = kImageHeaderSize;
    while (tables.ScanNext(file, record)) {
        ++taken;
        end += 4 + record.length;
        CHECK(record.length >= kRecordPrefixSize);
        CHECK(end <= size && tables.Header().dataEnd == end);  // inside the real file
        // The next record of the stream must carry the next number.
        CHECK(tables.StreamCount(record.prefix.stream, record.kind) == record.prefix.sequence + 1);
    }
    CHECK(taken <= size / (4 + kRecordPrefixSize));
    ImageTables again;  // a second scan starts from the first record and finds the same
    CHECK(again.LoadHeader(file) && ScanAll(again, file) == static_cast<int>(taken));
    CHECK(WriteBackLoadsAgain(tables, file));
    return 0;
}
