// The application object: starts tracing, reads the command line and runs the
// preparation silently (with "/clean" or "-clean") or behind the confirmation
// dialog. It never enters a message loop: the program ends when that is done.
#pragma once

#include "app/Application.h"
#include "prep/RunPreparation.h"

#include <string>
#include <vector>

// What Mediaprep.exe /? prints: the switches, what each does, the exit codes.
std::vector<std::string> HelpText();

// 0 complete, 1 at least one error reported (or the run could not start),
// 2 stopped on request with drives left unprepared.
int ExitCodeFor(RunOutcome outcome);

class CMediaprepApp : public Application {
public:
    bool InitInstance() override;
    // ExitCodeFor the run's outcome; 0 when it was cancelled or only looked,
    // 1 when the report could not be kept.
    int ExitInstance() override;

private:
    int m_nExitCode = 0;
};
