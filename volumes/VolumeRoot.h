// How the root probe, the counting pass and the deletion judge a directory
// entry (the decisions alone, apart from the file system calls).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Entries the probe does not count as other contents: the description files,
// RECYCLED and System Volume Information, in any letter case, and "." and "..".
bool IsIgnoredByProbe(const std::string& name);

enum class WipeEntry {
    Skipped,    // "." and "..", directories beginning with a full stop, System Volume Information
    Directory,  // a real directory: emptied, then removed
    Link,       // a junction or symbolic link: removed itself, never entered or followed
    File,       // unprotected, then deleted
};

// `attributes` as a directory listing gives them.
WipeEntry ClassifyWipeEntry(DWORD attributes, const std::wstring& name);

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
