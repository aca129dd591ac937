// Writing until the drive is full: E: is a 2 MB drive of the sandbox.
#include "fileio/FileIoGlobals.h"
#include "tests/fileio/FileIoTest.h"

using namespace fileiotest;

TEST(FullDrive, TheFirstFailedWriteFailsEveryLaterWriteAndCloseGivesUp)
{
    const std::string path = "E:\\grow.dat";
    const std::string first(1000, 'a');
    testfiles::WriteAll(path, first);
    const std::string data = Pattern(4 * 1024 * 1024, 3);

    SequentialFile file;
    ASSERT_TRUE(file.Open(path, OPEN_EXISTING, kReadWrite, 0, FILE_FLAG_NO_BUFFERING));
    FilePosition pos(file);
    pos.Seek(0, 2);
    std::uint64_t written = 0;
    bool failed = false;
    // Far more than the drive holds, in pieces that do not fit blocks.
    for (; !failed && written < data.size(); written += 40000) {
        try {
            file.Write(pos, data.data() + written, 40000);
        } catch (const AppException& e) {
            failed = true;
            EXPECT_EQ(kAppErrorWrite, e.AppCode());
            EXPECT_EQ(static_cast<std::uint32_t>(ERROR_DISK_FULL), e.SysError()) << e.what();
        }
    }
    ASSERT_TRUE(failed) << "a 2 MB drive took " << written << " bytes";
    EXPECT_EQ(static_cast<DWORD>(ERROR_DISK_FULL), file.LastWriteError());

    // Every later write reports the first error, whatever it writes.
    for (std::uint32_t count : {1u, 65536u, 200000u})
        EXPECT_EQ(WriteFailure(ERROR_DISK_FULL, "Write() error 112(" + path + ")."),
                  Described(CatchApp([&] { file.Write(pos, data.data(), count); })));
    file.Close();
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(0u, FileIoGlobals::Instance().OpenFileCount());
    EXPECT_EQ(kWritePoolBuffers, FileIoGlobals::Instance().WritePool().FreeBufferCount())
        << "the unwritten blocks were given up";
    // What was written before the drive filled is there.
    EXPECT_EQ("", Mismatch(first + data.substr(0, kBlock - first.size()), testfiles::ReadAll(path).substr(0, kBlock)));

    // Space freed: the same object opens and writes again.
    ASSERT_TRUE(::DeleteFileA(path.c_str()));
    testfiles::WriteAll(path, first);
    ASSERT_TRUE(file.Open(path, OPEN_EXISTING, kReadWrite, 0));
    FilePosition again(file);
    file.Write(again, "fresh", 5);
    file.Close();
    EXPECT_EQ("fresh", testfiles::ReadAll(path).substr(0, 5));
}
