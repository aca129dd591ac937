// CRegistry against the real registry of the sandbox prefix.
#include "recorderlibs/CRegistry.h"
#include "tests/support/TestRegistry.h"

#include <gtest/gtest.h>

TEST(CRegistry, ReadsWhatIsThereAndCreatesTheKeyOnTheFirstSet)
{
    const char* const key = "Software\\Corvane-VG\\Kestrix\\RegistryTest";
    testreg::ScopedKey scoped(key);
    char buffer[256];
    DWORD type = 0, size = sizeof buffer;
    std::string text = "unchanged";
    {
        CRegistry missing(HKEY_LOCAL_MACHINE, key);
        EXPECT_NE(0, missing.VkRegQueryValue("Anything", &type, buffer, &size));
        EXPECT_NE(0, missing.VkRegQueryString("Anything", text));
        EXPECT_EQ("unchanged", text);
        const DWORD one = 1;
        EXPECT_EQ(0, missing.VkRegSetValue("MultipleDir", REG_DWORD, &one, sizeof one));
        EXPECT_EQ(0, missing.VkRegSetString("GUID", "{00000000-0000-0000-0000-000000000001}"));
        EXPECT_EQ(0, missing.VkRegQueryString("GUID", text));
        EXPECT_EQ("{00000000-0000-0000-0000-000000000001}", text);
    }
    DWORD value = 0;
    ASSERT_TRUE(testreg::GetDword(key, "MultipleDir", value));
    EXPECT_EQ(1u, value);

    // A string longer than a buffer, one without its terminator, two strings
    // in one value: QueryString sizes itself and stops at the first zero.
    const char unterminated[] = {'a', 'b', 'c'};
    const char twoStrings[] = "one\0two";
    ASSERT_EQ(0, testreg::SetString(key, "Path", std::string(300, 'x')));
    ASSERT_EQ(0, testreg::SetRaw(key, "Raw", REG_SZ, unterminated, sizeof unterminated));
    ASSERT_EQ(0, testreg::SetRaw(key, "Two", REG_SZ, twoStrings, sizeof twoStrings));
    ASSERT_EQ(0, testreg::SetDword(key, "Number", 5));
    CRegistry registry(HKEY_LOCAL_MACHINE, key);
    EXPECT_NE(0, registry.VkRegQueryValue("Path", &type, buffer, &size));
    for (const auto& [name, expected] : {std::pair<const char*, std::string>{"Path", std::string(300, 'x')},
                                         {"Raw", "abc"}, {"Two", "one"}}) {
        EXPECT_EQ(0, registry.VkRegQueryString(name, text)) << name;
        EXPECT_EQ(expected, text);
    }
    EXPECT_NE(0, registry.VkRegQueryString("Number", text)) << "not a string";
}
