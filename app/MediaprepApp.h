// The application object: starts tracing, reads the command line and runs the
// preparation silently (with "/clean" or "-clean") or behind the confirmation
// dialog. It never enters a message loop: the program ends when that is done.
#pragma once

#include "app/Application.h"

class CMediaprepApp : public Application {
public:
    bool InitInstance() override;
    int ExitInstance() override;
};
