// Making one listed drive an empty, active volume of this database.
#include "volumes/VolumeHandler.h"

#include "recorderlibs/TextCase.h"
#include "volumes/ContainedTree.h"
#include "volumes/VolumeInfoFile.h"
#include "volumes/VolumeOrdering.h"
#include "volumes/VolumeRoot.h"
#include "volumes/WidePath.h"

#include <objbase.h>

#include <cctype>
#include <mutex>

namespace {

bool IsPreparable(VolumeStatus status)
{
    return status == VolumeStatus::Blank || status == VolumeStatus::BlankWithData ||
           status == VolumeStatus::Foreign || status == VolumeStatus::CheckFailed;
}

// The last word before anything is deleted: the root must still be a fixed
// or network drive from D: to Z: (or a directory on one). Drives come and
// go while a handler lives; a letter may meanwhile name a removable disk.
bool IsWipeableRoot(const std::string& root)
{
    if (root.size() < 2 || root[1] != ':')
        return false;
    const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(root[0])));
    if (letter < 'D' || letter > 'Z')
        return false;
    const char drive[] = {letter, ':', '\\', '\0'};
    const UINT type = ::GetDriveTypeA(drive);
    return type == DRIVE_FIXED || type == DRIVE_REMOTE;
}

// The root's directories that the deletion leaves in place.
std::vector<std::string> SurvivingDirectories(const std::string& root)
{
    std::vector<std::string> names;
    std::wstring wide;
    DirectoryListing listing;
    if (!LongPathOf(root, wide) || !listing.Start(wide, L"*.*"))
        return names;
    WIN32_FIND_DATAW entry;
    while (listing.Next(entry))
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
            ClassifyWipeEntry(entry.dwFileAttributes, entry.dwReserved0, entry.cFileName) == WipeEntry::Skipped)
            names.push_back(NarrowName(entry.cFileName));
    return names;
}

// Each directory below the root in turn; at the first that fails, the
// cause.
bool CreateDirectories(const std::string& root, const std::vector<std::string>& directories, FailureCause& cause)
{
    for (const std::string& directory : directories)
        if (!::CreateDirectoryA((root + directory).c_str(), nullptr)) {
            cause = FailureCause::Last(root + directory, "cannot be created");
            return false;
        }
    return true;
}

}  // namespace

bool VolumeHandler::WouldCreateDirectories(const std::string& root, const std::vector<std::string>& directories,
                                           FailureCause& cause)
{
    std::size_t failed = 0;
    DWORD error = ERROR_SUCCESS;
    if (DirectoriesCreatable(SurvivingDirectories(root), directories, &failed, &error))
        return true;
    cause = FailureCause{root + directories[failed], "cannot be created", error, std::string()};
    return false;
}

// The records of the volumes the entry becomes, sized, with new volume GUIDs
// and no files yet: the entry itself, or the subvolumes of a drive beyond
// what one description can hold. The size a caller has stops at
// kMaxVolumeKB; only a drive's own size tells how far beyond it goes.
bool VolumeHandler::MakeVolumeRecords(std::int32_t index, std::int32_t sizeKB, std::vector<VolumeRecord>& made)
{
    const VolumeRecord entry = Volumes[static_cast<std::size_t>(index)];
    std::uint64_t totalKB = 0;
    const bool split = sizeKB == kMaxVolumeKB && entry.path.size() == 2 &&
                       TotalSpaceQuery((entry.path + "\\").c_str(), totalKB) && totalKB > kMaxVolumeKB;
    const std::vector<std::int32_t> shares = split ? SubVolumeShares(totalKB) : std::vector<std::int32_t>{sizeKB};
    for (std::size_t n = 0; n < shares.size(); ++n) {
        VolumeRecord volume = entry;
        if (split) {
            volume.path += SubVolumeName(n + 1);
            if (!SizeRecord(volume, shares[n]))
                return false;
        } else if (!SetAllocatedSpace(index, sizeKB)) {
            return false;
        } else {
            volume = Volumes[static_cast<std::size_t>(index)];
        }
        if (FAILED(::CoCreateGuid(&volume.volumeGuid)))
            return false;
        volume.dbGuid = DatabaseGuid;
        volume.startFile = -1;
        volume.recordFile = -1;
        volume.fileNumOffset = 0;
        made.push_back(volume);
    }
    if (!split)
        Volumes[static_cast<std::size_t>(index)] = made.front();
    else
        Notify([&](ScanObserver& o) { o.SubVolumesPlanned(entry.path, totalKB, made); });
    return true;
}

int VolumeHandler::InitializeVolume(std::int32_t index, std::int32_t sizeKB)
{
    std::vector<std::string> volumePaths;
    return InitializeVolume(index, sizeKB, volumePaths);
}

