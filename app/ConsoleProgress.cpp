#include "app/ConsoleProgress.h"

void ConsoleProgress::WriteCurrent(bool figures)
{
    m_nLastLine = ::GetTickCount64();
    const ProgressSnapshot now = Snapshot();
    const std::string extra = figures ? FiguresText(now) : std::string();
    m_console.WriteLine(StepText(now) + (extra.empty() ? "" : " " + extra));
}

void ConsoleProgress::StepBegun(RunStep step, const std::string& where)
{
    RunProgressState::StepBegun(step, where);
    if (m_console.Available())
        WriteCurrent(false);
}

void ConsoleProgress::FilesCounted(std::int32_t files)
{
    RunProgressState::FilesCounted(files);
    if (m_console.Available())
        WriteCurrent(true);
}

void ConsoleProgress::FilesDeleted(std::int32_t files)
{
    RunProgressState::FilesDeleted(files);
    if (m_console.Available() && ::GetTickCount64() - m_nLastLine >= m_nIntervalMs)
        WriteCurrent(true);
}
