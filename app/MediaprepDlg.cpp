#include "app/MediaprepDlg.h"

#include "app/AboutDlg.h"
#include "app/FileRunLog.h"
#include "app/MessageBoxRunLog.h"
#include "app/Resource.h"
#include "prep/RunPreparation.h"

#include <commctrl.h>

#include <exception>

namespace {

static_assert((IDM_ABOUTBOX & 0xFFF0) == IDM_ABOUTBOX && IDM_ABOUTBOX < 0xF000,
              "a system-menu command of our own: low four bits clear, below the system's commands");

constexpr COLORREF kPanelColour = RGB(192, 192, 192);
constexpr int kPanelPoints = 10;
constexpr int kButtonPoints = 8;
constexpr WORD kWarningIconId = 32515;  // the system's exclamation icon (OIC_WARNING)

constexpr UINT WM_MEDIAPREP_RUN_FINISHED = WM_APP + 2;
constexpr UINT_PTR kProgressTimer = 1;
constexpr UINT kProgressIntervalMs = 250;  // a few times a second, whatever the files' pace
constexpr int kBarRange = 1000;
constexpr int kRunAreaUnits = 34;  // dialog units the dialog grows by for the progress

void SetTextIfChanged(HWND control, const std::string& text)
{
    char shown[512] = "";
    ::GetWindowTextA(control, shown, static_cast<int>(sizeof shown));
    if (text != shown)
        ::SetWindowTextA(control, text.c_str());
}

// Arial at a point size for the DPI of the dialog's screen.
HFONT CreateArial(HWND window, int points, int weight)
{
    HDC dc = ::GetDC(window);
    const int dpi = dc != nullptr ? ::GetDeviceCaps(dc, LOGPIXELSY) : 96;
    if (dc != nullptr)
        ::ReleaseDC(window, dc);
    LOGFONTA font{};
    font.lfHeight = -::MulDiv(points, dpi, 72);
    font.lfWeight = weight;
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfQuality = CLEARTYPE_QUALITY;
    lstrcpynA(font.lfFaceName, "Arial", LF_FACESIZE);
    return ::CreateFontIndirectA(&font);
}

class PaintScope {
public:
    explicit PaintScope(HWND window) : m_hWnd(window), m_hDC(::BeginPaint(window, &m_paint)) {}
    ~PaintScope() { ::EndPaint(m_hWnd, &m_paint); }
    PaintScope(const PaintScope&) = delete;
    PaintScope& operator=(const PaintScope&) = delete;
    HDC dc() const { return m_hDC; }

private:
    HWND m_hWnd;
    PAINTSTRUCT m_paint{};
    HDC m_hDC;
};

}  // namespace

void AppendAboutEntry(HMENU systemMenu, const std::string& text)
{
    if (systemMenu == nullptr || text.empty())
        return;
    ::AppendMenuA(systemMenu, MF_SEPARATOR, 0, nullptr);
    ::AppendMenuA(systemMenu, MF_STRING, IDM_ABOUTBOX, text.c_str());
}

CMediaprepDlg::CMediaprepDlg(HWND parent)
    : ModalDialog(IDD_MEDIAPREP_DIALOG, parent),
      m_hIcon(::LoadIconA(ResourceModule(), MAKEINTRESOURCEA(IDR_MAINFRAME))),
      m_hSmallIcon(static_cast<HICON>(::LoadImageA(ResourceModule(), MAKEINTRESOURCEA(IDR_MAINFRAME), IMAGE_ICON,
                                                   ::GetSystemMetrics(SM_CXSMICON),
                                                   ::GetSystemMetrics(SM_CYSMICON), LR_SHARED))),
      // The boxes that are the interactive run's log are of no use when the
      // session ends: the line goes to the silent run's log file instead.
      m_session(m_progress, [](const std::string& text) { FileRunLog(kRunLogPath).Error(text); })
{
}

