#include "volumes/VolumeHandler.h"

#include "recorderlibs/CVkUtility.h"
#include "recorderlibs/DbgLogger.h"
#include "recorderlibs/TextCase.h"
#include "recorderlibs/Win32Handle.h"
#include "store/MasterIndex.h"
#include "volumes/VolumeInfoFile.h"
#include "volumes/VolumeInfoText.h"
#include "volumes/XmlDocument.h"

#include <mutex>
#include <ostream>

namespace {

using Lock = std::lock_guard<CriticalSection>;

constexpr const char* kLogName = "Mediaprep";
constexpr int kProgressLevel = 3;

void AppendDirectory(const std::string& volumePath, const std::string& setting, std::string& directory)
{
    directory = volumePath + setting;
    if (setting.empty() || setting.back() != '\\')
        directory += '\\';
}

}  // namespace

VolumeHandler::VolumeHandler(const DatabaseSettings& settings, const GUID& databaseGuid)
    : DatabaseGuid(databaseGuid), Settings(settings)
{
}

VolumeHandler::~VolumeHandler() = default;

bool VolumeHandler::SaveDescription(const VolumeRecord& record)
{
    bool saved = false;
    if (!IsPreview()) {
        saved = SaveVolumeInfo(record);
    } else if (!record.path.empty()) {
        XmlDocument document;
        WriteVolumeInfoDocument(document, record);
        saved = DescriptionFits(record.path, document.GetText().size());
        Lock lock(HandlerLock);
        if (saved)
            m_descriptions[UpperAscii(record.path)] = document.GetText();
        else
            ::SetLastError(ERROR_DISK_FULL);
    }
    if (!saved) {
        const DWORD error = ::GetLastError();
        Lock lock(HandlerLock);
        if (!m_writeFailure.known())
            m_writeFailure = FailureCause{VolumeInfoPath(record.path, kVolumeInfoFileName), "cannot be written", error,
                                          std::string()};
    }
    return saved;
}

bool VolumeHandler::DescriptionFits(const std::string& volumePath, std::size_t bytes)
{
    if (volumePath.size() < 2 || volumePath[1] != ':')
        return true;
    const std::string drive = UpperAscii(volumePath.substr(0, 2));
    ULARGE_INTEGER available{};
    const win32::QuietDriveErrors quiet;
    if (!::GetDiskFreeSpaceExA((drive + "\\").c_str(), &available, nullptr, nullptr))
        return true;  // nothing to judge by: taken to succeed, as every other write
    Lock lock(HandlerLock);
    const auto freed = m_freedBytes.find(drive);
    return available.QuadPart + (freed == m_freedBytes.end() ? 0 : freed->second) >= bytes;
}

bool VolumeHandler::LoadDescription(VolumeRecord& record)
{
    if (IsPreview()) {
        Lock lock(HandlerLock);
        const auto saved = m_descriptions.find(UpperAscii(record.path));
        if (saved != m_descriptions.end()) {
            XmlDocument document;
            document.SetText(saved->second);
            document.Reset();
            return ReadVolumeInfoDocument(document, record);
        }
    }
    return LoadVolumeInfo(record);
}

std::uint32_t VolumeHandler::OpenMasterIndex(MasterIndex& index, const std::string& directory)
{
    return IsPreview() ? index.OpenInReadOnly(directory) : index.OpenIn(directory);
}

bool VolumeHandler::IsIndex(std::int32_t index) const
{
    return index >= 0 && static_cast<std::size_t>(index) < Volumes.size();
}

std::int32_t VolumeHandler::AppendVolume(const VolumeRecord& record)
{
    Lock lock(HandlerLock);
    Volumes.push_back(record);
    return static_cast<std::int32_t>(Volumes.size() - 1);
}

int VolumeHandler::GetVolume(std::int32_t index, VolumeRecord& record)
{
    Lock lock(HandlerLock);
    if (GetVolumeStatus(index) == VolumeStatus::NoVolume)
        return 0;
    record = Volumes[static_cast<std::size_t>(index)];
    return 1;
}

VolumeStatus VolumeHandler::GetVolumeStatus(std::int32_t index)
{
    Lock lock(HandlerLock);
    return IsIndex(index) ? Volumes[static_cast<std::size_t>(index)].status : VolumeStatus::NoVolume;
}

