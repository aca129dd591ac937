// The list of the image database's volumes and the operations on it.
//
// Records are held by value and copied out. Every operation takes
// HandlerLock for its whole duration; operations call each other (and write
// descriptions) while holding it, which the re-entrant lock allows. An
// operation that needs both locks takes ChangeLock first, then HandlerLock.
//
// Volume indexes and file numbers are 32-bit signed; -1 means none.
// Global file numbers run 0, 1, 2, ... over the Active volumes in list order
// (numFiles numbers each), and go round to 0 after the highest.
#pragma once

#include "prep/DatabaseSettings.h"
#include "recorderlibs/CriticalSection.h"
#include "recorderlibs/FailureCause.h"
#include "volumes/DriveGuard.h"
#include "volumes/Guid.h"
#include "volumes/RunProgress.h"
#include "volumes/ScanObserver.h"
#include "volumes/VolumeRecord.h"

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

class MasterIndex;

// A preview handler decides everything a run's handler decides and changes
// nothing: no registry value, no test file, no MASTER.NDX, no rebuilt or
// replaced image file, nothing deleted, no directory created. Descriptions
// it would write are kept in memory, and it reads them back from there.
enum class HandlerMode { Run, Preview };

class VolumeHandler {
public:
    // Reads the database settings and scans every drive at once, with the
    // last-files check and subvolumes examined one by one.
    VolumeHandler();
    // The same, in the given mode, telling the observer (if any) what it finds.
    VolumeHandler(HandlerMode mode, ScanObserver* observer);
    // A handler over the given settings and database GUID whose list starts
    // empty: it reads no registry and looks at no drive. Fill the list with
    // AppendVolume.
    VolumeHandler(const DatabaseSettings& settings, const GUID& databaseGuid);
    virtual ~VolumeHandler();
    VolumeHandler(const VolumeHandler&) = delete;
    VolumeHandler& operator=(const VolumeHandler&) = delete;

    // Rebuilds the list from the fixed and network drives D: to Z:: the
    // database GUID from the registry (made and stored when missing), a
    // status for every drive that can carry a volume, the list in volume
    // order with positions repaired and Missing placeholders for positions no
    // drive supplied; then the active descriptions are rewritten. checkIndex:
    // volumes of this database have their newest files checked.
    // splitSubVolumes: a drive made of subvolumes is listed as its subvolumes.
    void ScanDrives(int checkIndex, int splitSubVolumes);

    // Makes a Blank, BlankWithData, Foreign or CheckFailed entry an empty,
    // active volume of this database: sized from sizeKB, new volume GUID,
    // everything below its root deleted but System Volume Information, the
    // alarm, index and image directories created, placed right behind the
    // volume being recorded to. 1 on success, 0 on failure; nothing is
    // logged. A drive whose contents cannot all be deleted is not touched
    // at all; only a file opened by another program between the count and
    // its deletion leaves a drive partly emptied. Success means that every
    // description this initialisation wrote is on the disk whole: when one
    // cannot be written, the volume list and the other volumes' descriptions
    // are put back as they were, the drive's own description no longer names
    // the database where it can still be written, the directories just
    // created go again, and the initialisation fails.
    int InitializeVolume(std::int32_t index, std::int32_t sizeKB);
    // The same, giving the paths of the volumes made in position order: the
    // entry's own, or for a drive larger than one description can hold
    // (sizeKB at kMaxVolumeKB, the drive itself above it) those of the
    // subvolumes it becomes, \Vol1 to \Volk, each sized by an equal share.
    // Either every one of them is made active or none. On failure, `cause`
    // (when given) says what failed, where that is known.
    int InitializeVolume(std::int32_t index, std::int32_t sizeKB, std::vector<std::string>& volumePaths,
                         FailureCause* cause = nullptr);

    std::int32_t GetVolumeCount();  // entries of any status, placeholders included

    // The drives the last scan left out unexamined because Windows, a paging
    // or hibernation file or this program lives on them, in letter order.
    std::vector<ProtectedDrive> GetProtectedDrives();

    // How the handler learns a drive's total size in KB, whatever its size
    // (CVkUtility::GetTotalSpaceKB stops at kMaxVolumeKB); tests put a drive
    // of any size in its place.
    static bool (*TotalSpaceQuery)(const char* path, std::uint64_t& totalKB);

    // Appends a copy of the record (status and all) and returns its index.
    std::int32_t AppendVolume(const VolumeRecord& record);

    // Copies the entry out: 1, or 0 for an index outside the list.
    int GetVolume(std::int32_t index, VolumeRecord& record);

