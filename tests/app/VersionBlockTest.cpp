#include "MediaprepVersion.h"
#include "app/VersionBlock.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>

namespace {

using Bytes = std::vector<unsigned char>;

// A node of a version resource, laid out below as a resource compiler does.
struct Node {
    std::u16string key;
    Bytes value;
    bool text = true;
    std::vector<Node> children;
};

void Put16(Bytes& out, std::size_t value)
{
    out.push_back(static_cast<unsigned char>(value & 0xFF));
    out.push_back(static_cast<unsigned char>((value >> 8) & 0xFF));
}

void Pad4(Bytes& out)
{
    out.resize((out.size() + 3) & ~static_cast<std::size_t>(3));
}

void Write(Bytes& out, const Node& node)
{
    Pad4(out);
    const std::size_t begin = out.size();
    Put16(out, 0);
    Put16(out, node.text ? node.value.size() / 2 : node.value.size());
    Put16(out, node.text ? 1 : 0);
    for (char16_t c : node.key + u'\0')
        Put16(out, c);
    Pad4(out);
    out.insert(out.end(), node.value.begin(), node.value.end());
    for (const Node& child : node.children)
        Write(out, child);
    const std::size_t length = out.size() - begin;
    out[begin] = static_cast<unsigned char>(length & 0xFF);
    out[begin + 1] = static_cast<unsigned char>(length >> 8);
}

Node Str(std::u16string key, const std::u16string& value)
{
    Node node{std::move(key), {}, true, {}};
    for (char16_t c : value + u'\0')
        Put16(node.value, c);
    return node;
}

// StringFileInfo with one table per language and code page.
Node Strings(std::vector<std::pair<std::u16string, std::vector<Node>>> tables)
{
    Node node{u"StringFileInfo", {}, true, {}};
    for (auto& [name, values] : tables)
        node.children.push_back(Node{name, {}, true, std::move(values)});
    return node;
}

Node Translations(const std::vector<std::pair<WORD, WORD>>& pairs)
{
    Node table{u"Translation", {}, false, {}};
    for (const auto& [language, codePage] : pairs) {
        Put16(table.value, language);
        Put16(table.value, codePage);
    }
    return Node{u"VarFileInfo", {}, true, {table}};
}

Bytes Fixed(WORD major, WORD minor, WORD build, WORD revision)
{
    VS_FIXEDFILEINFO info{};
    info.dwSignature = 0xFEEF04BD;
    info.dwStrucVersion = 0x00010000;
    info.dwFileVersionMS = info.dwProductVersionMS = MAKELONG(minor, major);
    info.dwFileVersionLS = info.dwProductVersionLS = MAKELONG(revision, build);
    Bytes bytes(sizeof info);
    std::memcpy(bytes.data(), &info, sizeof info);
    return bytes;
}

Bytes Block(Bytes fixed, std::vector<Node> children)
{
    Bytes out;
    Write(out, Node{u"VS_VERSION_INFO", std::move(fixed), false, std::move(children)});
    return out;
}

// A typical program's block: fixed version 9.9.9.9 and one US English
// Unicode table with the given ProductVersion.
Bytes Typical(const std::u16string& productVersion)
{
    return Block(Fixed(9, 9, 9, 9), {Strings({{u"040904b0", {Str(u"FileVersion", u"9.9.9.9"),
                                                             Str(u"ProductVersion", productVersion)}}}),
                                     Translations({{0x0409, 1200}})});
}

// Hands `use` a view of the block copied to the very end of a readable page
// with a no-access page behind it: any read past the block faults.
template <class Use>
void Guarded(const Bytes& block, Use use)
{
    SYSTEM_INFO system;
    ::GetSystemInfo(&system);
    const DWORD page = system.dwPageSize;
    auto* base = static_cast<unsigned char*>(::VirtualAlloc(nullptr, 2 * page, MEM_COMMIT, PAGE_READWRITE));
    DWORD old = 0;
    ::VirtualProtect(base + page, page, PAGE_NOACCESS, &old);
    std::memcpy(base + page - block.size(), block.data(), block.size());
    use(VersionBlock(base + page - block.size(), block.size()));
    ::VirtualFree(base, 0, MEM_RELEASE);
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
        {"fixed", Block(Fixed(10, 0, 0, 0), {}), "10"},
        {"fixed", Block(Fixed(3, 0, 10, 0), {}), "3.0.10"},
        {"fixed", Block(Fixed(3, 2, 0, 1), {}), "3.2.0.1"},
        {"fixed", Block(Fixed(0, 0, 0, 0), {}), "0"},
        {"fixed", Block(Fixed(65535, 1, 2, 3), {}), "65535.1.2.3"},
        // A string value wins, ", " and then "," turned into dots.
        {"string", Typical(u"3, 2, 0, 1"), "3.2.0.1"},
        {"string", Typical(u"3,2,0,1"), "3.2.0.1"},
        {"string", Typical(u"3, 2,0, 1"), "3.2.0.1"},
        {"string", Typical(u"1.0.0.0"), "1.0.0.0"},
        {"string", Typical(u"2.5 beta"), "2.5 beta"},
        {"string", Typical(u""), ""},
        {"string", Typical(u"1,,2"), "1..2"},
        // Without a version resource, all zeros.
        {"nothing", {}, "0.0.0.0"},
        {"empty root", Block({}, {}), "0.0.0.0"},
        {"short fixed part, no translation",
         Block(Bytes(20, 1), {Strings({{u"040904b0", {Str(u"ProductVersion", u"5")}}})}), "0.0.0.0"},
        // The first translation whose table has the value, in the order of
        // the translation table; tables it does not name are not looked at.
        {"second translation",
         Block(Fixed(3, 2, 0, 0), {Strings({{u"040704e4", {Str(u"FileVersion", u"8, 0")}},
                                            {u"040904B0", {Str(u"ProductVersion", u"4, 1")}}}),
                                   Translations({{0x0407, 1252}, {0x0409, 1200}})}),
         "4.1"},
        {"translation order",
         Block({}, {Strings({{u"040704e4", {Str(u"ProductVersion", u"7")}},
                             {u"040904b0", {Str(u"ProductVersion", u"9")}}}),
                    Translations({{0x0409, 1200}, {0x0407, 1252}})}),
         "9"},
        {"unnamed table",
         Block(Fixed(3, 2, 0, 0), {Strings({{u"040704e4", {Str(u"ProductVersion", u"7")}}}),
                                   Translations({{0x0409, 1200}, {0x040C, 1252}})}),
         "3.2"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.text, ProductVersionText(c.block)) << c.what;
}

TEST(VersionBlock, AnswersAsThePlatformsOwnReader)
{
    const Bytes block = Block(
        Fixed(3, 2, 7, 1),
        {Strings({{u"040704e4", {Str(u"FileVersion", u"8")}},
                  {u"040904b0", {Str(u"CompanyName", u"Corvane-VG"), Str(u"ProductVersion", u"3, 2, 7, 1")}}}),
         Translations({{0x0407, 1252}, {0x0409, 1200}})});
    const VersionBlock view(block);
    // VerQueryValueA needs room behind the block for the strings it
    // converts, as GetFileVersionInfoA leaves.
    Bytes room(block);
    room.resize(block.size() * 4);
    void* value = nullptr;
    UINT length = 0;
    for (const char* path : {"\\", "\\VarFileInfo\\Translation"}) {
        ASSERT_TRUE(::VerQueryValueA(room.data(), path, &value, &length)) << path;
        ASSERT_EQ(length, view.Query(path)->size) << path;
        EXPECT_EQ(0, std::memcmp(value, view.Query(path)->data, length)) << path;
    }
    EXPECT_EQ(0xFEEF04BDu, view.FixedInfo()->dwSignature);
    EXPECT_EQ((std::vector<std::pair<WORD, WORD>>{{0x0407, 1252}, {0x0409, 1200}}), view.Translations());

    // Keys match whole and without regard to case.
    const struct {
        const char* path;
        const char* text;
    } paths[] = {
        {"\\StringFileInfo\\040904B0\\ProductVersion", "3, 2, 7, 1"},
        {"\\STRINGFILEINFO\\040904b0\\productversion", "3, 2, 7, 1"},
        {"\\StringFileInfo\\040904b0\\CompanyName", "Corvane-VG"},
        {"\\StringFileInfo\\040704E4\\FileVersion", "8"},
        {"\\StringFileInfo\\040904b0\\Product", nullptr},
        {"\\StringFileInfo\\040904b0\\ProductVersionX", nullptr},
        {"\\StringFileInfo\\040904b1\\ProductVersion", nullptr},
        {"\\StringFileInfo\\040704E4\\ProductVersion", nullptr},
    };
    for (const auto& p : paths) {
        const bool found = ::VerQueryValueA(room.data(), p.path, &value, &length);
        EXPECT_EQ(p.text != nullptr, found) << p.path;
        EXPECT_EQ(p.text ? std::optional<std::string>(p.text) : std::nullopt, view.Text(p.path)) << p.path;
        if (found && p.text) {
            EXPECT_EQ(p.text, std::string(static_cast<const char*>(value))) << p.path;
        }
    }
    // Extra backslashes are passed over.
    EXPECT_EQ("Corvane-VG", view.Text("\\\\StringFileInfo\\040904b0\\CompanyName\\").value_or("?"));
}

TEST(VersionBlock, ADamagedBlockIsNeverReadBeyondItsEnd)
{
    const Bytes block = Typical(u"3, 2, 0, 1");
    // Every truncation: the answer is the whole text, a part of it or none.
    for (std::size_t size = 1; size <= block.size(); ++size) {
        Guarded(Bytes(block.begin(), block.begin() + static_cast<long>(size)), [&](const VersionBlock& view) {
            (void)ProductVersionText(view);
            const auto text = view.Text("\\StringFileInfo\\040904b0\\ProductVersion");
            EXPECT_EQ(0u, std::string("3, 2, 0, 1").rfind(text.value_or(""), 0)) << size;
        });
    }
    // Every single byte replaced by 0x00 and by 0xFF, lengths included.
    for (std::size_t at = 0; at < block.size(); ++at) {
        for (unsigned char bad : {0x00, 0xFF}) {
            Bytes damaged = block;
            damaged[at] = bad;
            Guarded(damaged, [](const VersionBlock& view) { (void)ProductVersionText(view); });
        }
    }
}

TEST(VersionBlock, TheProgramFileCarriesTheProjectVersion)
{
    char self[MAX_PATH];
    std::string path(self, ::GetModuleFileNameA(nullptr, self, MAX_PATH));
    path = path.substr(0, path.find_last_of('\\') + 1) + MEDIAPREP_EXE_FROM_TESTS;

    const Bytes block = ReadFileVersionBlock(path);
    ASSERT_FALSE(block.empty()) << path << " error " << ::GetLastError();
    EXPECT_EQ(MEDIAPREP_VERSION_TEXT, ProductVersionText(block));
    const auto fixed = VersionBlock(block).FixedInfo();
    ASSERT_TRUE(fixed);
    EXPECT_EQ(MAKELONG(MEDIAPREP_VERSION_MINOR, MEDIAPREP_VERSION_MAJOR), fixed->dwProductVersionMS);
    EXPECT_EQ(MAKELONG(MEDIAPREP_VERSION_TWEAK, MEDIAPREP_VERSION_PATCH), fixed->dwProductVersionLS);
    EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
    EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);
    EXPECT_TRUE(ReadFileVersionBlock(path + ".missing").empty());
}
