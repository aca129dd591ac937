// An image file of any bytes loaded: header, table of contents and meta data; what loads is written back and
// loads again unchanged.
#include "tests/store/ImageBuilder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    BufferFile file(data, size);
    ImageTables tables;
    if (!tables.LoadHeader(file))
        return 0;
    const bool tablesLoaded = tables.LoadTables(file);
    std::size_t entries = 0;
    for (int kind = 0; kind < kStreamKinds; ++kind) {
        for (int stream = 0; stream < kStreamsPerKind; ++stream)
            entries += tables.Frames(kind, stream).size();
    }
    CHECK(tablesLoaded || entries == 0);
    CHECK(entries * 4 <= size);  // every entry came from at least four bytes of the file
    CHECK(tables.StreamCount(16, kVideo) == 0 && tables.StreamCount(0, 3) == 0);
    const bool metaLoaded = tables.LoadMetaData(file, -1);
    CHECK(tables.MetaDataLoaded() == 0xFFFF);
    CHECK(!tablesLoaded || !metaLoaded || imagebuilder::WriteBackLoadsAgain(tables, file));
    return 0;
}
