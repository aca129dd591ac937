// How the root probe, the counting pass and the deletion judge a directory
// entry (the decisions alone, apart from the file system calls).
#pragma once

#include <windows.h>

#include <string>

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
