#include "volumes/VolumeInfoText.h"

#include "recorderlibs/TextCase.h"

#include <cstdio>
#include <limits>

namespace {

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// Digit value in the given base, or -1.
int DigitValue(char c, unsigned base)
{
    int value = -1;
    if (c >= '0' && c <= '9')
        value = c - '0';
    else if (c >= 'a' && c <= 'z')
        value = c - 'a' + 10;
    else if (c >= 'A' && c <= 'Z')
        value = c - 'A' + 10;
    return value >= 0 && static_cast<unsigned>(value) < base ? value : -1;
}

// One %<width>X conversion at `pos`. False on a matching failure or the end
// of the text (the directive fails and the scan stops).
bool ScanHexField(const std::string& text, std::size_t& pos, int width, std::uint32_t& out)
{
    while (pos < text.size() && IsSpace(text[pos]))
        ++pos;
    std::size_t p = pos;
    int left = width;
    bool negative = false;
    if (left > 0 && p < text.size() && (text[p] == '+' || text[p] == '-')) {
        negative = text[p] == '-';
        ++p;
        --left;
    }
    if (left >= 2 && p + 1 < text.size() && text[p] == '0' && (text[p + 1] == 'x' || text[p + 1] == 'X')) {
        p += 2;
        left -= 2;
    }
    std::uint32_t value = 0;
    int digits = 0;
    while (left > 0 && p < text.size()) {
        const int digit = DigitValue(text[p], 16);
        if (digit < 0)
            break;
        value = value * 16u + static_cast<std::uint32_t>(digit);
        ++p;
        --left;
        ++digits;
    }
    // "0x" without a digit behind it (within the width), or a lone sign, is
    // no number: the scan stops there.
    if (digits == 0)
        return false;
    pos = p;
    out = negative ? 0u - value : value;
    return true;
}

bool ScanLiteral(const std::string& text, std::size_t& pos, char c)
{
    if (pos >= text.size() || text[pos] != c)
        return false;
    ++pos;
    return true;
}

const char* const kElementNames[] = {
    "Excluded",  "Label",      "NumFiles", "FileNumOffset", "Position",         "StartFile",
    "RecordFile", "VolumeGUID", "DBGUID",   "ActiveVolumes", "AllocatedSpaceKB",
};
constexpr unsigned kAllElements = (1u << 11) - 1;

std::int32_t AsField(std::uint32_t bits)
{
    return static_cast<std::int32_t>(bits);  // the same 32 bits: "-1" reads as -1
}

}  // namespace

std::string GuidToText(const GUID& guid)
{
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(guid.Data1), static_cast<unsigned>(guid.Data2),
                  static_cast<unsigned>(guid.Data3), static_cast<unsigned>(guid.Data4[0]),
                  static_cast<unsigned>(guid.Data4[1]), static_cast<unsigned>(guid.Data4[2]),
                  static_cast<unsigned>(guid.Data4[3]), static_cast<unsigned>(guid.Data4[4]),
                  static_cast<unsigned>(guid.Data4[5]), static_cast<unsigned>(guid.Data4[6]),
                  static_cast<unsigned>(guid.Data4[7]));
    return text;
}

GUID TextToGuid(const std::string& text)
{
    std::uint32_t fields[11] = {};
    std::size_t pos = 0;
    // '{' 8 '-' 4 '-' 4 '-' 2 2 '-' 2 2 2 2 2 2 '}'; a character before a
    // field is the literal that must precede it.
    static const struct {
        char literal;
        int width;
    } layout[11] = {{'{', 8}, {'-', 4}, {'-', 4}, {'-', 2}, {0, 2}, {'-', 2},
                    {0, 2},   {0, 2},   {0, 2},   {0, 2},   {0, 2}};
    for (int i = 0; i < 11; ++i) {
        if (layout[i].literal != 0 && !ScanLiteral(text, pos, layout[i].literal))
            break;
        if (!ScanHexField(text, pos, layout[i].width, fields[i]))
            break;
    }
    GUID guid{};
    guid.Data1 = fields[0];
    guid.Data2 = static_cast<std::uint16_t>(fields[1]);
    guid.Data3 = static_cast<std::uint16_t>(fields[2]);
    for (int i = 0; i < 8; ++i)
        guid.Data4[i] = static_cast<std::uint8_t>(fields[3 + i]);
    return guid;
}

