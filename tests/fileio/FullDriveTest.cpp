// Writing until the drive is full: E: is a 2 MB drive of the sandbox.
#include "fileio/FileIoGlobals.h"
#include "tests/fileio/FileIoTest.h"

using namespace fileiotest;

TEST(FullDrive, TheFirstFailedWriteFailsEveryLaterWriteAndCloseGivesUp)
{
    const std::string path = "E:\\grow.dat", first(1000, 'a'), data = Pattern(4 * 1024 * 1024, 3);
    testfiles::WriteAll(path, first);
    SequentialFile file;
    ASSERT_TRUE(file.Open(path, OPEN_EXISTING, kReadWrite, 0, FILE_FLAG_NO_BUFFERING));
    FilePosition pos(file);
    pos.Seek(0, 2);
    // Far more than the drive holds, in pieces that do not fit blocks.
    std::uint64_t written = 0;
    for (; written < data.size(); written += 40000) {
        try {
            file.Write(pos, data.data() + written, 40000);
        } catch (const AppException& e) {
            EXPECT_EQ(kAppErrorWrite, e.AppCode());
            EXPECT_EQ(static_cast<std::uint32_t>(ERROR_DISK_FULL), e.SysError()) << e.what();
            break;
        }
    }
    ASSERT_LT(written, data.size()) << "a 2 MB drive took it all";
    EXPECT_EQ(static_cast<DWORD>(ERROR_DISK_FULL), file.LastWriteError());
    // A later write reports the first error, even one that fits a block.
    const AppException e = CatchApp([&] { file.Write(pos, data.data(), 1); });
    EXPECT_EQ(std::make_pair(kAppErrorWrite, static_cast<std::uint32_t>(ERROR_DISK_FULL)),
              std::make_pair(e.AppCode(), e.SysError()));
    EXPECT_STREQ(("Write() error 112(" + path + ").").c_str(), e.Message());
    file.Close();
    EXPECT_EQ(0u, FileIoGlobals::Instance().OpenFileCount());
    EXPECT_EQ(kWritePoolBuffers, FileIoGlobals::Instance().WritePool().FreeBufferCount()) << "blocks given up";
    EXPECT_TRUE(first + data.substr(0, kBlock - first.size()) == testfiles::ReadAll(path).substr(0, kBlock));
}
