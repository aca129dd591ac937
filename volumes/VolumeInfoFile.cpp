#include "volumes/VolumeInfoFile.h"

#include "volumes/PlatformFile.h"
#include "volumes/VolumeInfoText.h"
#include "volumes/XmlDocument.h"

namespace {

// Reads a file as ReadVolumeInfoFile does and tells whether it was whole.
bool ReadDescription(VolumeRecord& record, const std::string& path, bool& isWhole)
{
    isWhole = false;
    XmlDocument document;
    if (!document.Load(path))
        return false;
    return ReadVolumeInfoDocument(document, record, &isWhole);
}

bool HoldsWholeDescription(const std::string& path)
{
    VolumeRecord scratch;
    bool isWhole = false;
    return ReadDescription(scratch, path, isWhole) && isWhole;
}

}  // namespace

std::string VolumeInfoPath(const std::string& volumePath, const char* fileName)
{
    std::string path = volumePath;
    if (path.empty() || path.back() != '\\')
        path += '\\';
    return path + fileName;
}

bool SaveVolumeInfo(const VolumeRecord& record)
{
    if (record.path.empty())
        return false;

    // The document is complete before either file is touched.
    XmlDocument document;
    WriteVolumeInfoDocument(document, record);

    const std::string current = VolumeInfoPath(record.path, kVolumeInfoFileName);
    const std::string previous = VolumeInfoPath(record.path, kVolumeInfoOldFileName);

    // Rotating an incomplete VolumeInfo.xml over a complete VolumeInfoOld.xml
    // would leave no complete description while the new file is written.
    // Otherwise rotate as always: with nothing better to keep, whatever
    // VolumeInfo.xml holds is worth keeping. A failed rename (no
    // VolumeInfo.xml yet) is of no concern.
    if (HoldsWholeDescription(current) || !HoldsWholeDescription(previous)) {
        try {
            PlatformFile::MoveReplacing(current, previous);
        } catch (const PlatformFileError&) {
        }
    }
    return document.Save(current);
}

bool LoadVolumeInfo(VolumeRecord& record)
{
    if (record.path.empty())
        return false;
    VolumeRecord fromCurrent = record;
    bool currentWhole = false;
    if (ReadDescription(fromCurrent, VolumeInfoPath(record.path, kVolumeInfoFileName), currentWhole)) {
        if (!currentWhole) {
            // Every element is there, but the file stops before its end: a
            // save was interrupted, and the previous generation is the one
            // that can be trusted, if it is complete.
            VolumeRecord fromPrevious = record;
            bool previousWhole = false;
            if (ReadDescription(fromPrevious, VolumeInfoPath(record.path, kVolumeInfoOldFileName), previousWhole) &&
                previousWhole) {
                record = fromPrevious;
                return true;
            }
        }
        record = fromCurrent;
        return true;
    }
    record = fromCurrent;
    return ReadVolumeInfoFile(record, VolumeInfoPath(record.path, kVolumeInfoOldFileName));
}

bool ReadVolumeInfoFile(VolumeRecord& record, const std::string& path)
{
    bool isWhole = false;
    return ReadDescription(record, path, isWhole);
}
