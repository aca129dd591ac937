// A volume's description file, VolumeInfo.xml in its volume path, with the
// previous generation kept beside it as VolumeInfoOld.xml.
//
// Crash safety: once a volume has a complete description, at every moment
// at least one of the two files holds a complete one. A save flushes the new
// file to the disk before it reports success, and never rotates an incomplete
// VolumeInfo.xml (left by an interrupted save) over a complete
// VolumeInfoOld.xml. A load prefers a complete file to one that has every
// element but was cut short.
#pragma once

#include "volumes/VolumeRecord.h"

#include <string>

inline constexpr const char* kVolumeInfoFileName = "VolumeInfo.xml";
inline constexpr const char* kVolumeInfoOldFileName = "VolumeInfoOld.xml";

// The volume path, a backslash unless it ends in one, and the file name.
std::string VolumeInfoPath(const std::string& volumePath, const char* fileName);

// Writes the record's description as the new VolumeInfo.xml, the previous
// one becoming VolumeInfoOld.xml. True when the new file is on the disk.
// A record without a path is refused: its files would land in the root of
// whatever drive is current.
bool SaveVolumeInfo(const VolumeRecord& record);

// Fills the record from VolumeInfo.xml or, failing that, VolumeInfoOld.xml.
// When the fallback is used, fields read from the first file stay unless the
// second one gives them. A record without a path is refused, as above.
bool LoadVolumeInfo(VolumeRecord& record);

// Reads one description file into the record (see ReadVolumeInfoDocument).
bool ReadVolumeInfoFile(VolumeRecord& record, const std::string& path);
