// The code of volumes/ that needs no drives: the XML dialect, the description text and files,
// the list's numbers, claims, order and settling, the drive guard, the wipe's decisions.
#include "tests/support/TestFiles.h"
#include "volumes/DriveGuard.h"
#include "volumes/PlatformFile.h"
#include "volumes/VolumeHandler.h"
#include "volumes/VolumeInfoFile.h"
#include "volumes/VolumeInfoText.h"
#include "volumes/VolumeOrdering.h"
#include "volumes/VolumeRoot.h"
#include "volumes/WidePath.h"
#include "volumes/XmlDocument.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

using namespace std::string_literals;
using List = std::vector<std::string>;

namespace {

// Every item: "Name=value" for an element, "/Name" for a closing tag, "@name=value" for an attribute.
List Items(const std::string& text)
{
    XmlDocument document;
    document.SetText(text);
    document.Reset();
    List items;
    std::string name, value;
    bool isClosing = false, isAttribute = false;
    while (document.GetNextItem(name, value, isClosing, isAttribute) && items.size() <= 2 * text.size() + 2)
        items.push_back(isClosing ? name + value : (isAttribute ? "@" : "") + name + "=" + value);
    return items;
}

bool Read(const std::string& text, VolumeRecord& record, bool* whole = nullptr)
{
    XmlDocument document;
    document.SetText(text);
    return ReadVolumeInfoDocument(document, record, whole);
}

VolumeRecord Entry(const char* path, VolumeStatus status, std::int32_t position, std::int32_t activeVolumes = -1)
{
    VolumeRecord record;
    record.path = path;
    record.status = status;
    record.position = position;
    record.activeVolumes = activeVolumes;
    return record;
}

// "A3" for an Active entry at position 3, "M0" for a placeholder.
List Sequence(const std::vector<VolumeRecord>& volumes)
{
    List out;
    for (const VolumeRecord& v : volumes)
        out.push_back(std::string(1, "ABDFMXCN"[static_cast<int>(v.status)]) + std::to_string(v.position));
    return out;
}

VolumeRecord Volume(const std::string& path, int numFiles)
{
    VolumeRecord record;
    record.path = path;
    record.numFiles = numFiles;
    record.label = "gen " + std::to_string(numFiles);
    record.position = numFiles % 3;
    record.allocatedSpaceKB = 1000000 + numFiles;
    return record;
}

std::string Text(const VolumeRecord& record)
{
    XmlDocument document;
    WriteVolumeInfoDocument(document, record);
    return document.GetText();
}

// Whether a file holds a complete description (not merely every element).
bool Whole(const std::string& path)
{
    VolumeRecord scratch;
    bool whole = false;
    return testfiles::Exists(path) && Read(testfiles::ReadAll(path), scratch, &whole) && whole;
}

struct SimulatedCrash {};

// One save with a fault at step `faultAt` (none past the last): the process
// stops dead there (crash) or that one call fails (error).
struct FaultRun {
    std::vector<std::pair<FileStep, std::string>> steps;
    bool crashed = false, result = false;
};

FaultRun SaveWithFault(const VolumeRecord& record, std::size_t faultAt, bool crash)
{
    FaultRun run;
    PlatformFile::SetFaultHook([&run, faultAt, crash](FileStep step, const std::string& path) {
        run.steps.emplace_back(step, path);
        if (run.steps.size() == faultAt + 1 && crash)
            throw SimulatedCrash{};
        if (run.steps.size() == faultAt + 1)
            throw PlatformFileError(ERROR_DISK_FULL, "injected", path);
    });
    try {
        run.result = SaveVolumeInfo(record);
    } catch (const SimulatedCrash&) {
        run.crashed = true;
    }
    PlatformFile::SetFaultHook(nullptr);
    return run;
}

constexpr GUID kDatabase = {0xD0A4E871, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0xF8}};
constexpr std::int32_t kT1 = 1700000000, kT2 = 1700003600;

