#include "store/ImageRepair.h"

#include "fileio/AppException.h"
#include "store/ImageFile.h"
#include "store/KeyIndexFile.h"

#include <windows.h>

#include <array>
#include <exception>
#include <string>

namespace {

// From this generation on the key table lives inside the image file.
constexpr std::uint32_t kKeyTableVersion = 0x3010;

bool HasKeyIndex(const ImageStoreLocation& location, std::int32_t number)
{
    KeyIndexFile keys;
    keys.SetBasePath(location.indexDirectory);
    // Opening creates a missing file, which then has length 0: a missing one
    // is not filled either way.
    const bool opened = location.readOnly
                            ? keys.OpenReadOnlyByName(keys.MakePath("KEY", "NDX", number)) == kMmioOk
                            : keys.Open(number, -1);
    if (!opened)
        return false;
    const bool filled = keys.GetLength() != 0;
    keys.Close();
    return filled;
}

bool StreamsMatch(const ImageFile& image, ConstMasterRecordBytes record)
{
    for (int kind = 0; kind < 3; ++kind)
        for (int channel = 0; channel < kMasterChannels; ++channel)
            if (GetSequence(record, kind, channel) + 1 != image.GetStreamCount(channel, kind))
                return false;
    return true;
}

bool IsDirectory(const std::string& path)
{
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Nothing above the store catches exceptions: whatever escapes the image
// file's own handling (memory for a damaged file's tables, say) ends here
// as the answer that loses nothing.
template <class Result, class Work>
Result Guarded(const char* operation, Result failure, Work work) noexcept
{
    try {
        return work();
    } catch (const std::exception& e) {
        try {
            TraceFileIoFailure(std::string(operation) + ": " + e.what());
        } catch (const std::exception&) {
        }
    }
    return failure;
}

bool FileExists(const ImageStoreLocation& location, std::int32_t number)
{
    ImageFile image(ImageFile::kSizeFromHeader);
    image.SetBasePath(location.imageDirectory);
    if (::GetFileAttributesA(image.MakePath(number).c_str()) != INVALID_FILE_ATTRIBUTES)
        return true;
    const DWORD error = ::GetLastError();
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

bool Matches(const ImageStoreLocation& location, MasterIndex& index, std::int32_t number)
{
    ImageFile image(location.capacity);
    image.SetReadOnly(location.readOnly);
    image.SetBasePath(location.imageDirectory);
    if (!image.Open(number, true))
        return false;
    MasterRecordBuffer record = EmptyRecord(0);
    bool sound = index.ReadRecord(number, record) && StreamsMatch(image, record);
    if (sound && image.GetVersion() < kKeyTableVersion)
        sound = HasKeyIndex(location, number);
    image.Close();
    return sound;
}

RebuildResult Rebuild(const ImageStoreLocation& location, MasterIndex& index, std::int32_t number)
{
    ImageFile image(ImageFile::kSizeFromHeader);
    image.SetReadOnly(location.readOnly);
    image.SetBasePath(location.imageDirectory);
    if (!image.Open(number, false))
        return RebuildResult::NothingFound;
    image.SetWriteMode(true, false);
    const bool oldFormat = image.GetVersion() < kKeyTableVersion;
    KeyIndexFile keys;
    keys.SetBasePath(location.indexDirectory);
    if (oldFormat && location.readOnly && !IsDirectory(location.indexDirectory)) {
        image.Close();
        return RebuildResult::NothingFound;
    }
    // Without a key index the rebuild is not complete, but the scan still
    // tells whether the file holds records that must be kept.
    bool keysMade = true;
    if (oldFormat && !location.readOnly) {
        keysMade = keys.Create(number) && keys.Open(number, -1);
        keys.SetVersion(image.GetVersion());
    }

    MasterRecordBuffer record = EmptyRecord(0);
    ScannedRecord scanned;
    while (image.ScanNextRecord(scanned)) {
        if (scanned.kind < 0 || scanned.kind > 2)
            continue;
        const RecordPrefix& prefix = scanned.prefix;
        AddEntry(record, prefix.stream, prefix.kind, prefix.sequence, static_cast<std::int32_t>(prefix.time),
                 scanned.kind == 0 ? scanned.keyValue : 0, scanned.length);
        if (oldFormat && scanned.kind == 0 && scanned.keyFrame && !location.readOnly && keysMade)
            keys.AppendRecord(scanned.video);
    }
    // The journal adds to the tables only, not to the summary.
    if (!oldFormat && !location.readOnly)
        image.LoadCacheJournal();
    image.Close();
    keys.Close();

    const bool found = !IsEmptyRecord(record);
    if (location.readOnly)
        return found ? RebuildResult::Stored : RebuildResult::NothingFound;
    SetCapacity(record, location.capacity);
    const bool stored = index.IsOpen() && index.WriteRecord(number, record);
    if (!found)
        return RebuildResult::NothingFound;
    return stored && keysMade ? RebuildResult::Stored : RebuildResult::NotStored;
}

bool Replace(const ImageStoreLocation& location, std::int32_t number)
{
    if (location.readOnly)
        return true;
    KeyIndexFile keys;
    keys.SetBasePath(location.indexDirectory);
    const bool keysMade = keys.Create(number);
    ImageFile image(location.capacity);
    image.SetBasePath(location.imageDirectory);
    return image.CreatePreallocatedFile(image.MakePath(number), true) && keysMade;
}

}  // namespace

bool ImageFileExists(const ImageStoreLocation& location, std::int32_t number)
{
    // One that cannot be looked at exists: the walk goes on past it.
    return Guarded("ImageFileExists", true, [&] { return FileExists(location, number); });
}

bool MatchesSummary(const ImageStoreLocation& location, MasterIndex& index, std::int32_t number)
{
    return Guarded("MatchesSummary", false, [&] { return Matches(location, index, number); });
}

RebuildResult RebuildRecord(const ImageStoreLocation& location, MasterIndex& index, std::int32_t number)
{
    return Guarded("RebuildRecord", RebuildResult::NotStored, [&] { return Rebuild(location, index, number); });
}

bool ReplaceImageFile(const ImageStoreLocation& location, std::int32_t number)
{
    return Guarded("ReplaceImageFile", false, [&] { return Replace(location, number); });
}
