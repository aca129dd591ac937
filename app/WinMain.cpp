#include "app/MediaprepApp.h"

#include <windows.h>

namespace {
CMediaprepApp theApp;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    return theApp.Run();
}
