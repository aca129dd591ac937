#include "prep/RunPreparation.h"

#include "app/RunLog.h"
#include "prep/DatabaseSettings.h"
#include "prep/DirectoryClearing.h"
#include "recorderlibs/CRegistry.h"

#include <io.h>

bool RunPreparation(RunLog& log)
{
    DatabaseSettings settings;
    settings.ReadFromRegistry();

    // The pre-alarm directory first, even when both paths name the same one.
    PrepareIndexDirectory(settings.PreAlarmPath, log);
    PrepareIndexDirectory(settings.RestorePath, log);

    SetMultipleDirFlag();
    return true;
}

void PrepareIndexDirectory(const std::string& path, RunLog& log)
{
    const std::string::size_type slash = path.find_last_of('\\');
    const std::string directory = slash == std::string::npos ? std::string() : path.substr(0, slash);
    if (_access(directory.c_str(), 0) == 0)
        ClearDirectory(path, log);
    else
        CreateIndexDirectory(path, log);
}

void SetMultipleDirFlag()
{
    CRegistry registry(HKEY_LOCAL_MACHINE, DatabaseKeyPath().c_str());
    const DWORD one = 1;
    registry.VkRegSetValue("MultipleDir", REG_DWORD, &one, sizeof one);
}