BOOL CMediaprepDlg::OnInitDialog()
{
    ModalDialog::OnInitDialog();
    AppendAboutEntry(::GetSystemMenu(m_hWnd, FALSE), LoadResourceString(ResourceModule(), IDS_ABOUTBOX));
    ::SendMessageA(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    ::SendMessageA(m_hWnd, WM_SETICON, ICON_SMALL,
                   reinterpret_cast<LPARAM>(m_hSmallIcon != nullptr ? m_hSmallIcon : m_hIcon));
    SetUpControls();
    return TRUE;
}

void CMediaprepDlg::SetUpControls()
{
    m_panelFont.reset(CreateArial(m_hWnd, kPanelPoints, FW_BOLD));
    m_buttonFont.reset(CreateArial(m_hWnd, kButtonPoints, FW_NORMAL));
    for (int id : {IDOK, IDCANCEL})
        ::SendDlgItemMessageA(m_hWnd, id, WM_SETFONT, reinterpret_cast<WPARAM>(m_buttonFont.get()), FALSE);

    // The small control: the system's warning sign, as large as the control
    // holds in steps of 8 pixels.
    HWND sign = ::GetDlgItem(m_hWnd, IDC_WARNING_SIGN);
    RECT box{};
    if (sign != nullptr && ::GetClientRect(sign, &box)) {
        int size = box.right < box.bottom ? box.right : box.bottom;
        size = size < 16 ? 16 : size - size % 8;
        m_warningIcon.reset(static_cast<HICON>(
            ::LoadImageA(nullptr, MAKEINTRESOURCEA(kWarningIconId), IMAGE_ICON, size, size, 0)));
        ::SendMessageA(sign, STM_SETICON, reinterpret_cast<WPARAM>(m_warningIcon.get()), 0);
    }
}

void CMediaprepDlg::DrawTextPanel(const DRAWITEMSTRUCT& item) const
{
    HDC dc = item.hDC;
    RECT area = item.rcItem;
    ::SetDCBrushColor(dc, kPanelColour);
    ::FillRect(dc, &area, static_cast<HBRUSH>(::GetStockObject(DC_BRUSH)));

    char text[256];
    const int length = ::GetWindowTextA(item.hwndItem, text, static_cast<int>(sizeof text));
    HGDIOBJ previousFont = ::SelectObject(dc, m_panelFont ? m_panelFont.get() : ::GetStockObject(DEFAULT_GUI_FONT));
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, RGB(0, 0, 0));

    // Word-wrapped and centred both ways: measure first, then move the text
    // down by half the room left over.
    const int margin = ::MulDiv(area.right - area.left, 4, 100);
    RECT inner{area.left + margin, area.top, area.right - margin, area.bottom};
    RECT measured = inner;
    const UINT format = DT_CENTER | DT_WORDBREAK | DT_NOPREFIX;
    ::DrawTextA(dc, text, length, &measured, format | DT_CALCRECT);
    const int room = (inner.bottom - inner.top) - (measured.bottom - measured.top);
    if (room > 0)
        inner.top += room / 2;
    ::DrawTextA(dc, text, length, &inner, format);
    ::SelectObject(dc, previousFont);
}

CMediaprepDlg::~CMediaprepDlg()
{
    if (m_worker.joinable())
        m_worker.join();
}

void CMediaprepDlg::OnOK()
{
    // Enter, held or pressed once too often, comes here during the run too.
    if (m_bRunning)
        return;
    m_bRunning = true;
    ShowRunControls();
    ::SetTimer(m_hWnd, kProgressTimer, kProgressIntervalMs, nullptr);
    const HWND dialog = m_hWnd;
    try {
        m_worker = std::thread([this, dialog] {
            try {
                MessageBoxRunLog log(dialog);
                m_outcome = RunPreparation(log, &m_progress);
            } catch (const std::exception& e) {
                m_failure = *e.what() != '\0' ? e.what() : "unknown failure";
            } catch (...) {
                m_failure = "unknown failure";
            }
            m_progress.MarkFinished();
            ::PostMessageA(dialog, WM_MEDIAPREP_RUN_FINISHED, 0, 0);
        });
    } catch (const std::exception& e) {
        ::KillTimer(m_hWnd, kProgressTimer);
        m_progress.MarkFinished();
        m_bFailed = true;
        ::MessageBoxA(m_hWnd, (std::string("Mediaprep could not start the preparation: ") + e.what()).c_str(), "Error",
                      MB_OK | MB_ICONSTOP);
        EndDialog(-1);
    }
}

