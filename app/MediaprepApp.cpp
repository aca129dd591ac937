#include "app/MediaprepApp.h"

#include "app/CommandLineInfo.h"
#include "app/ConsoleProgress.h"
#include "app/FileRunLog.h"
#include "app/MediaprepDlg.h"
#include "app/ReportOutput.h"
#include "app/RunGuards.h"
#include "prep/PreviewReport.h"
#include "prep/RunPreparation.h"
#include "recorderlibs/DbgLogger.h"

#include <commctrl.h>

std::vector<std::string> HelpText()
{
    return {
        "Mediaprep prepares the data drives D: to Z: of a Kestrix recorder as empty",
        "volumes of its image database. EVERYTHING ON THE PREPARED DRIVES IS DELETED.",
        "",
        "  Mediaprep.exe          asks for confirmation, then prepares the drives and",
        "                         shows every report in a message box",
        "  Mediaprep.exe /clean   prepares the drives without asking and writes its",
        "                         report to " + std::string(kRunLogPath),
        "  Mediaprep.exe /report  changes nothing: says what /clean would do, in",
        "                         " + std::string(kReportPath),
        "                         and here",
        "  Mediaprep.exe /?       this help (also -? and /help)",
        "",
        "Switches begin with / or -, in any letter case; /report wins over /clean.",
        "",
        "A run never leaves a drive half prepared: \"Stop after this drive\", and",
        "Ctrl+C or Ctrl+Break on the console of /clean, stop it after the drive under",
        "way; log-off and shut-down wait while a drive is under way, and between",
        "drives stop the run. Closing the console of /clean ends it at once: the next",
        "run prepares the drive it was on again.",
        "",
        "Exit codes:",
        "  0  the run was complete, with no error, or it was cancelled; /report",
        "     examined the recorder and kept its report; this help",
        "  1  the run reported at least one error (a drive that failed or was left as",
        "     it was, a directory that could not be cleared or created), or could not",
        "     start; /report could not write its report file",
        "  2  the run was stopped on request (Stop after this drive, Ctrl+C) and left",
        "     drives unprepared, with no error",
        "",
        "In a script, test the higher code first:",
        "  Mediaprep.exe /clean",
        "  if errorlevel 2 echo Stopped: some drives are not prepared",
        "  if errorlevel 1 exit /b 1",
    };
}

int ExitCodeFor(RunOutcome outcome)
{
    switch (outcome) {
    case RunOutcome::Complete:
        return 0;
    case RunOutcome::Stopped:
        return 2;
    case RunOutcome::ErrorsReported:
        break;
    }
    return 1;
}

bool CMediaprepApp::InitInstance()
{
    // Also creates the log directory, which the run log below needs.
    DbgLogger::Initialize(kLogDirectory, 1000000, 900000);

    CMediaprepCommandLineInfo commandLine;
    ParseCommandLine(commandLine);

    if (commandLine.m_bHelp) {
        WriteToConsole(HelpText());
    } else if (commandLine.m_bReport) {
        m_nExitCode = WriteReport(kReportPath, FormatPreviewReport(PreviewPreparation())) ? 0 : 1;
    } else if (commandLine.m_bClean) {
        FileRunLog log(kRunLogPath);
        ConsoleProgress progress;
        {
            const EndedReport ended = [&log](const std::string& text) { log.Error(text); };
            ConsoleInterrupts interrupts(progress, ended);
            SessionWindow session(progress, ended);
            m_nExitCode = ExitCodeFor(RunPreparation(log, &progress));
            progress.MarkFinished();
        }
        // A console or pipe that takes no more lines is given up on here.
        progress.Finish(2000);
    } else {
        // The manifest asks for version 6 of the common controls; loading
        // them before the first window is the documented way to get them.
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
        ::InitCommonControlsEx(&controls);

        // The dialog runs the preparation itself when the user presses OK.
        CMediaprepDlg dialog;
        dialog.PublishWindowTo(m_hMainWnd);
        const bool shown = dialog.DoModal() != -1;
        // Only once the run has ended is its outcome known.
        const RunOutcome outcome = dialog.FinishRun();
        m_nExitCode = shown ? ExitCodeFor(outcome) : 1;
    }
    return false;
}

int CMediaprepApp::ExitInstance()
{
    DbgLogger::Shutdown();
    Application::ExitInstance();
    return m_nExitCode;
}
