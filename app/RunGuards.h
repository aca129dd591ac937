// What may end a run from outside, and how each is answered. A drive is
// never left half prepared by choice: the end of the user's session (log-off,
// shut-down) waits while a drive is under way and otherwise stops the run
// before the next drive; Ctrl+C and Ctrl+Break on the console of a silent
// run stop it after the drive under way. What cannot be refused (a session
// ended by force, a closed console) leaves a line in the log saying where
// the run was.
#pragma once

#include "app/ConsoleProgress.h"
#include "app/RunProgressState.h"

#include <windows.h>

#include <functional>
#include <string>

// Receives the line that says where a run ended from outside was.
using EndedReport = std::function<void(const std::string& text)>;

// The answers of a run's window to the system's end-of-session messages,
// called on that window's thread.
class SessionEndGuard {
public:
    SessionEndGuard(RunProgressState& run, EndedReport ended) : m_run(run), m_ended(std::move(ended)) {}

    // A few times a second: while a drive is under way the system knows why
    // the session would have to wait, with the drive's figures.
    void Refresh(HWND window);
    // WM_QUERYENDSESSION: FALSE while a drive is under way; otherwise the run
    // stops before the next drive and the session may end.
    BOOL Query(HWND window);
    // WM_ENDSESSION: when the session ends all the same, the report.
    void Ended(HWND window, bool ending);

    // Wine's user32 has these as stubs only: the tests put their own here.
    static BOOL(WINAPI* CreateReason)(HWND window, LPCWSTR reason);
    static BOOL(WINAPI* DestroyReason)(HWND window);

private:
    RunProgressState& m_run;
    EndedReport m_ended;
    std::wstring m_shown;  // the reason the system has; empty when none
};

// For a run without a window of its own (/clean): a hidden top-level window
// on a thread of its own, since the system asks windows, not processes,
// whether the session may end.
class SessionWindow {
public:
    SessionWindow(RunProgressState& run, EndedReport ended);
    // Closes the window and waits for its thread.
    ~SessionWindow();
    SessionWindow(const SessionWindow&) = delete;
    SessionWindow& operator=(const SessionWindow&) = delete;

private:
    static unsigned __stdcall ThreadMain(void* self);
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    SessionEndGuard m_guard;
    win32::UniqueHandle m_ready;
    win32::UniqueHandle m_thread;
    HWND m_hWnd = nullptr;  // set by the thread before m_ready
};

// Ctrl+C and Ctrl+Break on the console of a silent run: the run stops after
// the drive under way, and a line says so; each further one says how far
// that drive is. A console being closed cannot be refused: the run's log
// gets where it was.
class ConsoleInterrupts {
public:
    ConsoleInterrupts(ConsoleProgress& run, EndedReport ended);
    ~ConsoleInterrupts();
    ConsoleInterrupts(const ConsoleInterrupts&) = delete;
    ConsoleInterrupts& operator=(const ConsoleInterrupts&) = delete;

    // The console's handler routine (on a thread the system starts).
    static BOOL WINAPI Handler(DWORD event);

private:
    ConsoleProgress& m_run;
    EndedReport m_ended;
    int m_nInterrupts = 0;
};
