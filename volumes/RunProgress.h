// What the preparation is doing, told as it goes to whoever shows it (the
// dialog's progress display, the console of a silent run). The run and the
// wipe call it from the run's thread at a few points; FilesDeleted comes for
// every file, so implementations keep it cheap and sample it when they show.
#pragma once

#include <cstdint>
#include <string>

enum class RunStep {
    Examining,            // the scans of the drives, and counting what the wipe will delete
    Releasing,            // this database's volumes lose their database GUID, then the rescan
    Wiping,               // a drive's count pass and deletion; `where` is the drive
    CreatingDirectories,  // the database directories of a wiped drive; `where` is the drive
    EmptyingDirectories,  // the pre-alarm and restore directories; `where` is the directory
};

class RunProgress {
public:
    virtual void StepBegun(RunStep step, const std::string& where) = 0;
    // Whether WipePlanned is worth the listing of every drive it takes.
    virtual bool ShowsWipeTotal() const = 0;
    // Before the first wipe: the files of all the drives the run means to wipe.
    virtual void WipePlanned(std::int64_t files) = 0;
    // The wipe's count pass of the current drive is done.
    virtual void FilesCounted(std::int32_t files) = 0;
    // Files deleted so far on the current drive.
    virtual void FilesDeleted(std::int32_t files) = 0;
    // Asked before this database's volumes are released: true releases none
    // and prepares no drive.
    virtual bool StopRequested() = 0;
    // Asked before each drive is prepared: false prepares no further drive.
    // After true the drive is under way until DriveEnded: a stop, a log-off
    // or a shut-down asked for meanwhile waits for it.
    virtual bool DriveBegins(const std::string& drive) = 0;
    virtual void DriveEnded() = 0;

protected:
    ~RunProgress() = default;
};