RunOutcome CMediaprepDlg::FinishRun()
{
    if (m_worker.joinable()) {
        // The dialog has gone before the run: it failed, and said so. The
        // run stops after the drive under way; its reports come up on their own.
        m_progress.RequestStop();
        m_worker.join();
        m_bFailed = true;
    }
    return m_bFailed || !m_failure.empty() ? RunOutcome::ErrorsReported : m_outcome;
}

void CMediaprepDlg::OnCancel()
{
    // Escape, Alt+F4 and the system menu's Close all come here: a run is
    // never left in the middle.
    if (!m_bRunning)
        ModalDialog::OnCancel();
}

void CMediaprepDlg::ShowRunControls()
{
    // The dialog grows downwards (keeping its centre) to show the progress
    // between the text and the buttons; dialog units keep it tidy at any DPI.
    RECT grow{0, 0, 0, kRunAreaUnits};
    ::MapDialogRect(m_hWnd, &grow);
    RECT window{};
    ::GetWindowRect(m_hWnd, &window);
    ::SetWindowPos(m_hWnd, nullptr, window.left, window.top - grow.bottom / 2, window.right - window.left,
                   window.bottom - window.top + grow.bottom, SWP_NOZORDER | SWP_NOACTIVATE);
    for (int id : {IDOK, IDCANCEL, IDC_WARNING_SIGN}) {
        HWND control = ::GetDlgItem(m_hWnd, id);
        RECT place{};
        ::GetWindowRect(control, &place);
        ::MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&place), 2);
        ::SetWindowPos(control, nullptr, place.left, place.top + grow.bottom, 0, 0,
                       SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    for (int id : {IDC_RUN_STEP, IDC_RUN_FIGURES, IDC_STOP_AFTER_DRIVE})
        ::SendDlgItemMessageA(m_hWnd, id, WM_SETFONT, reinterpret_cast<WPARAM>(m_buttonFont.get()), FALSE);
    // The step lines up with the figures below it, as a static text would.
    ::SendDlgItemMessageA(m_hWnd, IDC_RUN_STEP, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, 0);
    ::SendDlgItemMessageA(m_hWnd, IDC_RUN_PROGRESS, PBM_SETRANGE32, 0, kBarRange);
    for (int id : {IDC_RUN_STEP, IDC_RUN_FIGURES, IDC_RUN_PROGRESS, IDC_STOP_AFTER_DRIVE})
        ::ShowWindow(::GetDlgItem(m_hWnd, id), SW_SHOW);
    // The focus goes to the step before OK is disabled, which would leave
    // the dialog without one; never to the stop button, which Enter or Space
    // would press.
    ::SendMessageA(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(::GetDlgItem(m_hWnd, IDC_RUN_STEP)), TRUE);
    ::EnableWindow(::GetDlgItem(m_hWnd, IDOK), FALSE);
    ::ShowWindow(::GetDlgItem(m_hWnd, IDCANCEL), SW_HIDE);
    ::EnableMenuItem(::GetSystemMenu(m_hWnd, FALSE), SC_CLOSE, MF_BYCOMMAND | MF_GRAYED);
    ShowProgress();
    // Moved controls are not always repainted (Wine leaves the icon blank):
    // the whole dialog is drawn afresh.
    ::RedrawWindow(m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void CMediaprepDlg::ShowProgress()
{
    const ProgressSnapshot now = m_progress.Snapshot();
    SetTextIfChanged(::GetDlgItem(m_hWnd, IDC_RUN_STEP), StepText(now));
    SetTextIfChanged(::GetDlgItem(m_hWnd, IDC_RUN_FIGURES), FiguresText(now));
    ::SendDlgItemMessageA(m_hWnd, IDC_RUN_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(WipePosition(now, kBarRange)), 0);
}

void CMediaprepDlg::ShowStopping()
{
    HWND button = ::GetDlgItem(m_hWnd, IDC_STOP_AFTER_DRIVE);
    if (!::IsWindowEnabled(button))
        return;
    if (::GetFocus() == button)
        ::SendMessageA(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(::GetDlgItem(m_hWnd, IDC_RUN_STEP)), TRUE);
    ::SetWindowTextA(button, "Stopping after this drive");
    ::EnableWindow(button, FALSE);
}

void CMediaprepDlg::OnRunFinished()
{
    ::KillTimer(m_hWnd, kProgressTimer);
    m_session.Refresh(m_hWnd);
    if (m_worker.joinable())
        m_worker.join();
    if (!m_failure.empty()) {
        ::MessageBoxA(m_hWnd, ("Mediaprep stopped unexpectedly: " + m_failure).c_str(), "Error", MB_OK | MB_ICONSTOP);
        EndDialog(-1);
        return;
    }
    ModalDialog::OnOK();
}

bool CMediaprepDlg::OnSysCommand(UINT command, LPARAM)
{
    if (m_bRunning && (command & 0xFFF0) == SC_CLOSE)
        return true;
    if ((command & 0xFFF0) != IDM_ABOUTBOX)
        return false;
    CAboutDlg about(m_hWnd);
    about.DoModal();
    return true;
}

bool CMediaprepDlg::OnPaint()
{
    if (!::IsIconic(m_hWnd))
        return false;
    PaintScope paint(m_hWnd);
    ::SendMessageA(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(paint.dc()), 0);
    const int cxIcon = ::GetSystemMetrics(SM_CXICON);
    const int cyIcon = ::GetSystemMetrics(SM_CYICON);
    RECT client{};
    ::GetClientRect(m_hWnd, &client);
    const int x = (client.right - client.left - cxIcon + 1) / 2;
    const int y = (client.bottom - client.top - cyIcon + 1) / 2;
    ::DrawIcon(paint.dc(), x, y, m_hIcon);
    return true;
}

HICON CMediaprepDlg::OnQueryDragIcon()
{
    return m_hIcon;
}

bool CMediaprepDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result)
{
    switch (message) {
    case WM_DRAWITEM: {
        const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (item == nullptr || item->CtlID != IDC_TEXT_PANEL)
            return false;
        DrawTextPanel(*item);
        result = TRUE;
        return true;
    }
    case WM_MEDIAPREP_REPORT:
        MessageBoxRunLog::ShowMarshalledReport(m_hWnd, lParam);
        result = TRUE;
        return true;
    case WM_MEDIAPREP_RUN_FINISHED:
        OnRunFinished();
        result = TRUE;
        return true;
    case WM_TIMER:
        if (wParam != kProgressTimer)
            return false;
        ShowProgress();
        m_session.Refresh(m_hWnd);
        // The end of the session may have asked for the stop.
        if (m_progress.Snapshot().stopRequested)
            ShowStopping();
        result = TRUE;
        return true;
    case WM_QUERYENDSESSION:
        if (!m_bRunning)
            return false;
        SetMessageResult(m_session.Query(m_hWnd));
        result = TRUE;
        return true;
    case WM_ENDSESSION:
        if (!m_bRunning)
            return false;
        m_session.Ended(m_hWnd, wParam != FALSE);
        SetMessageResult(0);
        result = TRUE;
        return true;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_RUN_STEP && HIWORD(wParam) == EN_SETFOCUS) {
            // Read, not edited: no selection, no caret.
            ::SendMessageA(reinterpret_cast<HWND>(lParam), EM_SETSEL, static_cast<WPARAM>(-1), 0);
            ::HideCaret(reinterpret_cast<HWND>(lParam));
            return false;
        }
        if (LOWORD(wParam) != IDC_STOP_AFTER_DRIVE || HIWORD(wParam) != BN_CLICKED || !m_bRunning)
            return false;
        m_progress.RequestStop();
        ShowStopping();
        result = TRUE;
        return true;
    case WM_SETCURSOR:
        // While the run goes on, the wait cursor shows over the dialog (the
        // rest of the screen is not ours to change), but for the button
        // that still answers.
        if (!m_bRunning || reinterpret_cast<HWND>(wParam) == ::GetDlgItem(m_hWnd, IDC_STOP_AFTER_DRIVE))
            return false;
        ::SetCursor(::LoadCursorA(nullptr, IDC_WAIT));
        SetMessageResult(TRUE);
        result = TRUE;
        return true;
    default:
        return false;
    }
}
