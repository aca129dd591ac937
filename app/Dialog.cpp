#include "app/Dialog.h"

#include <exception>
#include <string>

namespace {

// An exception must not unwind through the system's dialog code, which was
// not built to pass it on: it ends the dialog with a report instead.
void ReportUnexpected(HWND hwnd, const char* what)
{
    std::string text = "Mediaprep stopped unexpectedly";
    if (what != nullptr && *what != '\0')
        text += std::string(": ") + what;
    ::OutputDebugStringA((text + "\n").c_str());
    ::MessageBoxA(hwnd, text.c_str(), "Error", MB_OK | MB_ICONSTOP);
    ::EndDialog(hwnd, -1);
}

}  // namespace

ModalDialog::ModalDialog(UINT templateId, HWND parent)
    : m_nIDTemplate(templateId), m_hWndParent(parent), m_hResources(::GetModuleHandleA(nullptr))
{
}

INT_PTR ModalDialog::DoModal()
{
    return ::DialogBoxParamA(m_hResources, MAKEINTRESOURCEA(m_nIDTemplate), m_hWndParent, DialogProc,
                             reinterpret_cast<LPARAM>(this));
}

void ModalDialog::EndDialog(INT_PTR result)
{
    if (m_hWnd != nullptr)
        ::EndDialog(m_hWnd, result);
}

void ModalDialog::SetMessageResult(LRESULT result)
{
    ::SetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT, result);
}

BOOL ModalDialog::OnInitDialog()
{
    return TRUE;
}

void ModalDialog::OnOK()
{
    EndDialog(IDOK);
}

void ModalDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}

bool ModalDialog::OnSysCommand(UINT, LPARAM)
{
    return false;
}

bool ModalDialog::OnPaint()
{
    return false;
}

HICON ModalDialog::OnQueryDragIcon()
{
    return nullptr;
}

bool ModalDialog::OnMessage(UINT, WPARAM, LPARAM, INT_PTR&)
{
    return false;
}

void ModalDialog::Attach(HWND hwnd)
{
    m_hWnd = hwnd;
    ::SetWindowLongPtrA(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(this));
    if (m_pPublishedWindow != nullptr)
        *m_pPublishedWindow = hwnd;
}

void ModalDialog::Detach()
{
    ::SetWindowLongPtrA(m_hWnd, DWLP_USER, 0);
    if (m_pPublishedWindow != nullptr && *m_pPublishedWindow == m_hWnd)
        *m_pPublishedWindow = nullptr;
    m_hWnd = nullptr;
}

INT_PTR CALLBACK ModalDialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    ModalDialog* dialog = nullptr;
    if (message == WM_INITDIALOG) {
        dialog = reinterpret_cast<ModalDialog*>(lParam);
        dialog->Attach(hwnd);
    } else {
        dialog = reinterpret_cast<ModalDialog*>(::GetWindowLongPtrA(hwnd, DWLP_USER));
    }
    if (dialog == nullptr)
        return FALSE;  // messages before WM_INITDIALOG (WM_SETFONT) and after WM_NCDESTROY
    if (message == WM_NCDESTROY) {
        dialog->Detach();
        return FALSE;
    }
    try {
        return dialog->Dispatch(message, wParam, lParam);
    } catch (const std::exception& e) {
        ReportUnexpected(hwnd, e.what());
    } catch (...) {
        ReportUnexpected(hwnd, nullptr);
    }
    return TRUE;
}

INT_PTR ModalDialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: {
        RECT before{};
        ::GetWindowRect(m_hWnd, &before);
        const BOOL result = OnInitDialog();
        RECT after{};
        ::GetWindowRect(m_hWnd, &after);
        // A dialog that neither placed itself nor asked the system to centre
        // it appears centred over its owner, not at the owner's corner.
        if (m_hWnd != nullptr && ::EqualRect(&before, &after) &&
            !(::GetWindowLongA(m_hWnd, GWL_STYLE) & DS_CENTER))
            CenterOverOwner();
        return result;
    }
    case WM_COMMAND:
        // Buttons, the Return and Escape keys and menus all come with
        // notification code 0 (BN_CLICKED).
        if (HIWORD(wParam) == BN_CLICKED) {
            if (LOWORD(wParam) == IDOK) {
                OnOK();
                return TRUE;
            }
            if (LOWORD(wParam) == IDCANCEL) {
                OnCancel();
                return TRUE;
            }
        }
        break;
    case WM_SYSCOMMAND:
        return OnSysCommand(static_cast<UINT>(wParam), lParam) ? TRUE : FALSE;
    case WM_PAINT:
        return OnPaint() ? TRUE : FALSE;
    case WM_QUERYDRAGICON:
        // One of the messages whose result a dialog procedure returns itself.
        return reinterpret_cast<INT_PTR>(OnQueryDragIcon());
    default:
        break;
    }
    INT_PTR result = FALSE;
    return OnMessage(message, wParam, lParam, result) ? result : FALSE;
}

void ModalDialog::CenterOverOwner()
{
    RECT window{};
    ::GetWindowRect(m_hWnd, &window);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    HWND owner = ::GetWindow(m_hWnd, GW_OWNER);
    ::GetMonitorInfoA(::MonitorFromWindow(owner != nullptr ? owner : m_hWnd, MONITOR_DEFAULTTONEAREST), &monitor);
    const RECT& work = monitor.rcWork;
    RECT around = work;
    if (owner != nullptr && ::IsWindowVisible(owner) && !::IsIconic(owner))
        ::GetWindowRect(owner, &around);

    const LONG width = window.right - window.left;
    const LONG height = window.bottom - window.top;
    LONG x = around.left + ((around.right - around.left) - width) / 2;
    LONG y = around.top + ((around.bottom - around.top) - height) / 2;
    // Wholly on the work area where it fits, its top left corner on it where not.
    x = x + width > work.right ? work.right - width : x;
    y = y + height > work.bottom ? work.bottom - height : y;
    x = x < work.left ? work.left : x;
    y = y < work.top ? work.top : y;
    ::SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

std::string LoadResourceString(HINSTANCE module, UINT id)
{
    char text[1024];
    const int length = ::LoadStringA(module, id, text, static_cast<int>(sizeof text));
    return length > 0 ? std::string(text, static_cast<std::size_t>(length)) : std::string();
}
