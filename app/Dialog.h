// A small modal-dialog layer over DialogBoxParamA, in place of the Windows
// application framework's dialog class: a dialog object lives on the stack of
// whoever shows it, DoModal shows it from its template in the program's
// resources and returns the code that EndDialog was given. The handlers are
// virtual and have the framework's defaults: OK ends with IDOK, Cancel (the
// button, Escape, Alt+F4, the system menu's Close) with IDCANCEL.
#pragma once

#include <windows.h>

#include <string>

class ModalDialog {
public:
    ModalDialog(UINT templateId, HWND parent);
    virtual ~ModalDialog() = default;
    ModalDialog(const ModalDialog&) = delete;
    ModalDialog& operator=(const ModalDialog&) = delete;

    // Shows the dialog and returns when it has closed: the result given to
    // EndDialog, or -1 when it could not be shown.
    INT_PTR DoModal();

    // Closes the dialog once the current message has been handled.
    void EndDialog(INT_PTR result);

    HWND GetSafeHwnd() const { return m_hWnd; }

    // Keeps `slot` holding the dialog's window while it exists (the
    // application's main window, for instance) and null afterwards.
    void PublishWindowTo(HWND& slot) { m_pPublishedWindow = &slot; }

protected:
    // TRUE: the system gives the focus to the first control that takes it.
    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();
    // Return false to leave the command to the system's default handling.
    virtual bool OnSysCommand(UINT command, LPARAM param);
    // Return false to leave the painting to the system.
    virtual bool OnPaint();
    // The icon to drag when the window is minimised; null for the default.
    virtual HICON OnQueryDragIcon();
    // Any other message. Return true when handled, with `result` as the
    // dialog procedure's return value (SetMessageResult for messages whose
    // result goes through DWLP_MSGRESULT).
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result);

    void SetMessageResult(LRESULT result);
    HINSTANCE ResourceModule() const { return m_hResources; }

    HWND m_hWnd = nullptr;

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
    void Attach(HWND hwnd);
    void CenterOverOwner();
    void Detach();

    UINT m_nIDTemplate;
    HWND m_hWndParent;
    HINSTANCE m_hResources;
    HWND* m_pPublishedWindow = nullptr;
};

// A string resource of the program, empty when it does not exist.
std::string LoadResourceString(HINSTANCE module, UINT id);
