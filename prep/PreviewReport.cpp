#include "prep/PreviewReport.h"

#include "volumes/VolumeInfoText.h"
#include "volumes/VolumeOrdering.h"

#include <string_view>

namespace {

std::string Quoted(const std::string& text)
{
    return "\"" + text + "\"";
}

const char* StatusName(VolumeStatus status)
{
    switch (status) {
    case VolumeStatus::Active: return "Active";
    case VolumeStatus::Blank: return "Blank";
    case VolumeStatus::BlankWithData: return "BlankWithData";
    case VolumeStatus::Foreign: return "Foreign";
    case VolumeStatus::Missing: return "Missing";
    case VolumeStatus::Failed: return "Failed";
    case VolumeStatus::CheckFailed: return "CheckFailed";
    case VolumeStatus::NoVolume: break;
    }
    return "NoVolume";
}

const char* DriveTypeName(UINT type)
{
    switch (type) {
    case DRIVE_FIXED: return "fixed";
    case DRIVE_REMOTE: return "network";
    case DRIVE_REMOVABLE: return "removable";
    case DRIVE_CDROM: return "optical";
    case DRIVE_RAMDISK: return "RAM disk";
    default: return "of unknown type";
    }
}

std::string Bytes(std::uint64_t bytes)
{
    return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
}

std::string Count(std::int64_t n, const char* one, const char* many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string WhyNotWritable(const PreviewDrive& drive)
{
    switch (drive.judgement.value_or(WriteJudgement::NothingToTry)) {
    case WriteJudgement::ReadOnlyVolume: return "not writable: the volume is read-only";
    case WriteJudgement::RootFileRefused: return "not writable: a file in its root cannot be opened for writing";
    default: return "not writable";
    }
}

std::string LeftOutText(const PreviewDrive& drive, LeftOutReason reason, const PreviewFacts& facts)
{
    switch (reason) {
    case LeftOutReason::NotDataDrive:
        return drive.driveType == DRIVE_REMOVABLE ? "removable drives are never examined"
               : drive.driveType == DRIVE_CDROM   ? "optical drives are never examined"
                                                  : "only fixed and network drives are examined";
    case LeftOutReason::Protected:
        return "held by the guard: it holds " + (drive.protection.empty() ? std::string("a system file") : drive.protection);
    case LeftOutReason::NotWritable: return WhyNotWritable(drive);
    case LeftOutReason::SubVolumes: return "its description divides it into subvolumes, examined one by one";
    case LeftOutReason::Excluded: return "excluded by its description";
    case LeftOutReason::NoSize: return "no description, and its size cannot be read";
    case LeftOutReason::TooSmall:
        return "too small: no description, and below the " +
               std::to_string(MinimumVolumeSizeKB(facts.settings.FileSizeMB)) + " KB that ten image files need";
    }
    return "left out";
}

std::string DescriptionText(const VolumeRecord& record, const PreviewFacts& facts)
{
    if (!record.subVolumes.empty()) {
        std::string text = "subvolumes";
        for (const std::string& entry : record.subVolumes)
            text += " " + entry;
        return text;
    }
    std::string owner;
    if (record.numFiles == -1)
        owner = "not sized for any database yet";
    else if (GuidToText(record.dbGuid) == facts.databaseGuid)
        owner = "volume of this recorder's database";
    else if (GuidToText(record.dbGuid) == GuidToText(GUID{}))
        owner = "volume of no database (released)";
    else
        owner = "volume of another database " + GuidToText(record.dbGuid);
    std::string text = owner + ", label " + Quoted(record.label);
    if (record.numFiles != -1)
        text += ", position " + std::to_string(record.position) + " of " + std::to_string(record.activeVolumes) +
                ", " + Count(record.numFiles, "image file", "image files") + " from number " +
                std::to_string(record.fileNumOffset) + ", start file " + std::to_string(record.startFile) +
                ", record file " + std::to_string(record.recordFile);
    if (record.excluded)
        text += ", excluded";
    return text;
}

void AddDrive(std::vector<std::string>& lines, const PreviewDrive& drive, const PreviewFacts& facts)
{
    std::string head = drive.path.size() > 2 ? "Subvolume " + drive.path + " of drive " + drive.path.substr(0, 2)
                                             : "Drive " + drive.path + " " + DriveTypeName(drive.driveType);
    if (drive.sizeKB >= 0)
        head += ", " + std::to_string(drive.sizeKB) + " KB";
    lines.push_back(head);

    if (drive.leftOut) {
        lines.push_back("  Candidate: no, " + LeftOutText(drive, *drive.leftOut, facts));
    } else {
        std::string candidate = "  Candidate: yes";
        if (drive.judgement == WriteJudgement::RootFileOpened)
            candidate += "; writable (a file in its root opened for writing, nothing written)";
        else if (drive.judgement == WriteJudgement::NothingToTry)
            candidate += "; taken as writable (no file in its root to try without writing)";
        lines.push_back(candidate);
    }

    const VolumeRecord* described = drive.examined && drive.described ? &*drive.examined : nullptr;
    if (!described && drive.leftOut && (drive.leftOutRecord.numFiles != -1 || !drive.leftOutRecord.subVolumes.empty() ||
                                        drive.leftOutRecord.excluded))
        described = &drive.leftOutRecord;
    if (described)
        lines.push_back("  Description: " + DescriptionText(*described, facts));
    else if (drive.examined)
        lines.push_back("  Description: none; a run writes a fresh one");

    if (drive.examined)
        lines.push_back(std::string("  Scan status: ") + StatusName(drive.examined->status));
    for (const auto& [number, rebuilt] : drive.damagedFiles)
        lines.push_back("  Damaged image file " + std::to_string(number) + ": a run would " +
                        (rebuilt ? "rebuild its summary in MASTER.NDX" : "replace it with an empty image file"));

    const std::string failure = "Error:Failure to initialize drive " + drive.path + ".";
    bool failed = false;
    std::string reason;  // the line after the report that says what stopped it
    for (std::size_t n = 0; n < facts.runLog.size(); ++n) {
        if (failed || facts.runLog[n].compare(0, failure.size(), failure) != 0)
            continue;
        failed = true;
        const std::string next = n + 1 < facts.runLog.size() ? facts.runLog[n + 1] : std::string();
        if (next.compare(0, 6, "Error:") == 0 && next.compare(0, 26, "Error:Failure to initialize") != 0)
            reason = next.substr(6);
    }
    if (drive.keptBy) {
        const FailureCause& cause = *drive.keptBy;
        const bool inUse = cause.code == ERROR_SHARING_VIOLATION || cause.code == ERROR_LOCK_VIOLATION;
        lines.push_back("  A run would leave " + drive.path + " as it is: " +
                        (inUse ? cause.path + " is in use by another program." : CauseLine({cause.path, cause.failure, cause.code, ""})));
    } else if (drive.deletes && !failed) {
        lines.push_back("  A run would prepare it: delete " + Count(drive.deletes->first, "file", "files") + " (" +
                        Bytes(drive.deletes->second) + ") and make it " +
                        (drive.subVolumes.empty()
                             ? std::string("an empty volume of this database")
                             : std::to_string(drive.subVolumes.size()) +
                                   " empty volumes of this database, as subvolumes: one volume holds at most " +
                                   std::to_string(kMaxVolumeKB) + " KB"));
        for (const VolumeRecord& part : drive.subVolumes)
            lines.push_back("    " + part.path + ": " + std::to_string(part.allocatedSpaceKB) + " KB, " +
                            Count(part.numFiles, "image file", "image files"));
    } else if (failed) {
        lines.push_back("  A run would try to prepare it and fail" +
                        std::string(drive.deletes ? " after deleting " + Count(drive.deletes->first, "file", "files") +
                                                        " (" + Bytes(drive.deletes->second) + ")"
                                                  : "") +
                        (reason.empty() ? std::string() : ": " + reason));
    } else if (drive.finalStatus == VolumeStatus::BlankWithData) {
        lines.push_back("  A run would leave it alone: it holds files but no description of a volume");
    } else if (drive.finalStatus) {
        lines.push_back(std::string("  A run would leave it alone (") + StatusName(*drive.finalStatus) + ")");
    } else if (drive.finalLeftOut) {
        lines.push_back("  A run would leave it alone: " + LeftOutText(drive, *drive.finalLeftOut, facts));
    } else {
        lines.push_back("  A run would leave it alone: it judges the drive " + drive.path.substr(0, 2) + " as a whole");
    }
}

void AddDirectory(std::vector<std::string>& lines, const char* name, const std::string& path, const ClearingTally& tally)
{
    std::string line = std::string(name) + " directory " + path + ": ";
    if (!tally.exists)
        line += "missing; a run would create it";
    else if (tally.files == 0 && tally.directories == 0)
        line += "empty; a run finds nothing to delete";
    else
        line += "a run would empty it: " + Count(tally.files, "file", "files") + " (" + Bytes(tally.bytes) + ") and " +
                Count(tally.directories, "directory", "directories");
    if (tally.refused)
        line += "; " + Count(tally.refused, "read-only file or directory stays", "read-only files and directories stay");
    lines.push_back(line);
}

}  // namespace

std::vector<std::string> FormatPreviewReport(const PreviewFacts& facts)
{
    std::vector<std::string> lines;
    lines.push_back("Mediaprep report: what Mediaprep.exe /clean would do on this recorder. Nothing was changed.");
    lines.push_back("Database GUID: " + facts.databaseGuid +
                    (facts.guidInRegistry ? " (registry value GUID)"
                                          : " (none in the registry: a run makes and stores a new one, so no volume "
                                            "belongs to this database)"));
    const DatabaseSettings& s = facts.settings;
    lines.push_back(std::string("Settings from the ") + (facts.view32 ? "32-bit" : "64-bit") +
                    " registry view, HKEY_LOCAL_MACHINE\\" + DatabaseKeyPath() +
                    (facts.settingsKeyFound ? ":" : " (no such key: defaults):"));
    lines.push_back("  ImagePath " + Quoted(s.ImagePath) + ", IndexPath " + Quoted(s.IndexPath) + ", AlarmPath " +
                    Quoted(s.AlarmPath));
    lines.push_back("  PreAlarmPath " + Quoted(s.PreAlarmPath) + ", RestorePath " + Quoted(s.RestorePath) +
                    ", SelArchivePath " + Quoted(s.SelArchivePath));
    lines.push_back("  FileSizeMB " + std::to_string(s.FileSizeMB) + ", PreAlarmSize " + std::to_string(s.PreAlarmSize) +
                    ", FileThresholdBytes " + std::to_string(s.FileThresholdBytes));

    if (facts.drives.empty())
        lines.push_back("No drive from D: to Z:.");
    for (const PreviewDrive& drive : facts.drives)
        AddDrive(lines, drive, facts);

    AddDirectory(lines, "Pre-alarm", s.PreAlarmPath, facts.preAlarm);
    AddDirectory(lines, "Restore", s.RestorePath, facts.restore);
    lines.push_back(facts.backupPrivileges
                        ? "Privileges: the backup and restore privileges are enabled for the drives, as a run enables "
                          "them: access denied by a file's ACL stops no wipe"
                        : "Privileges: the backup and restore privileges cannot be enabled (not an administrator): a "
                          "file whose ACL denies this account leaves its drive as it is");
    lines.push_back("Registry: a run sets MultipleDir to 1 (now " +
                    (facts.multipleDir ? std::to_string(*facts.multipleDir) : std::string("not set")) + ")" +
                    (facts.guidInRegistry ? "" : " and stores the new GUID"));

    lines.push_back("Less certain: writability is judged without writing a test file; a description is taken to fit "
                    "when the drive's free space, with what the wipe frees, holds its bytes; every other write and "
                    "deletion of a run is taken to succeed (a file opened after this report stops one only on trying); "
                    "last-access times may change where the system records reads.");
    lines.push_back("The run's log would read:");
    for (const std::string& line : facts.runLog)
        lines.push_back("  " + line);
    if (facts.runLog.empty())
        lines.push_back("  (nothing after its first line)");
    std::string last = "Drives a run would prepare:";
    const std::string prepared = facts.prepared.value_or("");
    lines.push_back(last + (prepared.empty() ? " none" : prepared));
    return lines;
}