std::uint32_t ParseNumber(const std::string& text)
{
    if (text.size() > 31)
        return 0;
    std::size_t p = 0;
    while (p < text.size() && IsSpace(text[p]))
        ++p;
    bool negative = false;
    if (p < text.size() && (text[p] == '+' || text[p] == '-')) {
        negative = text[p] == '-';
        ++p;
    }
    unsigned base = 10;
    if (p < text.size() && text[p] == '0') {
        if (p + 2 < text.size() && (text[p + 1] == 'x' || text[p + 1] == 'X') && DigitValue(text[p + 2], 16) >= 0) {
            base = 16;
            p += 2;
        } else {
            base = 8;
        }
    }
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint32_t>::max();
    std::uint64_t value = 0;
    bool overflow = false;
    for (; p < text.size(); ++p) {
        const int digit = DigitValue(text[p], base);
        if (digit < 0)
            break;
        value = value * base + static_cast<unsigned>(digit);
        if (value > kMax) {
            overflow = true;
            value = kMax;
        }
    }
    if (overflow)
        return static_cast<std::uint32_t>(kMax);
    const std::uint32_t result = static_cast<std::uint32_t>(value);
    return negative ? 0u - result : result;
}

void WriteVolumeInfoDocument(XmlDocument& document, const VolumeRecord& record)
{
    if (!record.subVolumes.empty()) {
        document.OpenElement("SubVolumes", 0, true);
        for (const std::string& entry : record.subVolumes)
            document.WriteElement("SubVolume", entry, 0, true);
        document.CloseElement("SubVolumes", 0, true);
        return;
    }
    document.OpenElement("VolumeInformation", 0, true);
    document.WriteElement("Excluded", record.excluded, 0, true);
    document.WriteElement("Label", record.label, 0, true);
    document.WriteElement("NumFiles", record.numFiles, 0, true);
    document.WriteElement("FileNumOffset", record.fileNumOffset, 0, true);
    document.WriteElement("Position", record.position, 0, true);
    document.WriteElement("VolumeGUID", GuidToText(record.volumeGuid), 0, true);
    document.WriteElement("StartFile", record.startFile, 0, true);
    document.WriteElement("RecordFile", record.recordFile, 0, true);
    document.WriteElement("DBGUID", GuidToText(record.dbGuid), 0, true);
    document.WriteElement("ActiveVolumes", record.activeVolumes, 0, true);
    document.WriteElement("AllocatedSpaceKB", record.allocatedSpaceKB, 0, true);
    document.CloseElement("VolumeInformation", 0, true);
}

bool ReadVolumeInfoDocument(XmlDocument& document, VolumeRecord& record, bool* isWhole)
{
    document.Reset();
    std::string name;
    std::string value;
    bool isClosing = false;
    bool isAttribute = false;
    bool anyItem = false;
    bool sawSubVolume = false;
    unsigned seen = 0;
    bool haveRoot = false;
    std::string closingRoot;  // "/" and the first element's name
    bool lastClosesRoot = false;

    while (document.GetNextItem(name, value, isClosing, isAttribute)) {
        anyItem = true;
        if (isAttribute)
            continue;
        if (isClosing) {
            lastClosesRoot = haveRoot && EqualNoCase(name, closingRoot);
            continue;
        }
        lastClosesRoot = false;
        if (!haveRoot) {
            haveRoot = true;
            closingRoot = "/" + name;
        }

        if (EqualNoCase(name, "SubVolume")) {
            record.subVolumes.push_back(value);
            sawSubVolume = true;
            continue;
        }
        for (unsigned i = 0; i < 11; ++i) {
            if (!EqualNoCase(name, kElementNames[i]))
                continue;
            seen |= 1u << i;
            switch (i) {
            case 0: record.excluded = AsField(ParseNumber(value)); break;
            case 1: record.label = value; break;
            case 2: record.numFiles = AsField(ParseNumber(value)); break;
            case 3: record.fileNumOffset = AsField(ParseNumber(value)); break;
            case 4: record.position = AsField(ParseNumber(value)); break;
            case 5: record.startFile = AsField(ParseNumber(value)); break;
            case 6: record.recordFile = AsField(ParseNumber(value)); break;
            case 7: record.volumeGuid = TextToGuid(value); break;
            case 8: record.dbGuid = TextToGuid(value); break;
            case 9: record.activeVolumes = AsField(ParseNumber(value)); break;
            case 10: record.allocatedSpaceKB = AsField(ParseNumber(value)); break;
            default: break;
            }
            break;
        }
    }
    if (isWhole)
        *isWhole = anyItem && lastClosesRoot;
    if (!anyItem)
        return false;
    return sawSubVolume || seen == kAllElements;
}
