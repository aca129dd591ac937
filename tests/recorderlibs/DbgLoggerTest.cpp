#include "recorderlibs/DbgLogger.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestRegistry.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <thread>
#include <vector>

namespace {

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::string::size_type start = 0;
    for (std::string::size_type end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    EXPECT_EQ(start, text.size()) << "the file ends inside a line";
    return lines;
}

// "2026-12-06 19:41:03.123 [1234] text" -> "text"
std::string Body(const std::string& line)
{
    static const std::regex stamp(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[\d+\] )");
    std::smatch m;
    EXPECT_TRUE(std::regex_search(line, m, stamp)) << line;
    return m.empty() ? line : line.substr(static_cast<size_t>(m.length(0)));
}

class DbgLoggerTest : public ::testing::Test {
protected:
    void TearDown() override { DbgLogger::Shutdown(); }
    testfiles::ScratchDir dir;
};

}  // namespace

TEST(DbgLoggerLevel, ComesFromTheRegistryAndIsZeroWhenAbsent)
{
    testreg::ScopedKey key(kDbgLoggerKey);
    EXPECT_EQ(0, DbgLogger::GetDebugLevel("Mediaprep"));

    ASSERT_EQ(0, testreg::SetDword(kDbgLoggerKey, "Mediaprep", 3));
    ASSERT_EQ(0, testreg::SetDword(kDbgLoggerKey, "Other", 1));
    EXPECT_EQ(3, DbgLogger::GetDebugLevel("Mediaprep"));
    EXPECT_EQ(1, DbgLogger::GetDebugLevel("Other"));

    // Read on every call: a change is seen at once.
    ASSERT_EQ(0, testreg::SetDword(kDbgLoggerKey, "Mediaprep", 0));
    EXPECT_EQ(0, DbgLogger::GetDebugLevel("Mediaprep"));

    // A level must be a number.
    ASSERT_EQ(0, testreg::SetString(kDbgLoggerKey, "Mediaprep", "3"));
    EXPECT_EQ(0, DbgLogger::GetDebugLevel("Mediaprep"));
}

TEST_F(DbgLoggerTest, InitializeCreatesTheDirectoryWithItsParents)
{
    const std::string logs = dir / "Windows\\Kestrix\\MediaprepLogs";
    ASSERT_TRUE(DbgLogger::Initialize(logs.c_str(), 1000000, 900000));
    EXPECT_TRUE(testfiles::Exists(logs));
    EXPECT_EQ(logs + "\\MediaprepTrace.log", DbgLogger::GetLogFilePath("Mediaprep"));
}

TEST_F(DbgLoggerTest, LinesLandWholeWithStampAndThread)
{
    ASSERT_TRUE(DbgLogger::Initialize(dir.path().c_str(), 0, 0));
    {
        auto log = DbgLogger::GetLog("Mediaprep");
        *log << "Active: " << 2 << " Volume E: initialized." << std::endl;
        *log << "two\nlines" << std::endl;
        *log << "unfinished";  // lands when the stream goes
    }
    const std::vector<std::string> lines = Lines(testfiles::ReadAll(DbgLogger::GetLogFilePath("Mediaprep")));
    ASSERT_EQ(4u, lines.size());
    EXPECT_EQ("Active: 2 Volume E: initialized.", Body(lines[0]));
    EXPECT_EQ("two", Body(lines[1]));
    EXPECT_EQ("lines", Body(lines[2]));
    EXPECT_EQ("unfinished", Body(lines[3]));
    std::ostringstream thread;
    thread << '[' << ::GetCurrentThreadId() << ']';
    EXPECT_NE(std::string::npos, lines[0].find(thread.str()));
}

TEST_F(DbgLoggerTest, NothingIsWrittenBeforeInitializeOrAfterShutdown)
{
    DbgLogger::Shutdown();
    *DbgLogger::GetLog("Mediaprep") << "dropped" << std::endl;
    ASSERT_TRUE(DbgLogger::Initialize(dir.path().c_str(), 0, 0));
    const std::string path = DbgLogger::GetLogFilePath("Mediaprep");
    auto early = DbgLogger::GetLog("Mediaprep");
    DbgLogger::Shutdown();
    *early << "after shutdown" << std::endl;
    *DbgLogger::GetLog("Mediaprep") << "dropped too" << std::endl;
    EXPECT_FALSE(testfiles::Exists(path));
}

TEST_F(DbgLoggerTest, FileIsTrimmedToTheNewestLinesAtTheLimit)
{
    const long long maxBytes = 1000, keptBytes = 600;
    ASSERT_TRUE(DbgLogger::Initialize(dir.path().c_str(), maxBytes, keptBytes));
    const std::string path = DbgLogger::GetLogFilePath("Mediaprep");
    long long largest = 0;
    bool trimmed = false;
    for (int i = 0; i < 200; ++i) {
        *DbgLogger::GetLog("Mediaprep") << "line " << i << std::endl;
        const long long size = static_cast<long long>(testfiles::ReadAll(path).size());
        trimmed = trimmed || size < largest;
        largest = std::max(largest, size);
        ASSERT_LE(size, maxBytes) << "after line " << i;
    }
    EXPECT_TRUE(trimmed);
    // What is left is an unbroken run of whole lines ending with the newest.
    const std::vector<std::string> lines = Lines(testfiles::ReadAll(path));
    ASSERT_FALSE(lines.empty());
    const int first = std::stoi(Body(lines.front()).substr(5));
    for (size_t i = 0; i < lines.size(); ++i)
        EXPECT_EQ("line " + std::to_string(first + static_cast<int>(i)), Body(lines[i]));
    EXPECT_EQ("line 199", Body(lines.back()));
    EXPECT_GE(static_cast<long long>(testfiles::ReadAll(path).size()), keptBytes - 100);
}

TEST_F(DbgLoggerTest, LinesFromTwoThreadsNeverInterleave)
{
    ASSERT_TRUE(DbgLogger::Initialize(dir.path().c_str(), 0, 0));
    const int perThread = 1500;
    auto writer = [](char mark) {
        for (int i = 0; i < perThread; ++i) {
            auto log = DbgLogger::GetLog("Mediaprep");
            // Several pieces per line, flushed once: the pieces must stay together.
            *log << mark << ' ' << i;
            for (int piece = 0; piece < 8; ++piece)
                *log << ' ' << std::string(9, mark);
            *log << std::endl;
        }
    };
    std::thread a(writer, 'A'), b(writer, 'B');
    a.join();
    b.join();
    const std::vector<std::string> lines = Lines(testfiles::ReadAll(DbgLogger::GetLogFilePath("Mediaprep")));
    ASSERT_EQ(2u * perThread, lines.size());
    int next[2] = {0, 0};
    for (const std::string& line : lines) {
        const std::string body = Body(line);
        ASSERT_FALSE(body.empty());
        const char mark = body[0];
        ASSERT_TRUE(mark == 'A' || mark == 'B') << line;
        std::ostringstream expected;
        expected << mark << ' ' << next[mark - 'A']++;
        for (int piece = 0; piece < 8; ++piece)
            expected << ' ' << std::string(9, mark);
        ASSERT_EQ(expected.str(), body);
    }
}
