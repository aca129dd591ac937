// The wipe and the scan for test_volumes.py:
//   wipe DIR  prints "deleted N", exits 1 on failure (the look comes first: then nothing is deleted)
//   scan TRACEDIR  the constructor's scan, tracing into TRACEDIR; prints
//                  "PATH STATUS POSITION ALLOCATEDKB NUMFILES" per entry
#include "recorderlibs/DbgLogger.h"
#include "volumes/VolumeHandler.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv)
{
    const std::string command = argc == 3 ? argv[1] : "";
    VolumeHandler handler{DatabaseSettings(), GUID{}};
    std::int32_t deleted = 0;
    if (command == "scan") {
        DbgLogger::Initialize(argv[2], 0, 0);
        VolumeHandler scanned;
        for (std::int32_t i = 0; i < scanned.GetVolumeCount(); ++i) {
            VolumeRecord v;
            scanned.GetVolume(i, v);
            std::printf("%s %d %d %d %d\n", v.path.c_str(), static_cast<int>(v.status), static_cast<int>(v.position),
                        static_cast<int>(v.allocatedSpaceKB), static_cast<int>(v.numFiles));
        }
        DbgLogger::Shutdown();
    } else if (command == "wipe") {
        const bool ok = handler.DeleteVolumeContents(argv[2], deleted);
        std::printf("deleted %d\n", static_cast<int>(deleted));
        return ok ? 0 : 1;
    } else {
        return 2;
    }
    return 0;
}
