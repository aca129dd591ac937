// Writing until the drive is full: E: is a 2 MB drive of the sandbox.
#include "fileio/FileIoGlobals.h"
#include "fileio/SequentialFile.h"
#include "tests/fileio/FileIoTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using fileiotest::AppText;
using fileiotest::Described;

TEST(FullDrive, TheFirstFailedWriteFailsEveryLaterWriteAndCloseGivesUp)
{
    const std::string path = "E:\\grow.dat";
    const std::vector<char> first(1000, 'a');
    ASSERT_TRUE(fileiotest::WriteWholeFile(path, first));
    const std::vector<char> data = fileiotest::Pattern(4 * 1024 * 1024, 3);

    SequentialFile file;
    ASSERT_TRUE(file.Open(path, OPEN_EXISTING, GENERIC_READ | GENERIC_WRITE, 0, FILE_FLAG_NO_BUFFERING));
    FilePosition pos(file);
    pos.Seek(0, 2);
    std::uint64_t written = 0;
    bool failed = false;
    // Far more than the drive holds, in pieces that do not fit blocks.
    while (!failed && written < data.size()) {
        try {
            file.Write(pos, data.data() + written, 40000);
            written += 40000;
        } catch (const AppException& e) {
            failed = true;
            EXPECT_EQ(kAppErrorWrite, e.AppCode());
            EXPECT_EQ(static_cast<std::uint32_t>(ERROR_DISK_FULL), e.SysError()) << e.what();
        }
    }
    ASSERT_TRUE(failed) << "a 2 MB drive took " << written << " bytes";
    EXPECT_EQ(static_cast<DWORD>(ERROR_DISK_FULL), file.LastWriteError());

    // Every later write reports the first error, whatever it writes.
    for (std::uint32_t count : {1u, 65536u, 200000u}) {
        const AppException later = fileiotest::CatchApp([&] { file.Write(pos, data.data(), count); });
        EXPECT_EQ("App Error 0xc00403f5: " + AppText(kAppErrorWrite) + "Sys error 0x70: " +
                      GetSystemErrorText(ERROR_DISK_FULL) + "  FILE: SequentialFile.cpp LINE: # - Write() error 112(" +
                      path + ").",
                  Described(later));
    }
    file.Close();
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(0u, FileIoGlobals::Instance().OpenFileCount());
    EXPECT_EQ(64u, FileIoGlobals::Instance().WritePool().FreeBufferCount()) << "the unwritten blocks were given up";

    // What was written before the drive filled is there.
    const std::vector<char> disk = fileiotest::ReadWholeFile(path);
    ASSERT_GE(disk.size(), 65536u);
    EXPECT_EQ(0, std::memcmp(disk.data(), first.data(), first.size()));
    EXPECT_EQ(0, std::memcmp(disk.data() + first.size(), data.data(), 65536 - first.size()));

    // Space freed: the same object opens and writes again.
    ASSERT_TRUE(::DeleteFileA(path.c_str()));
    ASSERT_TRUE(fileiotest::WriteWholeFile(path, first));
    ASSERT_TRUE(file.Open(path, OPEN_EXISTING, GENERIC_READ | GENERIC_WRITE, 0));
    FilePosition again(file);
    file.Write(again, "fresh", 5);
    file.Close();
    EXPECT_EQ(0, std::memcmp(fileiotest::ReadWholeFile(path).data(), "fresh", 5));
}
