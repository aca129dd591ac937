// The confirmation dialog of an interactive start (template 102): a grey
// panel with the warning "Media Preparation clears the Kestrix image
// database.", OK and Cancel. OK runs the preparation on a worker thread with
// every report in a message box over the dialog, then closes; meanwhile the
// dialog shows the run's progress, cannot be closed, offers to stop after
// the drive being wiped, and holds off the end of the user's session while a
// drive is under way. No key that confirms stops the run: the focus rests on
// the step. Cancel closes and runs nothing. The system menu carries an About
// entry.
#pragma once

#include "app/Dialog.h"
#include "app/GdiHandles.h"
#include "app/RunGuards.h"
#include "app/RunProgressState.h"
#include "prep/RunPreparation.h"

#include <string>
#include <thread>

// Appends a separator and the About entry (command IDM_ABOUTBOX) to a system
// menu, unless the entry's text is empty.
void AppendAboutEntry(HMENU systemMenu, const std::string& text);

class CMediaprepDlg : public ModalDialog {
public:
    explicit CMediaprepDlg(HWND parent = nullptr);
    ~CMediaprepDlg() override;

    // After DoModal: waits for a run that the dialog did not see to its end
    // (the dialog failed), then gives its outcome; a run that failed to
    // start, or ended by an unexpected failure, counts as an error.
    RunOutcome FinishRun();

protected:
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;
    bool OnSysCommand(UINT command, LPARAM param) override;
    bool OnPaint() override;
    HICON OnQueryDragIcon() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;

private:
    void SetUpControls();
    void DrawTextPanel(const DRAWITEMSTRUCT& item) const;
    void ShowRunControls();
    void ShowProgress();
    void ShowStopping();
    void OnRunFinished();

    HICON m_hIcon;       // shared resource icon, large size
    HICON m_hSmallIcon;  // shared resource icon, small size
    win32::UniqueFont m_panelFont;
    win32::UniqueFont m_buttonFont;
    win32::UniqueIcon m_warningIcon;
    bool m_bRunning = false;  // OK pressed: the preparation is under way
    RunProgressState m_progress;
    SessionEndGuard m_session;
    std::thread m_worker;
    // Both written by the worker, read after it is joined.
    std::string m_failure;  // what ended the run unexpectedly
    RunOutcome m_outcome = RunOutcome::Complete;
    bool m_bFailed = false;  // the dialog reported a failure of its own
};
