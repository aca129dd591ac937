// The whole job of the program: prepare every data drive as an empty volume
// of the image database and empty the pre-alarm and restore directories,
// reporting through the run log.
#pragma once

class RunLog;

// Always returns true; failures go to the log.
bool RunPreparation(RunLog& log);
