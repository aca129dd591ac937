// The preview of a run (Mediaprep.exe /report): what a run would find and do
// on this recorder, learnt without changing anything, and its report.
//
// PreviewPreparation walks the run's own steps on a preview handler
// (HandlerMode::Preview) and gathers the facts; FormatPreviewReport turns
// them into the report's lines and makes no platform calls.
#pragma once

#include "prep/DatabaseSettings.h"
#include "prep/DirectoryClearing.h"
#include "volumes/ScanObserver.h"
#include "volumes/VolumeRecord.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

inline constexpr const char* kReportPath = "C:\\Windows\\Kestrix\\MediaprepLogs\\MediaprepReport.log";

// One drive letter, or one subvolume of a drive.
struct PreviewDrive {
    std::string path;  // "E:", or "E:\Vol1"
    UINT driveType = DRIVE_UNKNOWN;  // of the drive letter
    std::int64_t sizeKB = -1;        // -1: unknown
    std::optional<WriteJudgement> judgement;  // when the root was judged
    bool writable = false;
    // What the first scan, the one that checks the image files, made of it:
    // listed with a status, or left out for a reason (never both).
    std::optional<VolumeRecord> examined;  // the description's fields and the status
    bool described = false;                // examined came from a description of its own
    std::optional<LeftOutReason> leftOut;
    VolumeRecord leftOutRecord;            // what was read before it was left out
    std::string protection;                // for LeftOutReason::Protected
    std::vector<std::pair<std::int32_t, bool>> damagedFiles;  // number, rebuilt (else replaced)
    // The last scan of the run, the one whose list is prepared.
    std::optional<VolumeStatus> finalStatus;
    std::optional<LeftOutReason> finalLeftOut;
    // What the initialisation would delete, when it got that far.
    std::optional<std::pair<std::int32_t, std::uint64_t>> deletes;
    // What would make a run leave the drive as it is, found before its wipe.
    std::optional<FailureCause> keptBy;
    // The subvolumes it would make of a drive too large for one volume.
    std::vector<VolumeRecord> subVolumes;
};

struct PreviewFacts {
    std::string databaseGuid;    // text form
    bool guidInRegistry = false;
    bool settingsKeyFound = false;
    bool view32 = false;         // the registry view of the recorder's tree
    bool backupPrivileges = false;  // both enabled for the drives, as a run enables them
    DatabaseSettings settings;
    std::optional<std::uint32_t> multipleDir;
    std::vector<PreviewDrive> drives;  // by path
    ClearingTally preAlarm;
    ClearingTally restore;
    std::vector<std::string> runLog;   // the run log's lines, as a run would write them
    // The list of "Data drives found:", without that text; nullopt when the
    // run would make no such report (no volume listed at all).
    std::optional<std::string> prepared;
};

// Examines the recorder as a run would and changes nothing.
PreviewFacts PreviewPreparation();

// The report: one line a string, without line ends; the last line lists the
// drives a run would prepare, in the order of the run's own report.
std::vector<std::string> FormatPreviewReport(const PreviewFacts& facts);