    VolumeStatus GetVolumeStatus(std::int32_t index);  // NoVolume outside the list
    bool GetVolumePath(std::int32_t index, std::string& path);
    // Total size of the volume's drive in KB; -1 for Missing, Failed, an index
    // outside the list, or a size that cannot be had.
    std::int32_t GetVolumeSizeKB(std::int32_t index);
    std::int32_t GetActiveVolumeCount();  // records with status Active
    std::int32_t GetTotalFileCount();     // numFiles summed over Active records that have files

    // Sizes the volume for the database: allocatedSpaceKB = spaceKB, numFiles =
    // the image files that fit into 99.5 % of it. The description is not written.
    bool SetAllocatedSpace(std::int32_t index, std::int32_t spaceKB);

    bool GlobalToLocalFile(std::int32_t global, std::int32_t& volume, std::int32_t& local);
    bool LocalToGlobalFile(std::int32_t& global, std::int32_t volume, std::int32_t local);

    // The first Active record that claims the start (record) file, or -1.
    std::int32_t FindStartFileVolume();
    std::int32_t FindRecordFileVolume();
    // The global number of the start (record) file, or -1; remembers the
    // claiming volume's index.
    std::int32_t GetStartFile();
    std::int32_t GetRecordFile();
    // Moves the claim to the volume holding the global number and rewrites
    // the descriptions concerned; false when the number maps to no volume.
    bool SetStartFile(std::int32_t global);
    bool SetRecordFile(std::int32_t global);

    // Stamps every Active record with ActiveVolumeCount and DatabaseGuid and
    // rewrites its description; false if any write failed.
    bool UpdateDatabaseInfo();

    // The time span of the volume's files from its MASTER.NDX (created empty
    // when missing): latest from the newest file's record, earliest from the
    // oldest's, or from all records when either is not known. True when
    // both were found; one not found stays at 2085724800 (earliest) or
    // 115200 (latest).
    bool GetFileTimeRange(const VolumeRecord& record, std::int32_t& earliest, std::int32_t& latest);

    // Settles the start and record file claims of the Active volumes from
    // their master indexes: one holder each, found among the claims or, with
    // none, from the records; every changed description is rewritten. The
    // scan calls it once the list is in order.
    void ReconcileStartAndRecordFiles();

    // "Active: <count> <text>" to the Mediaprep trace at level 3 or more.
    void LogActiveVolumes(const std::string& text);

    // The volume path followed by ImagePath (IndexPath), ending in a backslash.
    void GetImageDirectory(const VolumeRecord& record, std::string& directory);
    void GetIndexDirectory(const VolumeRecord& record, std::string& directory);

    // Whether the root can be written (a test file is created and removed),
    // and whether it holds anything but the description files, RECYCLED,
    // System Volume Information and the wipe's holding directory.
    static bool ProbeVolumeRoot(const std::string& root, bool& hasOtherEntries);

    // The probe of a preview: whether the root can be written, judged by
    // reading only (less certain than the test file), and the other entries.
    static bool JudgeVolumeRoot(const std::string& root, bool& hasOtherEntries, WriteJudgement& how);

    // The wipe's look, its first step, before anything is deleted: every file
    // and directory below the directory that the deletion removes is opened
    // as the deletion will open it, and counted with the files' bytes.
    // Nothing is changed: attributes are cleared by the deletion, where the
    // system needs that. -1, with what stopped it in `cause`, at the first
    // entry the deletion could not remove (held open by a program that does
    // not share deletion, access denied, a read-only attribute that cannot
    // be cleared, a directory that keeps System Volume Information or a
    // full-stop directory), at an entry whose path cannot be read or lies
    // outside the directory, or at a directory that cannot be listed. A file
    // held by a program that shares deletion passes: the deletion finishes
    // on it.
    std::int32_t CountFiles(const std::string& directory, std::uint64_t& bytes, FailureCause* cause = nullptr);
    // The files the wipe would delete, by listing alone: no entry is opened,
    // so it is cheap enough to total the drives before the first wipe.
    std::int32_t ListFiles(const std::string& directory);