int VolumeHandler::InitializeVolume(std::int32_t index, std::int32_t sizeKB, std::vector<std::string>& volumePaths,
                                    FailureCause* cause)
{
    std::lock_guard<CriticalSection> change(ChangeLock);
    std::unique_lock<CriticalSection> handler(HandlerLock);
    FailureCause ignored;
    FailureCause& why = cause ? *cause : ignored;
    why = FailureCause{};

    if (!IsPreparable(GetVolumeStatus(index)))
        return 0;
    const std::string root = Volumes[static_cast<std::size_t>(index)].path;
    if (!IsWipeableRoot(root))
        return 0;
    volumePaths.clear();
    std::vector<VolumeRecord> made;
    if (!MakeVolumeRecords(index, sizeKB, made))
        return 0;

    // The drive is looked at and emptied without the handler lock, so that
    // the list stays readable meanwhile. Whatever would stop the deletion
    // halfway and can be seen beforehand stops it before the first deletion.
    handler.unlock();
    if (m_progress)
        m_progress->StepBegun(RunStep::Wiping, root);
    std::int32_t count = 0;  // counted (a preview) or deleted
    std::uint64_t bytes = 0;
    bool leftWhole = true;
    bool wiped = false;
    if (IsPreview()) {
        count = CountFiles(root, bytes, &why);
        wiped = count != -1;
        if (wiped && m_progress)
            m_progress->FilesCounted(count);
    } else {
        wiped = DeleteVolumeContents(root, count, &why, &leftWhole);
    }
    handler.lock();
    if (!wiped) {
        if (!leftWhole) {
            why.outcome = root + " is only partly emptied.";
            return 0;
        }
        why.outcome = "Nothing on " + root + " was deleted.";
        Notify([&](ScanObserver& o) { o.WipeRefused(root, why); });
        return 0;
    }
    if (IsPreview()) {
        // What else stops the deletion (a file opened meanwhile) shows only
        // on trying, so it is taken to succeed; its room is the drive's.
        m_freedBytes[UpperAscii(root.substr(0, 2))] += bytes;
        Notify([&](ScanObserver& o) { o.ContentsCounted(root, count, bytes); });
    }

    // Someone may have rescanned while the lock was free: go on only with the
    // entry this initialisation began with.
    if (GetVolumeStatus(index) == VolumeStatus::NoVolume || Volumes[static_cast<std::size_t>(index)].path != root)
        return 0;

    // The directories to create below the root, in order; a subvolume's
    // own directory comes before those inside it.
    std::vector<std::string> directories;
    for (const VolumeRecord& volume : made) {
        const std::string below = volume.path.substr(root.size());
        if (!below.empty())
            directories.push_back(below);
        for (const std::string* setting : {&Settings.AlarmPath, &Settings.IndexPath, &Settings.ImagePath})
            directories.push_back(below + *setting);
    }
    const std::string notAVolume = "Everything on " + root + " was deleted; it is not a volume of the database.";
    m_writeFailure = FailureCause{};
    if (made.size() > 1) {
        // Written first: until the subvolumes are ready, a scan judges the
        // drive as one foreign volume, which a run prepares again, where a
        // root holding directories but no description would be left alone.
        VolumeRecord whole;
        whole.path = root;
        for (const VolumeRecord& volume : made)
            whole.subVolumes.push_back(volume.path.substr(root.size()));
        if (!SaveDescription(whole)) {
            why = m_writeFailure;
            why.outcome = notAVolume;
            return 0;
        }
    }
    if (m_progress && !IsPreview())
        m_progress->StepBegun(RunStep::CreatingDirectories, root);
    if (IsPreview() ? !WouldCreateDirectories(root, directories, why) : !CreateDirectories(root, directories, why)) {
        why.outcome = notAVolume;
        return 0;
    }

    // What is put back when a description cannot be written.
    const std::vector<VolumeRecord> listBefore = Volumes;
    const std::int32_t activeBefore = ActiveVolumeCount;
    const std::int32_t startBefore = StartVolumeIndex;
    const std::int32_t recordBefore = RecordVolumeIndex;

    // New capacity goes right behind the volume being recorded to; a
    // drive's subvolumes take consecutive positions.
    const std::int32_t position = PositionBehind(Volumes, FindRecordFileVolume());
    const auto added = static_cast<std::int32_t>(made.size());
    for (VolumeRecord& other : Volumes)
        if (other.status == VolumeStatus::Active && other.position >= position)
            other.position += added;
    for (std::int32_t n = 0; n < added; ++n) {
        made[static_cast<std::size_t>(n)].position = position + n;
        made[static_cast<std::size_t>(n)].status = VolumeStatus::Active;
        volumePaths.push_back(made[static_cast<std::size_t>(n)].path);
    }
    Volumes[static_cast<std::size_t>(index)] = made.front();
    Volumes.insert(Volumes.end(), made.begin() + 1, made.end());
    ActiveVolumeCount += added;
    SortVolumes(Volumes);
    // The sort moved entries: the remembered holders follow their claims.
    if (StartVolumeIndex != -1)
        StartVolumeIndex = FindStartFileVolume();
    if (RecordVolumeIndex != -1)
        RecordVolumeIndex = FindRecordFileVolume();

    if (GetRecordFile() == -1)
        SetRecordFile(0);
    if (GetStartFile() == -1)
        SetStartFile(0);
    UpdateDatabaseInfo();

    // A drive is a volume only with its description on the disk whole, and
    // so are the others with theirs: on a failed write (a full drive) the
    // list goes back to what it was, and so do the other descriptions.
    if (m_writeFailure.known()) {
        why = m_writeFailure;
        why.outcome = notAVolume;
        Volumes = listBefore;
        ActiveVolumeCount = activeBefore;
        StartVolumeIndex = startBefore;
        RecordVolumeIndex = recordBefore;
        UpdateDatabaseInfo();
        // Where the drive's own description could be written, it names no
        // database, and a run prepares the drive again; where none could, the
        // drive is blank to the next run once its directories are gone.
        for (VolumeRecord released : made) {
            released.dbGuid = GUID{};
            SaveDescription(released);
        }
        if (!IsPreview())
            for (auto directory = directories.rbegin(); directory != directories.rend(); ++directory)
                ::RemoveDirectoryA((root + *directory).c_str());
        volumePaths.clear();
        return 0;
    }

    handler.unlock();
    if (!IsPreview())
        for (const std::string& path : volumePaths)
            LogActiveVolumes("Volume " + path + " initialized.");
    return 1;
}
