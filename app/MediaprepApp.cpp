#include "app/MediaprepApp.h"

#include "app/CommandLineInfo.h"
#include "app/FileRunLog.h"
#include "app/MediaprepDlg.h"
#include "app/ReportOutput.h"
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
        "Exit codes:",
        "  0  the run reported no error, or it was cancelled; /report examined the",
        "     recorder and kept its report; this help",
        "  1  the run reported at least one error (a drive that failed or was left as",
        "     it was, a directory that could not be cleared or created); /report could",
        "     not write its report file",
    };
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
        m_nExitCode = RunPreparation(log) ? 0 : 1;
    } else {
        // The manifest asks for version 6 of the common controls; loading
        // them before the first window is the documented way to get them.
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
        ::InitCommonControlsEx(&controls);

        // The dialog runs the preparation itself when the user presses OK.
        CMediaprepDlg dialog;
        dialog.PublishWindowTo(m_hMainWnd);
        dialog.DoModal();
        m_nExitCode = dialog.ErrorsReported() ? 1 : 0;
    }
    return false;
}

int CMediaprepApp::ExitInstance()
{
    DbgLogger::Shutdown();
    Application::ExitInstance();
    return m_nExitCode;
}
