// How the scan orders the volume list and keeps the database's volume
// sequence whole: pure operations on a list of records, apart from any drive.
#pragma once

#include "volumes/VolumeRecord.h"

#include <cstdint>
#include <string>
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

// The most a description's AllocatedSpaceKB (32-bit signed) can hold.
inline constexpr std::int32_t kMaxVolumeKB = 0x7FFFFFFF;

// The shares of a drive of totalKB that one volume cannot hold: the fewest
// equal shares that each fit within kMaxVolumeKB, differing by at most 1 KB
// (the larger first) and adding up to totalKB. One share, totalKB itself,
// when it fits. A drive of more than kMaxSequencePositions full shares gets
// that many.
std::vector<std::int32_t> SubVolumeShares(std::uint64_t totalKB);

// "\Vol1" for n = 1: the directory of a drive's nth subvolume.
std::string SubVolumeName(std::size_t n);

// The position for new volumes: right behind the Active entry at list index
// `recording` (the one being recorded to; -1 for none gives 0) and behind
// the subvolumes of its drive that follow it, so that a drive's subvolumes
// keep consecutive positions.
std::int32_t PositionBehind(const std::vector<VolumeRecord>& volumes, std::int32_t recording);
