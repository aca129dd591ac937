// Settling which Active volume holds the start file and the record file.
// The claims come from description files of drives that may date from
// different moments, so several volumes may claim a file, or none; the
// master indexes decide.
#include "volumes/VolumeHandler.h"

#include "store/MasterIndex.h"
#include "store/format/MasterRecord.h"

#include <algorithm>
#include <array>
#include <memory>
#include <mutex>

namespace {

using Lock = std::lock_guard<CriticalSection>;
// The record numbers of the volume that lie inside the file as it is: a read
// past the end delivers nothing and leaves the caller's buffer as it was, so
// stopping there gives what reading on would, without walking through the
// numbers of a damaged description.
std::int32_t StoredRecordsEnd(MasterIndex& index, const VolumeRecord& record)
{
    const std::int64_t length = index.GetLength();
    std::int64_t end = static_cast<std::int64_t>(record.fileNumOffset) + std::max(record.numFiles, 0);
    const std::int64_t stored = record.fileNumOffset + (length - static_cast<std::int64_t>(kMasterHeaderSize) +
                                                        static_cast<std::int64_t>(kMasterRecordSize) - 1) /
                                                           static_cast<std::int64_t>(kMasterRecordSize);
    end = std::min(end, std::max<std::int64_t>(stored, record.fileNumOffset));
    return static_cast<std::int32_t>(end);
}

}  // namespace

bool VolumeHandler::GetFileTimeRange(const VolumeRecord& record, std::int32_t& earliest, std::int32_t& latest)
{
    Lock lock(HandlerLock);
    earliest = kNoEarliestTime;
    latest = kNoLatestTime;
    std::string directory;
    GetIndexDirectory(record, directory);
    MasterIndex index(record.fileNumOffset);
    if (OpenMasterIndex(index, directory) != kMmioOk)
        return false;

    const std::int32_t newest =
        record.recordFile != -1 ? record.recordFile : record.fileNumOffset + record.numFiles - 1;
    const std::int32_t oldest = record.startFile != -1 ? record.startFile : record.fileNumOffset;
    // One buffer throughout: a short read leaves the previous record in it.
    MasterRecordBuffer buffer = EmptyRecord(0);
    if (index.ReadRecord(newest, buffer))
        latest = GetLatestTime(buffer);
    if (index.ReadRecord(oldest, buffer))
        earliest = GetEarliestTime(buffer);

    if (earliest == kNoEarliestTime || latest == kNoLatestTime) {
        const std::int32_t end = StoredRecordsEnd(index, record);
        for (std::int32_t n = record.fileNumOffset; n < end; ++n) {
            if (!index.ReadRecord(n, buffer))
                continue;
            earliest = std::min(earliest, GetEarliestTime(buffer));
            latest = std::max(latest, GetLatestTime(buffer));
        }
    }
    index.Close();
    return earliest != kNoEarliestTime && latest != kNoLatestTime;
}

void VolumeHandler::ReconcileStartAndRecordFiles()
{
    Lock lock(HandlerLock);
    if (ActiveVolumeCount == 0)
        return;
    std::int32_t holder = SettleRecordClaims();
    if (holder == -1) {
        holder = FindNewestUsedFile();
        if (holder == -1)
            return;
    }
    SettleStartClaims(holder);
}

// Of several claims of one file, the greatest value keeps it and the claim
// met first wins a tie; the losing claim is dropped and its description
// rewritten.
void VolumeHandler::KeepStrongerClaim(std::int32_t VolumeRecord::*claim, std::int32_t index, std::int64_t value,
                                      std::int32_t& holder, std::int64_t& holderValue)
{
    if (holder != -1 && value <= holderValue) {
        Volumes[static_cast<std::size_t>(index)].*claim = -1;
        SaveDescription(Volumes[static_cast<std::size_t>(index)]);
        return;
    }
    if (holder != -1) {
        Volumes[static_cast<std::size_t>(holder)].*claim = -1;
        SaveDescription(Volumes[static_cast<std::size_t>(holder)]);
    }
    holder = index;
    holderValue = value;
}

// Of several record-file claims the one whose master index shows the latest
// time stands; on equal times the first in the list. Every Active volume's
// master index is opened on the way, which creates the missing ones.
std::int32_t VolumeHandler::SettleRecordClaims()
{
    std::int32_t holder = -1;
    std::int64_t holderLatest = 0;
    for (std::size_t i = 0; i < Volumes.size(); ++i) {
        VolumeRecord& volume = Volumes[i];
        if (volume.status != VolumeStatus::Active)
            continue;
        std::int32_t earliest = 0;
        std::int32_t latest = 0;
        GetFileTimeRange(volume, earliest, latest);
        if (volume.recordFile == -1)
            continue;
        KeepStrongerClaim(&VolumeRecord::recordFile, static_cast<std::int32_t>(i), latest, holder, holderLatest);
    }
    return holder;
}

