// The scan's examination of a volume of this database: its newest image
// files are held against their MASTER.NDX summaries, the way the recorder
// looks at them when it starts, and whatever does not match is rebuilt.
#include "volumes/VolumeHandler.h"

#include "fileio/AppException.h"
#include "recorderlibs/DbgLogger.h"
#include "store/ImageRepair.h"
#include "store/MasterIndex.h"

#include <memory>
#include <mutex>
#include <string>

namespace {

using Lock = std::lock_guard<CriticalSection>;

constexpr const char* kLogName = "Mediaprep";
constexpr int kRepairTraceLevel = 3;
// Damage comes from recordings cut short, so it sits among the newest
// files; the bound keeps a scan of a badly damaged drive short.
constexpr int kMaxFilesChecked = 20;

void TraceRebuild(std::int32_t number)
{
    if (DbgLogger::GetDebugLevel(kLogName) < kRepairTraceLevel)
        return;
    const std::unique_ptr<std::ostream> log = DbgLogger::GetLog(kLogName);
    *log << "File " << number << " corrupted, rebuilding." << std::endl;
}

// Backwards through the volume's circular order of local numbers.
std::int32_t PreviousFileNumber(std::int32_t number, std::int32_t first, std::int32_t count)
{
    return number == first ? first + count - 1 : number - 1;
}

}  // namespace

bool VolumeHandler::CheckLastFiles(const VolumeRecord& record)
{
    Lock lock(HandlerLock);
    ImageStoreLocation location;
    GetImageDirectory(record, location.imageDirectory);
    GetIndexDirectory(record, location.indexDirectory);
    location.capacity = static_cast<std::uint32_t>(Settings.FileSizeMB) * 1048576u;
    location.readOnly = IsPreview();

    const std::int32_t stop = record.startFile != -1 ? record.startFile : record.fileNumOffset;
    std::int32_t number = record.recordFile != -1 ? record.recordFile : record.fileNumOffset + record.numFiles - 1;
    if (stop == -1 || number == -1)
        return true;

    MasterIndex index(record.fileNumOffset);
    if (OpenMasterIndex(index, location.indexDirectory) != kMmioOk)
        return false;
    for (int step = 0; step < kMaxFilesChecked; ++step) {
        // The files before a missing one were never recorded, or belong to
        // a recording that is gone.
        if (!ImageFileExists(location, number))
            break;
        if (!MatchesSummary(location, index, number)) {
            // A preview only tells what it found; the trace is the run's.
            if (!IsPreview())
                TraceRebuild(number);
            const RebuildResult rebuilt = RebuildRecord(location, index, number);
            if (rebuilt == RebuildResult::NothingFound)
                ReplaceImageFile(location, number);
            // A recording is worth more than its summary: the file stays
            // as it is, and the next scan finds it damaged again.
            if (rebuilt == RebuildResult::NotStored)
                TraceFileIoFailure("CheckLastFiles " + record.path + ": file " + std::to_string(number) +
                                   " holds records but its summary could not be stored; it was kept.");
            Notify([&](ScanObserver& o) { o.DamagedFile(record.path, number, rebuilt != RebuildResult::NothingFound); });
        }
        if (number == stop)
            break;
        number = PreviousFileNumber(number, record.fileNumOffset, record.numFiles);
    }
    index.Close();
    return true;
}
