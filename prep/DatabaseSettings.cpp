#include "prep/DatabaseSettings.h"

#include "recorderlibs/CRegistry.h"

#include <cstring>

std::string DatabaseKeyPath()
{
    return std::string(kKestrixKeyPath) + kDatabaseKeyName;
}

std::uint32_t DatabaseSettings::ClampPreAlarmSize(std::uint32_t value)
{
    return value < 2 ? 2 : (value > 150 ? 150 : value);
}

std::uint32_t DatabaseSettings::ClampThresholdPercent(std::uint32_t value)
{
    return (value < 90 || value > 98) ? 90 : value;
}

std::int32_t DatabaseSettings::ThresholdBytes(std::int32_t fileSizeMB, std::uint32_t percent)
{
    return static_cast<std::int32_t>(static_cast<double>(fileSizeMB) * static_cast<double>(percent) * 10485.76);
}

void DatabaseSettings::ReadFromRegistry()
{
    CRegistry registry(HKEY_LOCAL_MACHINE, DatabaseKeyPath().c_str());

    struct PathValue {
        const char* name;
        std::string* field;
    };
    const PathValue paths[] = {
        {"ImagePath", &ImagePath},       {"IndexPath", &IndexPath},       {"RestorePath", &RestorePath},
        {"AlarmPath", &AlarmPath},       {"PreAlarmPath", &PreAlarmPath}, {"SelArchivePath", &SelArchivePath},
    };
    for (const PathValue& value : paths) {
        char buffer[256] = {};
        DWORD type = 0;
        DWORD size = sizeof buffer;
        if (registry.VkRegQueryValue(value.name, &type, buffer, &size) == ERROR_SUCCESS)
            value.field->assign(buffer, ::strnlen(buffer, size));
    }

    DWORD type = 0;
    DWORD number = 0;
    DWORD size = sizeof number;
    if (registry.VkRegQueryValue("PreAlarmSize", &type, &number, &size) == ERROR_SUCCESS)
        PreAlarmSize = ClampPreAlarmSize(number);
    else
        PreAlarmSize = 100;

    number = 0;
    size = sizeof number;
    std::uint32_t percent = 90;
    if (registry.VkRegQueryValue("Threshhold", &type, &number, &size) == ERROR_SUCCESS)
        percent = ClampThresholdPercent(number);
    FileThresholdBytes = ThresholdBytes(FileSizeMB, percent);
}