    // Deletes every file and directory below the directory except System
    // Volume Information (at any depth) and directories whose names begin
    // with a full stop; the directory itself stays. The look of CountFiles
    // comes first, told to the progress as the files counted: a directory
    // that cannot be wiped whole is not touched (`leftWhole`, when given, is
    // then set). Adds the number of files deleted to `counter`. Stops at the
    // first failure and returns false, saying where in `cause`.
    //
    // A file that no one else holds goes as it is closed. Every other entry
    // goes through the handle it is opened with, with POSIX semantics where
    // the system has them, else moved first into the holding directory in
    // the directory's root (volumes/EntryDeletion.h), which is emptied
    // before and after: an entry a program holds open sharing its deletion
    // does not stop the deletion, and goes when that program lets go.
    //
    // Links (junctions, symbolic links) are removed themselves, never
    // entered or followed: what they point to is left alone. Where the
    // system resolves a link while opening it instead (Wine does so with host
    // symbolic links, and shows those to files as plain files), nothing that
    // resolves to a place outside the directory is changed or deleted: the
    // look stops there.
    bool DeleteVolumeContents(const std::string& directory, std::int32_t& counter, FailureCause* cause = nullptr,
                              bool* leftWhole = nullptr);

    // The volume's description, written to its drive (in memory, for a
    // preview) or read from there; as SaveVolumeInfo and LoadVolumeInfo.
    bool SaveDescription(const VolumeRecord& record);
    bool LoadDescription(VolumeRecord& record);

    bool IsPreview() const { return m_mode == HandlerMode::Preview; }

    // Tells the wipes of InitializeVolume to `progress` (null: to nobody).
    void SetProgress(RunProgress* progress) { m_progress = progress; }

    // The handler's state. Guarded by HandlerLock: code outside the handler
    // takes it (std::lock_guard) before touching any of these.
    GUID DatabaseGuid{};
    std::int32_t ActiveVolumeCount = 0;   // positions in the database's volume sequence
    std::int32_t StartVolumeIndex = -1;   // remembered holder of the start file
    std::int32_t RecordVolumeIndex = -1;  // remembered holder of the record file
    std::vector<VolumeRecord> Volumes;
    std::vector<ProtectedDrive> ProtectedDrives;
    DatabaseSettings Settings;
    CriticalSection HandlerLock;  // re-entrant
    CriticalSection ChangeLock;   // held for a whole initialisation; taken before HandlerLock

private:
    // OpenIn, or for a preview OpenInReadOnly.
    std::uint32_t OpenMasterIndex(MasterIndex& index, const std::string& directory);
    template <typename Tell>
    void Notify(Tell tell)
    {
        if (m_observer)
            tell(*m_observer);
    }
    bool ProbeRoot(const std::string& root, bool& hasOtherEntries);
    bool WouldCreateDirectories(const std::string& root, const std::vector<std::string>& directories,
                                FailureCause& cause);
    bool SizeRecord(VolumeRecord& volume, std::int32_t spaceKB);
    // A preview's judgement of a description write: whether the drive has
    // room for `bytes` once the preview's wipe of it would be done.
    bool DescriptionFits(const std::string& volumePath, std::size_t bytes);
    bool MakeVolumeRecords(std::int32_t index, std::int32_t sizeKB, std::vector<VolumeRecord>& made);

    HandlerMode m_mode = HandlerMode::Run;
    ScanObserver* m_observer = nullptr;
    RunProgress* m_progress = nullptr;
    bool m_guidMade = false;  // a preview made the database GUID in memory
    // A preview's descriptions by upper-case volume path: the text a save
    // would have written.
    std::map<std::string, std::string> m_descriptions;
    // The first description write that failed since the last reset, with the
    // system's error (a preview's predicted one).
    FailureCause m_writeFailure;
    // A preview's wipes: the bytes they would free, by upper-case drive ("E:").
    std::map<std::string, std::uint64_t> m_freedBytes;

    int ExamineVolume(VolumeRecord& record, int checkIndex, int splitSubVolumes);
    bool CheckLastFiles(const VolumeRecord& record);
    std::int32_t SettleRecordClaims();
    void KeepStrongerClaim(std::int32_t VolumeRecord::*claim, std::int32_t index, std::int64_t value,
                           std::int32_t& holder, std::int64_t& holderValue);
    std::int32_t FindNewestUsedFile();
    void SettleStartClaims(std::int32_t holder);
    void FindStartAfterRecordFile(std::int32_t holder);

    bool IsIndex(std::int32_t index) const;
    std::int64_t FilesBefore(std::int32_t index) const;
    bool SetClaimedFile(std::int32_t global, std::int32_t VolumeRecord::*claim, std::int32_t& rememberedIndex);
    std::int32_t GetClaimedFile(std::int32_t VolumeRecord::*claim, std::int32_t& rememberedIndex);
    std::int32_t FindClaimingVolume(std::int32_t VolumeRecord::*claim) const;
};
