#include "app/MediaprepDlg.h"

#include "app/AboutDlg.h"
#include "app/MessageBoxRunLog.h"
#include "app/Resource.h"
#include "prep/RunPreparation.h"

namespace {

static_assert((IDM_ABOUTBOX & 0xFFF0) == IDM_ABOUTBOX && IDM_ABOUTBOX < 0xF000,
              "a system-menu command of our own: low four bits clear, below the system's commands");

constexpr COLORREF kPanelColour = RGB(192, 192, 192);
constexpr int kPanelPoints = 10;
constexpr int kButtonPoints = 8;
constexpr WORD kWarningIconId = 32515;  // the system's exclamation icon (OIC_WARNING)

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
                                                   ::GetSystemMetrics(SM_CYSMICON), LR_SHARED)))
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

void CMediaprepDlg::OnOK()
{
    WaitCursor wait;
    m_bRunning = true;
    MessageBoxRunLog log(m_hWnd);
    m_bErrorsReported = !RunPreparation(log);
    ModalDialog::OnOK();
}

bool CMediaprepDlg::OnSysCommand(UINT command, LPARAM)
{
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

bool CMediaprepDlg::OnMessage(UINT message, WPARAM, LPARAM lParam, INT_PTR& result)
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
    case WM_SETCURSOR:
        // While the run goes on, the dialog only gets messages when a report's
        // message box is up; over the dialog the cursor stays the wait cursor.
        if (!m_bRunning)
            return false;
        ::SetCursor(::LoadCursorA(nullptr, IDC_WAIT));
        SetMessageResult(TRUE);
        result = TRUE;
        return true;
    default:
        return false;
    }
}
