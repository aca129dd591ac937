// The drive scan: which drives carry or can carry a volume, what each one is,
// and the order of the list.
#include "volumes/VolumeHandler.h"

#include "recorderlibs/CRegistry.h"
#include "recorderlibs/CVkUtility.h"
#include "volumes/DriveGuard.h"
#include "volumes/VolumeInfoFile.h"
#include "volumes/VolumeInfoText.h"
#include "volumes/VolumeOrdering.h"
#include "volumes/VolumeRoot.h"

#include <objbase.h>

#include <mutex>

namespace {

using Lock = std::lock_guard<CriticalSection>;

bool IsDataDriveType(UINT driveType)
{
    return driveType == DRIVE_FIXED || driveType == DRIVE_REMOTE;
}

}  // namespace

BOOL (*VolumeHandler::TotalSpaceQuery)(const char* path, DWORD& totalKB) = CVkUtility::GetTotalSpaceKB;

VolumeHandler::VolumeHandler()
{
    Settings.ReadFromRegistry();
    ScanDrives(1, 1);
}

void VolumeHandler::ScanDrives(int checkIndex, int splitSubVolumes)
{
    Lock lock(HandlerLock);

    {
        CRegistry registry(HKEY_LOCAL_MACHINE, DatabaseKeyPath().c_str());
        std::string text;
        if (registry.VkRegQueryString("GUID", text) == ERROR_SUCCESS) {
            DatabaseGuid = TextToGuid(text);
        } else {
            GUID created{};
            if (FAILED(::CoCreateGuid(&created)))
                return;
            DatabaseGuid = created;
            registry.VkRegSetString("GUID", GuidToText(created));
        }
    }

    Volumes.clear();
    ProtectedDrives.clear();
    // The remembered holders were indexes into the list just dropped.
    StartVolumeIndex = -1;
    RecordVolumeIndex = -1;

    const SystemPlaces systemPlaces = GatherSystemPlaces();
    for (char letter = 'D'; letter <= 'Z'; ++letter) {
        const char root[] = {letter, ':', '\\', '\0'};
        if (!IsDataDriveType(::GetDriveTypeA(root)))
            continue;
        VolumeRecord record;
        record.path.assign(root, 2);
        // Not even probed: the probe writes a test file.
        std::string protection = DriveProtection(letter, systemPlaces, RootSystemFileOn(letter));
        if (!protection.empty()) {
            ProtectedDrives.push_back({record.path, std::move(protection)});
            continue;
        }
        if (ExamineVolume(record, checkIndex, splitSubVolumes)) {
            Volumes.push_back(record);
            continue;
        }
        for (const std::string& entry : record.subVolumes) {
            VolumeRecord subVolume;
            subVolume.path = record.path + entry;
            if (ExamineVolume(subVolume, checkIndex, splitSubVolumes))
                Volumes.push_back(subVolume);
        }
    }

    SortVolumes(Volumes);
    ActiveVolumeCount = CountSequencePositions(Volumes);
    RepairPositions(Volumes);
    AppendPlaceholders(Volumes, ActiveVolumeCount);
    ReconcileStartAndRecordFiles();
    UpdateDatabaseInfo();
}

std::vector<ProtectedDrive> VolumeHandler::GetProtectedDrives()
{
    Lock lock(HandlerLock);
    return ProtectedDrives;
}

int VolumeHandler::ExamineVolume(VolumeRecord& record, int checkIndex, int splitSubVolumes)
{
    bool hasOtherEntries = false;
    if (!ProbeVolumeRoot(record.path, hasOtherEntries))
        return 0;
    const VolumeStatus blankStatus = hasOtherEntries ? VolumeStatus::BlankWithData : VolumeStatus::Blank;

    if (LoadVolumeInfo(record)) {
        if (!record.subVolumes.empty()) {
            if (splitSubVolumes)
                return 0;
            record.subVolumes.clear();
            record.numFiles = 0;
        }
        if (record.excluded != 0)
            return 0;
        if (record.numFiles == -1)
            record.status = blankStatus;
        else if (SameGuid(record.dbGuid, DatabaseGuid))
            record.status = checkIndex && !CheckLastFiles(record) ? VolumeStatus::CheckFailed : VolumeStatus::Active;
        else
            record.status = VolumeStatus::Foreign;
        return 1;
    }

    DWORD totalKB = 0;
    if (!TotalSpaceQuery((record.path + "\\").c_str(), totalKB))
        return 0;
    if (totalKB < MinimumVolumeSizeKB(Settings.FileSizeMB))
        return 0;
    // A description that failed to load may have left some of its fields in
    // the record: the new description starts from a fresh one.
    VolumeRecord fresh;
    fresh.path = record.path;
    fresh.status = blankStatus;
    record = fresh;
    SaveVolumeInfo(record);
    return 1;
}