bool VolumeHandler::GetVolumePath(std::int32_t index, std::string& path)
{
    Lock lock(HandlerLock);
    if (!IsIndex(index))
        return false;
    path = Volumes[static_cast<std::size_t>(index)].path;
    return true;
}

std::int32_t VolumeHandler::GetVolumeSizeKB(std::int32_t index)
{
    Lock lock(HandlerLock);
    const VolumeStatus status = GetVolumeStatus(index);
    if (status == VolumeStatus::Missing || status == VolumeStatus::Failed || status == VolumeStatus::NoVolume)
        return -1;
    const std::string root = Volumes[static_cast<std::size_t>(index)].path + "\\";
    DWORD totalKB = 0;
    if (!CVkUtility::GetTotalSpaceKB(root.c_str(), totalKB))
        return -1;
    return totalKB > CVkUtility::kMaxReportedKB ? static_cast<std::int32_t>(CVkUtility::kMaxReportedKB)
                                                : static_cast<std::int32_t>(totalKB);
}

std::int32_t VolumeHandler::GetVolumeCount()
{
    Lock lock(HandlerLock);
    return static_cast<std::int32_t>(Volumes.size());
}

std::int32_t VolumeHandler::GetActiveVolumeCount()
{
    Lock lock(HandlerLock);
    std::int32_t count = 0;
    for (const VolumeRecord& volume : Volumes) {
        if (volume.status == VolumeStatus::Active)
            ++count;
    }
    return count;
}

std::int32_t VolumeHandler::GetTotalFileCount()
{
    Lock lock(HandlerLock);
    std::int64_t total = 0;
    for (const VolumeRecord& volume : Volumes) {
        if (volume.status == VolumeStatus::Active && volume.numFiles > 0)
            total += volume.numFiles;
    }
    return static_cast<std::int32_t>(total);
}

bool VolumeHandler::SetAllocatedSpace(std::int32_t index, std::int32_t spaceKB)
{
    Lock lock(HandlerLock);
    if (GetVolumeStatus(index) == VolumeStatus::NoVolume)
        return false;
    VolumeRecord& volume = Volumes[static_cast<std::size_t>(index)];
    return SizeRecord(volume, spaceKB);
}

bool VolumeHandler::SizeRecord(VolumeRecord& volume, std::int32_t spaceKB)
{
    // 0.5 % of the space stays free of image files.
    const long usableKB = static_cast<long>(static_cast<double>(spaceKB) * 0.995);
    long count = 0;
    if (!CVkUtility::GetDriveFiles(usableKB, static_cast<long>(Settings.FileSizeMB), count))
        return false;
    volume.allocatedSpaceKB = spaceKB;
    volume.numFiles = static_cast<std::int32_t>(count);
    return true;
}

// Sums are kept in 64 bits: numFiles comes from files on the drives and may
// be anything a 32-bit field holds.
std::int64_t VolumeHandler::FilesBefore(std::int32_t index) const
{
    std::int64_t sum = 0;
    for (std::int32_t i = 0; i < index; ++i) {
        const VolumeRecord& volume = Volumes[static_cast<std::size_t>(i)];
        if (volume.status == VolumeStatus::Active)
            sum += volume.numFiles;
    }
    return sum;
}

bool VolumeHandler::GlobalToLocalFile(std::int32_t global, std::int32_t& volume, std::int32_t& local)
{
    Lock lock(HandlerLock);
    if (global < 0)
        return false;
    std::int64_t sum = 0;
    for (std::size_t i = 0; i < Volumes.size(); ++i) {
        const VolumeRecord& record = Volumes[i];
        if (record.status != VolumeStatus::Active)
            continue;
        if (global < sum + record.numFiles) {
            volume = static_cast<std::int32_t>(i);
            local = static_cast<std::int32_t>(record.fileNumOffset + (global - sum));
            return true;
        }
        sum += record.numFiles;
    }
    return false;
}

bool VolumeHandler::LocalToGlobalFile(std::int32_t& global, std::int32_t volume, std::int32_t local)
{
    Lock lock(HandlerLock);
    if (GetVolumeStatus(volume) != VolumeStatus::Active)
        return false;
    const VolumeRecord& record = Volumes[static_cast<std::size_t>(volume)];
    global = static_cast<std::int32_t>(FilesBefore(volume) - record.fileNumOffset + local);
    return true;
}

