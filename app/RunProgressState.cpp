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

ProgressSnapshot RunProgressState::Snapshot()
{
    std::lock_guard<CriticalSection> lock(m_lock);
    ProgressSnapshot copy = m_state;
    copy.deleted = m_deleted.load();
    return copy;
}
