// volumes_wipe_tool.exe: the probe, the wipe and the scan, for the Python
// tests that lay out drives from the Linux side.
//
//   volumes_wipe_tool probe ROOT   prints "writable W other O"
//   volumes_wipe_tool count DIR    prints the count
//   volumes_wipe_tool wipe DIR     prints "deleted N", exit code 0 on success, 1 on failure
//   volumes_wipe_tool scan TRACEDIR  the constructor's scan (newest files checked), tracing
//                                  into TRACEDIR; prints "PATH STATUS" per list entry
#include "recorderlibs/DbgLogger.h"
#include "volumes/VolumeHandler.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: volumes_wipe_tool probe ROOT | count DIR | wipe DIR | scan TRACEDIR\n");
        return 2;
    }
    if (std::strcmp(argv[1], "scan") == 0) {
        DbgLogger::Initialize(argv[2], 0, 0);
        VolumeHandler scanned;
        for (std::int32_t i = 0; i < scanned.GetVolumeCount(); ++i) {
            std::string path;
            scanned.GetVolumePath(i, path);
            std::printf("%s %d\n", path.c_str(), static_cast<int>(scanned.GetVolumeStatus(i)));
        }
        DbgLogger::Shutdown();
        return 0;
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
