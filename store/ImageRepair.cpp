#include "store/ImageRepair.h"

#include "store/ImageFile.h"
#include "store/KeyIndexFile.h"

#include <windows.h>

#include <array>

namespace {

using RecordBuffer = std::array<std::uint8_t, kMasterRecordSize>;

// From this generation on the key table lives inside the image file.
constexpr std::uint32_t kKeyTableVersion = 0x3010;

bool HasKeyIndex(const ImageStoreLocation& location, std::int32_t number)
{
    KeyIndexFile keys;
    keys.SetBasePath(location.indexDirectory);
    // Opening creates a missing file, which then has length 0.
    if (!keys.Open(number, -1))
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

}  // namespace

bool ImageFileExists(const ImageStoreLocation& location, std::int32_t number)
{
    ImageFile image(ImageFile::kSizeFromHeader);
    image.SetBasePath(location.imageDirectory);
    return ::GetFileAttributesA(image.MakePath(number).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool MatchesSummary(const ImageStoreLocation& location, MasterIndex& index, std::int32_t number)
{
    ImageFile image(location.capacity);
    image.SetBasePath(location.imageDirectory);
    if (!image.Open(number, true))
        return false;
    RecordBuffer record{};
    InitRecord(record, 0);
    bool sound = index.ReadRecord(number, record) && StreamsMatch(image, record);
    if (sound && image.GetVersion() < kKeyTableVersion)
        sound = HasKeyIndex(location, number);
    image.Close();
    return sound;
}

bool RebuildRecord(const ImageStoreLocation& location, MasterIndex& index, std::int32_t number)
{
    ImageFile image(ImageFile::kSizeFromHeader);
    image.SetBasePath(location.imageDirectory);
    if (!image.Open(number, false))
        return false;
    image.SetWriteMode(true, false);
    const bool oldFormat = image.GetVersion() < kKeyTableVersion;
    KeyIndexFile keys;
    keys.SetBasePath(location.indexDirectory);
    if (oldFormat) {
        if (!keys.Create(number) || !keys.Open(number, -1)) {
            image.Close();
            return false;
        }
        keys.SetVersion(image.GetVersion());
    }

    RecordBuffer record{};
    InitRecord(record, 0);
    ScannedRecord scanned;
    while (image.ScanNextRecord(scanned)) {
        if (scanned.kind < 0 || scanned.kind > 2)
            continue;
        const RecordPrefix& prefix = scanned.prefix;
        AddEntry(record, prefix.stream, prefix.kind, prefix.sequence, static_cast<std::int32_t>(prefix.time),
                 scanned.kind == 0 ? scanned.keyValue : 0, scanned.length);
        if (oldFormat && scanned.kind == 0 && scanned.keyFrame)
            keys.AppendRecord(scanned.video);
    }
    if (!oldFormat)
        image.LoadCacheJournal();
    image.Close();
    keys.Close();

    if (!index.IsOpen())
        return false;
    const bool found = !IsEmptyRecord(record);
    SetCapacity(record, location.capacity);
    return index.WriteRecord(number, record) && found;
}

bool ReplaceImageFile(const ImageStoreLocation& location, std::int32_t number)
{
    KeyIndexFile keys;
    keys.SetBasePath(location.indexDirectory);
    const bool keysMade = keys.Create(number);
    ImageFile image(location.capacity);
    image.SetBasePath(location.imageDirectory);
    return image.CreatePreallocatedFile(image.MakePath(number), true) && keysMade;
}