struct Used {
    std::int32_t number, latest;  // local file number, time of its newest record
};

enum class Master { None, Written, Blocked };

// A header and records up to the highest used one (a video entry and its time), the rest holes.
void WriteMaster(const std::string& directory, std::int32_t first, const std::vector<Used>& used)
{
    win32::UniqueFileHandle file(::CreateFileA((directory + "\\MASTER.NDX").c_str(), GENERIC_WRITE, 0, nullptr,
                                               CREATE_ALWAYS, 0, nullptr));
    auto put = [&](std::int64_t at, std::vector<std::int32_t> values) {
        LARGE_INTEGER position;
        position.QuadPart = at;
        DWORD written = 0;
        ASSERT_TRUE(::SetFilePointerEx(file.get(), position, nullptr, FILE_BEGIN) &&
                    ::WriteFile(file.get(), values.data(), static_cast<DWORD>(4 * values.size()), &written, nullptr));
    };
    std::int32_t highest = first;
    for (const Used& u : used)
        highest = std::max(highest, u.number);
    put(6 + std::int64_t{highest - first + 1} * 688 - 4, {0});
    put(0, {48 | first << 16, first >> 16});
    for (const Used& u : used)
        put(6 + std::int64_t{u.number - first} * 688, {u.latest - 60, u.latest, 0, 0, 0, 0, 1});
}

// A scratch directory for the description files and volumes of a list.
class VolumeFiles : public ::testing::Test {
protected:
    std::string Current() const { return dir / kVolumeInfoFileName; }
    std::string Previous() const { return dir / kVolumeInfoOldFileName; }
    static void Put(const std::string& path, const std::string* bytes)
    {
        ::DeleteFileA(path.c_str());
        if (bytes)
            testfiles::WriteAll(path, *bytes);
    }
    void Put(const std::string* current, const std::string* previous)
    {
        Put(Current(), current);
        Put(Previous(), previous);
    }
    // What a load of the scratch directory gives, or its failure.
    ::testing::AssertionResult Loads(const VolumeRecord* expected)
    {
        VolumeRecord record;
        record.path = dir.path();
        const bool ok = LoadVolumeInfo(record);
        if (expected ? ok && record == *expected : !ok)
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << (ok ? "loaded " : "failed, read ") << Text(record);
    }

    // A volume in its own directory, where its description goes.
    std::int32_t Add(VolumeStatus status, std::int32_t numFiles, std::int32_t offset = 0, std::int32_t startFile = -1,
                     std::int32_t recordFile = -1)
    {
        VolumeRecord record;
        record.path = dir / ("vol" + std::to_string(made++));
        ::CreateDirectoryA(record.path.c_str(), nullptr);
        record.status = status;
        record.numFiles = numFiles;
        record.fileNumOffset = offset;
        record.startFile = startFile;
        record.recordFile = recordFile;
        return handler.AppendVolume(record);
    }
    VolumeRecord Get(std::int32_t index) { return handler.Volumes.at(static_cast<std::size_t>(index)); }
    VolumeRecord OnDisk(std::int32_t index)
    {
        VolumeRecord record;
        record.path = Get(index).path;
        EXPECT_TRUE(LoadVolumeInfo(record)) << record.path;
        return record;
    }

    testfiles::ScratchDir dir;
    int made = 0;
    VolumeHandler handler{DatabaseSettings(), kDatabase};
};

}  // namespace

