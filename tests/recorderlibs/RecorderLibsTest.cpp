// The recorder's shared libraries; the registry is the sandbox prefix's own.
#include "recorderlibs/CDateTime.h"
#include "recorderlibs/CRegistry.h"
#include "recorderlibs/CVkUtility.h"
#include "recorderlibs/DbgLogger.h"
#include "recorderlibs/FailureCause.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestRegistry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <thread>
#include <vector>

namespace {

// The texts of a trace file's lines, each checked for its stamp ("2026-12-06 19:41:03.123 [1234] text") and CR LF.
std::vector<std::string> Texts(const std::string& path)
{
    static const std::regex line(R"((\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[\d+\] )?([^\r\n]*)(\r\n)?)");
    const std::string text = testfiles::ReadAll(path);
    std::vector<std::string> texts;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), line); it != std::sregex_iterator(); ++it) {
        if (it->length(0) == 0)
            continue;
        EXPECT_TRUE((*it)[1].matched && (*it)[3].matched) << "not a whole line: " << it->str();
        texts.push_back((*it)[2]);
    }
    return texts;
}

struct DbgLoggerTest : ::testing::Test {
    ~DbgLoggerTest() override { DbgLogger::Shutdown(); }
    testfiles::ScratchDir dir;
};

}  // namespace

TEST_F(DbgLoggerTest, LevelsComeFromTheRegistryLinesLandWholeAndOnlyWhileInitialized)
{
    // Read on every call; 0 when missing or not a number.
    const std::string database = std::string(kKestrixKeyPath) + "Database";
    testreg::ScopedKey key(kDbgLoggerKey), settings(database);
    EXPECT_EQ(0, DbgLogger::GetDebugLevel("Mediaprep"));
    ASSERT_EQ(0, testreg::SetString(kDbgLoggerKey, "Mediaprep", "3"));
    EXPECT_EQ(0, DbgLogger::GetDebugLevel("Mediaprep"));
    // The level is read in the view of the recorder's settings.
    ASSERT_EQ(0, testreg::SetDword(kDbgLoggerKey, "Mediaprep", 1, KEY_WOW64_32KEY));
    ASSERT_EQ(0, testreg::SetDword(kDbgLoggerKey, "Mediaprep", 3, KEY_WOW64_64KEY));
    EXPECT_EQ(1, DbgLogger::GetDebugLevel("Mediaprep")) << "no settings yet: where a 32-bit recorder makes them";
    ASSERT_EQ(0, testreg::SetDword(database.c_str(), "FileSizeMB", 20, KEY_WOW64_64KEY));
    EXPECT_EQ(3, DbgLogger::GetDebugLevel("Mediaprep")) << "settings only in the 64-bit view";
    ASSERT_EQ(0, testreg::SetDword(database.c_str(), "FileSizeMB", 20, KEY_WOW64_32KEY));
    EXPECT_EQ(1, DbgLogger::GetDebugLevel("Mediaprep")) << "settings in both views";

    *DbgLogger::GetLog("Mediaprep") << "dropped" << std::endl;
    const std::string logs = dir / "Windows\\Kestrix\\MediaprepLogs";
    ASSERT_TRUE(DbgLogger::Initialize(logs.c_str(), 1000000, 900000));  // creates the parents too
    const std::string path = DbgLogger::GetLogFilePath("Mediaprep");
    EXPECT_EQ(logs + "\\MediaprepTrace.log", path);
    {
        auto log = DbgLogger::GetLog("Mediaprep");
        *log << "Active: " << 2 << " Volume E: initialized." << std::endl << "two\nlines" << std::endl;
        *log << "unfinished";  // lands when the stream goes
    }
    auto late = DbgLogger::GetLog("Mediaprep");
    DbgLogger::Shutdown();
    *late << "after shutdown" << std::endl;
    EXPECT_EQ((std::vector<std::string>{"Active: 2 Volume E: initialized.", "two", "lines", "unfinished"}),
              Texts(path));
    const std::string thread = " [" + std::to_string(::GetCurrentThreadId()) + "] two";
    EXPECT_NE(std::string::npos, testfiles::ReadAll(path).find(thread));
}

