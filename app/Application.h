// A small application object in place of the Windows application framework:
// WinMain hands control to Run, which calls InitInstance and, when that
// returns true, pumps messages until the main window ends the program;
// ExitInstance gives the exit code.
#pragma once

#include <windows.h>

class Application {
public:
    Application();
    virtual ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    virtual bool InitInstance() = 0;
    virtual int ExitInstance();

    int Run();

    static Application* Current() { return s_pCurrent; }

    HWND m_hMainWnd = nullptr;

private:
    static Application* s_pCurrent;
};
