#include "volumes/VolumeOrdering.h"

#include <algorithm>

namespace {

int Group(VolumeStatus status)
{
    switch (status) {
    case VolumeStatus::Active:
        return 0;
    case VolumeStatus::CheckFailed:
        return 1;
    case VolumeStatus::Foreign:
        return 2;
    default:
        return 3;
    }
}

}  // namespace

bool VolumeOrderBefore(const VolumeRecord& a, const VolumeRecord& b)
{
    const int groupA = Group(a.status);
    const int groupB = Group(b.status);
    if (groupA != groupB)
        return groupA < groupB;
    return a.position < b.position;
}

void SortVolumes(std::vector<VolumeRecord>& volumes)
{
    std::sort(volumes.begin(), volumes.end(), VolumeOrderBefore);
}

std::int32_t CountSequencePositions(const std::vector<VolumeRecord>& volumes)
{
    std::int32_t count = 0;
    for (const VolumeRecord& volume : volumes)
        if (volume.status == VolumeStatus::Active)
            ++count;
    for (const VolumeRecord& volume : volumes)
        if (volume.status == VolumeStatus::Active && volume.activeVolumes > count)
            count = volume.activeVolumes;
    return count;
}

void RepairPositions(std::vector<VolumeRecord>& volumes)
{
    std::int32_t previous = -1;
    for (VolumeRecord& volume : volumes) {
        if (volume.status == VolumeStatus::Active && volume.position <= previous)
            volume.position = previous + 1;
        previous = volume.position;
    }
}

void AppendPlaceholders(std::vector<VolumeRecord>& volumes, std::int32_t positionCount)
{
    // A damaged description can claim a position or a count in the billions;
    // no recorder has that many volumes, and the list must stay small.
    const std::int32_t ceiling = positionCount < kMaxSequencePositions ? positionCount : kMaxSequencePositions;
    auto placeholder = [](std::int32_t position) {
        VolumeRecord record;
        record.status = VolumeStatus::Missing;
        record.position = position;
        return record;
    };
    std::vector<VolumeRecord> added;
    std::int32_t next = 0;
    for (const VolumeRecord& volume : volumes) {
        if (volume.status != VolumeStatus::Active)
            break;
        for (; next < volume.position && next < kMaxSequencePositions; ++next)
            added.push_back(placeholder(next));
        next = volume.position + 1;
    }
    for (; next < ceiling; ++next)
        added.push_back(placeholder(next));
    volumes.insert(volumes.end(), added.begin(), added.end());
}

std::uint32_t MinimumVolumeSizeKB(std::int32_t fileSizeMB)
{
    const std::uint32_t tenFilesKB = static_cast<std::uint32_t>(fileSizeMB) * 10240u;
    return static_cast<std::uint32_t>(static_cast<double>(tenFilesKB) * 1.0050251256281406);
}
