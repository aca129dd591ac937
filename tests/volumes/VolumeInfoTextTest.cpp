#include "tests/volumes/FuzzDocuments.h"
#include "volumes/VolumeInfoText.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

GUID MakeGuid(std::uint32_t a, std::uint16_t b, std::uint16_t c, std::vector<std::uint8_t> d)
{
    GUID guid{};
    guid.Data1 = a;
    guid.Data2 = b;
    guid.Data3 = c;
    for (std::size_t i = 0; i < 8; ++i)
        guid.Data4[i] = d[i];
    return guid;
}

bool Read(const std::string& text, VolumeRecord& record, bool* whole = nullptr)
{
    XmlDocument document;
    document.SetText(text);
    return ReadVolumeInfoDocument(document, record, whole);
}

std::string Replaced(std::string text, const std::string& from, const std::string& to)
{
    const std::size_t at = text.find(from);
    EXPECT_NE(std::string::npos, at) << from;
    if (at != std::string::npos)
        text.replace(at, from.size(), to);
    return text;
}

std::string Form1(const std::string& replace = "", const std::string& with = "")
{
    std::string text =
        "<VolumeInformation>\r\n<Excluded>0</Excluded>\r\n<Label>L</Label>\r\n<NumFiles>12</NumFiles>\r\n"
        "<FileNumOffset>0</FileNumOffset>\r\n<Position>0</Position>\r\n"
        "<VolumeGUID>{6B1F03A2-94C0-4E51-8A7D-0C22E5D9B310}</VolumeGUID>\r\n<StartFile>0</StartFile>\r\n"
        "<RecordFile>0</RecordFile>\r\n<DBGUID>{D0A4E871-2C3B-4F16-9E05-7713B4C2A6F8}</DBGUID>\r\n"
        "<ActiveVolumes>1</ActiveVolumes>\r\n<AllocatedSpaceKB>238418576</AllocatedSpaceKB>\r\n"
        "</VolumeInformation>\r\n";
    return replace.empty() ? text : Replaced(text, replace, with);
}

}  // namespace

TEST(GuidText, IsBracedUpperCaseAndZeroPadded)
{
    EXPECT_EQ("{00000000-0000-0000-0000-000000000000}", GuidToText(GUID{}));
    const GUID guid = MakeGuid(0xA0B, 0xC, 0xD, {0x0E, 0x0F, 0x00, 0x01, 0xab, 0xcd, 0xef, 0xFF});
    EXPECT_EQ("{00000A0B-000C-000D-0E0F-0001ABCDEFFF}", GuidToText(guid));
    EXPECT_TRUE(SameGuid(guid, TextToGuid(GuidToText(guid))));
    EXPECT_TRUE(SameGuid(guid, TextToGuid("{00000a0b-000c-000d-0e0f-0001abcdefff}")));
    EXPECT_TRUE(SameGuid(GUID{}, TextToGuid(GuidToText(GUID{}))));
}

TEST(GuidText, ReadsLikeTheScanItStandsForAndZeroesWhatItCannotRead)
{
    // Widths are maxima: short fields are read as they stand.
    EXPECT_TRUE(SameGuid(MakeGuid(1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}), TextToGuid("{1-2-3-0405-060708090A0B}")));
    // An overlong field stops the scan where the width runs out.
    EXPECT_TRUE(SameGuid(MakeGuid(0x12345678, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}),
                         TextToGuid("{123456789-2222-3333-4444-555555555555}")));
    // No brace, no GUID; a text that stops early keeps what it gave.
    EXPECT_TRUE(SameGuid(GUID{}, TextToGuid("6B1F03A2-94C0-4E51-8A7D-0C22E5D9B310")));
    EXPECT_TRUE(SameGuid(GUID{}, TextToGuid("")));
    EXPECT_TRUE(SameGuid(MakeGuid(0x6B1F03A2, 0x94C0, 4, {0, 0, 0, 0, 0, 0, 0, 0}), TextToGuid("{6B1F03A2-94C0-4")));
    EXPECT_TRUE(SameGuid(MakeGuid(0x6B1F03A2, 0x94C0, 0, {0, 0, 0, 0, 0, 0, 0, 0}), TextToGuid("{6B1F03A2-94C0-xyz}")));
    // White space before a number is skipped; a sign is taken.
    EXPECT_TRUE(SameGuid(MakeGuid(0xAB, 0xFFFF, 1, {0, 0, 0, 0, 0, 0, 0, 0}), TextToGuid("{ AB--1-\t1")));
}

