// Generated and mutated description documents, and the invariants the
// reader keeps on any input. Shared by the Windows test and the native
// sanitizer build, so it uses nothing but the standard library and the
// pure text code of volumes/.
#pragma once

#include "volumes/VolumeInfoText.h"
#include "volumes/XmlDocument.h"

#include <cstdint>
#include <string>
#include <vector>

namespace fuzzdocs {

// xorshift64*: the same sequence on every platform and compiler.
class Random {
public:
    explicit Random(std::uint64_t seed) : m_state(seed ? seed : 0x9E3779B97F4A7C15ull) {}
    std::uint64_t Next()
    {
        m_state ^= m_state >> 12;
        m_state ^= m_state << 25;
        m_state ^= m_state >> 27;
        return m_state * 0x2545F4914F6CDD1Dull;
    }
    std::size_t Below(std::size_t bound) { return bound == 0 ? 0 : static_cast<std::size_t>(Next() % bound); }
    bool OneIn(std::size_t n) { return Below(n) == 0; }
    template <typename T>
    const T& Pick(const std::vector<T>& items) { return items[Below(items.size())]; }

private:
    std::uint64_t m_state;
};

inline const std::vector<std::string>& Tokens()
{
    static const std::vector<std::string> tokens = {
        "<", ">", "</", "/>", "/", "=", "\"", " ", "  ", "\t", "\r\n", "\n", "\r", std::string(1, '\0'),
        "VolumeInformation", "SubVolumes", "SubVolume", "Excluded", "Label", "NUMFILES", "fileNumOffset",
        "Position", "VolumeGUID", "StartFile", "RecordFile", "DBGUID", "ActiveVolumes", "AllocatedSpaceKB",
        "X", "a", "b", "0", "-1", "0x20", "010", "4294967296", "{6B1F03A2-94C0-4E51-8A7D-0C22E5D9B310}",
        "{6b1f", "a=\"1\"", " b = \"two words\" ", "c=\"", "=\"\"", "d\"e\"", "\xFF\xFE", "\x80", "&amp;",
        "<Label>  Cam A  </Label>", "<X a=\"1\" />", "<X/>", "< >", "<>", "</>", "<<", ">>",
    };
    return tokens;
}

inline std::string RandomDocument(Random& random)
{
    std::string text;
    const std::size_t count = 1 + random.Below(random.OneIn(8) ? 400 : 40);
    for (std::size_t i = 0; i < count; ++i) {
        if (random.OneIn(6))
            text += static_cast<char>(random.Below(256));
        else
            text += random.Pick(Tokens());
    }
    return text;
}

inline std::string Mutate(std::string text, Random& random)
{
    const std::size_t edits = 1 + random.Below(6);
    for (std::size_t i = 0; i < edits; ++i) {
        const std::size_t at = random.Below(text.size() + 1);
        switch (random.Below(6)) {
        case 0:  // flip a byte
            if (at < text.size())
                text[at] = static_cast<char>(random.Below(256));
            break;
        case 1:  // cut a range out
            text.erase(at, random.Below(40));
            break;
        case 2:  // insert a token
            text.insert(at, random.Pick(Tokens()));
            break;
        case 3: {  // repeat a slice
            const std::string slice = text.substr(at, random.Below(60));
            text.insert(at, slice);
            break;
        }
        case 4:  // cut the end off
            text.resize(at);
            break;
        default:  // a quote or bracket somewhere
            text.insert(at, 1, "<>\"=/"[random.Below(5)]);
            break;
        }
    }
    return text;
}

inline std::string RandomText(Random& random, std::size_t maxLength)
{
    // Printable text without '<' (which the dialect cannot carry) and
    // without blanks at either end (which the reader trims).
    static const char alphabet[] = "abcXYZ019 _-\\:.\">&'=/";
    std::string text;
    const std::size_t length = random.Below(maxLength + 1);
    for (std::size_t i = 0; i < length; ++i)
        text += alphabet[random.Below(sizeof alphabet - 1)];
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    while (!text.empty() && text.front() == ' ')
        text.erase(0, 1);
    return text;
}

inline std::int32_t RandomNumber(Random& random)
{
    switch (random.Below(4)) {
    case 0: return -1;
    case 1: return static_cast<std::int32_t>(random.Below(100));
    default: return static_cast<std::int32_t>(static_cast<std::uint32_t>(random.Next()));
    }
}

inline GUID RandomGuid(Random& random)
{
    GUID guid{};
    guid.Data1 = static_cast<std::uint32_t>(random.Next());
    guid.Data2 = static_cast<std::uint16_t>(random.Next());
    guid.Data3 = static_cast<std::uint16_t>(random.Next());
    for (auto& byte : guid.Data4)
        byte = static_cast<std::uint8_t>(random.Next());
    return guid;
}

inline VolumeRecord RandomRecord(Random& random)
{
    VolumeRecord record;
    if (random.OneIn(4)) {
        const std::size_t entries = 1 + random.Below(4);
        for (std::size_t i = 0; i < entries; ++i)
            record.subVolumes.push_back(RandomText(random, 30));
        return record;
    }
    record.excluded = RandomNumber(random);
    record.label = RandomText(random, 24);
    record.numFiles = RandomNumber(random);
    record.fileNumOffset = RandomNumber(random);
    record.position = RandomNumber(random);
    record.allocatedSpaceKB = RandomNumber(random);
    record.volumeGuid = RandomGuid(random);
    record.startFile = RandomNumber(random);
    record.recordFile = RandomNumber(random);
    record.dbGuid = RandomGuid(random);
    record.activeVolumes = RandomNumber(random);
    return record;
}

inline bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

inline bool Trimmed(const std::string& s)
{
    return s.empty() || (!IsBlank(s.front()) && !IsBlank(s.back()));
}

// Walks the document twice; "" when every invariant held, else what broke.
inline std::string CheckReader(const std::string& text)
{
    XmlDocument document;
    document.SetText(text);
    std::string first;
    for (int pass = 0; pass < 2; ++pass) {
        document.Reset();
        std::string trace;
        std::string name, value;
        bool isClosing = false, isAttribute = false;
        std::size_t items = 0;
        // Every item uses up at least one character of the text.
        const std::size_t limit = 2 * text.size() + 2;
        while (document.GetNextItem(name, value, isClosing, isAttribute)) {
            if (++items > limit)
                return "the reader does not come to an end";
            if (isClosing && isAttribute)
                return "an item is both closing and an attribute";
            if (isClosing && (name.empty() || name[0] != '/' || !value.empty()))
                return "a closing item without its slash, or with a value: " + name;
            if (isAttribute && name.empty())
                return "an attribute without a name";
            if (!Trimmed(value) || (!isClosing && !Trimmed(name)))
                return "an untrimmed name or value: [" + name + "] [" + value + "]";
            if (name.size() > text.size() + 1 || value.size() > text.size())
                return "an item longer than the text";
            trace += (isClosing ? "C" : isAttribute ? "A" : "E") + name + "\x01" + value + "\x02";
        }
        if (pass == 0)
            first = trace;
        else if (trace != first)
            return "a second walk after Reset reads differently";
    }
    VolumeRecord record;
    bool whole = false;
    const bool complete = ReadVolumeInfoDocument(document, record, &whole);
    if (complete && record.subVolumes.empty() && text.find('<') == std::string::npos)
        return "a description read from a text without a single tag";
    return std::string();
}

// Written and read back: the same record, whole; no shorter cut of the
// text before its last line end reads as whole.
inline std::string CheckRoundTrip(const VolumeRecord& record, bool checkCuts)
{
    XmlDocument written;
    WriteVolumeInfoDocument(written, record);
    const std::string text = written.GetText();
    XmlDocument reader;
    reader.SetText(text);
    VolumeRecord back;
    bool whole = false;
    if (!ReadVolumeInfoDocument(reader, back, &whole))
        return "a written description does not read back";
    if (!whole)
        return "a written description does not read as whole";
    if (!(back == record))
        return "a written description reads back different:\n" + text;
    if (!checkCuts)
        return std::string();
    for (std::size_t cut = 0; cut + 2 < text.size(); ++cut) {
        reader.SetText(text.substr(0, cut));
        VolumeRecord partial;
        bool partialWhole = true;
        ReadVolumeInfoDocument(reader, partial, &partialWhole);
        if (partialWhole)
            return "a description cut after " + std::to_string(cut) + " bytes reads as whole";
    }
    return std::string();
}

}  // namespace fuzzdocs
