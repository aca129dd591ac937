// check_bench.exe: timed passes of the last-files check, for
// `tools/bench --store`, which runs each in a process of its own after
// dropping the system's file cache.
//
//   check_bench rebuild IMAGEDIR INDEXDIR NUMBER   RebuildRecord of one image file
//   check_bench scan                               the constructor's scan (checks included)
//
// Prints one line: RESULT <mode> seconds=<t> ok=<0|1>
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

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && std::strcmp(argv[1], "rebuild") == 0) {
        ImageStoreLocation location{argv[2], argv[3], 20u << 20};
        const Clock::time_point start = Clock::now();
        MasterIndex index(0);
        bool ok = index.OpenIn(location.indexDirectory) == kMmioOk &&
                  RebuildRecord(location, index, std::atoi(argv[4]));
        index.Close();
        Report("rebuild", start, ok);
        return ok ? 0 : 1;
    }
    if (argc == 2 && std::strcmp(argv[1], "scan") == 0) {
        const Clock::time_point start = Clock::now();
        VolumeHandler handler;
        Report("scan", start, handler.GetActiveVolumeCount() == 1);
        return 0;
    }
    std::fprintf(stderr, "usage: check_bench rebuild IMAGEDIR INDEXDIR NUMBER | scan\n");
    return 2;
}
