#include "app/MessageBoxRunLog.h"

#include "recorderlibs/VkMessageBox.h"

namespace {

struct PendingReport {
    bool error;
    const std::string* text;
    bool shown;
};

void Show(HWND owner, bool error, const std::string& text)
{
    if (error)
        VkMessageBox(owner, text.c_str(), "Error", MB_ICONEXCLAMATION | MB_OK);
    else
        VkMessageBox(owner, text.c_str(), "", MB_OK);
}

}  // namespace

void MessageBoxRunLog::Error(const std::string& text)
{
    Report(true, text);
}

void MessageBoxRunLog::Message(const std::string& text)
{
    Report(false, text);
}

void MessageBoxRunLog::Report(bool error, const std::string& text)
{
    // A box belongs to the thread of its owner: shown from another thread, it
    // would leave the owner's thread free to act on the dialog meanwhile.
    if (m_hOwner != nullptr && ::GetWindowThreadProcessId(m_hOwner, nullptr) != ::GetCurrentThreadId()) {
        PendingReport report{error, &text, false};
        ::SendMessageA(m_hOwner, WM_MEDIAPREP_REPORT, 0, reinterpret_cast<LPARAM>(&report));
        if (report.shown)
            return;
        // The owner has gone (its dialog failed): the report stands alone.
        Show(nullptr, error, text);
        return;
    }
    Show(m_hOwner, error, text);
}

void MessageBoxRunLog::ShowMarshalledReport(HWND owner, LPARAM report)
{
    auto* pending = reinterpret_cast<PendingReport*>(report);
    if (pending != nullptr && pending->text != nullptr) {
        pending->shown = true;
        Show(owner, pending->error, *pending->text);
    }
}

void MessageBoxRunLog::ErrorWithCause(const std::string& text, const std::string& cause)
{
    std::string both = text;
    while (!both.empty() && both.back() == '\n')
        both.pop_back();
    Error(cause.empty() ? text : both + "\n\n" + cause);
}
