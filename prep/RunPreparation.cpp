#include "prep/RunPreparation.h"

#include "app/RunLog.h"
#include "prep/DatabaseSettings.h"
#include "prep/DirectoryClearing.h"
#include "recorderlibs/CRegistry.h"
#include "recorderlibs/FailureCause.h"
#include "volumes/BackupPrivileges.h"
#include "volumes/VolumeHandler.h"
#include "volumes/VolumeInfoFile.h"

#include <io.h>

#include <cstdio>
#include <vector>

namespace {

bool IsPrepared(VolumeStatus status)
{
    return status != VolumeStatus::Active && status != VolumeStatus::BlankWithData &&
           status != VolumeStatus::Failed && status != VolumeStatus::NoVolume;
}

// The files that the wipes of the drives to prepare will delete, listed
// beforehand so that the progress can be shown over all drives; each wipe
// still opens its files itself before it deletes any.
std::int64_t FilesToWipe(VolumeHandler& handler)
{
    std::int64_t files = 0;
    for (std::int32_t i = 0; i < handler.GetVolumeCount(); ++i) {
        std::string path;
        if (IsPrepared(handler.GetVolumeStatus(i)) && handler.GetVolumePath(i, path) && !path.empty()) {
            const std::int32_t count = handler.ListFiles(path);
            files += count > 0 ? count : 0;
        }
    }
    return files;
}


// Passes every report on, remembering whether any was an error.
class ErrorWatch : public RunLog {
public:
    explicit ErrorWatch(RunLog& log) : m_log(log) {}
    void Error(const std::string& text) override
    {
        reported = true;
        m_log.Error(text);
    }
    void Message(const std::string& text) override { m_log.Message(text); }
    void ErrorWithCause(const std::string& text, const std::string& cause) override
    {
        reported = true;
        m_log.ErrorWithCause(text, cause);
    }

    bool reported = false;

private:
    RunLog& m_log;
};

// Which drives a stop left unprepared, and which of them this run had taken
// out of the database: those are now neither its old volumes nor new ones.
std::string StopReport(bool beforeRelease, const std::string& lastTried, const std::vector<std::string>& left,
                       const std::vector<std::string>& released)
{
    std::string text = "Stopped on request ";
    text += beforeRelease      ? "before the first drive, with the database's volumes left as they were"
            : lastTried.empty() ? "before the first drive"
                                : "after drive " + lastTried;
    text += "; not prepared:";
    std::string orphans;
    for (const std::string& drive : left) {
        text += " " + drive;
        // A drive of subvolumes was released volume by volume, and is left whole.
        for (const std::string& volume : released)
            if (volume.compare(0, drive.size(), drive) == 0 &&
                (volume.size() == drive.size() || volume[drive.size()] == '\\')) {
                orphans += " " + drive;
                break;
            }
    }
    if (!orphans.empty())
        text += ". No longer volumes of the database and not prepared either:" + orphans +
                "; the recorder can use them neither as they were nor as new volumes until a run prepares them";
    return text;
}

}  // namespace

RunOutcome RunPreparation(RunLog& outer, RunProgress* progress)
{
    ErrorWatch log(outer);
    DatabaseSettings settings;
    settings.ReadFromRegistry();

    const bool drivesLeft = PrepareDrives(log, progress);

    // The pre-alarm directory first, even when both paths name the same one.
    for (const std::string* path : {&settings.PreAlarmPath, &settings.RestorePath}) {
        if (progress)
            progress->StepBegun(RunStep::EmptyingDirectories, *path);
        PrepareIndexDirectory(*path, log);
    }

    SetMultipleDirFlag();
    if (log.reported)
        return RunOutcome::ErrorsReported;
    return drivesLeft ? RunOutcome::Stopped : RunOutcome::Complete;
}

bool PrepareDrives(RunLog& log, RunProgress* progress)
{
    // For the drives alone: the directories on C: are cleared without them.
    const BackupPrivileges privileges;
    if (progress)
        progress->StepBegun(RunStep::Examining, std::string());
    VolumeHandler handler;  // scans at once
    return PrepareDrives(handler, log, progress);
}