// No claim: the used file with the latest time becomes the record file. With
// no used file anywhere the database starts afresh at the first volume's
// first file. Returns the new holder, or -1 when the second case ended it.
std::int32_t VolumeHandler::FindNewestUsedFile()
{
    std::int32_t bestTime = -1;
    std::int32_t bestVolume = -1;
    std::int32_t bestFile = -1;
    for (std::size_t i = 0; i < Volumes.size(); ++i) {
        const VolumeRecord& volume = Volumes[i];
        if (volume.status != VolumeStatus::Active)
            continue;
        std::string directory;
        GetIndexDirectory(volume, directory);
        MasterIndex index(volume.fileNumOffset);
        if (OpenMasterIndex(index, directory) != kMmioOk)
            continue;
        MasterRecordBuffer buffer = EmptyRecord(0);
        const std::int32_t end = StoredRecordsEnd(index, volume);
        for (std::int32_t n = volume.fileNumOffset; n < end; ++n) {
            if (!index.ReadRecord(n, buffer))
                break;
            if (IsRecordUsed(buffer) && GetLatestTime(buffer) > bestTime) {
                bestTime = GetLatestTime(buffer);
                bestVolume = static_cast<std::int32_t>(i);
                bestFile = n;
            }
        }
        index.Close();
    }

    if (bestVolume == -1) {
        // After the scan's ordering the first Active entry is the one with
        // the lowest position.
        for (VolumeRecord& volume : Volumes) {
            if (volume.status == VolumeStatus::Active) {
                volume.recordFile = volume.fileNumOffset;
                volume.startFile = volume.fileNumOffset;
                SaveDescription(volume);
                break;
            }
        }
        return -1;
    }
    VolumeRecord& best = Volumes[static_cast<std::size_t>(bestVolume)];
    best.recordFile = bestFile;
    SaveDescription(best);
    return bestVolume;
}

// Of several start-file claims the one farthest behind the record file in
// the circular order stands; on equal distances the first in the list. Only
// the descriptions count here, not the master indexes.
void VolumeHandler::SettleStartClaims(std::int32_t holder)
{
    std::int32_t recordGlobal = -1;
    LocalToGlobalFile(recordGlobal, holder, Volumes[static_cast<std::size_t>(holder)].recordFile);
    const std::int64_t total = GetTotalFileCount();

    std::int32_t startHolder = -1;
    std::int64_t startDistance = 0;
    for (std::size_t i = 0; i < Volumes.size(); ++i) {
        VolumeRecord& volume = Volumes[i];
        if (volume.status != VolumeStatus::Active || volume.startFile == -1)
            continue;
        std::int32_t global = -1;
        LocalToGlobalFile(global, static_cast<std::int32_t>(i), volume.startFile);
        const std::int64_t distance =
            global > recordGlobal ? total - global + recordGlobal : std::int64_t{recordGlobal} - global;
        KeepStrongerClaim(&VolumeRecord::startFile, static_cast<std::int32_t>(i), distance, startHolder, startDistance);
    }
    if (startHolder != -1) {
        SaveDescription(Volumes[static_cast<std::size_t>(startHolder)]);
        return;
    }
    FindStartAfterRecordFile(holder);
}

// No start claim: the first used file after the record file in the circular
// order becomes the start file. A volume whose master index cannot be opened
// (or a record that cannot be read) may hold anything, so it stops the search
// there. With no used file in between, the record file is the start file too.
void VolumeHandler::FindStartAfterRecordFile(std::int32_t holder)
{
    VolumeRecord& holderVolume = Volumes[static_cast<std::size_t>(holder)];
    std::int32_t recordGlobal = -1;
    LocalToGlobalFile(recordGlobal, holder, holderVolume.recordFile);
    const std::int32_t total = GetTotalFileCount();

    std::unique_ptr<MasterIndex> index;
    std::int32_t openVolume = -1;
    std::int32_t storedEnd = 0;
    std::int64_t c = recordGlobal + 1 >= total ? 0 : recordGlobal + 1;
    // Each number is looked at once at most, whatever the claims say.
    for (std::int64_t steps = 0; c != recordGlobal && steps < total; ++steps) {
        std::int32_t volume = -1;
        std::int32_t local = -1;
        if (!GlobalToLocalFile(static_cast<std::int32_t>(c), volume, local))
            break;
        VolumeRecord& candidate = Volumes[static_cast<std::size_t>(volume)];
        bool found = false;
        if (volume != openVolume) {
            index = std::make_unique<MasterIndex>(candidate.fileNumOffset);
            openVolume = volume;
            std::string directory;
            GetIndexDirectory(candidate, directory);
            found = OpenMasterIndex(*index, directory) != kMmioOk;
            if (!found)
                storedEnd = StoredRecordsEnd(*index, candidate);
        }
        if (!found && local >= storedEnd) {
            // The rest of this volume lies past the end of its master index
            // and reads as empty records: go on at the next volume.
            const std::int64_t rest = static_cast<std::int64_t>(candidate.fileNumOffset) + candidate.numFiles - 1 - local;
            if (recordGlobal > c && recordGlobal <= c + rest)
                break;
            steps += rest;
            c += rest;
        } else if (!found) {
            MasterRecordBuffer buffer = EmptyRecord(0);
            found = !index->ReadRecord(local, buffer) || IsRecordUsed(buffer);
        }
        if (found) {
            index.reset();
            candidate.startFile = local;
            SaveDescription(candidate);
            return;
        }
        c = c + 1 >= total ? 0 : c + 1;
    }
    index.reset();
    holderVolume.startFile = holderVolume.recordFile;
    SaveDescription(holderVolume);
}