TEST(Xml, WriterAndReaderAgreeOnTheDialect)
{
    XmlDocument document;
    document.OpenElement("Root", 0, true);
    document.WriteElement("Position", 2147483647, 2, true);
    document.WriteElement("Label", "  Cam A  ", -3, false);
    document.WriteElement("Text", "a & \"c\" > d < e", 1, true);  // written raw: the reader splits at the '<'
    document.CloseElement("Root", 1, false);
    EXPECT_EQ("<Root>\r\n\t\t<Position>2147483647</Position>\r\n<Label>  Cam A  </Label>"
              "\t<Text>a & \"c\" > d < e</Text>\r\n\t</Root>", document.GetText());

    const std::pair<std::string, List> cases[] = {
        {"<L>\t\r\n two  inner\tspaces \r\n</L>", {"L=two  inner\tspaces", "/L"}},
        {"<X a =\"1\"   b= \"2\" c=\"  spaced \"></X>", {"X=", "@a=1", "@b=2", "@c=spaced", "/X"}},
        {"<X a=\"1\" />", {"X=", "@a=1", "/X"}},
        {"<Cut>a < b</Cut>\r\n</Root>", {"Cut=a", "=", "/Root"}},  // a raw '<' in a value splits it
        {"<X a=1>t</X>", {"X=t", "/X"}},  // a malformed attribute is dropped and reading goes on
        {"<A>1</A><", {"A=1", "/A"}},
    };
    for (const auto& [text, items] : cases)
        EXPECT_EQ(items, Items(text)) << text.substr(0, 80);
}

TEST(VolumeInfoText, GuidsNumbersAndDescriptionsReadAsTheirTextSays)
{
    const std::pair<const char*, const char*> guids[] = {
        {"{1-2-3-0405-060708090A0B}", "{00000001-0002-0003-0405-060708090A0B}"},  // widths are maxima
        {"{6B1F03A2-94C0-xyz}", "{6B1F03A2-94C0-0000-0000-000000000000}"},
        {"{ AB--1-\t1", "{000000AB-FFFF-0001-0000-000000000000}"},  // blanks skipped, a sign taken
        {"{0x1F-0X2-3", "{0000001F-0002-0003-0000-000000000000}"},     // a prefix counts in the width
    };
    for (const auto& [text, read] : guids)
        EXPECT_EQ(read, GuidToText(TextToGuid(text))) << text;

    const std::pair<std::string, std::uint32_t> numbers[] = {
        {"0X1f", 31}, {"010", 8}, {"-1", 0xFFFFFFFF}, {" \t42abc", 42}, {"0x", 0}, {"-4294967296", 0xFFFFFFFF}};
    for (const auto& [text, value] : numbers)
        EXPECT_EQ(value, ParseNumber(text)) << "[" << text << "]";

    // In a description, case, nesting, attributes and unknown elements do not matter; a repeated element
    // overwrites; bad numbers read as 0 or their leading digits, over 31 characters as 0.
    VolumeRecord odd;
    odd.startFile = odd.fileNumOffset = 9;
    std::string all = Text(Volume("", 12));
    for (const auto& [from, to] : std::vector<std::pair<std::string, std::string>>{
             {"<NumFiles>12</NumFiles>", "<numfiles>0x20 files</numfiles>"},
             {"<Label>gen 12</Label>", "<Outer x=\"1\"><Label a=\"b\">  Deep  </Label><Odd>3</Odd></Outer>"},
             {"<Position>0</Position>", "<Position>4</Position><Position>-1</Position>"},
             {"<StartFile>-1<", "<StartFile>nonsense<"},
             {"<FileNumOffset>0<", "<FileNumOffset>" + std::string(32, '1') + "<"}})
        all.replace(all.find(from), from.size(), to);
    ASSERT_TRUE(Read(all, odd));
    EXPECT_EQ(std::make_tuple(32, "Deep"s, -1, 0, 0),
              std::tie(odd.numFiles, odd.label, odd.position, odd.startFile, odd.fileNumOffset));
}

