// The run's progress as its displays show it: kept by the run's thread
// through RunProgress, read by the dialog's thread (a few times a second) or
// by the console writer. The texts are made here, apart from any window.
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
};

// "Wiping drive E:", "Emptying C:\Kestrix\PreAlarm\", ...; empty before the first step.
std::string StepText(const ProgressSnapshot& progress);
// For a wipe: "1,234 of 20,000 files deleted", or "Counting the files" during
// the count pass; empty for the other steps.
std::string FiguresText(const ProgressSnapshot& progress);
// How far the wipes of all drives have come, 0 to `range`.
int WipePosition(const ProgressSnapshot& progress, int range);

class RunProgressState : public RunProgress {
public:
    RunProgressState() = default;
    virtual ~RunProgressState() = default;
    RunProgressState(const RunProgressState&) = delete;
    RunProgressState& operator=(const RunProgressState&) = delete;

    void StepBegun(RunStep step, const std::string& where) override;
    void WipePlanned(std::int64_t files) override;
    void FilesCounted(std::int32_t files) override;
    void FilesDeleted(std::int32_t files) override;
    bool StopRequested() override { return m_bStop.load(); }

    void RequestStop() { m_bStop.store(true); }
    ProgressSnapshot Snapshot();

private:
    CriticalSection m_lock;
    ProgressSnapshot m_state;               // guarded by m_lock, but for `deleted`
    std::atomic<std::int32_t> m_deleted{0};  // the current drive's, per file
    std::atomic<bool> m_bStop{false};
};
