// check_bench.exe: timed passes of the last-files check, for
// `tools/bench --store`, which runs each in a process of its own after
// dropping the system's file cache.
//
//   check_bench rebuild IMAGEDIR INDEXDIR NUMBER   RebuildRecord of one image file
//   check_bench phases IMAGEDIR INDEXDIR NUMBER    the rebuild's steps, timed one by one
//   check_bench scan                               the constructor's scan (checks included)
//
// Prints one line: RESULT <mode> seconds=<t> ok=<0|1>, and for phases the
// milliseconds of each step after it.
#include "store/ImageFile.h"
#include "store/ImageRepair.h"
#include "store/MasterIndex.h"
#include "volumes/VolumeHandler.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using Clock = std::chrono::steady_clock;

void Report(const char* mode, Clock::time_point start, bool ok)
{
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("RESULT %s seconds=%.6f ok=%d\n", mode, seconds, ok ? 1 : 0);
}

// RebuildRecord's steps for an image file of the current generation (no key
// index file), each timed on its own, to see where a rebuild spends its time.
bool Phases(const ImageStoreLocation& location, std::int32_t number)
{
    const Clock::time_point first = Clock::now();
    Clock::time_point last = first;
    std::string times;
    auto mark = [&](const char* name) {
        const Clock::time_point now = Clock::now();
        char text[64];
        std::snprintf(text, sizeof text, " %s=%.2f", name,
                      std::chrono::duration<double, std::milli>(now - last).count());
        times += text;
        last = now;
    };
    MasterIndex index(0);
    bool ok = index.OpenIn(location.indexDirectory) == kMmioOk;
    mark("index-open");
    MasterRecordBuffer record = EmptyRecord(0);
    {
        ImageFile image(ImageFile::kSizeFromHeader);
        image.SetBasePath(location.imageDirectory);
        ok = ok && image.Open(number, false);
        image.SetWriteMode(true, false);
        mark("open");
        ScannedRecord scanned;
        while (ok && image.ScanNextRecord(scanned)) {
            if (scanned.kind < 0 || scanned.kind > 2)
                continue;
            const RecordPrefix& prefix = scanned.prefix;
            AddEntry(record, prefix.stream, prefix.kind, prefix.sequence, static_cast<std::int32_t>(prefix.time),
                     scanned.kind == 0 ? scanned.keyValue : 0, scanned.length);
        }
        mark("scan");
        image.LoadCacheJournal();
        mark("journal");
        ok = image.SetWriteMode(false, false) && ok;
        mark("write-back");
        ok = image.Close() && ok;
        mark("close");
    }
    SetCapacity(record, location.capacity);
    ok = index.WriteRecord(number, record) && ok;
    mark("master-record");
    index.Close();
    mark("index-close");
    const double seconds = std::chrono::duration<double>(last - first).count();
    std::printf("RESULT phases seconds=%.6f ok=%d%s\n", seconds, ok ? 1 : 0, times.c_str());
    return ok;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && std::strcmp(argv[1], "rebuild") == 0) {
        ImageStoreLocation location{argv[2], argv[3], 20u << 20};
        const Clock::time_point start = Clock::now();
        MasterIndex index(0);
        bool ok = index.OpenIn(location.indexDirectory) == kMmioOk &&
                  RebuildRecord(location, index, std::atoi(argv[4])) == RebuildResult::Stored;
        index.Close();
        Report("rebuild", start, ok);
        return ok ? 0 : 1;
    }
    if (argc == 5 && std::strcmp(argv[1], "phases") == 0) {
        ImageStoreLocation location{argv[2], argv[3], 20u << 20};
        return Phases(location, std::atoi(argv[4])) ? 0 : 1;
    }
    if (argc == 2 && std::strcmp(argv[1], "scan") == 0) {
        const Clock::time_point start = Clock::now();
        VolumeHandler handler;
        Report("scan", start, handler.GetActiveVolumeCount() == 1);
        return 0;
    }
    std::fprintf(stderr, "usage: check_bench rebuild|phases IMAGEDIR INDEXDIR NUMBER | scan\n");
    return 2;
}