TEST(VolumeOrdering, ActiveThenCheckFailedThenForeignThenTheRestAndTheSequenceKeptWhole)
{
    using S = VolumeStatus;
    std::vector<VolumeRecord> volumes = {
        Entry("B:", S::Blank, -1),         Entry("F:", S::Foreign, 2),   Entry("A:", S::Active, 1),
        Entry("C:", S::CheckFailed, 0),    Entry("M:", S::Missing, 0),   Entry("G:", S::Foreign, -1),
        Entry("D:", S::BlankWithData, -5), Entry("H:", S::Active, -1),   Entry("X:", S::Failed, 3),
    };
    SortVolumes(volumes);
    EXPECT_EQ((List{"A-1", "A1", "C0", "F-1", "F2", "D-5", "B-1", "M0", "X3"}), Sequence(volumes));

    // Equal positions shift up; holes before them get placeholders.
    volumes = {Entry("E:", S::Active, 3, 5), Entry("F:", S::Active, 3, 5), Entry("G:", S::Blank, -1)};
    const std::int32_t positions = CountSequencePositions(volumes);
    EXPECT_EQ(5, positions);
    RepairPositions(volumes);
    AppendPlaceholders(volumes, positions);
    EXPECT_EQ((List{"A3", "A4", "B-1", "M0", "M1", "M2"}), Sequence(volumes));

    // A damaged count does not flood the list.
    for (const VolumeRecord& damaged : {Entry("E:", S::Active, 0, 0x7FFFFFFF), Entry("E:", S::Active, 2000000000)}) {
        volumes = {damaged};
        AppendPlaceholders(volumes, CountSequencePositions(volumes));
        EXPECT_EQ(static_cast<std::size_t>(kMaxSequencePositions + (damaged.position ? 1 : 0)), volumes.size());
    }
    EXPECT_EQ(205829u, MinimumVolumeSizeKB(20));  // 204800 / 0.995, truncated
}

TEST(DriveGuard, EachPlaceProtectsItsDriveOnly)
{
    const std::pair<const char*, char> paths[] = {
        {"D:\\tools\\Mediaprep.exe", 'D'}, {"\\\\?\\e:\\Mediaprep.exe", 'E'}, {"\\\\.\\F:\\", 'F'},
        {"\\??\\G:\\pagefile.sys", 'G'}, {"  h:\\pagefile.sys 0 0", 'H'}, {"?:\\pagefile.sys", 0},
        {"\\\\?\\UNC\\server\\share", 0}};
    for (const auto& [path, letter] : paths)
        EXPECT_EQ(letter, DriveLetterOf(path)) << path;

    SystemPlaces places;
    places.windowsDirectory = "D:\\WINDOWS";
    places.systemDirectory = "\\\\?\\e:\\Windows\\System32";
    places.programFile = "f:\\tools\\Mediaprep.exe";
    // PagingFiles and ExistingPageFiles as the registry holds them.
    places.pagingFiles = SplitMultiString("?:\\pagefile.sys\0g:\\pagefile.sys 0 0\0\0\\??\\H:\\pagefile.sys\0\0"s);
    // "?:" is a system-managed file, on no drive of its own: L: is free.
    const std::tuple<char, const char*, const char*> cases[] = {
        {'d', "", "the Windows directory"}, {'E', "", "the system directory"}, {'F', "", "the running program"},
        {'G', "", "a paging file"}, {'H', "", "a paging file"}, {'D', "hiberfil.sys", "the Windows directory"},
        {'J', "hiberfil.sys", "hiberfil.sys"}, {'L', "", ""}};
    for (const auto& [letter, rootFile, reason] : cases)
        EXPECT_EQ(reason, DriveProtection(letter, places, rootFile)) << letter;
    EXPECT_EQ("", DriveProtection('D', SystemPlaces{}, ""));
}

