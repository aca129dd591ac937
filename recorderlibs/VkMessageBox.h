// The recorder's modal message box (Util.dll interface).
#pragma once

#include <windows.h>

// Shows a modal message box over `owner` and returns the button pressed.
int VkMessageBox(HWND owner, const char* text, const char* caption, UINT style);
