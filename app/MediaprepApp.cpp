#include "app/MediaprepApp.h"

#include "app/CommandLineInfo.h"
#include "app/FileRunLog.h"
#include "prep/RunPreparation.h"
#include "recorderlibs/DbgLogger.h"

bool CMediaprepApp::InitInstance()
{
    // Also creates the log directory, which the run log below needs.
    DbgLogger::Initialize(kLogDirectory, 1000000, 900000);

    CMediaprepCommandLineInfo commandLine;
    ParseCommandLine(commandLine);

    if (commandLine.m_bClean) {
        FileRunLog log(kRunLogPath);
        RunPreparation(log);
    }
    // Interactive mode (the confirmation dialog) is not built yet: the
    // program ends without touching anything.
    return false;
}

int CMediaprepApp::ExitInstance()
{
    DbgLogger::Shutdown();
    return Application::ExitInstance();
}
