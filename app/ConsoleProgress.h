// A silent run's progress on the console that started it (or a redirected
// standard output): a line when a step begins, and during a wipe a line with
// the drive and its figures every few seconds. Started without either, it
// writes nothing.
#pragma once

#include "app/ReportOutput.h"
#include "app/RunProgressState.h"

#include <cstdint>

class ConsoleProgress final : public RunProgressState {
public:
    ConsoleProgress() = default;
    // Lines to `output` (not owned); during a wipe at most one per interval.
    ConsoleProgress(HANDLE output, std::uint64_t intervalMs) : m_console(output), m_nIntervalMs(intervalMs) {}

    bool HasConsole() const { return m_console.Available(); }

    void StepBegun(RunStep step, const std::string& where) override;
    void FilesCounted(std::int32_t files) override;
    void FilesDeleted(std::int32_t files) override;

private:
    void WriteCurrent(bool figures);

    ConsoleOutput m_console;
    std::uint64_t m_nIntervalMs = 3000;
    std::uint64_t m_nLastLine = 0;  // tick count of the last line written
};
