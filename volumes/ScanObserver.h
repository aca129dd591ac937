// What a handler finds while it scans the drives and initialises volumes,
// told as it goes. The preview collects it for its report; a run's handler
// has no observer.
#pragma once

#include "recorderlibs/FailureCause.h"
#include "volumes/VolumeRecord.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// Why a drive is not in the volume list.
enum class LeftOutReason {
    NotDataDrive,  // removable, optical or of no known type: never examined
    Protected,     // Windows, a paging file or this program lives on it
    NotWritable,
    SubVolumes,    // listed as its subvolumes instead
    Excluded,      // its description excludes it
    NoSize,        // no description, and its size cannot be had
    TooSmall,      // no description, and smaller than ten image files
};

// How a preview judged a root writable without writing to it.
enum class WriteJudgement {
    ReadOnlyVolume,   // the volume says it is read-only
    RootFileOpened,   // a file in the root opened for writing (nothing written)
    RootFileRefused,  // a file in the root refused writing
    NothingToTry,     // no file in the root that could be tried: taken as writable
};

class ScanObserver {
public:
    // guidInRegistry: false when the scan had to make the database GUID.
    virtual void ScanBegun(int checkIndex, int splitSubVolumes, bool guidInRegistry) = 0;
    // Every letter D: to Z: that has a drive, of any type.
    virtual void DriveSeen(const std::string& path, UINT driveType) = 0;
    virtual void RootJudged(const std::string& path, bool writable, WriteJudgement how) = 0;
    virtual void DriveLeftOut(const VolumeRecord& record, LeftOutReason reason) = 0;
    // A listed entry with the status the scan gave it; described: whether
    // the fields came from its own description.
    virtual void VolumeListed(const VolumeRecord& record, bool described) = 0;
    virtual void DamagedFile(const std::string& path, std::int32_t number, bool rebuilt) = 0;
    // What the initialisation of a volume would delete.
    virtual void ContentsCounted(const std::string& path, std::int32_t files, std::uint64_t bytes) = 0;
    // The initialisation would leave the drive as it is: `cause` would stop
    // its wipe.
    virtual void WipeRefused(const std::string& path, const FailureCause& cause) = 0;
    // A drive too large for one description, of totalKB, that the
    // initialisation makes these subvolumes (paths, shares, file counts).
    virtual void SubVolumesPlanned(const std::string& path, std::uint64_t totalKB,
                                   const std::vector<VolumeRecord>& subVolumes) = 0;

protected:
    ~ScanObserver() = default;
};
