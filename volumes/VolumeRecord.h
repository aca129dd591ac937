// One entry of the volume handler's list: the in-memory form of a drive's
// VolumeInfo.xml plus the drive's path and the status the handler gave it.
#pragma once

#include "volumes/Guid.h"

#include <cstdint>
#include <string>
#include <vector>

// Values are fixed: they are compared and logged as numbers.
enum class VolumeStatus : std::int32_t {
    Active = 0,         // described volume of this database, in use
    Blank = 1,          // writable drive without a usable description, holding nothing else
    BlankWithData = 2,  // like Blank, but the root holds other files or directories
    Foreign = 3,        // described volume of another database
    Missing = 4,        // placeholder for a position that no drive supplied
    Failed = 5,         // volume found unwritable; never given by this program
    CheckFailed = 6,    // volume of this database whose last files failed their check
    NoVolume = 7,       // answer for an index outside the list; never stored
};

// A copyable value. -1 in a number field means "none" or "not yet known".
class VolumeRecord {
public:
    VolumeRecord() = default;
    virtual ~VolumeRecord() = default;
    VolumeRecord(const VolumeRecord&) = default;
    VolumeRecord& operator=(const VolumeRecord&) = default;

    // Every field, the path and the status included.
    bool operator==(const VolumeRecord& other) const;
    bool operator!=(const VolumeRecord& other) const { return !(*this == other); }

    std::int32_t excluded = 0;
    std::string label;
    std::int32_t numFiles = -1;       // image files on the volume; -1 = not yet sized
    std::int32_t fileNumOffset = 0;   // local number of the volume's first image file
    std::int32_t position = -1;       // place among the database's active volumes, from 0
    std::int32_t allocatedSpaceKB = -1;
    GUID volumeGuid{};
    std::int32_t startFile = -1;      // local number of the oldest file, if held here
    std::int32_t recordFile = -1;     // local number of the file being recorded, if held here
    std::vector<std::string> subVolumes;
    GUID dbGuid{};
    std::int32_t activeVolumes = -1;
    std::string path;                 // "E:", or the drive followed by a subvolume path
    // Whoever creates a record sets its status; until then it reads as
    // NoVolume, the one value a listed record never carries.
    VolumeStatus status = VolumeStatus::NoVolume;
};
