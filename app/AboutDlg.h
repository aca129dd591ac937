// The About box (template 100): the program icon, "Media Preparation Version"
// with the product version of the program file, and an OK button.
#pragma once

#include "app/Dialog.h"

class CAboutDlg : public ModalDialog {
public:
    explicit CAboutDlg(HWND parent = nullptr);

protected:
    BOOL OnInitDialog() override;
};
