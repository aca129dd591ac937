// Emptying and creating the recorder's pre-alarm and restore directories.
// Every failure is reported through the run log; none stops the work.
#pragma once

#include <string>

class RunLog;

// Deletes everything below `directory` (a path ending in a backslash),
// depth first, and leaves the directory itself. "C:\" and "C:\Windows" are
// never emptied or entered.
void ClearDirectory(const std::string& directory, RunLog& log);

// Creates the last component of `path`; true when it was created.
bool CreateIndexDirectory(const std::string& path, RunLog& log);
