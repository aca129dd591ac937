// Identifiers of the program's resources, shared by the resource script and
// the code. Kept free of anything but #defines: the resource compiler reads it.
#pragma once

// The confirmation dialog and its controls.
#define IDD_MEDIAPREP_DIALOG 102
#define IDC_TEXT_PANEL 1004
#define IDC_WARNING_SIGN 1003
// Shown while the preparation runs: the step, its figures, the wipe's
// progress over all drives, and the button that stops after the current drive.
#define IDC_RUN_STEP 1005
#define IDC_RUN_FIGURES 1006
#define IDC_RUN_PROGRESS 1008
#define IDC_STOP_AFTER_DRIVE 1009

// The About box: the version line.
#define IDD_ABOUTBOX 100
#define IDC_VERSION_LINE 1007

#define IDR_MAINFRAME 130   // the program icon
#define IDS_ABOUTBOX 101    // text of the About entry in the system menu

// System-menu command of the About entry: below 0xF000 (the system's own
// commands) and with the low four bits clear, as WM_SYSCOMMAND requires.
#define IDM_ABOUTBOX 0x0010

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
