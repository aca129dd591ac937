// How the root probe, the counting pass and the deletion judge a directory
// entry (the decisions alone, apart from the file system calls).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Entries the probe does not count as other contents: the description files,
// RECYCLED, System Volume Information and the wipe's holding directory
// (volumes/EntryDeletion.h), in any letter case, and "." and "..".
bool IsIgnoredByProbe(const std::string& name);

enum class WipeEntry {
    Skipped,    // "." and "..", directories beginning with a full stop, System Volume Information
    Directory,  // a directory, or one with a reparse point that is no link: emptied, then removed
    Link,       // a junction, symbolic link or mount point: removed itself, never entered or followed
    File,       // deleted (a file with a reparse point that is no link too: the file itself)
};

// Whether a reparse point with this tag is a link: a name surrogate
// (junctions, symbolic links, mount points), or of no tag the listing gives
// (Wine's host symbolic links), which is taken as the worst case. Others
// (cloud files, deduplication, compression, storage tiers) are where their
// data lives.
bool IsLinkTag(DWORD tag);

// `attributes` and `tag` (dwReserved0) as a directory listing gives them.
WipeEntry ClassifyWipeEntry(DWORD attributes, DWORD tag, const std::wstring& name);

// Whether creating root + each setting in turn (each one directory, its
// parent not created) succeeds on a root that the deletion has emptied down
// to `surviving` (the names of the root's directories the deletion leaves).
// A setting that names an existing directory (the root itself, for "\\"), or
// whose parent is missing, fails, and the later ones are not tried. Names
// compare without regard to case; a setting without a leading backslash is
// taken relative to the root, the drive's usual current directory.
// On failure, `failed` (when given) is the setting that fails and `error`
// the answer the system would give.
bool DirectoriesCreatable(const std::vector<std::string>& surviving, const std::vector<std::string>& settings,
                          std::size_t* failed = nullptr, DWORD* error = nullptr);
