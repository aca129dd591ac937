#include "MediaprepVersion.h"
#include "app/VersionBlock.h"
#include "tests/app/VersionBlockBuilder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace versiontest;

namespace {

std::vector<unsigned char> FixedOnly(WORD a, WORD b, WORD c, WORD d)
{
    return Serialize(Root(FixedValue(a, b, c, d), {}));
}

// A typical program's block: fixed version 9.9.9.9, one US English Unicode
// table with the given ProductVersion.
std::vector<unsigned char> WithProductVersion(const std::u16string& value)
{
    return Serialize(Root(FixedValue(9, 9, 9, 9),
                          {StringFileInfo({StringTable(u"040904b0", {Text(u"FileVersion", u"9.9.9.9"),
                                                                     Text(u"ProductVersion", value)})}),
                           VarFileInfo({{0x0409, 1200}})}));
}

// The block at the very end of a readable page, a no-access page behind it:
// any read past the block faults.
class GuardedCopy {
public:
    explicit GuardedCopy(const std::vector<unsigned char>& block)
    {
        SYSTEM_INFO system;
        ::GetSystemInfo(&system);
        m_page = system.dwPageSize;
        m_base = static_cast<unsigned char*>(
            ::VirtualAlloc(nullptr, 2 * m_page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        DWORD old = 0;
        ::VirtualProtect(m_base + m_page, m_page, PAGE_NOACCESS, &old);
        m_data = m_base + m_page - block.size();
        std::memcpy(m_data, block.data(), block.size());
        m_size = block.size();
    }
    ~GuardedCopy() { ::VirtualFree(m_base, 0, MEM_RELEASE); }
    GuardedCopy(const GuardedCopy&) = delete;
    GuardedCopy& operator=(const GuardedCopy&) = delete;
    VersionBlock View() const { return VersionBlock(m_data, m_size); }

private:
    DWORD m_page = 0;
    unsigned char* m_base = nullptr;
    unsigned char* m_data = nullptr;
    std::size_t m_size = 0;
};

}  // namespace

TEST(ProductVersionText, TheFixedVersionLosesItsTrailingZeroParts)
{
    EXPECT_EQ("3.2", ProductVersionText(FixedOnly(3, 2, 0, 0)));
    EXPECT_EQ("1", ProductVersionText(FixedOnly(1, 0, 0, 0)));
    EXPECT_EQ("10", ProductVersionText(FixedOnly(10, 0, 0, 0)));
    EXPECT_EQ("1.10", ProductVersionText(FixedOnly(1, 10, 0, 0)));
    EXPECT_EQ("3.0.10", ProductVersionText(FixedOnly(3, 0, 10, 0)));
    EXPECT_EQ("3.2.0.1", ProductVersionText(FixedOnly(3, 2, 0, 1)));
    EXPECT_EQ("0", ProductVersionText(FixedOnly(0, 0, 0, 0)));
    EXPECT_EQ("65535.1.2.3", ProductVersionText(FixedOnly(65535, 1, 2, 3)));
}

TEST(ProductVersionText, AStringValueWinsWithItsCommasTurnedIntoDots)
{
    EXPECT_EQ("3.2.0.1", ProductVersionText(WithProductVersion(u"3, 2, 0, 1")));
    EXPECT_EQ("3.2.0.1", ProductVersionText(WithProductVersion(u"3,2,0,1")));
    EXPECT_EQ("3.2.0.1", ProductVersionText(WithProductVersion(u"3, 2,0, 1")));
    // The trailing-zero rule is for the fixed version only.
    EXPECT_EQ("1.0.0.0", ProductVersionText(WithProductVersion(u"1.0.0.0")));
    EXPECT_EQ("2.5 beta", ProductVersionText(WithProductVersion(u"2.5 beta")));
    EXPECT_EQ("", ProductVersionText(WithProductVersion(u"")));
    // Only ", " and "," change: ",," has no ", " in it.
    EXPECT_EQ("1..2", ProductVersionText(WithProductVersion(u"1,,2")));
}

TEST(ProductVersionText, WithoutAVersionResourceTheTextIsAllZeros)
{
    EXPECT_EQ("0.0.0.0", ProductVersionText({}));
    // A root with neither a fixed part nor strings.
    EXPECT_EQ("0.0.0.0", ProductVersionText(Serialize(Root({}, {}))));
    // A fixed part too short to be one, a string table without a translation.
    EXPECT_EQ("0.0.0.0", ProductVersionText(Serialize(Root(
                             std::vector<unsigned char>(20, 1),
                             {StringFileInfo({StringTable(u"040904b0", {Text(u"ProductVersion", u"5")})})}))));
}

TEST(ProductVersionText, TheFirstTranslationWhoseTableHasTheValueIsTaken)
{
    const std::vector<Node> tables = {
        StringTable(u"040704e4", {Text(u"FileVersion", u"8, 0")}),
        StringTable(u"040904B0", {Text(u"ProductVersion", u"4, 1")}),
    };
    EXPECT_EQ("4.1", ProductVersionText(Serialize(
                         Root(FixedValue(3, 2, 0, 0), {StringFileInfo(tables), VarFileInfo({{0x0407, 1252}, {0x0409, 1200}})}))));

    // Both tables have one: the order of the translation table decides, not
    // the order of the string tables.
    const std::vector<Node> both = {
        StringTable(u"040704e4", {Text(u"ProductVersion", u"7")}),
        StringTable(u"040904b0", {Text(u"ProductVersion", u"9")}),
    };
    EXPECT_EQ("9", ProductVersionText(Serialize(
                       Root({}, {StringFileInfo(both), VarFileInfo({{0x0409, 1200}, {0x0407, 1252}})}))));

    // A table that the translation table does not name is not looked at; a
    // named translation without a table is passed over.
    EXPECT_EQ("3.2", ProductVersionText(Serialize(Root(
                         FixedValue(3, 2, 0, 0),
                         {StringFileInfo({StringTable(u"040704e4", {Text(u"ProductVersion", u"7")})}),
                          VarFileInfo({{0x0409, 1200}, {0x040C, 1252}})}))));
}

TEST(VersionBlock, KeysMatchWithoutRegardToCaseAndWholeOnly)
{
    const auto block = WithProductVersion(u"6, 1");
    const VersionBlock view(block);
    EXPECT_EQ("6, 1", view.Text("\\STRINGFILEINFO\\040904B0\\productversion").value_or("?"));
    EXPECT_EQ("6, 1", view.Text("\\\\StringFileInfo\\040904b0\\ProductVersion\\").value_or("?"));
    EXPECT_FALSE(view.Text("\\StringFileInfo\\040904b0\\Product"));
    EXPECT_FALSE(view.Text("\\StringFileInfo\\040904b0\\ProductVersionX"));
    EXPECT_FALSE(view.Text("\\StringFileInfo\\040904b1\\ProductVersion"));
    ASSERT_TRUE(view.FixedInfo());
    EXPECT_EQ(0xFEEF04BDu, view.FixedInfo()->dwSignature);
    EXPECT_EQ((std::vector<std::pair<WORD, WORD>>{{0x0409, 1200}}), view.Translations());
}

TEST(VersionBlock, AgreesWithThePlatformsOwnReader)
{
    // What VerQueryValueA makes of the same bytes (it needs room behind the
    // block for its converted strings, as GetFileVersionInfoA leaves).
    const auto block = Serialize(Root(
        FixedValue(3, 2, 7, 1),
        {StringFileInfo({StringTable(u"040704e4", {Text(u"FileVersion", u"8")}),
                         StringTable(u"040904b0", {Text(u"CompanyName", u"Corvane-VG"), Text(u"ProductVersion", u"3, 2, 7, 1")})}),
         VarFileInfo({{0x0407, 1252}, {0x0409, 1200}})}));
    std::vector<unsigned char> room(block);
    room.resize(block.size() * 4);
    const VersionBlock view(block);

    void* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueA(room.data(), "\\", &value, &length));
    ASSERT_EQ(sizeof(VS_FIXEDFILEINFO), length);
    EXPECT_EQ(0, std::memcmp(value, view.Query("\\")->data, length));

