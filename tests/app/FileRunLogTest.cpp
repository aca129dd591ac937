#include "app/FileRunLog.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

TEST(FileRunLog, WritesTheFirstLineAndOneLinePerReport)
{
    testfiles::ScratchDir dir;
    const std::string path = dir / "Mediaprep.log";
    {
        FileRunLog log(path);
        log.Error("Failed to delete: E:\\IMG0001.AVI");
        log.Error("");
        log.Message("");
        log.Error("Failure to initialize drive F:.  Mediaprep not completely successful.\n");
        log.Message("Data drives found: E: G:");
    }
    // A text file: every line feed becomes CR LF; a text ending in a line
    // feed leaves an empty line behind it.
    EXPECT_EQ("Configuring Kestrix Drives\r\n"
              "Error:Failed to delete: E:\\IMG0001.AVI\r\n"
              "Error:\r\n"
              "Message: \r\n"
              "Error:Failure to initialize drive F:.  Mediaprep not completely successful.\r\n\r\n"
              "Message: Data drives found: E: G:\r\n",
              testfiles::ReadAll(path));
}

TEST(FileRunLog, ASecondLogReplacesTheFirst)
{
    testfiles::ScratchDir dir;
    const std::string path = dir / "Mediaprep.log";
    {
        FileRunLog log(path);
        log.Message("Data drives found: E: F: G: H:");
    }
    { FileRunLog log(path); }
    EXPECT_EQ("Configuring Kestrix Drives\r\n", testfiles::ReadAll(path));
}

TEST(FileRunLog, APathThatCannotBeOpenedDropsEveryReport)
{
    testfiles::ScratchDir dir;
    const std::string path = dir / "missing\\Mediaprep.log";
    {
        FileRunLog log(path);
        log.Error("lost");
        log.Message("lost");
    }
    EXPECT_FALSE(testfiles::Exists(path));
    EXPECT_FALSE(testfiles::Exists(dir / "missing"));
}

TEST(FileRunLog, ALockedFileDropsEveryReport)
{
    testfiles::ScratchDir dir;
    const std::string path = dir / "Mediaprep.log";
    { FileRunLog log(path); }
    HANDLE locked = ::CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, locked);
    {
        FileRunLog log(path);
        log.Error("lost");
    }
    ::CloseHandle(locked);
    EXPECT_EQ("Configuring Kestrix Drives\r\n", testfiles::ReadAll(path));
}
