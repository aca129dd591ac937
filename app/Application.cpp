#include "app/Application.h"

Application* Application::s_pCurrent = nullptr;

Application::Application()
{
    s_pCurrent = this;
}

Application::~Application()
{
    if (s_pCurrent == this)
        s_pCurrent = nullptr;
}

int Application::ExitInstance()
{
    return 0;
}

int Application::Run()
{
    if (InitInstance()) {
        MSG message;
        while (::GetMessageA(&message, nullptr, 0, 0) > 0) {
            ::TranslateMessage(&message);
            ::DispatchMessageA(&message);
        }
    }
    return ExitInstance();
}