    ASSERT_TRUE(::VerQueryValueA(room.data(), "\\VarFileInfo\\Translation", &value, &length));
    EXPECT_EQ(view.Query("\\VarFileInfo\\Translation")->size, length);
    EXPECT_EQ(0, std::memcmp(value, view.Query("\\VarFileInfo\\Translation")->data, length));

    for (const char* path : {"\\StringFileInfo\\040904B0\\ProductVersion", "\\StringFileInfo\\040904b0\\CompanyName",
                             "\\StringFileInfo\\040704E4\\FileVersion"}) {
        ASSERT_TRUE(::VerQueryValueA(room.data(), path, &value, &length)) << path;
        EXPECT_EQ(std::string(static_cast<const char*>(value)), view.Text(path).value_or("?")) << path;
    }
    EXPECT_FALSE(::VerQueryValueA(room.data(), "\\StringFileInfo\\040704E4\\ProductVersion", &value, &length));
    EXPECT_FALSE(view.Text("\\StringFileInfo\\040704E4\\ProductVersion"));
}

TEST(VersionBlock, ADamagedBlockIsNeverReadBeyondItsEnd)
{
    const auto block = WithProductVersion(u"3, 2, 0, 1");
    // Every truncation: the answer is the whole one or a fallback, and no
    // read reaches the no-access page behind the bytes.
    for (std::size_t size = 1; size <= block.size(); ++size) {
        const GuardedCopy copy(std::vector<unsigned char>(block.begin(), block.begin() + static_cast<long>(size)));
        const VersionBlock view = copy.View();
        (void)ProductVersionText(view);
        const auto text = view.Text("\\StringFileInfo\\040904b0\\ProductVersion");
        if (text) {
            EXPECT_TRUE(text->empty() || std::string("3, 2, 0, 1").rfind(*text, 0) == 0) << size;
        }
    }
    // Every single byte replaced by 0x00 and by 0xFF, lengths included.
    for (std::size_t at = 0; at < block.size(); ++at) {
        for (unsigned char bad : {0x00, 0xFF}) {
            auto damaged = block;
            damaged[at] = bad;
            const GuardedCopy copy(damaged);
            const VersionBlock view = copy.View();
            (void)ProductVersionText(view);
        }
    }
}

TEST(ProductVersionText, TheProgramFileShowsTheProjectVersion)
{
    char self[MAX_PATH];
    const DWORD length = ::GetModuleFileNameA(nullptr, self, MAX_PATH);
    ASSERT_GT(length, 0u);
    std::string path(self, length);
    path = path.substr(0, path.find_last_of('\\') + 1) + MEDIAPREP_EXE_FROM_TESTS;

    const auto block = ReadFileVersionBlock(path);
    ASSERT_FALSE(block.empty()) << path << " error " << ::GetLastError();
    EXPECT_EQ(MEDIAPREP_VERSION_TEXT, ProductVersionText(block));
    // The fixed part carries the same four numbers.
    const auto fixed = VersionBlock(block).FixedInfo();
    ASSERT_TRUE(fixed);
    EXPECT_EQ(MAKELONG(MEDIAPREP_VERSION_MINOR, MEDIAPREP_VERSION_MAJOR), fixed->dwProductVersionMS);
    EXPECT_EQ(MAKELONG(MEDIAPREP_VERSION_TWEAK, MEDIAPREP_VERSION_PATCH), fixed->dwProductVersionLS);
    EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
    EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);

    EXPECT_TRUE(ReadFileVersionBlock(path + ".missing").empty());
}
