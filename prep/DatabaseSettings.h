// The image database's locations and size parameters, from the recorder's
// registry key HKEY_LOCAL_MACHINE\Software\Corvane-VG\Kestrix\Database.
#pragma once

#include <cstdint>
#include <string>

// The key of the database settings, under HKEY_LOCAL_MACHINE.
inline constexpr const char* kDatabaseKeyName = "Database";
std::string DatabaseKeyPath();

class DatabaseSettings {
public:
    DatabaseSettings() = default;
    virtual ~DatabaseSettings() = default;

    // Loads the values that are present; missing ones keep or take their
    // defaults. Reports nothing.
    void ReadFromRegistry();

    // Directory paths, each ending in a backslash.
    std::string ImagePath = "\\";
    std::string IndexPath = "\\";
    std::string RestorePath = "C:\\";
    std::string AlarmPath = "\\";
    std::string PreAlarmPath = "C:\\";
    std::string SelArchivePath = "C:\\";

    std::int32_t FileSizeMB = 20;
    std::uint32_t PreAlarmSize = 10;
    // FileSizeMB at the threshold percentage, in bytes.
    std::int32_t FileThresholdBytes = 18874368;

    // The derivation of FileThresholdBytes from the registry's percentage,
    // after its clamp to 90..98.
    static std::int32_t ThresholdBytes(std::int32_t fileSizeMB, std::uint32_t percent);
    static std::uint32_t ClampPreAlarmSize(std::uint32_t value);
    static std::uint32_t ClampThresholdPercent(std::uint32_t value);
};
