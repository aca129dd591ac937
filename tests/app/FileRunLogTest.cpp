#include "app/FileRunLog.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

constexpr const char* kHead = "Configuring Kestrix Drives\r\n";

TEST(FileRunLog, ReplacesAnOlderLogWithTheFirstLineAndOneLinePerReport)
{
    testfiles::ScratchDir dir;
    const std::string path = dir / "Mediaprep.log";
    testfiles::WriteAll(path, "an older run\r\n");
    {
        FileRunLog log(path);
        log.Error("Failed to delete: E:\\IMG0001.AVI");
        log.Error("");
        log.Message("");
        log.Error("Failure to initialize drive F:.  Mediaprep not completely successful.\n");
        log.Message("Data drives found: E: G:");
    }
    // A text file: every line feed becomes CR LF, so a text ending in one
    // leaves an empty line behind it.
    EXPECT_EQ(std::string(kHead) +
                  "Error:Failed to delete: E:\\IMG0001.AVI\r\n"
                  "Error:\r\n"
                  "Message: \r\n"
                  "Error:Failure to initialize drive F:.  Mediaprep not completely successful.\r\n\r\n"
                  "Message: Data drives found: E: G:\r\n",
              testfiles::ReadAll(path));
}

TEST(FileRunLog, AFileThatCannotBeOpenedDropsEveryReport)
{
    testfiles::ScratchDir dir;
    const std::string missing = dir / "missing\\Mediaprep.log";
    const std::string locked = dir / "Mediaprep.log";
    { FileRunLog log(locked); }
    HANDLE lock = ::CreateFileA(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, lock);
    for (const std::string& path : {missing, locked}) {
        FileRunLog log(path);
        log.Error("lost");
        log.Message("lost");
    }
    ::CloseHandle(lock);
    EXPECT_FALSE(testfiles::Exists(dir / "missing"));
    EXPECT_EQ(kHead, testfiles::ReadAll(locked));
}
