// The process ends while files are open and transfers are in flight: it must
// neither hang nor crash, and files still open are closed (written back) by
// the layer itself unless the process is torn down without its destructors.
#include "tests/fileio/FileIoTestSupport.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

namespace {

constexpr std::uint32_t kLength = 8 * 65536 + 300;

struct ChildRun {
    DWORD exitCode = 0xFFFFFFFF;
    std::chrono::steady_clock::duration took{};
};

ChildRun RunChild(const std::string& mode, const std::string& path)
{
    ChildRun run;
    std::string line = "\"";
    line += fileiotest::ProgramDirectory();
    line += "fileio_exit_child.exe\" ";
    line += mode;
    line += " \"";
    line += path;
    line += "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    const auto start = std::chrono::steady_clock::now();
    if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        ADD_FAILURE() << "cannot start " << line << ": " << ::GetLastError();
        return run;
    }
    if (::WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0) {
        ADD_FAILURE() << mode << ": the process did not end within a minute";
        ::TerminateProcess(process.hProcess, 99);
        ::WaitForSingleObject(process.hProcess, 10000);
    }
    run.took = std::chrono::steady_clock::now() - start;
    ::GetExitCodeProcess(process.hProcess, &run.exitCode);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return run;
}

class ProcessExit : public ::testing::Test {
protected:
    void SetUp() override
    {
        path = dir / "open-at-exit.dat";
        ASSERT_TRUE(fileiotest::WriteWholeFile(path, std::vector<char>(kLength, '\0')));
    }
    void ExpectWrittenBack() const
    {
        const std::vector<char> disk = fileiotest::ReadWholeFile(path);
        const std::vector<char> expected = fileiotest::Pattern(kLength, 77);
        ASSERT_GE(disk.size(), expected.size());
        EXPECT_EQ(0, std::memcmp(disk.data(), expected.data(), expected.size())) << "changes lost at exit";
    }

    testfiles::ScratchDir dir;
    std::string path;
};

}  // namespace

TEST_F(ProcessExit, AFileNeverClosedIsWrittenBackWhenMainReturns)
{
    const ChildRun run = RunChild("leak", path);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_LT(run.took, std::chrono::seconds(30));
    ExpectWrittenBack();
}

TEST_F(ProcessExit, AStaticFileOpenAtExitIsClosedByItsDestructor)
{
    const ChildRun run = RunChild("static", path);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_LT(run.took, std::chrono::seconds(30));
    ExpectWrittenBack();
}

TEST_F(ProcessExit, ExitWithReadsInFlightAndExitProcessEndCleanly)
{
    ASSERT_TRUE(fileiotest::WriteWholeFile(path, fileiotest::Pattern(kLength, 1)));
    ChildRun run = RunChild("reading", path);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_LT(run.took, std::chrono::seconds(30));

    run = RunChild("exitprocess", path);
    EXPECT_EQ(7u, run.exitCode);
    EXPECT_LT(run.took, std::chrono::seconds(30));
}
