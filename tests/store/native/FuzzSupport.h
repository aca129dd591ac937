// Shared by the fuzz targets: a check that aborts (so libFuzzer keeps the
// input), and the comparison of image tables written back and read again.
#pragma once

#include "store/format/ImageTables.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

inline void FuzzCheck(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "check failed: %s\n", what);
        std::abort();
    }
}

#define CHECK(condition) FuzzCheck((condition), #condition)

// Writes tables back into a copy of file and loads them again: whatever the
// write-back stores, the loader must read back as it was.
inline void CheckWriteBackLoadsAgain(ImageTables tables, const BufferFile& file)
{
    BufferFile copy(file.Bytes());
    if (!tables.WriteBack(copy))
        return;
    ImageTables loaded;
    CHECK(loaded.LoadHeader(copy));
    CHECK(loaded.Header().version == tables.Header().version);
    CHECK(loaded.Header().tableOffset == tables.Header().tableOffset);
    CHECK(loaded.LoadTables(copy));
    CHECK(loaded.LoadMetaData(copy, -1));
    const TableLayout layout = LayoutOf(tables.Header().version);
    for (int kind = 0; kind < kStreamKinds; ++kind) {
        const bool full = kind >= layout.firstFullKind;
        const bool stored = full || (kind == kVideo && layout.videoPositions);
        for (int stream = 0; stream < kStreamsPerKind; ++stream) {
            const auto& before = tables.Frames(kind, stream);
            const auto& after = loaded.Frames(kind, stream);
            if (!stored) {
                CHECK(after.empty());
                continue;
            }
            CHECK(before.size() == after.size());
            for (std::size_t i = 0; i < before.size(); ++i) {
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
        if (!layout.metaData)
            continue;
        CHECK(before.size() == after.size());
        for (std::size_t i = 0; i < before.size(); ++i) {
            CHECK(before[i].length == after[i].length);
            const std::uint8_t* x = tables.ItemBytes(before[i]);
            const std::uint8_t* y = loaded.ItemBytes(after[i]);
            CHECK(before[i].length == 0 || std::memcmp(x, y, before[i].length) == 0);
        }
    }
}
