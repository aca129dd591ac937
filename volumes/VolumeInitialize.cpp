// Making one listed drive an empty, active volume of this database.
#include "volumes/VolumeHandler.h"

#include "volumes/ContainedTree.h"
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
            ClassifyWipeEntry(entry.dwFileAttributes, entry.cFileName) == WipeEntry::Skipped)
            names.push_back(NarrowName(entry.cFileName));
    return names;
}

}  // namespace

bool VolumeHandler::WouldCreateDirectories(const std::string& root, FailureCause& cause)
{
    const std::vector<std::string> settings{Settings.AlarmPath, Settings.IndexPath, Settings.ImagePath};
    std::size_t failed = 0;
    DWORD error = ERROR_SUCCESS;
    if (DirectoriesCreatable(SurvivingDirectories(root), settings, &failed, &error))
        return true;
    cause = FailureCause{root + settings[failed], "cannot be created", error, std::string()};
    return false;
}

int VolumeHandler::InitializeVolume(std::int32_t index, std::int32_t sizeKB, FailureCause* cause)
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
    if (!SetAllocatedSpace(index, sizeKB))
        return 0;
    GUID volumeGuid{};
    if (FAILED(::CoCreateGuid(&volumeGuid)))
        return 0;
    VolumeRecord& volume = Volumes[static_cast<std::size_t>(index)];
    volume.volumeGuid = volumeGuid;
    volume.dbGuid = DatabaseGuid;
    volume.startFile = -1;
    volume.recordFile = -1;
    volume.fileNumOffset = 0;

    // The drive is counted and emptied without the handler lock, so that the
    // list stays readable meanwhile. Whatever would stop the deletion halfway
    // and can be seen beforehand stops it here, before the first deletion.
    handler.unlock();
    std::uint64_t bytes = 0;
    const std::int32_t count = IsPreview() ? CountFiles(root, bytes, &why) : CountAndUnprotectFiles(root, &why);
    handler.lock();
    if (count == -1) {
        why.outcome = "Nothing on " + root + " was deleted.";
        Notify([&](ScanObserver& o) { o.WipeRefused(root, why); });
        return 0;
    }
    if (IsPreview()) {
        // What else stops the deletion (a file opened meanwhile) shows only
        // on trying, so it is taken to succeed.
        Notify([&](ScanObserver& o) { o.ContentsCounted(root, count, bytes); });
    } else {
        handler.unlock();
        std::int32_t deleted = 0;
        if (!DeleteVolumeContents(root, deleted, &why)) {
            why.outcome = root + " is only partly emptied.";
            return 0;
        }
        handler.lock();
    }

    // Someone may have rescanned while the lock was free: go on only with the
    // entry this initialisation began with.
    if (GetVolumeStatus(index) == VolumeStatus::NoVolume || Volumes[static_cast<std::size_t>(index)].path != root)
        return 0;

    if (IsPreview()) {
        if (!WouldCreateDirectories(root, why)) {
            why.outcome = "Everything on " + root + " was deleted; it is not a volume of the database.";
            return 0;
        }
    } else {
        for (const std::string* directory : {&Settings.AlarmPath, &Settings.IndexPath, &Settings.ImagePath})
            if (!::CreateDirectoryA((root + *directory).c_str(), nullptr)) {
                why = FailureCause::Last(root + *directory, "cannot be created");
                why.outcome = "Everything on " + root + " was deleted; it is not a volume of the database.";
                return 0;
            }
    }

    // New capacity goes right behind the volume being recorded to.
    const std::int32_t recording = FindRecordFileVolume();
    const std::int32_t position = recording == -1 ? 0 : recording + 1;
    for (VolumeRecord& other : Volumes)
        if (other.status == VolumeStatus::Active && other.position >= position)
            ++other.position;
    Volumes[static_cast<std::size_t>(index)].position = position;
    Volumes[static_cast<std::size_t>(index)].status = VolumeStatus::Active;
    ++ActiveVolumeCount;
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

    handler.unlock();
    if (!IsPreview())
        LogActiveVolumes("Volume " + root + " initialized.");
    return 1;
}
