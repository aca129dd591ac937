// Drives that the run must never touch: the ones Windows, a paging or
// hibernation file, or Mediaprep itself lives on. Wiping such a drive fails
// half way (the files in use stop the deletion) after everything else on it
// is gone, so the scan leaves them out before it looks at them at all.
//
// The decision is pure (DriveProtection) and works on the facts that
// GatherSystemPlaces and RootSystemFileOn collect from the platform.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Where the running system keeps what must not be wiped.
struct SystemPlaces {
    std::string windowsDirectory;
    std::string systemDirectory;
    std::string programFile;
    // Entries of PagingFiles ("D:\pagefile.sys 0 0", "?:\pagefile.sys") and
    // ExistingPageFiles ("\??\D:\pagefile.sys"), as the registry holds them.
    std::vector<std::string> pagingFiles;
};

// A drive the scan left out, and why (the phrase that follows "holds").
struct ProtectedDrive {
    std::string path;  // drive form, "E:"
    std::string reason;
};

// The upper-case letter of the drive a path names, resolving the forms the
// platform resolves ("d:\x", "\\?\D:\x", "\\.\D:", "\??\D:\x"); 0 for a path
// on no drive letter (UNC, relative, the "?:" of a system-managed paging file).
char DriveLetterOf(std::string_view path);

// The strings of a REG_MULTI_SZ value, empty ones dropped.
std::vector<std::string> SplitMultiString(std::string_view data);

// Why the drive must be left alone, or an empty text when it may be prepared.
// rootSystemFile: the paging, swap or hibernation file found in its root, or
// empty.
std::string DriveProtection(char letter, const SystemPlaces& places, const std::string& rootSystemFile);

// The run log's line for a drive left alone.
std::string ProtectedDriveReport(const ProtectedDrive& drive);

// The platform's answers: GetWindowsDirectoryA, GetSystemDirectoryA,
// GetModuleFileNameA and the paging files named in the registry. A place that
// cannot be had stays empty.
SystemPlaces GatherSystemPlaces();

// The first of pagefile.sys, swapfile.sys and hiberfil.sys in the drive's
// root, or empty.
std::string RootSystemFileOn(char letter);