#if defined(_WIN32)
// On Windows unsigned long is 32 bits wide, so the platform's own scan and
// conversion are references for these two.
TEST(GuidText, AgreesWithTheCrtScanOnGeneratedTexts)
{
    fuzzdocs::Random random(7);
    const std::string digits = "0123456789abcdefABCDEF";
    for (int i = 0; i < 3000; ++i) {
        std::string text = GuidToText(fuzzdocs::RandomGuid(random));
        for (std::size_t edits = random.Below(4); edits > 0; --edits) {
            const std::size_t at = random.Below(text.size() + 1);
            switch (random.Below(4)) {
            case 0: text.erase(at, 1 + random.Below(3)); break;
            case 1: text.insert(at, 1, digits[random.Below(digits.size())]); break;
            case 2: text.insert(at, 1, "- {}"[random.Below(4)]); break;
            default: text.insert(at, 1 + random.Below(2), '-'); break;
            }
        }
        unsigned v[11] = {};
        std::sscanf(text.c_str(), "{%8X-%4X-%4X-%2X%2X-%2X%2X%2X%2X%2X%2X}", &v[0], &v[1], &v[2], &v[3], &v[4],
                    &v[5], &v[6], &v[7], &v[8], &v[9], &v[10]);
        const GUID expected = MakeGuid(v[0], static_cast<std::uint16_t>(v[1]), static_cast<std::uint16_t>(v[2]),
                                       {static_cast<std::uint8_t>(v[3]), static_cast<std::uint8_t>(v[4]),
                                        static_cast<std::uint8_t>(v[5]), static_cast<std::uint8_t>(v[6]),
                                        static_cast<std::uint8_t>(v[7]), static_cast<std::uint8_t>(v[8]),
                                        static_cast<std::uint8_t>(v[9]), static_cast<std::uint8_t>(v[10])});
        ASSERT_TRUE(SameGuid(expected, TextToGuid(text))) << text << " -> " << GuidToText(TextToGuid(text))
                                                          << ", the scan gives " << GuidToText(expected);
    }
}

TEST(ParseNumberText, AgreesWithStrtoulOnGeneratedTexts)
{
    static_assert(sizeof(unsigned long) == 4, "the reference needs a 32-bit unsigned long");
    fuzzdocs::Random random(11);
    const std::vector<std::string> pieces = {"0", "1", "7", "8", "9", "x", "X", "f", "F", "g", "-", "+", " ",
                                             "\t", "0x", "4294967295", "4294967296", "99999999999", "ffffffff"};
    for (int i = 0; i < 5000; ++i) {
        std::string text;
        for (std::size_t n = random.Below(8); n > 0; --n)
            text += random.Pick(pieces);
        if (text.size() > 31)
            continue;
        errno = 0;
        const unsigned long expected = std::strtoul(text.c_str(), nullptr, 0);
        if (errno == ERANGE) {
            // Out of range saturates, with a sign or without (Wine's CRT
            // negates the saturated value; the C standard does not).
            ASSERT_EQ(0xFFFFFFFFu, ParseNumber(text)) << "[" << text << "]";
            continue;
        }
        ASSERT_EQ(expected, ParseNumber(text)) << "[" << text << "]";
    }
}
#endif

TEST(ParseNumberText, TakesAnyBaseAndGivesZeroForTextThatIsNoNumber)
{
    EXPECT_EQ(32u, ParseNumber("0x20"));
    EXPECT_EQ(31u, ParseNumber("0X1f"));
    EXPECT_EQ(8u, ParseNumber("010"));
    EXPECT_EQ(0u, ParseNumber("08"));  // octal stops at the 8
    EXPECT_EQ(0xFFFFFFFFu, ParseNumber("-1"));
    EXPECT_EQ(42u, ParseNumber(" \t42abc"));
    EXPECT_EQ(7u, ParseNumber("+7"));
    EXPECT_EQ(0u, ParseNumber("0x"));
    EXPECT_EQ(0u, ParseNumber(""));
    EXPECT_EQ(0u, ParseNumber("twelve"));
    EXPECT_EQ(4294967295u, ParseNumber("4294967295"));
    EXPECT_EQ(4294967295u, ParseNumber("4294967296"));   // saturates
    EXPECT_EQ(4294967295u, ParseNumber("-4294967296"));  // saturates, sign or not
    // 31 characters are read; 32 are refused as a whole.
    EXPECT_EQ(5u, ParseNumber(std::string(30, '0') + "5"));
    EXPECT_EQ(0u, ParseNumber(std::string(31, '0') + "5"));
}

