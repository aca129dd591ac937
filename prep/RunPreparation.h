// The whole job of the program: prepare every data drive as an empty volume
// of the image database and empty the pre-alarm and restore directories,
// reporting through the run log.
#pragma once

#include <string>

class RunLog;
class RunProgress;
class VolumeHandler;
struct ClearingTally;

enum class RunOutcome {
    Complete,        // every drive prepared, no error reported
    ErrorsReported,  // at least one failure went to the log
    Stopped,         // no error, but a stop left drives unprepared
};

// Failures go to the log. With a progress observer, the steps and the wipes
// are told to it, and it may stop the run between drives.
RunOutcome RunPreparation(RunLog& log, RunProgress* progress = nullptr);

// The drive part: releases this database's volumes, rescans and makes every
// blank, foreign or missing entry an empty volume, reporting each failure and
// then the drives prepared ("Data drives found:"). True when a stop left
// drives unprepared. The backup and restore privileges are enabled for it
// where the token has them (volumes/BackupPrivileges.h).
bool PrepareDrives(RunLog& log, RunProgress* progress = nullptr);
// The same on a handler that has made its first scan; a preview handler
// goes through every step and changes nothing.
bool PrepareDrives(VolumeHandler& handler, RunLog& log, RunProgress* progress = nullptr);

// Empties the directory of a settings path ("C:\Kestrix\PreAlarm\"), or
// creates it when it does not exist. With a tally nothing is deleted or
// created: the tally says what would be, the log what the run would report.
void PrepareIndexDirectory(const std::string& path, RunLog& log, ClearingTally* tally = nullptr);

// Tells the recorder's software that the database uses separate directories.
void SetMultipleDirFlag();
