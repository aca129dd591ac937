// The whole job of the program: prepare every data drive as an empty volume
// of the image database and empty the pre-alarm and restore directories,
// reporting through the run log.
#pragma once

#include <string>

class RunLog;

// Always returns true; failures go to the log.
bool RunPreparation(RunLog& log);

// The drive part: releases this database's volumes, rescans and makes every
// blank, foreign or missing entry an empty volume, reporting each failure and
// then the drives prepared ("Data drives found:").
void PrepareDrives(RunLog& log);

// Empties the directory of a settings path ("C:\Kestrix\PreAlarm\"), or
// creates it when it does not exist.
void PrepareIndexDirectory(const std::string& path, RunLog& log);

// Tells the recorder's software that the database uses separate directories.
void SetMultipleDirFlag();