TEST(WipeDecisions, LinksAreNeverEnteredAndNamesDecideOnlyForDirectories)
{
    const DWORD dir = FILE_ATTRIBUTE_DIRECTORY, link = FILE_ATTRIBUTE_REPARSE_POINT, file = FILE_ATTRIBUTE_ARCHIVE;
    // Reparse tags: name surrogates, and what is no link (the data lives
    // behind them: cloud files, deduplication, compression, app links).
    const DWORD junction = 0xA0000003, symlink = 0xA000000C, cloud = 0x9000001A, dedup = 0x80000013,
                wof = 0x80000017, appLink = 0x8000001B;
    const std::tuple<DWORD, DWORD, const wchar_t*, WipeEntry> cases[] = {
        {dir, 0, L".cache", WipeEntry::Skipped}, {dir | FILE_ATTRIBUTE_READONLY, 0, L"Images", WipeEntry::Directory},
        {dir | FILE_ATTRIBUTE_HIDDEN, 0, L"system VOLUME information", WipeEntry::Skipped},
        {dir | link, junction, L"Images", WipeEntry::Link}, {dir | link, symlink, L"Images", WipeEntry::Link},
        {dir | link, 0, L"Images", WipeEntry::Link},  // no tag given (Wine's host links): the worst case
        {dir | link, junction, L"System Volume", WipeEntry::Link},  // a name alone does not protect
        {dir | link, junction, L".Mediaprep-deleted", WipeEntry::Skipped},
        {dir | link, cloud, L"OneDrive", WipeEntry::Directory},  // entered, emptied and removed
        {file | link, symlink, L"file.lnk", WipeEntry::Link}, {file | link, 0, L"file.lnk", WipeEntry::Link},
        {file | link, dedup, L"IMG0001.AVI", WipeEntry::File}, {file | link, wof, L"IMG0002.AVI", WipeEntry::File},
        {file | link, appLink, L"app.exe", WipeEntry::File}, {file, 0, L".cache", WipeEntry::File},
        {FILE_ATTRIBUTE_NORMAL, 0, L"System Volume Information", WipeEntry::File}};
    for (const auto& [attributes, tag, name, decision] : cases)
        EXPECT_EQ(decision, ClassifyWipeEntry(attributes, tag, name)) << attributes << " " << tag;
    // The holding directory is no other contents to the probe, in any letter case.
    EXPECT_TRUE(IsIgnoredByProbe(".MEDIAPREP-deleted"));
    EXPECT_FALSE(IsIgnoredByProbe(".Mediaprep"));

    // Full paths take the form that passes every name untouched.
    const std::pair<const wchar_t*, const wchar_t*> paths[] = {
        {L"E:\\", L"\\\\?\\E:\\"}, {L"\\\\server\\share\\x", L"\\\\?\\UNC\\server\\share\\x"},
        {L"\\\\?\\E:\\x", L"\\\\?\\E:\\x"}, {L"\\\\.\\E:", L"\\\\.\\E:"}};
    for (const auto& [full, expected] : paths)
        EXPECT_EQ(std::wstring(expected), LongPathForm(full));
    std::wstring path;
    ASSERT_TRUE(LongPathOf("E:", path));  // a drive names its root
    EXPECT_EQ(L"\\\\?\\E:\\", path);
    EXPECT_FALSE(LongPathOf("", path));
}

TEST_F(VolumeFiles, EachFormIsWrittenByteForByteAndReadsBackEqual)
{
    VolumeRecord active;
    active.label = "Bay 2 left";
    active.numFiles = 11641;
    active.fileNumOffset = 3;
    active.position = 1;
    active.volumeGuid = {0x0F1E2D3C, 0x4B5A, 0x6978, {0x87, 0x96, 0xA5, 0xB4, 0xC3, 0xD2, 0xE1, 0xF0}};
    active.recordFile = 4711;
    active.dbGuid = {0x00000A0B, 0x000C, 0x000D, {0x0E, 0x0F, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05}};
    active.activeVolumes = 2;
    active.allocatedSpaceKB = 2147483647;
    VolumeRecord split;
    split.subVolumes = {"\\Cameras 1-8", "\\Cameras 9-16\\Store"};
    const std::pair<const char*, VolumeRecord> forms[] = {
        {"fresh.xml", VolumeRecord{}}, {"active.xml", active}, {"subvolumes.xml", split}};
    for (const auto& [file, form] : forms) {
        SCOPED_TRACE(file);
        const std::string expected = testfiles::ReadAll(testfiles::ModuleDirectory() + "\\data\\" + file);
        testfiles::ScratchDir written;
        VolumeRecord record = form;
        record.path = written.path();
        ASSERT_TRUE(SaveVolumeInfo(record));
        EXPECT_EQ(expected, testfiles::ReadAll(written / kVolumeInfoFileName));
        EXPECT_FALSE(testfiles::Exists(written / kVolumeInfoOldFileName));

        Put(&expected, nullptr);
        record.path = dir.path();
        EXPECT_TRUE(Loads(&record));
    }
    EXPECT_FALSE(SaveVolumeInfo(Volume("", 4)));  // nowhere to write
}

