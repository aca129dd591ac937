// The run log of an interactive run: every report is a modal message box over
// the confirmation dialog, which the user dismisses before the run goes on.
#pragma once

#include "app/RunLog.h"

#include <windows.h>

class MessageBoxRunLog : public RunLog {
public:
    explicit MessageBoxRunLog(HWND owner) : m_hOwner(owner) {}

    void Error(const std::string& text) override;
    void Message(const std::string& text) override;
    // One box: the report, then the cause below it.
    void ErrorWithCause(const std::string& text, const std::string& cause) override;

private:
    HWND m_hOwner;  // not owned
};
