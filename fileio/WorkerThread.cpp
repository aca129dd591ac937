#include "fileio/WorkerThread.h"

#include "fileio/AppException.h"

#include <objbase.h>
#include <process.h>

#include <exception>
#include <mutex>

namespace {

constexpr const char* kUnit = "WorkerThread.cpp";

}  // namespace

WorkerThread::WorkerThread(int comMode) : m_comMode(comMode)
{
    m_stopEvent.reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!m_stopEvent)
        throw AppException("WorkerThread():  Could not create event.", kAppErrorEvent, ::GetLastError(), kUnit,
                           __LINE__);
}

WorkerThread::~WorkerThread()
{
    // A derived class stops its thread in its own destructor, while ThreadProc
    // still exists; this only catches one that did not.
    Stop();
}

bool WorkerThread::Start()
{
    std::lock_guard<CriticalSection> lock(m_lock);
    StopLocked();
    return StartLocked();
}

bool WorkerThread::StartIfStopped()
{
    std::lock_guard<CriticalSection> lock(m_lock);
    if (m_thread && m_running.load())
        return true;
    StopLocked();
    return StartLocked();
}

bool WorkerThread::StartLocked()
{
    m_stopRequested = false;
    ::ResetEvent(m_stopEvent.get());
    unsigned threadId = 0;
    const std::uintptr_t handle = ::_beginthreadex(nullptr, 0, &WorkerThread::Entry, this, CREATE_SUSPENDED, &threadId);
    if (handle == 0)
        return false;
    m_thread.reset(reinterpret_cast<HANDLE>(handle));
    m_threadId = threadId;
    m_running = true;
    ::ResumeThread(m_thread.get());
    return true;
}

void WorkerThread::Stop()
{
    std::lock_guard<CriticalSection> lock(m_lock);
    StopLocked();
}

void WorkerThread::StopLocked()
{
    if (!m_thread)
        return;
    m_stopRequested = true;
    ::SetEvent(m_stopEvent.get());
    WakeForStop();
    // The thread cannot wait for its own end.
    if (::GetCurrentThreadId() != m_threadId)
        ::WaitForSingleObject(m_thread.get(), INFINITE);
    m_thread.reset();
    m_threadId = 0;
}

bool WorkerThread::IsStopRequested()
{
    return m_stopRequested.load();
}

unsigned __stdcall WorkerThread::Entry(void* self)
{
    WorkerThread* thread = static_cast<WorkerThread*>(self);
    bool comStarted = false;
    if (thread->m_comMode != 0) {
        const DWORD mode = thread->m_comMode == 1 ? COINIT_MULTITHREADED : COINIT_APARTMENTTHREADED;
        HRESULT result = ::CoInitializeEx(nullptr, mode);
        if (result == RPC_E_CHANGED_MODE)
            result = ::CoInitializeEx(nullptr, mode == COINIT_MULTITHREADED ? COINIT_APARTMENTTHREADED
                                                                             : COINIT_MULTITHREADED);
        comStarted = SUCCEEDED(result);
    }
    thread->ThreadProc();
    if (comStarted)
        ::CoUninitialize();
    thread->m_running = false;
    return 0;
}

CompletionPortThread::CompletionPortThread(Callback callback) : WorkerThread(0), m_callback(callback)
{
    m_port.reset(::CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 0));
    if (!m_port)
        throw AppException("CompletionPortThread():  Could not create completion port.", kAppErrorEvent,
                           ::GetLastError(), kUnit, __LINE__);
}

CompletionPortThread::~CompletionPortThread()
{
    Stop();
}

bool CompletionPortThread::AssociateFile(HANDLE file, ULONG_PTR key)
{
    return ::CreateIoCompletionPort(file, m_port.get(), key, 0) != nullptr;
}

void CompletionPortThread::WakeForStop()
{
    // A packet without key is ignored by the loop, which then sees the stop
    // request at once instead of at the end of its one-second wait.
    ::PostQueuedCompletionStatus(m_port.get(), 0, 0, nullptr);
}

void CompletionPortThread::ThreadProc()
{
    while (!IsStopRequested()) {
        DWORD bytes = 0;
        ULONG_PTR key = 0;
        OVERLAPPED* overlapped = nullptr;
        const BOOL dequeued = ::GetQueuedCompletionStatus(m_port.get(), &bytes, &key, &overlapped, 1000);
        const DWORD error = ::GetLastError();
        try {
            if (dequeued)
                m_callback(0, bytes, key, overlapped);
            else if (overlapped)
                m_callback(error, bytes, key, overlapped);
            else if (error != WAIT_TIMEOUT)
                TraceFileIoFailure("ThreadProc():  Bad call to ::GetQueuedCompletionStatus() error " + std::to_string(error));
        } catch (const std::exception& e) {
            TraceFileIoFailure(e.what());
        } catch (...) {
            TraceFileIoFailure("ThreadProc():  Unknown exception.");
        }
    }
}