// A save stopped at any step, by a crash or by a failing call, leaves at
// least one complete description, and a load finds either the previous
// description or the new one, never a mixture or a cut one. Data written but
// not yet flushed when the crash came may reach the disk in any part.
TEST_F(VolumeFiles, ASaveStoppedAtAnyStepLeavesACompleteDescription)
{
    const VolumeRecord previous = Volume(dir.path(), 11), next = Volume(dir.path(), 13);
    const std::string olderText = Text(Volume(dir.path(), 10)), previousText = Text(previous), nextText = Text(next);
    const std::string interrupted = Text(Volume(dir.path(), 12));
    const std::string cutLast = interrupted.substr(0, interrupted.find("</AllocatedSpaceKB>") - 3);
    std::string huge;
    while (huge.size() <= XmlDocument::kMaxLoadBytes)
        huge += interrupted;
    const std::tuple<const char*, const std::string*, const std::string*> states[] = {
        {"two generations", &previousText, &olderText}, {"a description too large to load", &huge, &previousText},
        {"an earlier save cut in its last value", &cutLast, &previousText}, {"one generation", &previousText, nullptr},
        {"an earlier save stopped after its rotation", nullptr, &previousText}};
    const std::vector<std::string> tears = {"", nextText.substr(0, nextText.size() / 2),
                                            nextText.substr(0, nextText.size() - 4),
                                            nextText.substr(0, 200) + std::string(nextText.size() - 200, '\0'),
                                            nextText};
    const auto is = [&](const auto& s, FileStep step) { return s.first == step && s.second == Current(); };

    for (const auto& [name, current, old] : states) {
        SCOPED_TRACE(name);
        Put(current, old);
        const FaultRun clean = SaveWithFault(next, ~std::size_t{0}, false);
        ASSERT_TRUE(clean.result);
        // Success is reported only once the new file is on the disk.
        const auto written = std::find_if(clean.steps.begin(), clean.steps.end(),
                                          [&](const auto& s) { return is(s, FileStep::Write); });
        EXPECT_TRUE(std::any_of(written, clean.steps.end(), [&](const auto& s) { return is(s, FileStep::Flush); }));
        EXPECT_EQ(nextText + previousText, testfiles::ReadAll(Current()) + testfiles::ReadAll(Previous()));

        for (const bool crash : {false, true}) {
            for (std::size_t at = 0; at < clean.steps.size(); ++at) {
                SCOPED_TRACE((crash ? "crash at " : "error at ") + std::to_string(at));
                Put(current, old);
                const FaultRun run = SaveWithFault(next, at, crash);
                ASSERT_TRUE(at < run.steps.size() && crash == run.crashed);
                const auto& stopped = run.steps[at];
                bool unflushed = false;  // written to the new file, not flushed when the crash came
                for (std::size_t i = 0; i < at; ++i)
                    unflushed = is(run.steps[i], FileStep::Write) || (unflushed && !is(run.steps[i], FileStep::Flush));
                // An error in the new file's own steps fails the save; its Close follows its Flush.
                const bool savingNew = is(stopped, FileStep::Create) || is(stopped, FileStep::Write) ||
                                       is(stopped, FileStep::Flush) ||
                                       (is(stopped, FileStep::Close) && run.steps[at - 1].first == FileStep::Flush);
                EXPECT_TRUE(crash || run.result == !savingNew);
                EXPECT_TRUE(!run.result || nextText == testfiles::ReadAll(Current()));
                const bool currentExists = testfiles::Exists(Current());
                for (const std::string& onDisk :
                     crash && unflushed ? tears : std::vector<std::string>{testfiles::ReadAll(Current())}) {
                    if (currentExists)
                        Put(Current(), &onDisk);
                    EXPECT_TRUE(Whole(Current()) || Whole(Previous()));
                    EXPECT_TRUE(Loads(&previous) || Loads(&next));
                }
            }
        }
    }
}

