#include "app/ConsoleProgress.h"

#include <process.h>

#include <mutex>

namespace {

constexpr DWORD kWriterTickMs = 250;
constexpr std::size_t kMostQueued = 200;  // lines kept for an output that takes none
constexpr DWORD kFinishMs = 2000;

}  // namespace

void ConsoleLines::Add(const std::string& line)
{
    if (m_queued.size() < kMostQueued)
        m_queued.push_back(line);
}

std::vector<std::string> ConsoleLines::Due(const ProgressSnapshot& progress, std::uint64_t now)
{
    std::vector<std::string> due(m_queued.begin(), m_queued.end());
    m_queued.clear();
    const std::string figures = FiguresText(progress);
    if (due.empty() && progress.counted >= 0 && !figures.empty() && now - m_nLastLine >= m_nIntervalMs)
        due.push_back(StepText(progress) + " " + figures);
    if (!due.empty())
        m_nLastLine = now;
    return due;
}

struct ConsoleProgress::Writer {
    explicit Writer(std::uint64_t intervalMs) : lines(intervalMs), wake(::CreateEventA(nullptr, FALSE, FALSE, nullptr))
    {
    }
    explicit Writer(HANDLE handle, std::uint64_t intervalMs) : Writer(intervalMs) { output.emplace(handle); }

    CriticalSection lock;
    std::optional<ConsoleOutput> output;
    ConsoleLines lines;                      // guarded by lock
    RunProgressState* progress = nullptr;    // guarded by lock; null once its owner finishes
    bool finishing = false;                  // guarded by lock
    win32::UniqueHandle wake;
};

ConsoleProgress::ConsoleProgress() : m_writer(std::make_shared<Writer>(3000))
{
    m_writer->output.emplace();
    Start();
}

ConsoleProgress::ConsoleProgress(HANDLE output, std::uint64_t intervalMs)
    : m_writer(std::make_shared<Writer>(output, intervalMs))
{
    Start();
}

ConsoleProgress::~ConsoleProgress()
{
    Finish(kFinishMs);
}

void ConsoleProgress::Start()
{
    if (!HasConsole() || !m_writer->wake)
        return;
    m_writer->progress = this;
    auto* shared = new std::shared_ptr<Writer>(m_writer);
    const std::uintptr_t thread = ::_beginthreadex(nullptr, 0, &ConsoleProgress::WriterMain, shared, 0, nullptr);
    if (thread == 0) {
        // Without its thread the progress goes unsaid; the run is the same.
        delete shared;
        m_writer->progress = nullptr;
        return;
    }
    m_thread.reset(reinterpret_cast<HANDLE>(thread));
}

bool ConsoleProgress::HasConsole() const
{
    return m_writer->output && m_writer->output->Available();
}

unsigned __stdcall ConsoleProgress::WriterMain(void* parameter)
{
    const std::unique_ptr<std::shared_ptr<Writer>> owned(static_cast<std::shared_ptr<Writer>*>(parameter));
    Writer& writer = **owned;
    for (;;) {
        ::WaitForSingleObject(writer.wake.get(), kWriterTickMs);
        std::vector<std::string> due;
        bool last = false;
        {
            std::lock_guard<CriticalSection> lock(writer.lock);
            const ProgressSnapshot now = writer.progress ? writer.progress->Snapshot() : ProgressSnapshot{};
            due = writer.lines.Due(now, ::GetTickCount64());
            last = writer.finishing;
        }
        for (const std::string& line : due)
            if (!writer.output->WriteLine(line))
                return 1;  // a closed console or pipe, or a cancelled write: no more lines
        if (last)
            return 0;
    }
}

std::string ConsoleProgress::CurrentLine(bool figures)
{
    const ProgressSnapshot now = Snapshot();
    const std::string extra = figures ? FiguresText(now) : std::string();
    return StepText(now) + (extra.empty() ? "" : " " + extra);
}

void ConsoleProgress::Say(const std::string& line)
{
    if (!m_thread)
        return;
    {
        std::lock_guard<CriticalSection> lock(m_writer->lock);
        if (m_writer->finishing)
            return;
        m_writer->lines.Add(line);
    }
    ::SetEvent(m_writer->wake.get());
}

void ConsoleProgress::StepBegun(RunStep step, const std::string& where)
{
    RunProgressState::StepBegun(step, where);
    Say(CurrentLine(false));
}

void ConsoleProgress::FilesCounted(std::int32_t files)
{
    RunProgressState::FilesCounted(files);
    Say(CurrentLine(true));
}

void ConsoleProgress::Finish(DWORD milliseconds)
{
    {
        std::lock_guard<CriticalSection> lock(m_writer->lock);
        m_writer->finishing = true;
        m_writer->progress = nullptr;  // from here on the thread never reads this object
    }
    if (!m_thread)
        return;
    ::SetEvent(m_writer->wake.get());
    if (::WaitForSingleObject(m_thread.get(), milliseconds) == WAIT_TIMEOUT) {
        // A reader that stopped reading, or a selection held in the console:
        // the lines are given up. A write that the system cannot cancel keeps
        // the thread until the process ends; it holds only the shared state.
        ::CancelSynchronousIo(m_thread.get());
        ::WaitForSingleObject(m_thread.get(), 500);
    }
    m_thread.reset();
}
