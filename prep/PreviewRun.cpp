// The preview's walk through a run: the run's own steps on a preview
// handler, with an observer and a run log that only listen.
#include "app/RunLog.h"
#include "prep/PreviewReport.h"
#include "prep/RunPreparation.h"
#include "recorderlibs/CRegistry.h"
#include "recorderlibs/TextCase.h"
#include "recorderlibs/Win32Handle.h"
#include "volumes/BackupPrivileges.h"
#include "volumes/VolumeHandler.h"
#include "volumes/VolumeInfoText.h"

#include <cstring>
#include <map>

namespace {

constexpr const char* kFoundText = "Data drives found:";

// The run log's lines as a silent run writes them, one per report.
class ListeningLog : public RunLog {
public:
    void Error(const std::string& text) override { Add("Error:" + text); }
    void Message(const std::string& text) override
    {
        Add("Message: " + text);
        if (text.compare(0, std::strlen(kFoundText), kFoundText) == 0)
            prepared = text.substr(std::strlen(kFoundText));
    }

    std::vector<std::string> lines;
    std::optional<std::string> prepared;

private:
    void Add(std::string line)
    {
        // The drive-failure report ends in a line feed of its own.
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.pop_back();
        lines.push_back(std::move(line));
    }
};

// Keeps what the first scan (the one that checks image files) found, and
// the last scan's verdict, which decides what is prepared.
class Collector : public ScanObserver {
public:
    void ScanBegun(int, int, bool guidFound) override
    {
        if (++m_scans == 1)
            GuidInRegistry = guidFound;
        for (auto& [key, drive] : m_drives) {
            drive.finalStatus.reset();
            drive.finalLeftOut.reset();
        }
    }
    void DriveSeen(const std::string& path, UINT driveType) override { Drive(path).driveType = driveType; }
    void RootJudged(const std::string& path, bool writable, WriteJudgement how) override
    {
        if (m_scans == 1) {
            Drive(path).judgement = how;
            Drive(path).writable = writable;
        }
    }
    void DriveLeftOut(const VolumeRecord& record, LeftOutReason reason) override
    {
        PreviewDrive& drive = Drive(record.path);
        if (m_scans == 1) {
            drive.leftOut = reason;
            drive.leftOutRecord = record;
        }
        drive.finalLeftOut = reason;
    }
    void VolumeListed(const VolumeRecord& record, bool described) override
    {
        PreviewDrive& drive = Drive(record.path);
        if (m_scans == 1) {
            drive.examined = record;
            drive.described = described;
        }
        drive.finalStatus = record.status;
    }
    void DamagedFile(const std::string& path, std::int32_t number, bool rebuilt) override
    {
        if (m_scans == 1)
            Drive(path).damagedFiles.emplace_back(number, rebuilt);
    }
    void ContentsCounted(const std::string& path, std::int32_t files, std::uint64_t bytes) override
    {
        Drive(path).deletes = std::make_pair(files, bytes);
    }
    void WipeRefused(const std::string& path, const FailureCause& cause) override { Drive(path).keptBy = cause; }
    void SubVolumesPlanned(const std::string& path, std::uint64_t, const std::vector<VolumeRecord>& subVolumes) override
    {
        Drive(path).subVolumes = subVolumes;
    }

    PreviewDrive& Drive(const std::string& path)
    {
        PreviewDrive& drive = m_drives[UpperAscii(path)];
        drive.path = path;
        return drive;
    }

    std::vector<PreviewDrive> Drives() const
    {
        std::vector<PreviewDrive> drives;
        for (const auto& [key, drive] : m_drives)
            drives.push_back(drive);
        return drives;
    }

    bool GuidInRegistry = false;

private:
    int m_scans = 0;
    std::map<std::string, PreviewDrive> m_drives;  // "E:" sorts before "E:\Vol1"
};

}  // namespace

PreviewFacts PreviewPreparation()
{
    PreviewFacts facts;
    facts.settings.ReadFromRegistry();
    facts.view32 = CRegistry::RecorderView() == KEY_WOW64_32KEY;
    {
        CRegistry registry(HKEY_LOCAL_MACHINE, DatabaseKeyPath().c_str());
        facts.settingsKeyFound = registry.IsOpen();
        DWORD value = 0;
        DWORD type = 0;
        DWORD size = sizeof value;
        if (registry.VkRegQueryValue("MultipleDir", &type, &value, &size) == ERROR_SUCCESS && size == sizeof value)
            facts.multipleDir = value;
    }

    Collector collector;
    ListeningLog log;
    {
        // As a run has them, for the drives alone.
        const BackupPrivileges privileges;
        facts.backupPrivileges = privileges.backup() && privileges.restore();
        VolumeHandler handler(HandlerMode::Preview, &collector);
        facts.databaseGuid = GuidToText(handler.DatabaseGuid);
        PrepareDrives(handler, log);
        for (const ProtectedDrive& drive : handler.GetProtectedDrives())
            collector.Drive(drive.path).protection = drive.reason;
    }
    PrepareIndexDirectory(facts.settings.PreAlarmPath, log, &facts.preAlarm);
    PrepareIndexDirectory(facts.settings.RestorePath, log, &facts.restore);

    facts.guidInRegistry = collector.GuidInRegistry;
    facts.drives = collector.Drives();
    // Removable and optical drives too, which a run never asks.
    const win32::QuietDriveErrors quiet;
    for (PreviewDrive& drive : facts.drives) {
        std::uint64_t totalKB = 0;
        if (drive.path.size() == 2 && VolumeHandler::TotalSpaceQuery((drive.path + "\\").c_str(), totalKB))
            drive.sizeKB = static_cast<std::int64_t>(totalKB);
    }
    facts.runLog = log.lines;
    facts.prepared = log.prepared;
    return facts;
}
