// Emptying and creating the recorder's pre-alarm and restore directories.
// Every failure is reported through the run log; none stops the work.
#pragma once

#include <cstdint>
#include <string>

class RunLog;

// What clearing a directory would remove, counted by a preview in place of
// the deletion. The reports the run would make still go to the log.
struct ClearingTally {
    bool exists = false;  // the directory is there to be emptied, else it would be created
    std::int32_t files = 0;
    std::int32_t directories = 0;
    std::uint64_t bytes = 0;
    std::int32_t refused = 0;  // read-only files and directories, which the run fails to delete
};

// Deletes everything below `directory` (a path ending in a backslash),
// depth first, and leaves the directory itself. "C:\" and "C:\Windows" are
// never emptied or entered.
// With a tally nothing is deleted: it is counted instead.
void ClearDirectory(const std::string& directory, RunLog& log, ClearingTally* tally = nullptr);

// Creates the last component of `path`; true when it was created.
bool CreateIndexDirectory(const std::string& path, RunLog& log);
