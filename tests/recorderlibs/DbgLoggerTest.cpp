#include "recorderlibs/DbgLogger.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestRegistry.h"

#include <gtest/gtest.h>

#include <regex>
#include <thread>
#include <vector>

namespace {

// The texts of a trace file's lines, each checked for its stamp
// ("2026-12-06 19:41:03.123 [1234] text") and its CR LF.
std::vector<std::string> Texts(const std::string& path, std::vector<std::string>* threads = nullptr)
{
    static const std::regex line(R"((\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[(\d+)\] )?([^\r\n]*)(\r\n)?)");
    const std::string text = testfiles::ReadAll(path);
    std::vector<std::string> texts;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), line); it != std::sregex_iterator(); ++it) {
        if (it->length(0) == 0)
            continue;
        EXPECT_TRUE((*it)[1].matched && (*it)[4].matched) << "not a whole line: " << it->str();
        texts.push_back((*it)[3]);
        if (threads)
            threads->push_back((*it)[2]);
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
    testreg::ScopedKey key(kDbgLoggerKey);
    const std::pair<const char*, int> levels[] = {{"Mediaprep", 0}, {"Mediaprep", 3}, {"Other", 1}, {"Mediaprep", -1}};
    for (const auto& [name, level] : levels) {
        ASSERT_EQ(0, level > 0   ? testreg::SetDword(kDbgLoggerKey, name, static_cast<DWORD>(level))
                     : level < 0 ? testreg::SetString(kDbgLoggerKey, name, "3")
                                 : 0);
        EXPECT_EQ(level < 0 ? 0 : level, DbgLogger::GetDebugLevel(name)) << name << " " << level;
    }

    *DbgLogger::GetLog("Mediaprep") << "dropped" << std::endl;
    const std::string logs = dir / "Windows\\Kestrix\\MediaprepLogs";
    ASSERT_TRUE(DbgLogger::Initialize(logs.c_str(), 1000000, 900000));  // creates the parents too
    const std::string path = DbgLogger::GetLogFilePath("Mediaprep");
    EXPECT_EQ(logs + "\\MediaprepTrace.log", path);
    {
        auto log = DbgLogger::GetLog("Mediaprep");
        *log << "Active: " << 2 << " Volume E: initialized." << std::endl;
        *log << "two\nlines" << std::endl;
        *log << "unfinished";  // lands when the stream goes
    }
    auto late = DbgLogger::GetLog("Mediaprep");
    DbgLogger::Shutdown();
    *late << "after shutdown" << std::endl;
    std::vector<std::string> threads;
    EXPECT_EQ((std::vector<std::string>{"Active: 2 Volume E: initialized.", "two", "lines", "unfinished"}),
              Texts(path, &threads));
    EXPECT_EQ(std::to_string(::GetCurrentThreadId()), threads.at(0));
}

TEST_F(DbgLoggerTest, FileIsTrimmedToTheNewestWholeLinesAtTheLimit)
{
    ASSERT_TRUE(DbgLogger::Initialize(dir.path().c_str(), 1000, 600));
    const std::string path = DbgLogger::GetLogFilePath("Mediaprep");
    for (int i = 0; i < 200; ++i) {
        *DbgLogger::GetLog("Mediaprep") << "line " << i << std::endl;
        ASSERT_LE(testfiles::ReadAll(path).size(), 1000u) << "after line " << i;
    }
    EXPECT_GE(testfiles::ReadAll(path).size(), 500u);
    // An unbroken run of whole lines ending with the newest.
    const std::vector<std::string> texts = Texts(path);
    for (std::size_t i = 0; i < texts.size(); ++i)
        EXPECT_EQ("line " + std::to_string(200 - texts.size() + i), texts[i]);
}

TEST_F(DbgLoggerTest, LinesFromTwoThreadsNeverInterleave)
{
    ASSERT_TRUE(DbgLogger::Initialize(dir.path().c_str(), 0, 0));
    const int perThread = 1500;
    auto line = [](char mark, int i) { return std::string(1, mark) + ' ' + std::to_string(i) + std::string(80, mark); };
    auto writer = [&](char mark) {
        for (int i = 0; i < perThread; ++i) {
            auto log = DbgLogger::GetLog("Mediaprep");
            *log << mark << ' ' << i;  // several pieces, one flush: they stay together
            for (int piece = 0; piece < 8; ++piece)
                *log << std::string(10, mark);
            *log << std::endl;
        }
    };
    std::thread a(writer, 'A'), b(writer, 'B');
    a.join();
    b.join();
    const std::vector<std::string> texts = Texts(DbgLogger::GetLogFilePath("Mediaprep"));
    ASSERT_EQ(2u * perThread, texts.size());
    int next[2] = {0, 0};
    for (const std::string& text : texts) {
        const char mark = text.empty() ? '?' : text[0];
        ASSERT_TRUE(mark == 'A' || mark == 'B') << text;
        ASSERT_EQ(line(mark, next[mark - 'A']++), text);
    }
}