std::int32_t VolumeHandler::FindClaimingVolume(std::int32_t VolumeRecord::*claim) const
{
    for (std::size_t i = 0; i < Volumes.size(); ++i) {
        if (Volumes[i].status == VolumeStatus::Active && Volumes[i].*claim != -1)
            return static_cast<std::int32_t>(i);
    }
    return -1;
}

std::int32_t VolumeHandler::FindStartFileVolume()
{
    Lock lock(HandlerLock);
    return FindClaimingVolume(&VolumeRecord::startFile);
}

std::int32_t VolumeHandler::FindRecordFileVolume()
{
    Lock lock(HandlerLock);
    return FindClaimingVolume(&VolumeRecord::recordFile);
}

std::int32_t VolumeHandler::GetClaimedFile(std::int32_t VolumeRecord::*claim, std::int32_t& rememberedIndex)
{
    Lock lock(HandlerLock);
    const std::int32_t index = FindClaimingVolume(claim);
    if (index == -1)
        return -1;
    rememberedIndex = index;
    std::int32_t global = -1;
    if (!LocalToGlobalFile(global, index, Volumes[static_cast<std::size_t>(index)].*claim))
        return -1;
    return global;
}

bool VolumeHandler::SetClaimedFile(std::int32_t global, std::int32_t VolumeRecord::*claim,
                                   std::int32_t& rememberedIndex)
{
    Lock lock(HandlerLock);
    std::int32_t volume = -1;
    std::int32_t local = -1;
    if (!GlobalToLocalFile(global, volume, local))
        return false;
    VolumeRecord& holder = Volumes[static_cast<std::size_t>(volume)];
    holder.*claim = local;
    SaveDescription(holder);
    // Only a remembered previous holder gives up its claim; with none
    // remembered, the next Get settles which claim counts.
    if (rememberedIndex != -1 && rememberedIndex != volume) {
        // The list may have been rebuilt since the index was remembered.
        if (IsIndex(rememberedIndex)) {
            VolumeRecord& previous = Volumes[static_cast<std::size_t>(rememberedIndex)];
            previous.*claim = -1;
            SaveDescription(previous);
        }
        rememberedIndex = volume;
    }
    return true;
}

std::int32_t VolumeHandler::GetStartFile()
{
    return GetClaimedFile(&VolumeRecord::startFile, StartVolumeIndex);
}

std::int32_t VolumeHandler::GetRecordFile()
{
    return GetClaimedFile(&VolumeRecord::recordFile, RecordVolumeIndex);
}

bool VolumeHandler::SetStartFile(std::int32_t global)
{
    return SetClaimedFile(global, &VolumeRecord::startFile, StartVolumeIndex);
}

bool VolumeHandler::SetRecordFile(std::int32_t global)
{
    return SetClaimedFile(global, &VolumeRecord::recordFile, RecordVolumeIndex);
}

bool VolumeHandler::UpdateDatabaseInfo()
{
    Lock lock(HandlerLock);
    bool allWritten = true;
    for (VolumeRecord& volume : Volumes) {
        if (volume.status != VolumeStatus::Active)
            continue;
        volume.activeVolumes = ActiveVolumeCount;
        volume.dbGuid = DatabaseGuid;
        if (!SaveDescription(volume))
            allWritten = false;
    }
    return allWritten;
}

void VolumeHandler::LogActiveVolumes(const std::string& text)
{
    Lock lock(HandlerLock);
    if (DbgLogger::GetDebugLevel(kLogName) < kProgressLevel)
        return;
    const std::unique_ptr<std::ostream> log = DbgLogger::GetLog(kLogName);
    *log << "Active: " << GetActiveVolumeCount() << ' ' << text << std::endl;
}

void VolumeHandler::GetImageDirectory(const VolumeRecord& record, std::string& directory)
{
    Lock lock(HandlerLock);
    AppendDirectory(record.path, Settings.ImagePath, directory);
}

void VolumeHandler::GetIndexDirectory(const VolumeRecord& record, std::string& directory)
{
    Lock lock(HandlerLock);
    AppendDirectory(record.path, Settings.IndexPath, directory);
}