TEST_F(VolumeFiles, NumbersRunOverActiveVolumesAndAClaimMovesWithItsHolder)
{
    const std::int32_t a = Add(VolumeStatus::Active, 10);
    Add(VolumeStatus::Blank, 30);                             // takes no numbers
    const std::int32_t b = Add(VolumeStatus::Active, 5, 3);  // local numbers 3..7
    std::int32_t volume = 77, local = 77, global = -5;
    ASSERT_TRUE(handler.GlobalToLocalFile(12, volume, local));
    EXPECT_EQ(std::make_pair(b, 5), std::make_pair(volume, local));
    ASSERT_TRUE(handler.LocalToGlobalFile(global, b, 7));
    EXPECT_EQ(14, global);
    volume = local = global = 77;
    EXPECT_FALSE(handler.GlobalToLocalFile(-1, volume, local));
    EXPECT_FALSE(handler.LocalToGlobalFile(global, 1, 0));
    EXPECT_TRUE(volume == 77 && local == 77 && global == 77);

    // Without a remembered holder the claim is only set; once the holder is
    // known, it gives the claim up when it moves, on disk too.
    ASSERT_TRUE(handler.SetRecordFile(12));
    EXPECT_EQ(-1, handler.RecordVolumeIndex);
    EXPECT_EQ(12, handler.GetRecordFile());
    ASSERT_TRUE(handler.SetRecordFile(0));
    EXPECT_EQ(std::make_pair(0, -1), std::make_pair(OnDisk(a).recordFile, OnDisk(b).recordFile));
    EXPECT_EQ(a, handler.RecordVolumeIndex);
    EXPECT_FALSE(handler.SetRecordFile(15));

    // Without a file size or a drive there is nothing to size.
    handler.Settings.FileSizeMB = 0;
    EXPECT_FALSE(handler.SetAllocatedSpace(1, 1000000));
    EXPECT_FALSE(handler.SetAllocatedSpace(9, 1000));
    VolumeRecord nowhere = Entry("\\\\?\\no such volume", VolumeStatus::Foreign, 0);
    EXPECT_EQ(-1, handler.GetVolumeSizeKB(handler.AppendVolume(nowhere)));
    EXPECT_EQ(0, handler.GetVolume(9, nowhere));
    std::string path = "unchanged";
    EXPECT_TRUE(!handler.GetVolumePath(-1, path) && path == "unchanged");
    handler.Settings.IndexPath = "Index";  // directories end in a backslash
    handler.GetIndexDirectory(nowhere, path);
    EXPECT_EQ("\\\\?\\no such volumeIndex\\", path);
}

