#include "app/CommandLineInfo.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

void ParseArguments(CCommandLineInfo& info, int argc, const char* const* argv)
{
    for (int i = 1; i < argc; ++i) {
        const char* param = argv[i] ? argv[i] : "";
        const bool flag = param[0] == '-' || param[0] == '/';
        if (flag)
            ++param;
        info.ParseParam(param, flag, i == argc - 1);
    }
}

void ParseCommandLine(CCommandLineInfo& info)
{
    ParseArguments(info, __argc, __argv);
}

void CMediaprepCommandLineInfo::ParseParam(const char* param, bool flag, bool /*last*/)
{
    if (flag && ::lstrcmpiA(param, "clean") == 0)
        m_bClean = !m_bReport;
    if (flag && ::lstrcmpiA(param, "report") == 0) {
        m_bReport = true;
        m_bClean = false;
    }
    if (flag && (std::strcmp(param, "?") == 0 || ::lstrcmpiA(param, "help") == 0))
        m_bHelp = true;
}
