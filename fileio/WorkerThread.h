// A stoppable background thread, and the thread that takes finished
// transfers off the process's I/O completion port.
#pragma once

#include "recorderlibs/CriticalSection.h"
#include "recorderlibs/Win32Handle.h"

#include <windows.h>

#include <atomic>

class WorkerThread {
public:
    // comMode: 0 no COM; 1 multithreaded apartment; other values single-threaded.
    explicit WorkerThread(int comMode = 0);
    virtual ~WorkerThread();
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Stops a running thread first; true when the new thread runs.
    bool Start();
    // Starts the thread unless it runs already; true when it runs afterwards.
    bool StartIfStopped();
    // Asks the thread to end and waits for it, without time limit.
    void Stop();
    virtual bool IsStopRequested();
    bool IsRunning() const noexcept { return m_running.load(); }

protected:
    virtual void ThreadProc() = 0;
    // Called by Stop right after the stop event is set, to wake a thread that
    // waits on something else.
    virtual void WakeForStop() {}

private:
    static unsigned __stdcall Entry(void* self);
    bool StartLocked();
    void StopLocked();

    win32::UniqueHandle m_stopEvent;
    // Mirrors the stop event: the loop asks after every completion, and a
    // wait on the event is a round trip to the system (slow under Wine).
    std::atomic<bool> m_stopRequested{false};
    win32::UniqueHandle m_thread;
    DWORD m_threadId = 0;
    CriticalSection m_lock;
    std::atomic<bool> m_running{false};
    int m_comMode;
};

class CompletionPortThread : public WorkerThread {
public:
    using Callback = void (*)(DWORD error, DWORD bytes, ULONG_PTR key, OVERLAPPED* overlapped);

    explicit CompletionPortThread(Callback callback);
    ~CompletionPortThread() override;

    // Adds a file handle to the port under key; false (with the system's
    // error as the last error) when the platform refuses.
    bool AssociateFile(HANDLE file, ULONG_PTR key);
    HANDLE Port() const noexcept { return m_port.get(); }

protected:
    void ThreadProc() override;
    void WakeForStop() override;

private:
    Callback m_callback;
    win32::UniqueHandle m_port;
};
