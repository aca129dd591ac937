#include "volumes/VolumeOrdering.h"

#include "recorderlibs/TextCase.h"

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

std::vector<std::int32_t> SubVolumeShares(std::uint64_t totalKB)
{
    // Beyond that many volumes (some 8 PiB) the rest of a drive goes unused.
    totalKB = std::min<std::uint64_t>(totalKB, std::uint64_t{kMaxSequencePositions} * kMaxVolumeKB);
    const std::uint64_t count = totalKB == 0 ? 1 : (totalKB + kMaxVolumeKB - 1) / kMaxVolumeKB;
    std::vector<std::int32_t> shares;
    for (std::uint64_t n = 0; n < count; ++n)
        shares.push_back(static_cast<std::int32_t>(totalKB / count + (n < totalKB % count ? 1 : 0)));
    return shares;
}

std::string SubVolumeName(std::size_t n)
{
    return "\\Vol" + std::to_string(n);
}

std::int32_t PositionBehind(const std::vector<VolumeRecord>& volumes, std::int32_t recording)
{
    if (recording < 0 || static_cast<std::size_t>(recording) >= volumes.size())
        return 0;
    const std::string& holder = volumes[static_cast<std::size_t>(recording)].path;
    const auto sameDrive = [&](const VolumeRecord& v) {
        return v.status == VolumeStatus::Active && holder.size() > 2 && v.path.size() > 2 &&
               SameNoCase(v.path.data(), holder.data(), 2);
    };
    std::size_t last = static_cast<std::size_t>(recording);
    while (last + 1 < volumes.size() && sameDrive(volumes[last + 1]))
        ++last;
    return static_cast<std::int32_t>(last + 1);
}
