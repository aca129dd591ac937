#include "prep/RunPreparation.h"

#include "app/RunLog.h"
#include "prep/DatabaseSettings.h"

bool RunPreparation(RunLog& /*log*/)
{
    DatabaseSettings settings;
    settings.ReadFromRegistry();
    // The drive preparation and the directory clearing hang off here.
    return true;
}
