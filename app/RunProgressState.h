// The run's progress as its displays show it: kept by the run's thread
// through RunProgress, read by the dialog's thread (a few times a second) or
// by the console writer; and the stop, which a button, Ctrl+C or the end of
// the user's session asks for from other threads. The texts are made here,
// apart from any window.
#pragma once

#include "recorderlibs/CriticalSection.h"
#include "volumes/RunProgress.h"

#include <atomic>
#include <cstdint>
#include <string>

struct ProgressSnapshot {
    bool begun = false;  // a step has begun
    RunStep step = RunStep::Examining;
    std::string where;
    std::int32_t counted = -1;  // files the count pass found on the current drive; -1 before it ends
    std::int32_t deleted = 0;   // files deleted on the current drive
    std::int64_t planned = 0;   // files of all the drives to wipe
    std::int64_t done = 0;      // files deleted on the drives before the current one
    bool inDrive = false;       // a drive is under way: a stop waits for it
    std::string lastDrive;      // the drive begun last; empty before the first
    bool stopRequested = false;
    bool finished = false;      // the run has returned
};

// "Wiping drive E:", "Emptying C:\Kestrix\PreAlarm\", ...; empty before the first step.
std::string StepText(const ProgressSnapshot& progress);
// For a wipe: "1,234 of 20,000 files deleted", or "Counting the files" during
// the count pass; empty for the other steps.
std::string FiguresText(const ProgressSnapshot& progress);
// How far the wipes of all drives have come, 0 to `range`.
int WipePosition(const ProgressSnapshot& progress, int range);
// Why the end of the session waits: the step and its figures.
std::string BlockReasonText(const ProgressSnapshot& progress);
// The answer to the `count`th Ctrl+C (or Ctrl+Break) of a run.
std::string InterruptText(int count, const ProgressSnapshot& progress);
// What a run ended from outside ("by the system") leaves in its log: where it was.
std::string EndedText(const std::string& how, const ProgressSnapshot& progress);

class RunProgressState : public RunProgress {
public:
    RunProgressState() = default;
    virtual ~RunProgressState() = default;
    RunProgressState(const RunProgressState&) = delete;
    RunProgressState& operator=(const RunProgressState&) = delete;

    void StepBegun(RunStep step, const std::string& where) override;
    bool ShowsWipeTotal() const override { return true; }
    void WipePlanned(std::int64_t files) override;
    void FilesCounted(std::int32_t files) override;
    void FilesDeleted(std::int32_t files) override;
    bool StopRequested() override;
    bool DriveBegins(const std::string& drive) override;
    void DriveEnded() override;

    // Prepares no further drive; true when one is under way, which the run
    // finishes first.
    bool RequestStop();
    // What the end of the session may do now: nothing while a drive is under
    // way (false); else the run stops before the next drive (true).
    bool StopUnlessInDrive();
    // Waits up to `milliseconds` for the drive under way to end; true when
    // none is under way any more.
    bool WaitForDriveEnd(DWORD milliseconds);
    // After the run: nothing is left to stop or to wait for.
    void MarkFinished();
    ProgressSnapshot Snapshot();

private:
    CriticalSection m_lock;
    ProgressSnapshot m_state;               // guarded by m_lock, but for `deleted`
    std::atomic<std::int32_t> m_deleted{0};  // the current drive's, per file
};
