// The examination of one image file against its MASTER.NDX summary, the
// rebuild of a summary from the file's own records, and the replacement of
// a file that has nothing left to rebuild from. The volume handler walks a
// volume's newest files with these during a scan.
#pragma once

#include "store/MasterIndex.h"

#include <cstdint>
#include <string>

// Where one volume keeps its image store.
struct ImageStoreLocation {
    std::string imageDirectory;  // IMG and CACHE files, ending in a backslash
    std::string indexDirectory;  // KEY files and MASTER.NDX, ending in a backslash
    std::uint32_t capacity = 0;  // bytes of one image file: FileSizeMB x 1048576
    // Judge only: every operation below gives the answer it would give, but
    // nothing is created, written back, deleted or made writable.
    bool readOnly = false;
};

// False only when the system says the file or its directory is not there;
// a file that cannot be looked at exists all the same.
bool ImageFileExists(const ImageStoreLocation& location, std::int32_t number);

// Whether image file number opens with its tables and matches its summary:
// every stream's last sequence number there is one below the count in the
// file's tables; an older file must also have a non-empty key index.
bool MatchesSummary(const ImageStoreLocation& location, MasterIndex& index, std::int32_t number);

// What a rebuild of a summary came to.
enum class RebuildResult {
    Stored,        // the file's records were found and their summary stored
    NothingFound,  // the file cannot be opened or holds no record: nothing
                   // in it is worth keeping
    NotStored,     // records were found but the summary (or an older file's
                   // key index) could not be stored: the file must be kept
};

// Scans the records of image file number, writes the tables back (and, for
// an older file, a new key index) and stores the summary they give (the
// empty summary too, when the scan found no entry at all). Read-only: the
// records are scanned in memory and the answer assumes that the key index
// and the summary could be written.
RebuildResult RebuildRecord(const ImageStoreLocation& location, MasterIndex& index, std::int32_t number);

// An empty key index and a fresh, empty image file in place of number.
bool ReplaceImageFile(const ImageStoreLocation& location, std::int32_t number);
