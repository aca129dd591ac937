// The text of a volume description (VolumeInfo.xml) and the text forms of
// its values. No platform calls: these are fuzzed natively.
#pragma once

#include "volumes/Guid.h"
#include "volumes/VolumeRecord.h"
#include "volumes/XmlDocument.h"

#include <cstdint>
#include <string>

// "{6B1F03A2-94C0-4E51-8A7D-0C22E5D9B310}": braced, upper-case, 38 characters.
std::string GuidToText(const GUID& guid);

// Reads the form above as a scan with "{%8X-%4X-%4X-%2X%2X-%2X%2X%2X%2X%2X%2X}"
// would: letter case is free, the widths are maxima, white space before a
// number is skipped, a number may carry a sign or 0x. Reading stops at the
// first thing that does not match; the parts not read are zero.
GUID TextToGuid(const std::string& text);

// strtoul with base 0 on a 32-bit unsigned long ("0x20" is 32, "010" is 8,
// "-1" is 0xFFFFFFFF, an overflow is 0xFFFFFFFF); a text longer than 31
// characters, or one without digits, gives 0.
std::uint32_t ParseNumber(const std::string& text);

// Appends the description of `record` to the document: the SubVolumes form
// when the record lists subvolumes, the VolumeInformation form otherwise.
void WriteVolumeInfoDocument(XmlDocument& document, const VolumeRecord& record);

// Reads the document's elements into `record` (names in any letter case,
// wherever they stand; SubVolume entries are appended). True when a
// SubVolume was seen or all eleven VolumeInformation elements were; fields
// read before a failure stay in the record.
//
// `isWhole` (optional) tells whether the document ends with the closing tag
// of its first element: a file cut short by an interrupted write can still
// hold every element (the last value cut, or read as empty), and only this
// tells it from a complete one.
bool ReadVolumeInfoDocument(XmlDocument& document, VolumeRecord& record, bool* isWhole = nullptr);
