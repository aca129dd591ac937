// The drive scan: which drives carry or can carry a volume, what each one is,
// and the order of the list.
#include "volumes/VolumeHandler.h"

#include "recorderlibs/CRegistry.h"
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

bool DriveTotalKB(const char* path, std::uint64_t& totalKB)
{
    ULARGE_INTEGER available{}, total{}, free{};
    if (!path || !::GetDiskFreeSpaceExA(path, &available, &total, &free))
        return false;
    totalKB = total.QuadPart / 1024;
    return true;
}

}  // namespace

bool (*VolumeHandler::TotalSpaceQuery)(const char* path, std::uint64_t& totalKB) = DriveTotalKB;

VolumeHandler::VolumeHandler() : VolumeHandler(HandlerMode::Run, nullptr) {}

VolumeHandler::VolumeHandler(HandlerMode mode, ScanObserver* observer) : m_mode(mode), m_observer(observer)
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
        const bool inRegistry = registry.VkRegQueryString("GUID", text) == ERROR_SUCCESS;
        if (inRegistry) {
            DatabaseGuid = TextToGuid(text);
        } else if (!m_guidMade) {
            // A run stores the GUID it makes, and its later scans read it
            // back; a preview keeps it for its own later scans.
            GUID created{};
            if (FAILED(::CoCreateGuid(&created)))
                return;
            DatabaseGuid = created;
            if (IsPreview())
                m_guidMade = true;
            else
                registry.VkRegSetString("GUID", GuidToText(created));
        }
        Notify([&](ScanObserver& o) { o.ScanBegun(checkIndex, splitSubVolumes, inRegistry); });
    }

    Volumes.clear();
    ProtectedDrives.clear();
    // The remembered holders were indexes into the list just dropped.
    StartVolumeIndex = -1;
    RecordVolumeIndex = -1;

    const SystemPlaces systemPlaces = GatherSystemPlaces();
    for (char letter = 'D'; letter <= 'Z'; ++letter) {
        const char root[] = {letter, ':', '\\', '\0'};
        const UINT driveType = ::GetDriveTypeA(root);
        VolumeRecord record;
        record.path.assign(root, 2);
        if (driveType != DRIVE_UNKNOWN && driveType != DRIVE_NO_ROOT_DIR)
            Notify([&](ScanObserver& o) { o.DriveSeen(record.path, driveType); });
        if (!IsDataDriveType(driveType)) {
            if (driveType != DRIVE_NO_ROOT_DIR)
                Notify([&](ScanObserver& o) { o.DriveLeftOut(record, LeftOutReason::NotDataDrive); });
            continue;
        }
        // Not even probed: the probe writes a test file.
        std::string protection = DriveProtection(letter, systemPlaces, RootSystemFileOn(letter));
        if (!protection.empty()) {
            ProtectedDrives.push_back({record.path, std::move(protection)});
            Notify([&](ScanObserver& o) { o.DriveLeftOut(record, LeftOutReason::Protected); });
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

bool VolumeHandler::ProbeRoot(const std::string& root, bool& hasOtherEntries)
{
    if (!IsPreview())
        return ProbeVolumeRoot(root, hasOtherEntries);
    WriteJudgement how = WriteJudgement::NothingToTry;
    const bool writable = JudgeVolumeRoot(root, hasOtherEntries, how);
    Notify([&](ScanObserver& o) { o.RootJudged(root, writable, how); });
    return writable;
}

int VolumeHandler::ExamineVolume(VolumeRecord& record, int checkIndex, int splitSubVolumes)
{
    const auto leftOut = [&](LeftOutReason reason) {
        Notify([&](ScanObserver& o) { o.DriveLeftOut(record, reason); });
        return 0;
    };
    bool hasOtherEntries = false;
    if (!ProbeRoot(record.path, hasOtherEntries))
        return leftOut(LeftOutReason::NotWritable);
    const VolumeStatus blankStatus = hasOtherEntries ? VolumeStatus::BlankWithData : VolumeStatus::Blank;

    if (LoadDescription(record)) {
        if (!record.subVolumes.empty()) {
            if (splitSubVolumes)
                return leftOut(LeftOutReason::SubVolumes);
            record.subVolumes.clear();
            record.numFiles = 0;
        }
        if (record.excluded != 0)
            return leftOut(LeftOutReason::Excluded);
        if (record.numFiles == -1)
            record.status = blankStatus;
        else if (SameGuid(record.dbGuid, DatabaseGuid))
            record.status = checkIndex && !CheckLastFiles(record) ? VolumeStatus::CheckFailed : VolumeStatus::Active;
        else
            record.status = VolumeStatus::Foreign;
        Notify([&](ScanObserver& o) { o.VolumeListed(record, true); });
        return 1;
    }

    std::uint64_t totalKB = 0;
    if (!TotalSpaceQuery((record.path + "\\").c_str(), totalKB))
        return leftOut(LeftOutReason::NoSize);
    if (totalKB < MinimumVolumeSizeKB(Settings.FileSizeMB))
        return leftOut(LeftOutReason::TooSmall);
    // A description that failed to load may have left some of its fields in
    // the record: the new description starts from a fresh one.
    VolumeRecord fresh;
    fresh.path = record.path;
    fresh.status = blankStatus;
    record = fresh;
    SaveDescription(record);
    Notify([&](ScanObserver& o) { o.VolumeListed(record, false); });
    return 1;
}
