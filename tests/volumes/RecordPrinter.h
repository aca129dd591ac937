// Readable GoogleTest output for volume records.
#pragma once

#include "volumes/VolumeInfoText.h"
#include "volumes/VolumeRecord.h"

#include <ostream>

inline void PrintTo(const VolumeRecord& r, std::ostream* out)
{
    *out << "{path " << r.path << ", status " << static_cast<int>(r.status) << ", excluded " << r.excluded
         << ", label [" << r.label << "], numFiles " << r.numFiles << ", offset " << r.fileNumOffset << ", position "
         << r.position << ", allocated " << r.allocatedSpaceKB << ", volume " << GuidToText(r.volumeGuid)
         << ", start " << r.startFile << ", record " << r.recordFile << ", db " << GuidToText(r.dbGuid)
         << ", active " << r.activeVolumes << ", subvolumes " << r.subVolumes.size() << "}";
}
