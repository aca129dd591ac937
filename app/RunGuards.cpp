#include "app/RunGuards.h"

#include "volumes/WidePath.h"

#include <process.h>

#include <mutex>

namespace {

// What the system allows for its log-off and console-close handlers is a few
// seconds; creating a wiped drive's directories takes less than one.
constexpr DWORD kDriveEndWaitMs = 3000;
constexpr UINT_PTR kRefreshTimer = 1;
constexpr UINT kRefreshMs = 250;
constexpr const char* kSessionWindowClass = "MediaprepSession";

}  // namespace

BOOL(WINAPI* SessionEndGuard::CreateReason)(HWND, LPCWSTR) = ::ShutdownBlockReasonCreate;
BOOL(WINAPI* SessionEndGuard::DestroyReason)(HWND) = ::ShutdownBlockReasonDestroy;

void SessionEndGuard::Refresh(HWND window)
{
    const ProgressSnapshot now = m_run.Snapshot();
    if (!now.inDrive) {
        if (!m_shown.empty())
            DestroyReason(window);
        m_shown.clear();
        return;
    }
    std::wstring reason;
    if (!Widen(BlockReasonText(now), reason))
        reason = L"Mediaprep is preparing a drive.";
    if (reason.size() >= MAX_STR_BLOCKREASON)
        reason.resize(MAX_STR_BLOCKREASON - 1);
    if (reason != m_shown && CreateReason(window, reason.c_str()))
        m_shown = reason;
}

BOOL SessionEndGuard::Query(HWND window)
{
    if (!m_run.StopUnlessInDrive()) {
        Refresh(window);
        return FALSE;
    }
    return TRUE;
}

void SessionEndGuard::Ended(HWND window, bool ending)
{
    // Not ending: the session goes on, and so does the run (a stop asked for
    // by the query stays asked for).
    if (!ending || m_run.Snapshot().finished)
        return;
    m_run.RequestStop();
    m_run.WaitForDriveEnd(kDriveEndWaitMs);
    Refresh(window);
    m_ended(EndedText("by the system", m_run.Snapshot()));
}

SessionWindow::SessionWindow(RunProgressState& run, EndedReport ended)
    : m_guard(run, std::move(ended)), m_ready(::CreateEventA(nullptr, TRUE, FALSE, nullptr))
{
    if (!m_ready)
        return;
    const std::uintptr_t thread = ::_beginthreadex(nullptr, 0, &SessionWindow::ThreadMain, this, 0, nullptr);
    if (thread == 0) {
        // The run goes on all the same; only the session's end is not asked about.
        ::OutputDebugStringA("Mediaprep: no thread for the session window\n");
        return;
    }
    m_thread.reset(reinterpret_cast<HANDLE>(thread));
    ::WaitForSingleObject(m_ready.get(), INFINITE);
}

SessionWindow::~SessionWindow()
{
    if (!m_thread)
        return;
    if (m_hWnd != nullptr)
        ::PostMessageA(m_hWnd, WM_CLOSE, 0, 0);
    ::WaitForSingleObject(m_thread.get(), INFINITE);
}

unsigned __stdcall SessionWindow::ThreadMain(void* parameter)
{
    auto* self = static_cast<SessionWindow*>(parameter);
    const HINSTANCE instance = ::GetModuleHandleA(nullptr);
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = &SessionWindow::WindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kSessionWindowClass;
    ::RegisterClassA(&windowClass);  // fails harmlessly when registered already
    // Top-level and never shown: a message-only window hears no broadcasts.
    self->m_hWnd = ::CreateWindowExA(0, kSessionWindowClass, "Mediaprep", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                     instance, self);
    ::SetEvent(self->m_ready.get());
    if (self->m_hWnd == nullptr)
        return 1;
    ::SetTimer(self->m_hWnd, kRefreshTimer, kRefreshMs, nullptr);
    MSG message;
    while (::GetMessageA(&message, nullptr, 0, 0) > 0)
        ::DispatchMessageA(&message);
    return 0;
}

LRESULT CALLBACK SessionWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE)
        ::SetWindowLongPtrA(window, GWLP_USERDATA,
                            reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams));
    auto* self = reinterpret_cast<SessionWindow*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
    switch (message) {
    case WM_TIMER:
        if (self && wParam == kRefreshTimer)
            self->m_guard.Refresh(window);
        return 0;
    case WM_QUERYENDSESSION:
        return self ? self->m_guard.Query(window) : TRUE;
    case WM_ENDSESSION:
        if (self)
            self->m_guard.Ended(window, wParam != FALSE);
        return 0;
    case WM_DESTROY:
        ::PostQuitMessage(0);
        return 0;
    default:
        return ::DefWindowProcA(window, message, wParam, lParam);
    }
}

namespace {

// The handler routine is a plain function: the object it serves is found
// here, and is gone (null) once the run is over.
CriticalSection g_interruptsLock;
ConsoleInterrupts* g_interrupts = nullptr;

}  // namespace

ConsoleInterrupts::ConsoleInterrupts(ConsoleProgress& run, EndedReport ended) : m_run(run), m_ended(std::move(ended))
{
    static const bool installed = ::SetConsoleCtrlHandler(&ConsoleInterrupts::Handler, TRUE) != FALSE;
    (void)installed;
    std::lock_guard<CriticalSection> lock(g_interruptsLock);
    g_interrupts = this;
}

ConsoleInterrupts::~ConsoleInterrupts()
{
    // The handler stays installed: a Ctrl+C after the run must not end the
    // process with the system's code for it, which scripts read as success.
    std::lock_guard<CriticalSection> lock(g_interruptsLock);
    if (g_interrupts == this)
        g_interrupts = nullptr;
}

BOOL WINAPI ConsoleInterrupts::Handler(DWORD event)
{
    std::lock_guard<CriticalSection> lock(g_interruptsLock);
    ConsoleInterrupts* self = g_interrupts;
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        if (self && !self->m_run.Snapshot().finished) {
            self->m_run.RequestStop();
            self->m_run.Say(InterruptText(++self->m_nInterrupts, self->m_run.Snapshot()));
        }
        return TRUE;
    case CTRL_CLOSE_EVENT:
        // The process ends when this returns, or a few seconds later.
        if (self && !self->m_run.Snapshot().finished) {
            self->m_run.RequestStop();
            self->m_run.WaitForDriveEnd(kDriveEndWaitMs);
            self->m_ended(EndedText("when its console was closed", self->m_run.Snapshot()));
        }
        return TRUE;
    default:
        return FALSE;
    }
}
