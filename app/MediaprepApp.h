// The application object: starts tracing, reads the command line and runs the
// preparation silently (with "/clean" or "-clean") or behind the confirmation
// dialog. It never enters a message loop: the program ends when that is done.
#pragma once

#include "app/Application.h"

#include <string>
#include <vector>

// What Mediaprep.exe /? prints: the switches, what each does, the exit codes.
std::vector<std::string> HelpText();

class CMediaprepApp : public Application {
public:
    bool InitInstance() override;
    // 0 when the run reported no error, was cancelled, or only looked; 1
    // when it reported at least one error (or the report could not be kept).
    int ExitInstance() override;

private:
    int m_nExitCode = 0;
};
