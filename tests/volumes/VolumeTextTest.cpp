// The pure code of volumes/: the XML dialect, the description text, GUID and
// number parsing, the list's order, the drive guard and the wipe's decisions.
#include "volumes/DriveGuard.h"
#include "volumes/VolumeInfoText.h"
#include "volumes/VolumeOrdering.h"
#include "volumes/VolumeRoot.h"
#include "volumes/WidePath.h"
#include "volumes/XmlDocument.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

using namespace std::string_literals;
using List = std::vector<std::string>;

namespace {

// Every item of a document: "Name=value" for an element, "/Name" for a
// closing tag, "@name=value" for an attribute.
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

// The description of a volume as written, with one piece replaced.
std::string Form(const std::string& from = "", const std::string& to = "")
{
    std::string text =
        "<VolumeInformation>\r\n<Excluded>0</Excluded>\r\n<Label>L</Label>\r\n<NumFiles>12</NumFiles>\r\n"
        "<FileNumOffset>0</FileNumOffset>\r\n<Position>0</Position>\r\n"
        "<VolumeGUID>{6B1F03A2-94C0-4E51-8A7D-0C22E5D9B310}</VolumeGUID>\r\n<StartFile>0</StartFile>\r\n"
        "<RecordFile>0</RecordFile>\r\n<DBGUID>{D0A4E871-2C3B-4F16-9E05-7713B4C2A6F8}</DBGUID>\r\n"
        "<ActiveVolumes>1</ActiveVolumes>\r\n<AllocatedSpaceKB>238418576</AllocatedSpaceKB>\r\n"
        "</VolumeInformation>\r\n";
    const std::size_t at = text.find(from);
    EXPECT_NE(std::string::npos, at) << from;
    return from.empty() || at == std::string::npos ? text : text.replace(at, from.size(), to);
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

// "A3" for an Active entry at position 3, "M0" for a placeholder; with
// paths, "E:3".
List Sequence(const std::vector<VolumeRecord>& volumes, bool paths = false)
{
    List out;
    for (const VolumeRecord& v : volumes) {
        std::string item = paths ? v.path : std::string(1, "ABDFMXCN"[static_cast<int>(v.status)]);
        item += std::to_string(v.position);
        out.push_back(item);
    }
    return out;
}

}  // namespace

TEST(Xml, WriterAndReaderAgreeOnTheDialect)
{
    XmlDocument document;
    document.OpenElement("Root", 0, true);
    document.WriteElement("NumFiles", -1, 0, true);
    document.WriteElement("Position", 2147483647, 2, true);
    document.WriteElement("Label", "  Cam A  ", -3, false);
    document.WriteElement("Text", "a & \"c\" > d", 1, true);
    document.WriteElement("Cut", "a < b", 0, true);  // written raw: the reader splits at the '<'
    document.CloseElement("Root", 1, false);
    EXPECT_EQ("<Root>\r\n<NumFiles>-1</NumFiles>\r\n\t\t<Position>2147483647</Position>\r\n<Label>  Cam A  </Label>"
              "\t<Text>a & \"c\" > d</Text>\r\n<Cut>a < b</Cut>\r\n\t</Root>",
              document.GetText());
    EXPECT_EQ((List{"Root=", "NumFiles=-1", "/NumFiles", "Position=2147483647", "/Position", "Label=Cam A", "/Label",
                    "Text=a & \"c\" > d", "/Text", "Cut=a", "=", "/Root"}),
              Items(document.GetText()));

    const std::pair<std::string, List> cases[] = {
        {"<L>\t\r\n two  inner\tspaces \r\n</L>", {"L=two  inner\tspaces", "/L"}},
        {"<L>&lt;&amp;</L>", {"L=&lt;&amp;", "/L"}},  // entities are not decoded
        {"<X a = \"1\" b=\"2\">", {"X=", "@a=1", "@b=2"}},
        {"<X a =\"1\"   b= \"2\" c=\"  spaced \"></X>", {"X=", "@a=1", "@b=2", "@c=spaced", "/X"}},
        {"<X a=\"1\">in</X>", {"X=in", "@a=1", "/X"}},
        {"<X a=\"1\" />", {"X=", "@a=1", "/X"}},
        {"<X a=\"1\"/>", {"X=", "@a=1", "/X"}},
        {"<X />", {"X=", "/X"}},
        {"<X/>", {"X/="}},  // only a space or '>' ends a name
        {"<A\r\n>1</A>", {"A=1", "/A"}},
        {"<Root>\r\n<Label></Label>\r\n<Unknown>\r\n\t<Deep>7</Deep>\r\n</Unknown>stray text</Stray>\r\n</Root>\r\n",
         {"Root=", "Label=", "/Label", "Unknown=", "Deep=7", "/Deep", "/Unknown", "/Stray", "/Root"}},
        // Malformed attributes are dropped and reading goes on.
        {"<X a=1>t</X>", {"X=t", "/X"}},
        {"<X \"a\"=\"1\">t</X>", {"X=t", "/X"}},
        {"<X a=\"1>t</X>", {"X=t", "/X"}},
        {"<X a=\"1\" =\"2\"></Y>", {"X=", "@a=1", "/Y"}},
        {"<X a\"b c\">", {"X=", "@a\"b=b c"}},  // a quote before the separator still opens the value
        // The document ends inside a tag or its text.
        {"<A>1</A><B a=\"1\"", {"A=1", "/A"}},
        {"<A>1</A><", {"A=1", "/A"}},
        {"<A>1</A", {"A=1"}},
        {"<A>\r\n<B>12", {"A=", "B="}},
        {"no tags at all", {}},
        {"<X" + std::string(100000, 'a'), {}},
        {std::string(100000, '\0'), {}},
        {"\x00<\xFF>\x80\"</\x01>"s, {"\xFF=\x80\"", "/\x01"}},
    };
    for (const auto& [text, items] : cases)
        EXPECT_EQ(items, Items(text)) << text.substr(0, 80);
}

TEST(VolumeInfoText, GuidsAndNumbersReadLikeTheScansTheyStandFor)
{
    GUID guid{0xA0B, 0xC, 0xD, {0x0E, 0x0F, 0x00, 0x01, 0xab, 0xcd, 0xef, 0xFF}};
    EXPECT_EQ("{00000A0B-000C-000D-0E0F-0001ABCDEFFF}", GuidToText(guid));
    EXPECT_EQ("{00000000-0000-0000-0000-000000000000}", GuidToText(GUID{}));
    const std::pair<const char*, const char*> guids[] = {
        {"{00000a0b-000c-000d-0e0f-0001abcdefff}", "{00000A0B-000C-000D-0E0F-0001ABCDEFFF}"},
        {"{1-2-3-0405-060708090A0B}", "{00000001-0002-0003-0405-060708090A0B}"},  // widths are maxima
        {"{123456789-2222-3333-4444-555555555555}", "{12345678-0000-0000-0000-000000000000}"},
        {"6B1F03A2-94C0-4E51-8A7D-0C22E5D9B310", "{00000000-0000-0000-0000-000000000000}"},  // no brace
        {"{6B1F03A2-94C0-4", "{6B1F03A2-94C0-0004-0000-000000000000}"},  // what came before the end stays
        {"{6B1F03A2-94C0-xyz}", "{6B1F03A2-94C0-0000-0000-000000000000}"},
        {"{ AB--1-\t1", "{000000AB-FFFF-0001-0000-000000000000}"},  // blanks skipped, a sign taken
        {"{0x1F-0X2-3", "{0000001F-0002-0003-0000-000000000000}"},     // a prefix counts in the width
    };
    for (const auto& [text, read] : guids)
        EXPECT_EQ(read, GuidToText(TextToGuid(text))) << text;

    const std::pair<std::string, std::uint32_t> numbers[] = {
        {"0x20", 32}, {"0X1f", 31}, {"010", 8}, {"08", 0}, {"-1", 0xFFFFFFFF}, {" \t42abc", 42}, {"+7", 7},
        {"0x", 0}, {"", 0}, {"twelve", 0}, {"4294967295", 0xFFFFFFFF},
        {"4294967296", 0xFFFFFFFF}, {"-4294967296", 0xFFFFFFFF},  // saturates, sign or not
        {std::string(30, '0') + "5", 5}, {std::string(31, '0') + "5", 0},  // 32 characters are refused
    };
    for (const auto& [text, value] : numbers)
        EXPECT_EQ(value, ParseNumber(text)) << "[" << text << "]";
}

TEST(VolumeInfoText, NamesInAnyCaseAnywhereValuesAsTheirTextSays)
{
    VolumeRecord record;
    ASSERT_TRUE(Read(Form(), record));
    EXPECT_EQ("L", record.label);
    EXPECT_EQ(238418576, record.allocatedSpaceKB);
    EXPECT_EQ("{D0A4E871-2C3B-4F16-9E05-7713B4C2A6F8}", GuidToText(record.dbGuid));

    // Case, nesting, attributes and unknown elements do not matter; a
    // repeated element overwrites; bad numbers read as 0 or their leading
    // digits, over 31 characters as 0.
    VolumeRecord odd;
    odd.startFile = odd.fileNumOffset = 9;
    std::string all = Form();
    for (const auto& [from, to] : std::vector<std::pair<std::string, std::string>>{
             {"<NumFiles>12</NumFiles>", "<numfiles>0x20 files</numfiles>"},
             {"<Label>L</Label>", "<Outer x=\"1\"><Label a=\"b\">  Deep  </Label><Odd>3</Odd></Outer>"},
             {"<Position>0</Position>", "<Position>4</Position><Position>-1</Position>"},
             {"<StartFile>0<", "<StartFile>nonsense<"},
             {"<FileNumOffset>0<", "<FileNumOffset>" + std::string(32, '1') + "<"}})
        all.replace(all.find(from), from.size(), to);
    ASSERT_TRUE(Read(all, odd));
    EXPECT_EQ(32, odd.numFiles);
    EXPECT_EQ("Deep", odd.label);
    EXPECT_EQ(-1, odd.position);
    EXPECT_EQ(0, odd.startFile);
    EXPECT_EQ(0, odd.fileNumOffset);

    // A missing element fails, keeping what was read; one SubVolume is
    // enough, whatever else is missing, and entries are appended.
    VolumeRecord partial;
    EXPECT_FALSE(Read(Form("<RecordFile>0</RecordFile>", ""), partial));
    EXPECT_EQ(12, partial.numFiles);
    EXPECT_EQ(-1, partial.recordFile);
    EXPECT_FALSE(Read("<VolumeInformation></VolumeInformation>", partial));
    VolumeRecord sub;
    sub.subVolumes = {"\\Old"};
    EXPECT_TRUE(Read("<NumFiles>5</NumFiles><SubVolume>\\S</SubVolume><subvolume> \\T </subvolume>", sub));
    EXPECT_EQ(5, sub.numFiles);
    EXPECT_EQ((List{"\\Old", "\\S", "\\T"}), sub.subVolumes);

    // Whole only when the first element is closed at the end: every element
    // there but the last value cut or gone is readable, not whole.
    bool whole = false;
    const std::string full = Form();
    const std::size_t last = full.find("238418576");
    const std::pair<std::string, bool> cuts[] = {
        {full, true}, {"<volumeinformation>" + full.substr(19), true}, {full + "stray\r\n", true},
        {full + "<Extra>", false}, {full.substr(0, last + 3), false}, {full.substr(0, last), false},
        {full.substr(0, full.size() - 5), false}, {full.substr(0, last) + std::string(40, '\0'), false}};
    for (const auto& [cut, isWhole] : cuts) {
        EXPECT_TRUE(Read(cut, record, &whole));
        EXPECT_EQ(isWhole, whole) << cut;
    }
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
    EXPECT_EQ((List{"H:-1", "A:1", "C:0", "G:-1", "F:2", "D:-5", "B:-1", "M:0", "X:3"}), Sequence(volumes, true));

    struct {
        const char* what;
        std::vector<VolumeRecord> volumes;
        std::int32_t positions;
        List after;
    } cases[] = {
        {"equal positions shift up; holes before them get placeholders",
         {Entry("E:", S::Active, 3, 5), Entry("F:", S::Active, 3, 5), Entry("G:", S::Blank, -1)}, 5,
         {"A3", "A4", "B-1", "M0", "M1", "M2"}},
        {"a description claiming more volumes than are present",
         {Entry("E:", S::Active, 0, 5), Entry("F:", S::Active, 1, 2)}, 5, {"A0", "A1", "M2", "M3", "M4"}},
        {"a hole between two volumes",
         {Entry("E:", S::Active, 0, 1), Entry("F:", S::Active, 2, 1), Entry("G:", S::Foreign, 0)}, 2,
         {"A0", "A2", "F0", "M1"}},
        {"negative positions are repaired from 0",
         {Entry("E:", S::Active, -1), Entry("F:", S::Active, -1), Entry("G:", S::Active, 0)}, 3, {"A0", "A1", "A2"}},
        {"no active volume at all", {Entry("E:", S::Blank, -1), Entry("F:", S::Foreign, 7)}, 0, {"F7", "B-1"}},
    };
    for (auto& c : cases) {
        SortVolumes(c.volumes);
        const std::int32_t positions = CountSequencePositions(c.volumes);
        EXPECT_EQ(c.positions, positions) << c.what;
        RepairPositions(c.volumes);
        AppendPlaceholders(c.volumes, positions);
        EXPECT_EQ(c.after, Sequence(c.volumes)) << c.what;
    }

    // A damaged count does not flood the list.
    for (const VolumeRecord& damaged : {Entry("E:", S::Active, 0, 0x7FFFFFFF), Entry("E:", S::Active, 2000000000)}) {
        volumes = {damaged};
        AppendPlaceholders(volumes, CountSequencePositions(volumes));
        EXPECT_EQ(static_cast<std::size_t>(kMaxSequencePositions + (damaged.position ? 1 : 0)), volumes.size());
    }

    EXPECT_EQ(205829u, MinimumVolumeSizeKB(20));  // 204800 / 0.995, truncated
    EXPECT_EQ(10291u, MinimumVolumeSizeKB(1));
}

TEST(DriveGuard, EachPlaceProtectsItsDriveOnly)
{
    const std::pair<const char*, char> paths[] = {
        {"D:\\tools\\Mediaprep.exe", 'D'}, {"d:\\windows", 'D'}, {"\\\\?\\e:\\Mediaprep.exe", 'E'}, {"\\\\.\\F:\\", 'F'},
        {"\\??\\G:\\pagefile.sys", 'G'}, {"  h:\\pagefile.sys 0 0", 'H'}, {"?:\\pagefile.sys", 0},
        {"\\\\server\\share\\x.exe", 0}, {"\\\\?\\UNC\\server\\share", 0}, {"pagefile.sys", 0}, {"", 0}, {"1:\\x", 0}};
    for (const auto& [path, letter] : paths)
        EXPECT_EQ(letter, DriveLetterOf(path)) << path;

    SystemPlaces places;
    places.windowsDirectory = "D:\\WINDOWS";
    places.systemDirectory = "\\\\?\\e:\\Windows\\System32";
    places.programFile = "f:\\tools\\Mediaprep.exe";
    // PagingFiles and ExistingPageFiles as the registry holds them.
    places.pagingFiles = SplitMultiString("?:\\pagefile.sys\0g:\\pagefile.sys 0 0\0\0\\??\\H:\\pagefile.sys\0\0"s);
    ASSERT_EQ(3u, places.pagingFiles.size());
    // "?:" is a system-managed file, on no drive of its own: L: is free.
    const std::tuple<char, const char*, const char*> cases[] = {
        {'d', "", "the Windows directory"}, {'E', "", "the system directory"}, {'F', "", "the running program"},
        {'G', "", "a paging file"}, {'H', "", "a paging file"}, {'D', "hiberfil.sys", "the Windows directory"},
        {'J', "hiberfil.sys", "hiberfil.sys"}, {'K', "swapfile.sys", "swapfile.sys"}, {'L', "", ""}};
    for (const auto& [letter, rootFile, reason] : cases)
        EXPECT_EQ(reason, DriveProtection(letter, places, rootFile)) << letter;
    EXPECT_EQ("", DriveProtection('D', SystemPlaces{}, ""));
}

TEST(WipeDecisions, LinksAreNeverEnteredAndNamesDecideOnlyForDirectories)
{
    const DWORD dir = FILE_ATTRIBUTE_DIRECTORY, link = FILE_ATTRIBUTE_REPARSE_POINT;
    const std::tuple<DWORD, const wchar_t*, WipeEntry> cases[] = {
        {dir, L".", WipeEntry::Skipped}, {dir, L"..", WipeEntry::Skipped}, {dir, L".cache", WipeEntry::Skipped},
        {dir | link, L".link", WipeEntry::Skipped},
        {dir | FILE_ATTRIBUTE_HIDDEN, L"system VOLUME information", WipeEntry::Skipped},
        {dir | FILE_ATTRIBUTE_READONLY, L"Images", WipeEntry::Directory},
        {dir | link, L"Images", WipeEntry::Link},         // junction or directory link
        {dir | link, L"System Volume", WipeEntry::Link},  // a name alone does not protect
        {FILE_ATTRIBUTE_ARCHIVE | link, L"file.lnk", WipeEntry::Link},
        {FILE_ATTRIBUTE_ARCHIVE, L".cache", WipeEntry::File},
        {FILE_ATTRIBUTE_NORMAL, L"System Volume Information", WipeEntry::File},
    };
    for (const auto& [attributes, name, decision] : cases)
        EXPECT_EQ(decision, ClassifyWipeEntry(attributes, name)) << attributes;
    for (const char* name : {".", "recycled", "volumeinfoold.XML"})
        EXPECT_TRUE(IsIgnoredByProbe(name)) << name;
    for (const char* name : {"...", "testfile.tmp", "RECYCLER"})
        EXPECT_FALSE(IsIgnoredByProbe(name)) << name;

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
