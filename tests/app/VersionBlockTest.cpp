#include "MediaprepVersion.h"
#include "app/VersionBlock.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

using Bytes = std::vector<unsigned char>;

void Put16(Bytes& out, std::initializer_list<std::size_t> words)
{
    for (std::size_t word : words) {
        out.push_back(static_cast<unsigned char>(word & 0xFF));
        out.push_back(static_cast<unsigned char>((word >> 8) & 0xFF));
    }
}

// A node as a resource compiler lays it out: length, value length (characters for a text), type, the key,
// then the value and each child at a 4-byte boundary.
Bytes Node(const std::u16string& key, const Bytes& value, bool text, const std::vector<Bytes>& children = {})
{
    Bytes out;
    Put16(out, {0, text ? value.size() / 2 : value.size(), text ? 1u : 0u});
    for (char16_t c : key + u'\0')
        Put16(out, {c});
    std::vector<Bytes> parts{value};
    parts.insert(parts.end(), children.begin(), children.end());
    for (const Bytes& part : parts) {
        out.resize((out.size() + 3) & ~static_cast<std::size_t>(3));
        out.insert(out.end(), part.begin(), part.end());
    }
    out[0] = static_cast<unsigned char>(out.size() & 0xFF);
    out[1] = static_cast<unsigned char>(out.size() >> 8);
    return out;
}

Bytes Str(const std::u16string& key, const std::u16string& value)
{
    Bytes text;
    for (char16_t c : value + u'\0')
        Put16(text, {c});
    return Node(key, text, true);
}

Bytes Table(const std::u16string& name, const std::vector<Bytes>& values) { return Node(name, {}, true, values); }
Bytes Strings(const std::vector<Bytes>& tables) { return Node(u"StringFileInfo", {}, true, tables); }

Bytes Translations(const std::vector<std::pair<WORD, WORD>>& pairs)
{
    Bytes value;
    for (const auto& [language, codePage] : pairs)
        Put16(value, {language, codePage});
    return Node(u"VarFileInfo", {}, true, {Node(u"Translation", value, false)});
}

// VS_FIXEDFILEINFO with the same file and product version.
Bytes Fixed(WORD major, WORD minor, WORD build, WORD revision)
{
    Bytes out;
    Put16(out, {0x04BD, 0xFEEF, 0, 1, minor, major, revision, build, minor, major, revision, build});
    out.resize(sizeof(VS_FIXEDFILEINFO));
    return out;
}

Bytes Block(const Bytes& fixed, const std::vector<Bytes>& c) { return Node(u"VS_VERSION_INFO", fixed, false, c); }

// Fixed version 9.9.9.9 and one US English Unicode table with the given ProductVersion.
Bytes Typical(const std::u16string& productVersion)
{
    const Bytes table = Table(u"040904b0", {Str(u"FileVersion", u"9.9.9.9"), Str(u"ProductVersion", productVersion)});
    return Block(Fixed(9, 9, 9, 9), {Strings({table}), Translations({{0x0409, 1200}})});
}

// The block's US English ProductVersion (and ProductVersionText), read from the end of a readable page with
// a no-access page behind it: any read past the block faults.
std::string Guarded(const Bytes& block)
{
    const DWORD page = 4096;
    auto* base = static_cast<unsigned char*>(::VirtualAlloc(nullptr, 2 * page, MEM_COMMIT, PAGE_READWRITE));
    DWORD old = 0;
    ::VirtualProtect(base + page, page, PAGE_NOACCESS, &old);
    std::memcpy(base + page - block.size(), block.data(), block.size());
    const VersionBlock view(base + page - block.size(), block.size());
    (void)ProductVersionText(view);
    const std::string text = view.Text("\\StringFileInfo\\040904b0\\ProductVersion").value_or("");
    ::VirtualFree(base, 0, MEM_RELEASE);
    return text;
}

}  // namespace

TEST(VersionBlock, TheProductVersionText)
{
    const struct {
        const char* what;
        Bytes block;
        const char* text;
    } cases[] = {
        // The fixed version loses its trailing zero parts, and only those.
        {"fixed", Block(Fixed(3, 2, 0, 0), {}), "3.2"},
        {"fixed", Block(Fixed(65535, 0, 10, 0), {}), "65535.0.10"},
        {"fixed", Block(Fixed(0, 0, 0, 0), {}), "0"},
        // A string value wins, ", " and then "," turned into dots; keys match in any case.
        {"string", Typical(u"3, 2,0, 1"), "3.2.0.1"},
        {"string", Typical(u"1,,2"), "1..2"},
        {"string", Typical(u""), ""},
        // Without a version resource, all zeros.
        {"no file", ReadFileVersionBlock("C:\\missing\\Mediaprep.exe"), "0.0.0.0"},
        // The first translation, in the table's order, whose strings have the value; no others are looked at.
        {"second translation",
         Block(Fixed(3, 2, 0, 0), {Strings({Table(u"040704e4", {Str(u"FileVersion", u"8, 0")}),
                                            Table(u"040904B0", {Str(u"ProductVersion", u"4, 1")})}),
                                   Translations({{0x0407, 1252}, {0x0409, 1200}})}),
         "4.1"},
        {"translation order, tables it does not name",
         Block({}, {Strings({Table(u"040704e4", {Str(u"ProductVersion", u"7")}),
                             Table(u"040904b0", {Str(u"ProductVersion", u"9")})}),
                    Translations({{0x040C, 1252}, {0x0409, 1200}, {0x0407, 1252}})}),
         "9"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.text, ProductVersionText(c.block)) << c.what;
}

TEST(VersionBlock, ADamagedBlockIsNeverReadBeyondItsEnd)
{
    const Bytes block = Typical(u"3, 2, 0, 1");
    for (std::size_t at = 0; at < block.size(); ++at) {
        // Cut after this byte: the whole text, a part of it or none.
        const std::string text = Guarded(Bytes(block.begin(), block.begin() + static_cast<long>(at + 1)));
        EXPECT_EQ(0u, std::string("3, 2, 0, 1").rfind(text, 0)) << at;
        // This byte replaced by 0x00 and by 0xFF, lengths included.
        for (unsigned char bad : {0x00, 0xFF}) {
            Bytes damaged = block;
            damaged[at] = bad;
            (void)Guarded(damaged);
        }
    }
}

// The built program carries the project's version, as text and as numbers.
TEST(VersionBlock, TheProgramCarriesTheProjectVersion)
{
    const Bytes block = ReadFileVersionBlock("B:\\Mediaprep.exe");  // B: is the build directory in the sandbox
    const auto fixed = VersionBlock(block).FixedInfo();
    ASSERT_TRUE(fixed);
    EXPECT_EQ(MEDIAPREP_VERSION_TEXT, ProductVersionText(block));
    EXPECT_EQ(MAKELONG(MEDIAPREP_VERSION_MINOR, MEDIAPREP_VERSION_MAJOR), fixed->dwProductVersionMS);
    EXPECT_EQ(MAKELONG(MEDIAPREP_VERSION_TWEAK, MEDIAPREP_VERSION_PATCH), fixed->dwProductVersionLS);
}
