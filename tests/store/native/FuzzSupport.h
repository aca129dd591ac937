// Shared by the fuzz targets: a check that aborts (so libFuzzer keeps the
// input), and the comparison of image tables written back and read again.
#pragma once

#include "store/format/ImageTables.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#define CHECK(condition) \
    ((condition) ? void() : (std::fprintf(stderr, "check failed: %s\n", #condition), std::abort()))

// Writes tables back into a copy of file and loads them again: whatever the
// write-back stores, the loader must read back as it was.
inline void CheckWriteBackLoadsAgain(ImageTables tables, const BufferFile& file)
{
    BufferFile copy(file.Bytes());
    if (!tables.WriteBack(copy))
        return;
    ImageTables loaded;
    CHECK(loaded.LoadHeader(copy) && loaded.LoadTables(copy) && loaded.LoadMetaData(copy, -1));
    CHECK(loaded.Header().version == tables.Header().version);
    CHECK(loaded.Header().tableOffset == tables.Header().tableOffset);
    const TableLayout layout = LayoutOf(tables.Header().version);
    for (int kind = 0; kind < kStreamKinds; ++kind) {
        const bool full = kind >= layout.firstFullKind;
        const bool stored = full || (kind == kVideo && layout.videoPositions);
        for (int stream = 0; stream < kStreamsPerKind; ++stream) {
            const auto& before = tables.Frames(kind, stream);
            const auto& after = loaded.Frames(kind, stream);
            CHECK(after.size() == (stored ? before.size() : 0));
            for (std::size_t i = 0; stored && i < before.size(); ++i) {
                CHECK(before[i].position == after[i].position);
                CHECK(!full || (before[i].time == after[i].time && before[i].thousandths == after[i].thousandths &&
                                before[i].keyFlag == after[i].keyFlag));
            }
        }
    }
    for (int stream = 0; stream < kStreamsPerKind; ++stream) {
        CHECK(loaded.Keys(stream).size() == (layout.keyTable ? tables.Keys(stream).size() : 0));
        const auto& before = tables.MetaData(stream);
        const auto& after = loaded.MetaData(stream);
        CHECK(!layout.metaData || before.size() == after.size());
        for (std::size_t i = 0; layout.metaData && i < before.size(); ++i) {
            CHECK(before[i].length == after[i].length);
            CHECK(before[i].length == 0 ||
                  std::memcmp(tables.ItemBytes(before[i]), loaded.ItemBytes(after[i]), before[i].length) == 0);
        }
    }
}
