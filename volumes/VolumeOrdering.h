// How the scan orders the volume list and keeps the database's volume
// sequence whole: pure operations on a list of records, apart from any drive.
#pragma once

#include "volumes/VolumeRecord.h"

#include <cstdint>
#include <vector>

// More positions than any recorder has volumes (see AppendPlaceholders).
inline constexpr std::int32_t kMaxSequencePositions = 4096;

// Active volumes by position, then volumes that failed their check, then
// foreign volumes, then all others, each group by position (signed).
bool VolumeOrderBefore(const VolumeRecord& a, const VolumeRecord& b);

// An unstable sort with VolumeOrderBefore: entries with equal keys keep no
// particular order.
void SortVolumes(std::vector<VolumeRecord>& volumes);

// The number of positions in the volume sequence: the Active entries,
// raised to the largest activeVolumes an Active entry's description claims.
std::int32_t CountSequencePositions(const std::vector<VolumeRecord>& volumes);

// Active entries whose position is not above the previous entry's get the
// previous position + 1 (the list is sorted, so Active entries come first).
void RepairPositions(std::vector<VolumeRecord>& volumes);

// Appends a Missing placeholder for every position below positionCount that
// no Active entry holds: the holes between the leading Active entries, then
// the positions after the last of them. Positions from kMaxSequencePositions
// on get no placeholder.
void AppendPlaceholders(std::vector<VolumeRecord>& volumes, std::int32_t positionCount);

// The smallest drive, in KB, that can hold a volume of fileSizeMB files:
// ten files' worth with the 0.5 % reserve added back.
std::uint32_t MinimumVolumeSizeKB(std::int32_t fileSizeMB);
