// Paths for reaching every name a file system holds.
//
// The narrow calls see a directory's entries through the system code page:
// a character it lacks comes back as '?', and paths stop at MAX_PATH. The
// wipe and the clearing must reach whatever is there, so they walk with
// UTF-16 names under the "\\?\" prefix, which also passes names ending in a
// space or a full stop through untouched. Settings, drive paths and reports
// stay narrow; only the walk itself is wide.
#pragma once

#include <string>

// Text in the system code page as UTF-16; false when it cannot be converted.
bool Widen(const std::string& text, std::wstring& wide);

// The directory, a backslash unless it ends in one, and the name.
std::wstring JoinPath(const std::wstring& directory, const std::wstring& name);

// The "\\?\" form of a full path ("E:\x" gives "\\?\E:\x", "\\server\share\x"
// gives "\\?\UNC\server\share\x"); a path already in that form, or a device
// path ("\\.\"), is left as it is.
std::wstring LongPathForm(const std::wstring& fullPath);

// `directory` (system code page, absolute or relative, "E:" meaning the
// drive's root) as a full "\\?\" path ending in a backslash; false when it
// cannot be converted.
bool LongPathOf(const std::string& directory, std::wstring& longPath);

// A file system name in the system code page, for reports and comparisons
// with narrow paths; a character the code page lacks becomes '?' (never a
// look-alike, so that no name passes for another).
std::string NarrowName(const std::wstring& name);
