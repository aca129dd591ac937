// volumes_wipe_tool.exe: the probe and the wipe, for the Python tests that
// prepare drives from the Linux side.
//
//   volumes_wipe_tool probe ROOT   prints "writable W other O"
//   volumes_wipe_tool count DIR    prints the count
//   volumes_wipe_tool wipe DIR     prints "deleted N", exit code 0 on success, 1 on failure
#include "volumes/VolumeHandler.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: volumes_wipe_tool probe ROOT | count DIR | wipe DIR\n");
        return 2;
    }
    VolumeHandler handler{DatabaseSettings(), GUID{}};
    if (std::strcmp(argv[1], "probe") == 0) {
        bool other = false;
        const bool writable = VolumeHandler::ProbeVolumeRoot(argv[2], other);
        std::printf("writable %d other %d\n", writable ? 1 : 0, other ? 1 : 0);
        return 0;
    }
    if (std::strcmp(argv[1], "count") == 0) {
        std::printf("%d\n", static_cast<int>(handler.CountAndUnprotectFiles(argv[2])));
        return 0;
    }
    if (std::strcmp(argv[1], "wipe") == 0) {
        std::int32_t deleted = 0;
        const bool ok = handler.DeleteVolumeContents(argv[2], deleted);
        std::printf("deleted %d\n", static_cast<int>(deleted));
        return ok ? 0 : 1;
    }
    return 2;
}