TEST_F(VolumeFiles, ClaimsSettleFromTheMasterIndexes)
{
    struct Volume {
        std::int32_t numFiles, offset, startFile, recordFile;
        Master master;
        std::vector<Used> used;
        std::int32_t expectStart, expectRecord;
    };
    const Master W = Master::Written;
    const struct {
        const char* name;
        std::vector<Volume> volumes;
    } cases[] = {
        {"the latest time takes the record file",
         {{10, 0, 2, 5, W, {{5, kT1}}, 2, -1}, {10, 0, -1, 3, W, {{3, kT2}}, -1, 3}}},
        {"equal latest times: the first claim stays",
         {{10, 0, 2, 5, W, {{5, kT1}}, 2, 5}, {10, 0, -1, 3, W, {{3, kT1}}, -1, -1}}},
        {"the start claim farthest behind the record file stays",
         {{50, 0, 10, -1, W, {}, -1, -1}, {50, 0, 40, 0, W, {}, 40, 0}}},
        {"a start claim stands without its master index",
         {{10, 0, -1, 4, W, {{4, kT1}}, -1, 4}, {10, 0, 7, -1, Master::Blocked, {}, 7, -1}}},
        {"no claims and no master index anywhere",
         {{10, 3, -1, -1, Master::None, {}, 3, 3}, {10, 0, -1, -1, Master::None, {}, -1, -1}}},
        {"no claims: newest used file, then the next used one round the circle",
         {{60, 10, -1, -1, W, {{12, kT1}, {41, kT2}}, 12, 41}}},
        {"no claims: a lone used file is also the start file", {{60, 10, -1, -1, W, {{41, kT2}}, 41, 41}}},
        {"no start claim: a volume without master index after the record file holds it",
         {{10, 0, -1, 9, W, {{9, kT1}}, -1, 9}, {10, 0, -1, -1, Master::Blocked, {}, 0, -1}}},
        {"no start claim: unused files are passed over into the next volume",
         {{10, 0, -1, 2, W, {{2, kT2}}, -1, 2}, {10, 5, -1, -1, W, {{8, kT1}}, 8, -1}}},
        {"a record claim whose newest file has no record: the latest time comes from every record",
         {{10, 0, -1, 9, W, {{3, kT2}}, -1, 9}, {10, 10, -1, 15, W, {{15, kT1}}, 15, -1}}},
        {"a start claim on the record file is the nearest: any other claim keeps the start file",
         {{10, 0, 4, 4, W, {{4, kT1}}, -1, 4}, {10, 0, 2, -1, W, {}, 2, -1}}},
        // Records from 3121342 on lie beyond a 32-bit position.
        {"no start claim: a record that cannot be read may hold anything, so the start file is there",
         {{3121400, 0, -1, 3121340, W, {{3121340, kT1}, {3121345, kT2}}, 3121342, 3121340}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        handler.Volumes.clear();
        for (const Volume& v : c.volumes) {
            const std::int32_t index = Add(VolumeStatus::Active, v.numFiles, v.offset, v.startFile, v.recordFile);
            if (v.master == Master::Written)
                WriteMaster(Get(index).path, v.offset, v.used);

            if (v.master == Master::Blocked)
                ::CreateDirectoryA((Get(index).path + "\\MASTER.NDX").c_str(), nullptr);
        }
        handler.ActiveVolumeCount = static_cast<std::int32_t>(c.volumes.size());
        handler.ReconcileStartAndRecordFiles();
        for (std::size_t i = 0; i < c.volumes.size(); ++i) {
            const Volume& v = c.volumes[i];
            const VolumeRecord& got = handler.Volumes[i];
            const auto expected = std::make_pair(v.expectStart, v.expectRecord);
            EXPECT_EQ(expected, std::make_pair(got.startFile, got.recordFile)) << i;
            const std::string master = got.path + "\\MASTER.NDX";
            EXPECT_TRUE(v.master == Master::Blocked || testfiles::Exists(master)) << i;
            EXPECT_TRUE(v.master != Master::None || testfiles::ReadAll(master).empty()) << i << ": created empty";
            if (expected != std::make_pair(v.startFile, v.recordFile)) {
                const VolumeRecord disk = OnDisk(static_cast<std::int32_t>(i));
                EXPECT_EQ(expected, std::make_pair(disk.startFile, disk.recordFile)) << i;
            }
        }
    }
}
