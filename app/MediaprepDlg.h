// The confirmation dialog of an interactive start (template 102): a grey
// panel with the warning "Media Preparation clears the Kestrix image
// database.", OK and Cancel. OK runs the preparation with every report in a
// message box over the dialog, then closes; Cancel closes and runs nothing.
// The system menu carries an About entry.
#pragma once

#include "app/Dialog.h"
#include "app/GdiHandles.h"

#include <string>

// Appends a separator and the About entry (command IDM_ABOUTBOX) to a system
// menu, unless the entry's text is empty.
void AppendAboutEntry(HMENU systemMenu, const std::string& text);

class CMediaprepDlg : public ModalDialog {
public:
    explicit CMediaprepDlg(HWND parent = nullptr);

    // After OK: whether the preparation reported an error.
    bool ErrorsReported() const { return m_bErrorsReported; }

protected:
    BOOL OnInitDialog() override;
    void OnOK() override;
    bool OnSysCommand(UINT command, LPARAM param) override;
    bool OnPaint() override;
    HICON OnQueryDragIcon() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;

private:
    void SetUpControls();
    void DrawTextPanel(const DRAWITEMSTRUCT& item) const;

    HICON m_hIcon;       // shared resource icon, large size
    HICON m_hSmallIcon;  // shared resource icon, small size
    win32::UniqueFont m_panelFont;
    win32::UniqueFont m_buttonFont;
    win32::UniqueIcon m_warningIcon;
    bool m_bRunning = false;  // OK pressed: the preparation is under way
    bool m_bErrorsReported = false;
};
