#include "app/MediaprepApp.h"

#include "app/CommandLineInfo.h"
#include "app/ConsoleProgress.h"
#include "app/FileRunLog.h"
#include "app/MediaprepDlg.h"
#include "app/ReportOutput.h"
#include "prep/PreviewReport.h"
#include "prep/RunPreparation.h"
#include "recorderlibs/DbgLogger.h"

#include <commctrl.h>

bool CMediaprepApp::InitInstance()
{
    // Also creates the log directory, which the run log below needs.
    DbgLogger::Initialize(kLogDirectory, 1000000, 900000);

    CMediaprepCommandLineInfo commandLine;
    ParseCommandLine(commandLine);

    if (commandLine.m_bReport) {
        WriteReport(kReportPath, FormatPreviewReport(PreviewPreparation()));
    } else if (commandLine.m_bClean) {
        FileRunLog log(kRunLogPath);
        // Without a console the run goes exactly as it did before it had one.
        ConsoleProgress progress;
        RunPreparation(log, progress.HasConsole() ? &progress : nullptr);
    } else {
        // The manifest asks for version 6 of the common controls; loading
        // them before the first window is the documented way to get them.
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
        ::InitCommonControlsEx(&controls);

        // The dialog runs the preparation itself when the user presses OK.
        CMediaprepDlg dialog;
        dialog.PublishWindowTo(m_hMainWnd);
        dialog.DoModal();
    }
    return false;
}

int CMediaprepApp::ExitInstance()
{
    DbgLogger::Shutdown();
    return Application::ExitInstance();
}