// Two threads write far past the limit: each trim keeps the newest whole lines, and lines never interleave.
TEST_F(DbgLoggerTest, TheFileKeepsTheNewestWholeLinesAtItsLimitAndLinesNeverInterleave)
{
    ASSERT_TRUE(DbgLogger::Initialize(dir.path().c_str(), 60000, 40000));
    const std::string path = DbgLogger::GetLogFilePath("Mediaprep");
    auto writer = [](char mark) {
        for (int i = 0; i < 1500; ++i)
            *DbgLogger::GetLog("Mediaprep") << mark << ' ' << i << std::string(40, mark) << std::string(40, mark)
                                            << std::endl;
    };
    std::thread a(writer, 'A'), b(writer, 'B');
    a.join();
    b.join();
    const std::size_t size = testfiles::ReadAll(path).size();
    EXPECT_TRUE(size <= 60000 && size >= 39000) << size;
    int next[2] = {-1, -1};  // each thread's lines an unbroken run, the last one the newest
    std::string last;
    for (const std::string& text : Texts(path)) {
        const int t = text.rfind("B ", 0) == 0;  // else it must be A's
        const int number = std::atoi(text.c_str() + 2);
        ASSERT_EQ(char('A' + t) + (' ' + std::to_string(number)) + std::string(80, char('A' + t)), text);
        ASSERT_TRUE(next[t] < 0 || next[t] == number) << text;
        next[t] = number + 1;
        last = text;
    }
    EXPECT_EQ(1500, std::atoi(last.c_str() + 2) + 1) << last;
}

TEST(CRegistry, ReadsWhatIsThereAndCreatesTheKeyOnTheFirstSet)
{
    const char* const key = "Software\\Corvane-VG\\Kestrix\\RegistryTest";
    testreg::ScopedKey scoped(key);
    std::string text;
    CRegistry registry(HKEY_LOCAL_MACHINE, key);
    // QueryString sizes itself and stops at the first zero.
    const char unterminated[] = {'a', 'b', 'c'}, twoStrings[] = "one\0two";
    EXPECT_EQ(0, registry.VkRegSetString("Path", std::string(300, 'x')));
    ASSERT_EQ(0, testreg::SetRaw(key, "Raw", REG_SZ, unterminated, sizeof unterminated));
    ASSERT_EQ(0, testreg::SetRaw(key, "Two", REG_SZ, twoStrings, sizeof twoStrings));
    ASSERT_EQ(0, testreg::SetDword(key, "Number", 5));
    for (const auto& [name, expected] : {std::pair<const char*, std::string>{"Path", std::string(300, 'x')},
                                         {"Raw", "abc"}, {"Two", "one"}}) {
        EXPECT_EQ(0, registry.VkRegQueryString(name, text)) << name;
        EXPECT_EQ(expected, text);
    }
    EXPECT_NE(0, registry.VkRegQueryString("Number", text)) << "not a string";
}

TEST(CVkUtility, DriveFilesSpaceAndReadOnlyAttribute)
{
    // -7: the count left alone
    const struct { long spaceKB, fileSizeMB; BOOL ok; long count; } cases[] = {
        {20480, 20, TRUE, 1}, {20479, 20, TRUE, 0}, {0, 20, TRUE, 0}, {2147483647, 20, TRUE, 104857},
        {1000, 0, FALSE, -7}};
    for (const auto& c : cases) {
        long count = -7;
        EXPECT_EQ(c.ok, CVkUtility::GetDriveFiles(c.spaceKB, c.fileSizeMB, count)) << c.spaceKB << " " << c.fileSizeMB;
        EXPECT_EQ(c.count, count) << c.spaceKB << " " << c.fileSizeMB;
    }

    testfiles::ScratchDir dir;
    const std::string file = dir / "locked.bin";
    testfiles::WriteAll(file, "x");
    ASSERT_TRUE(::SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    EXPECT_TRUE(CVkUtility::SetToReadWrite(file.c_str()));
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN),
              ::GetFileAttributesA(file.c_str()) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(CVkUtility::SetToReadWrite((dir / "missing.bin").c_str()));
}

TEST(CDateTime, TakesTheFiveByteRecordStamp)
{
    const unsigned char stamp[] = {0x80, 0xA2, 0x51, 0x7C, 42}, negative[] = {0xFF, 0xFF, 0xFF, 0xFF, 0};
    CDateTime time;  // 2085724800 and 42 hundredths; then -1, kept by a short record
    ASSERT_TRUE(time.SetFromBuffer(stamp, 5));
    EXPECT_EQ(std::make_pair(2085724800L, 42), std::make_pair(long(time.GetTime()), int(time.GetHundredths())));
    ASSERT_TRUE(time.SetFromBuffer(negative, 5));
    EXPECT_FALSE(time.SetFromBuffer(stamp, 4));
    EXPECT_EQ(-1, time.GetTime());
}

TEST(FailureCause, OneLineWithTheSystemsOwnReason)
{
    const std::string held = SystemMessage(ERROR_SHARING_VIOLATION);
    EXPECT_EQ(std::string::npos, held.find_first_of("\r\n")) << held;
    EXPECT_NE(' ', held.back());
    EXPECT_EQ("Error 1879048191.", SystemMessage(0x6FFFFFFF));  // none of the system's
    EXPECT_EQ("E:\\a.avi cannot be deleted: " + held + " Nothing on E: was deleted.",
              CauseLine({"E:\\a.avi", "cannot be deleted", ERROR_SHARING_VIOLATION, "Nothing on E: was deleted."}));
    EXPECT_EQ("", CauseLine({"E:\\a.avi", "", ERROR_SHARING_VIOLATION, ""}));
}
