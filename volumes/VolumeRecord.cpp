#include "volumes/VolumeRecord.h"

bool VolumeRecord::operator==(const VolumeRecord& other) const
{
    return excluded == other.excluded && label == other.label && numFiles == other.numFiles &&
           fileNumOffset == other.fileNumOffset && position == other.position &&
           allocatedSpaceKB == other.allocatedSpaceKB && SameGuid(volumeGuid, other.volumeGuid) &&
           startFile == other.startFile && recordFile == other.recordFile && subVolumes == other.subVolumes &&
           SameGuid(dbGuid, other.dbGuid) && activeVolumes == other.activeVolumes && path == other.path &&
           status == other.status;
}
