// A silent run's progress on the console that started it (or a redirected
// standard output): a line when a step begins, and during a wipe a line with
// the drive and its figures every few seconds. The run's thread only stores
// the figures and queues the lines; a thread of its own writes them, so that
// a console or a pipe that takes nothing (a selection in the console, a
// reader that has stopped reading) never holds the run up. Started without
// either, it writes nothing.
#pragma once

#include "app/ReportOutput.h"
#include "app/RunProgressState.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Which lines are due when, apart from any output or clock.
class ConsoleLines {
public:
    explicit ConsoleLines(std::uint64_t intervalMs) : m_nIntervalMs(intervalMs) {}

    void Add(const std::string& line);
    // The lines added since the last call; failing those, the figures of a
    // wipe once `interval` has passed since the last line.
    std::vector<std::string> Due(const ProgressSnapshot& progress, std::uint64_t now);
    bool Empty() const { return m_queued.empty(); }

private:
    std::uint64_t m_nIntervalMs;
    std::uint64_t m_nLastLine = 0;
    std::deque<std::string> m_queued;
};

class ConsoleProgress final : public RunProgressState {
public:
    ConsoleProgress();
    // Lines to `output` (not owned); during a wipe at most one per interval.
    ConsoleProgress(HANDLE output, std::uint64_t intervalMs);
    ~ConsoleProgress() override;

    bool HasConsole() const;

    void StepBegun(RunStep step, const std::string& where) override;
    bool ShowsWipeTotal() const override { return false; }
    void FilesCounted(std::int32_t files) override;

    // One more line, from any thread; it never waits for the output.
    void Say(const std::string& line);
    // Gives the lines said so far up to `milliseconds` to be written, then
    // gives up on the output, cancelling a write that does not return.
    void Finish(DWORD milliseconds);

private:
    struct Writer;
    static unsigned __stdcall WriterMain(void* writer);
    void Start();
    std::string CurrentLine(bool figures);

    // Shared with the writing thread, which a write that never returns may
    // keep beyond this object's life.
    std::shared_ptr<Writer> m_writer;
    win32::UniqueHandle m_thread;
};
