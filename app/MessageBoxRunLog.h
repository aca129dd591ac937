// The run log of an interactive run: every report is a modal message box over
// the confirmation dialog, which the user dismisses before the run goes on.
// A run on a worker thread sends each report to the dialog's thread, which
// owns the box; the run waits until it has been dismissed.
#pragma once

#include "app/RunLog.h"

#include <windows.h>

// Sent to the owner by a report from another thread; the owner's window
// procedure answers it with ShowMarshalledReport.
inline constexpr UINT WM_MEDIAPREP_REPORT = WM_APP + 1;

class MessageBoxRunLog : public RunLog {
public:
    explicit MessageBoxRunLog(HWND owner) : m_hOwner(owner) {}

    void Error(const std::string& text) override;
    void Message(const std::string& text) override;
    // One box: the report, then the cause below it.
    void ErrorWithCause(const std::string& text, const std::string& cause) override;

    // Shows the report that WM_MEDIAPREP_REPORT carries in its lParam.
    static void ShowMarshalledReport(HWND owner, LPARAM report);

private:
    void Report(bool error, const std::string& text);

    HWND m_hOwner;  // not owned
};