TEST(VolumeInfoText, ReadsNamesInAnyCaseAnywhereAndNeedsAllElevenOrASubVolume)
{
    VolumeRecord record;
    ASSERT_TRUE(Read(Form1(), record));
    EXPECT_EQ("L", record.label);
    EXPECT_EQ(12, record.numFiles);
    EXPECT_EQ(238418576, record.allocatedSpaceKB);
    EXPECT_EQ("{D0A4E871-2C3B-4F16-9E05-7713B4C2A6F8}", GuidToText(record.dbGuid));

    VolumeRecord lower;
    EXPECT_TRUE(Read(Form1("<NumFiles>12</NumFiles>", "<numfiles>0x20</numfiles>"), lower));
    EXPECT_EQ(32, lower.numFiles);

    // Nesting, attributes and unknown elements do not matter.
    VolumeRecord nested;
    EXPECT_TRUE(Read(Form1("<Label>L</Label>", "<Outer x=\"1\"><Label a=\"b\">Deep</Label><Odd>3</Odd></Outer>"),
                     nested));
    EXPECT_EQ("Deep", nested.label);

    // A missing element fails; what was read stays in the record.
    VolumeRecord partial;
    EXPECT_FALSE(Read(Form1("<RecordFile>0</RecordFile>", ""), partial));
    EXPECT_EQ(12, partial.numFiles);
    EXPECT_EQ(-1, partial.recordFile);
    VolumeRecord none;
    EXPECT_FALSE(Read("", none));
    EXPECT_FALSE(Read("<VolumeInformation></VolumeInformation>", none));

    // One SubVolume is enough, whatever else is missing; entries are appended.
    VolumeRecord sub;
    sub.subVolumes = {"\\Old"};
    EXPECT_TRUE(Read("<NumFiles>5</NumFiles><SubVolume>\\S</SubVolume><subvolume> \\T </subvolume>", sub));
    EXPECT_EQ(5, sub.numFiles);
    EXPECT_EQ((std::vector<std::string>{"\\Old", "\\S", "\\T"}), sub.subVolumes);
}

TEST(VolumeInfoText, ValuesReadAsTheirTextSays)
{
    // A repeated element overwrites; bad numbers read as 0 or their leading
    // digits, a value over 31 characters as 0; none of it fails the read.
    std::string text = Form1("<Position>0</Position>", "<Position>4</Position><Position>-1</Position>");
    text = Replaced(text, "<StartFile>0<", "<StartFile>nonsense<");
    text = Replaced(text, "<NumFiles>12<", "<NumFiles>12 files<");
    text = Replaced(text, "<FileNumOffset>0<", "<FileNumOffset>" + std::string(32, '1') + "<");
    VolumeRecord record;
    record.startFile = 9;
    record.fileNumOffset = 9;
    ASSERT_TRUE(Read(text, record));
    EXPECT_EQ(-1, record.position);
    EXPECT_EQ(0, record.startFile);
    EXPECT_EQ(12, record.numFiles);
    EXPECT_EQ(0, record.fileNumOffset);

    // Labels lose their surrounding blanks, and a '<' cuts them.
    VolumeRecord label;
    label.label = "  Cam A  ";
    XmlDocument document;
    WriteVolumeInfoDocument(document, label);
    EXPECT_NE(std::string::npos, document.GetText().find("<Label>  Cam A  </Label>"));
    VolumeRecord back;
    ASSERT_TRUE(Read(document.GetText(), back));
    EXPECT_EQ("Cam A", back.label);
    label.label = "a<b";
    XmlDocument cut;
    WriteVolumeInfoDocument(cut, label);
    VolumeRecord cutBack;
    Read(cut.GetText(), cutBack);
    EXPECT_EQ("a", cutBack.label);
}

TEST(VolumeInfoText, WholeOnlyWhenTheFirstElementIsClosedAtTheEnd)
{
    VolumeRecord record;
    bool whole = false;
    ASSERT_TRUE(Read(Form1(), record, &whole));
    EXPECT_TRUE(whole);
    ASSERT_TRUE(Read("<volumeinformation>" + Form1().substr(19), record, &whole));
    EXPECT_TRUE(whole);

    // Every element there, the last value cut or gone: readable, not whole.
    const std::string full = Form1();
    const std::size_t lastValue = full.find("238418576");
    for (const std::string& cut :
         {full.substr(0, lastValue + 3), full.substr(0, lastValue), full.substr(0, full.size() - 5),
          full.substr(0, lastValue) + std::string(40, '\0')}) {
        VolumeRecord partial;
        EXPECT_TRUE(Read(cut, partial, &whole));
        EXPECT_FALSE(whole) << cut;
    }
    // Trailing elements after the root's closing tag are not a whole file.
    EXPECT_TRUE(Read(full + "<Extra>", record, &whole));
    EXPECT_FALSE(whole);
    EXPECT_TRUE(Read(full + "stray\r\n", record, &whole));
    EXPECT_TRUE(whole);
}

TEST(VolumeInfoFuzz, GeneratedAndMutatedDocumentsKeepTheReaderSane)
{
    fuzzdocs::Random random(20261206);
    for (int i = 0; i < 3000; ++i) {
        const VolumeRecord record = fuzzdocs::RandomRecord(random);
        ASSERT_EQ("", fuzzdocs::CheckRoundTrip(record, i % 100 == 0));
        const std::string generated = fuzzdocs::RandomDocument(random);
        ASSERT_EQ("", fuzzdocs::CheckReader(generated)) << generated;
        XmlDocument written;
        WriteVolumeInfoDocument(written, record);
        const std::string mutated = fuzzdocs::Mutate(written.GetText(), random);
        ASSERT_EQ("", fuzzdocs::CheckReader(mutated)) << mutated;
        (void)TextToGuid(mutated.substr(random.Below(mutated.size() + 1), 40));
    }
}
