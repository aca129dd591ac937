#include "app/AboutDlg.h"

#include "app/Resource.h"
#include "app/VersionBlock.h"

CAboutDlg::CAboutDlg(HWND parent) : ModalDialog(IDD_ABOUTBOX, parent) {}

BOOL CAboutDlg::OnInitDialog()
{
    ModalDialog::OnInitDialog();
    const std::string line = "Media Preparation Version " + ProgramProductVersionText();
    ::SetDlgItemTextA(m_hWnd, IDC_VERSION_LINE, line.c_str());
    return TRUE;
}