bool PrepareDrives(VolumeHandler& handler, RunLog& log, RunProgress* progress)
{
    handler.ScanDrives(0, 0);
    // A stop asked for before anything changed keeps the database whole.
    const bool stoppedEarly = progress && progress->StopRequested();
    if (progress && !stoppedEarly)
        progress->StepBegun(RunStep::Releasing, std::string());

    // Release this database's volumes: their descriptions stop naming it, so
    // the next scan finds them foreign and they are prepared like the rest.
    // A volume whose description keeps naming it is why the next scan lists
    // positions that no drive holds.
    FailureCause unreleased;
    std::vector<std::string> releasedPaths;  // one that stays unreleased is active again, never left by a stop
    const std::int32_t activeCount = stoppedEarly ? 0 : handler.GetActiveVolumeCount();
    for (std::int32_t i = 0; i < activeCount; ++i) {
        VolumeRecord released;
        if (handler.GetVolume(i, released)) {
            released.dbGuid = GUID{};
            releasedPaths.push_back(released.path);
            if (!handler.SaveDescription(released) && !unreleased.known())
                unreleased = FailureCause{VolumeInfoPath(released.path, kVolumeInfoFileName), "cannot be written",
                                          ::GetLastError(), released.path + " still claims volumes that no drive holds."};
        }
    }
    handler.ScanDrives(0, 0);

    // Every scan of the run leaves out the same drives: report the last one's.
    for (const ProtectedDrive& drive : handler.GetProtectedDrives())
        log.Error(ProtectedDriveReport(drive));

    if (handler.GetVolumeCount() == 0)
        return false;
    if (progress) {
        progress->StepBegun(RunStep::Examining, std::string());
        if (progress->ShowsWipeTotal())
            progress->WipePlanned(FilesToWipe(handler));
        handler.SetProgress(progress);
    }
    std::string found = "Data drives found:";
    std::string lastTried;
    std::vector<std::string> left;  // the drives a stop left unprepared
    // A drive made of subvolumes lengthens the list as it goes.
    for (std::int32_t i = 0; i < handler.GetVolumeCount(); ++i) {
        const VolumeStatus status = handler.GetVolumeStatus(i);
        if (!IsPrepared(status) && !(stoppedEarly && status == VolumeStatus::Active))
            continue;
        const std::int32_t sizeKB = handler.GetVolumeSizeKB(i);
        std::string name;
        if (!handler.GetVolumePath(i, name))
            continue;
        // A drive is never left half wiped: a stop takes effect between drives.
        if (stoppedEarly || !left.empty() || (progress && !progress->DriveBegins(name))) {
            if (!name.empty())
                left.push_back(name);
            continue;
        }
        lastTried = name;
        std::vector<std::string> made;
        FailureCause cause;
        const bool initialized = handler.InitializeVolume(i, sizeKB, made, &cause);
        if (progress)
            progress->DriveEnded();
        if (!initialized) {
            if (status == VolumeStatus::Missing)
                cause = unreleased;
            char text[1024];
            std::snprintf(text, sizeof text, "Failure to initialize drive %s.  Mediaprep not completely successful.\n",
                          name.c_str());
            log.ErrorWithCause(text, CauseLine(cause));
            continue;
        }
        for (const std::string& path : made)
            found += " " + path;
        // The subvolumes took the entry's place among the Active entries at
        // the front: those visited, now k - 1 more, still come first.
        i += static_cast<std::int32_t>(made.size()) - 1;
    }
    handler.SetProgress(nullptr);
    if (!left.empty())
        log.Message(StopReport(stoppedEarly, lastTried, left, releasedPaths));
    log.Message(found);
    return !left.empty();
}

void PrepareIndexDirectory(const std::string& path, RunLog& log, ClearingTally* tally)
{
    const std::string::size_type slash = path.find_last_of('\\');
    const std::string directory = slash == std::string::npos ? std::string() : path.substr(0, slash);
    const bool exists = _access(directory.c_str(), 0) == 0;
    if (tally) {
        tally->exists = exists;
        if (exists) {
            ClearDirectory(path, log, tally);
        } else {
            // Only the last component is created: its parent must be there.
            const std::string::size_type parentEnd = directory.find_last_of('\\');
            const std::string parent = parentEnd == std::string::npos ? std::string() : directory.substr(0, parentEnd + 1);
            if (parent.empty() || _access(parent.c_str(), 0) != 0)
                log.ErrorWithCause("Failed attempting to create: " + path,
                                   CauseLine({path, "cannot be created", ERROR_PATH_NOT_FOUND, ""}));
        }
    } else if (exists) {
        ClearDirectory(path, log);
    } else {
        CreateIndexDirectory(path, log);
    }
}

void SetMultipleDirFlag()
{
    CRegistry registry(HKEY_LOCAL_MACHINE, DatabaseKeyPath().c_str());
    const DWORD one = 1;
    registry.VkRegSetValue("MultipleDir", REG_DWORD, &one, sizeof one);
}
