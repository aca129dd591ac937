// Drives the pure text code of volumes/ with random, mutated and pathological
// documents under the sanitizers; exit code 0 when every invariant held.
#include "volumes/VolumeInfoText.h"
#include "volumes/XmlDocument.h"

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

std::mt19937_64 g_engine{20261206};  // the standard fixes its sequence: the same inputs everywhere
std::size_t Below(std::size_t bound) { return bound == 0 ? 0 : static_cast<std::size_t>(g_engine() % bound); }

const std::vector<std::string> kTokens = {
    "<", ">", "</", "/>", "=", "\"", " ", "\t", "\r\n", "\r", std::string(1, '\0'), "VolumeInformation",
    "SubVolume", "Label", "NUMFILES", "VolumeGUID", "RecordFile", "AllocatedSpaceKB", "X", "0", "-1", "0x20",
    "4294967296", "{6B1F03A2-94C0-4E51-8A7D-0C22E5D9B310}", "{6b1f", "a=\"1\"", " b = \"two words\" ", "c=\"",
    "d\"e\"", "\xFF\xFE", "<X a=\"1\" />", "<X/>", "< >", "<>", "</>"};

std::string Mutate(std::string text)
{
    for (std::size_t edits = 1 + Below(6); edits > 0; --edits) {
        const std::size_t at = Below(text.size() + 1);
        switch (Below(4)) {
        case 0: if (at < text.size()) text[at] = static_cast<char>(g_engine()); break;
        case 1: text.erase(at, Below(40)); break;
        case 2: text.insert(at, kTokens[Below(kTokens.size())]); break;
        default: text.resize(at); break;
        }
    }
    return text;
}

// Printable text without '<' (which the dialect cannot carry) and without
// blanks at either end (which the reader trims).
std::string RandomText(std::size_t maxLength)
{
    std::string text;
    for (std::size_t i = Below(maxLength + 1); i > 0; --i)
        text += "abcXYZ019 _-\\:.\">&'=/"[Below(21)];
    const std::size_t first = text.find_first_not_of(' ');
    return first == std::string::npos ? "" : text.substr(first, text.find_last_not_of(' ') - first + 1);
}

VolumeRecord RandomRecord()
{
    VolumeRecord r;
    if (Below(4) == 0) {
        for (std::size_t i = 1 + Below(4); i > 0; --i)
            r.subVolumes.push_back(RandomText(30));
        return r;
    }
    r.label = RandomText(24);
    for (std::int32_t* field : {&r.excluded, &r.numFiles, &r.fileNumOffset, &r.position, &r.allocatedSpaceKB,
                                &r.startFile, &r.recordFile, &r.activeVolumes}) {
        const std::size_t kind = Below(4);
        *field = kind == 0 ? -1 : static_cast<std::int32_t>(kind == 1 ? Below(100) : g_engine());
    }
    for (GUID* guid : {&r.volumeGuid, &r.dbGuid})
        for (std::size_t i = 0; i < sizeof(GUID); ++i)
            reinterpret_cast<unsigned char*>(guid)[i] = static_cast<unsigned char>(g_engine());
    return r;
}

// Walks the document; "" when every invariant held, else what broke.
std::string CheckReader(const std::string& text)
{
    XmlDocument document;
    document.SetText(text);
    document.Reset();
    std::string name, value;
    bool isClosing = false, isAttribute = false;
    for (std::size_t items = 1; document.GetNextItem(name, value, isClosing, isAttribute); ++items) {
        if (items > 2 * text.size() + 2)  // every item uses up at least one character
            return "the reader does not come to an end";
        if (isClosing && (isAttribute || name.empty() || name[0] != '/' || !value.empty()))
            return "a bad closing item: " + name;
        if (isAttribute && name.empty())
            return "an attribute without a name";
    }
    return "";
}

// Written and read back: the same record, whole; no cut of the text before
// its last line end reads as whole.
std::string CheckRoundTrip(const std::string& text, const VolumeRecord& record, bool checkCuts)
{
    XmlDocument reader;
    reader.SetText(text);
    VolumeRecord back;
    bool whole = false;
    if (!ReadVolumeInfoDocument(reader, back, &whole) || !whole || !(back == record))
        return "a written description does not read back whole and equal";
    for (std::size_t cut = 0; checkCuts && cut + 2 < text.size(); ++cut) {
        reader.SetText(text.substr(0, cut));
        ReadVolumeInfoDocument(reader, back, &whole);
        if (whole)
            return "a description cut after " + std::to_string(cut) + " bytes reads as whole";
    }
    return "";
}

// The C library's scan is the reference for reading a GUID.
std::string CheckGuidText(const std::string& text)
{
    GUID expected{};
    std::uint8_t* d = expected.Data4;
    std::sscanf(text.c_str(), "{%8X-%4hX-%4hX-%2hhX%2hhX-%2hhX%2hhX%2hhX%2hhX%2hhX%2hhX}", &expected.Data1,
                &expected.Data2, &expected.Data3, d, d + 1, d + 2, d + 3, d + 4, d + 5, d + 6, d + 7);
    return SameGuid(expected, TextToGuid(text)) ? "" : "reads as " + GuidToText(TextToGuid(text));
}

int g_failures = 0;

void Report(const std::string& problem, const std::string& input)
{
    if (!problem.empty() && ++g_failures <= 5)
        std::printf("FAILED: %s\n  input (%zu bytes): %.200s\n", problem.c_str(), input.size(), input.c_str());
}

}  // namespace

int main(int argc, char** argv)
{
    const long documents = argc > 1 ? std::atol(argv[1]) : 20000;
    // Inputs that once made readers of this kind slow or unsafe: many
    // attributes in one tag, an endless tag or quote, nothing but brackets.
    std::string attributes = "<X", quotes = "<X ";
    for (int i = 0; i < 25000; ++i) {
        attributes += " a=\"1\"";
        quotes += "a\"b\"a\"b\"";
    }
    for (const std::string& input : {attributes + ">", quotes + " =>", "<X" + std::string(200000, 'a'),
                                     "<X a=\"" + std::string(200000, 'b'), std::string(200000, '<'),
                                     std::string(200000, '"'), std::string(200000, '\0')})
        Report(CheckReader(input), input);

    for (long i = 0; i < documents; ++i) {
        const VolumeRecord record = RandomRecord();
        XmlDocument written;
        WriteVolumeInfoDocument(written, record);
        Report(CheckRoundTrip(written.GetText(), record, i % 50 == 0), written.GetText());
        const std::string mutated = Mutate(written.GetText());
        Report(CheckReader(mutated), mutated);
        (void)ParseNumber(mutated.substr(Below(mutated.size() + 1), Below(48)));
        const std::string guid = GuidToText(record.volumeGuid);
        const std::string edited =
            guid.substr(0, Below(guid.size() + 1)) + "0-{ }1aF"[Below(8)] + guid.substr(Below(guid.size() + 1));
        Report(CheckGuidText(edited), edited);
    }
    std::printf("volumes native fuzz: %ld records, %d failures\n", documents, g_failures);
    return g_failures == 0 ? 0 : 1;
}
