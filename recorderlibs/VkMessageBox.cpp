#include "recorderlibs/VkMessageBox.h"

int VkMessageBox(HWND owner, const char* text, const char* caption, UINT style)
{
    return ::MessageBoxA(owner, text ? text : "", caption ? caption : "", style);
}
