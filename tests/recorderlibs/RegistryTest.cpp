// CRegistry against the real registry of the sandbox prefix.
#include "recorderlibs/CRegistry.h"
#include "tests/support/TestRegistry.h"

#include <gtest/gtest.h>

namespace {
const char* const kKey = "Software\\Corvane-VG\\Kestrix\\RegistryTest";
}

TEST(CRegistry, MissingKeyAnswersEveryQueryWithAnError)
{
    testreg::ScopedKey key(kKey);
    CRegistry registry(HKEY_LOCAL_MACHINE, kKey);
    char buffer[16];
    DWORD type = 0, size = sizeof buffer;
    EXPECT_NE(0, registry.VkRegQueryValue("Anything", &type, buffer, &size));
    std::string text = "unchanged";
    EXPECT_NE(0, registry.VkRegQueryString("Anything", text));
    EXPECT_EQ("unchanged", text);
}

TEST(CRegistry, SetCreatesTheMissingKeyAndValuesReadBack)
{
    testreg::ScopedKey key(kKey);
    {
        CRegistry registry(HKEY_LOCAL_MACHINE, kKey);
        const DWORD one = 1;
        EXPECT_EQ(0, registry.VkRegSetValue("MultipleDir", REG_DWORD, &one, sizeof one));
        EXPECT_EQ(0, registry.VkRegSetString("GUID", "{00000000-0000-0000-0000-000000000001}"));
        std::string text;
        EXPECT_EQ(0, registry.VkRegQueryString("GUID", text));
        EXPECT_EQ("{00000000-0000-0000-0000-000000000001}", text);
    }
    DWORD value = 0;
    ASSERT_TRUE(testreg::GetDword(kKey, "MultipleDir", value));
    EXPECT_EQ(1u, value);
}

TEST(CRegistry, BufferTooSmallFails)
{
    testreg::ScopedKey key(kKey);
    ASSERT_EQ(0, testreg::SetString(kKey, "Path", std::string(300, 'x')));
    CRegistry registry(HKEY_LOCAL_MACHINE, kKey);
    char buffer[256];
    DWORD type = 0, size = sizeof buffer;
    EXPECT_NE(0, registry.VkRegQueryValue("Path", &type, buffer, &size));
    std::string text;
    EXPECT_EQ(0, registry.VkRegQueryString("Path", text));  // sizes itself
    EXPECT_EQ(std::string(300, 'x'), text);
}

TEST(CRegistry, QueryStringStopsAtTheFirstZeroAndRefusesNumbers)
{
    testreg::ScopedKey key(kKey);
    const char unterminated[] = {'a', 'b', 'c'};
    ASSERT_EQ(0, testreg::SetRaw(kKey, "Raw", REG_SZ, unterminated, sizeof unterminated));
    const char twoStrings[] = "one\0two";
    ASSERT_EQ(0, testreg::SetRaw(kKey, "Two", REG_SZ, twoStrings, sizeof twoStrings));
    ASSERT_EQ(0, testreg::SetDword(kKey, "Number", 5));
    CRegistry registry(HKEY_LOCAL_MACHINE, kKey);
    std::string text;
    EXPECT_EQ(0, registry.VkRegQueryString("Raw", text));
    EXPECT_EQ("abc", text);
    EXPECT_EQ(0, registry.VkRegQueryString("Two", text));
    EXPECT_EQ("one", text);
    EXPECT_NE(0, registry.VkRegQueryString("Number", text));
}
