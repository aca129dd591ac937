#include "app/RunProgressState.h"

#include <mutex>

namespace {

// 1234567 as "1,234,567": the figures a technician reads at a glance.
std::string Grouped(std::int64_t value)
{
    const std::string digits = std::to_string(value < 0 ? 0 : value);
    std::string grouped;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            grouped += ',';
        grouped += digits[i];
    }
    return grouped;
}

}  // namespace

std::string StepText(const ProgressSnapshot& progress)
{
    if (!progress.begun)
        return std::string();
    switch (progress.step) {
    case RunStep::Examining:
        return "Examining the drives";
    case RunStep::Releasing:
        return "Releasing the database's volumes";
    case RunStep::Wiping:
        return "Wiping drive " + progress.where;
    case RunStep::CreatingDirectories:
        return "Creating the directories of drive " + progress.where;
    case RunStep::EmptyingDirectories:
        return "Emptying " + progress.where;
    }
    return std::string();
}

std::string FiguresText(const ProgressSnapshot& progress)
{
    if (!progress.begun || progress.step != RunStep::Wiping)
        return std::string();
    if (progress.counted < 0)
        return "Counting the files";
    return Grouped(progress.deleted) + " of " + Grouped(progress.counted) + " files deleted";
}

int WipePosition(const ProgressSnapshot& progress, int range)
{
    const bool wiping = progress.begun && progress.step == RunStep::Wiping;
    const std::int64_t done = progress.done + (wiping ? progress.deleted : 0);
    if (progress.planned <= 0 || range <= 0)
        return 0;
    if (done >= progress.planned)
        return range;
    return static_cast<int>(done * range / progress.planned);
}

std::string BlockReasonText(const ProgressSnapshot& progress)
{
    const std::string figures = FiguresText(progress);
    return StepText(progress) + (figures.empty() ? "" : " " + figures) +
           ". Ending Mediaprep now would leave this drive half prepared.";
}

std::string InterruptText(int count, const ProgressSnapshot& progress)
{
    if (count <= 1)
        return progress.inDrive ? "Stopping after drive " + progress.lastDrive +
                                      ", which is finished first (Ctrl+C again shows how far it is)."
                                : "Stopping: no further drive will be prepared.";
    const std::string figures = FiguresText(progress);
    const std::string step = StepText(progress) + (figures.empty() ? "" : " " + figures);
    if (progress.inDrive)
        return step + "; stopping when drive " + progress.lastDrive + " is done.";
    return step.empty() ? "Stopping." : "Stopping: " + step;
}

std::string EndedText(const std::string& how, const ProgressSnapshot& progress)
{
    const std::string text = "Mediaprep was ended " + how;
    if (!progress.inDrive)
        return text + (progress.lastDrive.empty() ? " before the first drive." : " after drive " + progress.lastDrive + ".");
    const std::string figures = FiguresText(progress);
    return text + " while it prepared drive " + progress.lastDrive + " (" + StepText(progress) +
           (figures.empty() ? "" : " " + figures) + "); the next run prepares that drive again.";
}

void RunProgressState::StepBegun(RunStep step, const std::string& where)
{
    std::lock_guard<CriticalSection> lock(m_lock);
    // The deletions of a finished wipe count towards all drives' progress.
    if (m_state.begun && m_state.step == RunStep::Wiping)
        m_state.done += m_deleted.load();
    if (step == RunStep::Wiping) {
        m_state.counted = -1;
        m_deleted.store(0);
    }
    m_state.begun = true;
    m_state.step = step;
    m_state.where = where;
}

void RunProgressState::WipePlanned(std::int64_t files)
{
    std::lock_guard<CriticalSection> lock(m_lock);
    m_state.planned = files;
}

void RunProgressState::FilesCounted(std::int32_t files)
{
    std::lock_guard<CriticalSection> lock(m_lock);
    m_state.counted = files;
}

void RunProgressState::FilesDeleted(std::int32_t files)
{
    m_deleted.store(files, std::memory_order_relaxed);
}

bool RunProgressState::StopRequested()
{
    std::lock_guard<CriticalSection> lock(m_lock);
    return m_state.stopRequested;
}

bool RunProgressState::DriveBegins(const std::string& drive)
{
    // One decision with the stop's: a stop comes either before the drive,
    // which is then left, or while it is under way, and waits for it.
    std::lock_guard<CriticalSection> lock(m_lock);
    if (m_state.stopRequested)
        return false;
    m_state.inDrive = true;
    m_state.lastDrive = drive;
    return true;
}

void RunProgressState::DriveEnded()
{
    std::lock_guard<CriticalSection> lock(m_lock);
    m_state.inDrive = false;
}

bool RunProgressState::RequestStop()
{
    std::lock_guard<CriticalSection> lock(m_lock);
    m_state.stopRequested = true;
    return m_state.inDrive;
}

bool RunProgressState::StopUnlessInDrive()
{
    std::lock_guard<CriticalSection> lock(m_lock);
    if (m_state.inDrive)
        return false;
    m_state.stopRequested = true;
    return true;
}

bool RunProgressState::WaitForDriveEnd(DWORD milliseconds)
{
    for (const ULONGLONG start = ::GetTickCount64();; ::Sleep(20)) {
        if (!Snapshot().inDrive)
            return true;
        if (::GetTickCount64() - start >= milliseconds)
            return false;
    }
}

void RunProgressState::MarkFinished()
{
    std::lock_guard<CriticalSection> lock(m_lock);
    m_state.inDrive = false;
    m_state.finished = true;
}

ProgressSnapshot RunProgressState::Snapshot()
{
    std::lock_guard<CriticalSection> lock(m_lock);
    ProgressSnapshot copy = m_state;
    copy.deleted = m_deleted.load();
    return copy;
}
