// The message file found through the recorder's event-log registration. These
// programs live in a directory without ResErrorMsg.dll, so the search rules
// find nothing and the registry decides; they hold the sandbox session
// because they change HKEY_LOCAL_MACHINE.
#include "fileio/AppException.h"
#include "fileio/WorkerThread.h"
#include "recorderlibs/DbgLogger.h"
#include "tests/fileio/FileIoTestSupport.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestRegistry.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

using fileiotest::ProgramDirectory;

namespace {

// What a child sent to the debugger output, and how it ended.
struct DebuggedRun {
    DWORD exitCode = 0xFFFFFFFF;
    std::vector<std::string> debugOutput;
};

// Runs a program as our debuggee and collects its OutputDebugStringA texts.
DebuggedRun RunUnderDebugger(const std::string& commandLine)
{
    DebuggedRun run;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::string line = commandLine;
    if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, DEBUG_ONLY_THIS_PROCESS, nullptr, nullptr,
                          &startup, &process)) {
        ADD_FAILURE() << "cannot start " << commandLine << ": " << ::GetLastError();
        return run;
    }
    win32::UniqueHandle processHandle(process.hProcess);
    win32::UniqueHandle threadHandle(process.hThread);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (bool running = true; running;) {
        DEBUG_EVENT event{};
        if (!::WaitForDebugEvent(&event, 1000)) {
            if (std::chrono::steady_clock::now() > deadline) {
                ADD_FAILURE() << "the debuggee did not end";
                ::TerminateProcess(processHandle.get(), 99);
                break;
            }
            continue;
        }
        DWORD continueStatus = DBG_CONTINUE;
        switch (event.dwDebugEventCode) {
        case CREATE_PROCESS_DEBUG_EVENT:
            if (event.u.CreateProcessInfo.hFile)
                ::CloseHandle(event.u.CreateProcessInfo.hFile);
            break;
        case LOAD_DLL_DEBUG_EVENT:
            if (event.u.LoadDll.hFile)
                ::CloseHandle(event.u.LoadDll.hFile);
            break;
        case OUTPUT_DEBUG_STRING_EVENT: {
            const OUTPUT_DEBUG_STRING_INFO& info = event.u.DebugString;
            std::string text(info.nDebugStringLength, '\0');
            SIZE_T read = 0;
            ::ReadProcessMemory(processHandle.get(), info.lpDebugStringData, text.data(), text.size(), &read);
            text.resize(read);
            while (!text.empty() && text.back() == '\0')
                text.pop_back();
            run.debugOutput.push_back(text);
            break;
        }
        case EXCEPTION_DEBUG_EVENT:
            if (event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT)
                continueStatus = DBG_EXCEPTION_NOT_HANDLED;
            break;
        case EXIT_PROCESS_DEBUG_EVENT:
            run.exitCode = event.u.ExitProcess.dwExitCode;
            running = false;
            break;
        default:
            break;
        }
        ::ContinueDebugEvent(event.dwProcessId, event.dwThreadId, continueStatus);
    }
    return run;
}

DebuggedRun LookUpInChild(std::uint32_t code)
{
    std::string line = "\"";
    line += ProgramDirectory();
    line += "errtext_child.exe\" ";
    line += std::to_string(code);
    return RunUnderDebugger(line);
}

// Our message file, copied somewhere no search rule looks.
class RegisteredMessageFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::SetCurrentDirectoryA(ProgramDirectory().c_str());
        ASSERT_FALSE(testfiles::Exists(ProgramDirectory() + kMessageFileName)) << "the search rules must find nothing";
        installed = dir / "Kestrix Messages";
        ::CreateDirectoryA(installed.c_str(), nullptr);
        installed += "\\ResErrorMsg.dll";
        ASSERT_TRUE(::CopyFileA((ProgramDirectory() + "..\\ResErrorMsg.dll").c_str(), installed.c_str(), FALSE));
    }

    testfiles::ScratchDir dir;
    testreg::ScopedKey key{kMessageFileKey};
    std::string installed;
};

}  // namespace

TEST_F(RegisteredMessageFile, TheRegistrationLeadsToTheTexts)
{
    ASSERT_EQ(0, testreg::SetString(kMessageFileKey, kMessageFileValue, installed));
    std::string text;
    EXPECT_TRUE(GetAppErrorText(kAppErrorRead, text));
    EXPECT_EQ("Data could not be read from the image database file. ", text);
    EXPECT_EQ("App Error 0xc00403f5: Data could not be written to the image database file.   - m",
              std::string(AppException("m", kAppErrorWrite, 0).what()));

    // Looked up afresh every time: a registration that goes away is noticed.
    testreg::DeleteKeyTree(kMessageFileKey);
    EXPECT_FALSE(GetAppErrorText(kAppErrorRead, text));
    EXPECT_EQ("<Text not found>", text);

    // A child process finds it too, and says nothing to the debugger.
    ASSERT_EQ(0, testreg::SetString(kMessageFileKey, kMessageFileValue, installed));
    const DebuggedRun run = LookUpInChild(kAppErrorEvent);
    EXPECT_EQ(1u, run.exitCode);
    EXPECT_TRUE(run.debugOutput.empty());
}

TEST_F(RegisteredMessageFile, EachFailedStepIsReportedToTheDebugger)
{
    // No registration at all.
    DebuggedRun run = LookUpInChild(kAppErrorRead);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(std::vector<std::string>{"Failed finding error message file in registry\n"}, run.debugOutput);

    // The key without its value.
    ASSERT_EQ(0, testreg::SetString(kMessageFileKey, "TypesSupported", "7"));
    run = LookUpInChild(kAppErrorRead);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(std::vector<std::string>{"Failed finding error message location in registry\n"}, run.debugOutput);

    // A value that does not fit the 256 bytes the lookup reads.
    ASSERT_EQ(0, testreg::SetString(kMessageFileKey, kMessageFileValue, std::string(300, 'x')));
    run = LookUpInChild(kAppErrorRead);
    EXPECT_EQ(std::vector<std::string>{"Failed finding error message location in registry\n"}, run.debugOutput);

    // A file that is not there.
    ASSERT_EQ(0, testreg::SetString(kMessageFileKey, kMessageFileValue, installed + ".gone"));
    run = LookUpInChild(kAppErrorRead);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(std::vector<std::string>{"Failed opening error message file\n"}, run.debugOutput);
}

TEST_F(RegisteredMessageFile, EnvironmentReferencesInTheNameAreNotExpanded)
{
    char temp[MAX_PATH] = {};
    ::GetEnvironmentVariableA("TEMP", temp, MAX_PATH);
    const std::string prefix = std::string(temp) + "\\";
    ASSERT_EQ(0u, installed.rfind(prefix, 0)) << installed << " is not below " << temp;
    const std::string withReference = "%TEMP%\\" + installed.substr(prefix.size());
    ASSERT_EQ(0, testreg::SetRaw(kMessageFileKey, kMessageFileValue, REG_EXPAND_SZ, withReference.c_str(),
                                 static_cast<DWORD>(withReference.size() + 1)));
    std::string text;
    EXPECT_FALSE(GetAppErrorText(kAppErrorRead, text));
    EXPECT_EQ("<Text not found>", text);

    // The same file named plainly is found.
    ASSERT_EQ(0, testreg::SetRaw(kMessageFileKey, kMessageFileValue, REG_EXPAND_SZ, installed.c_str(),
                                 static_cast<DWORD>(installed.size() + 1)));
    EXPECT_TRUE(GetAppErrorText(kAppErrorRead, text));
}

namespace {

void ThrowingCallback(DWORD, DWORD bytes, ULONG_PTR, OVERLAPPED*)
{
    if (bytes == 13)
        throw std::runtime_error("callback failed on purpose");
}

}  // namespace

TEST(CompletionThreadTrace, AFailingCallbackIsTracedAndTheLoopGoesOn)
{
    testreg::ScopedKey level(kDbgLoggerKey);
    ASSERT_EQ(0, testreg::SetDword(kDbgLoggerKey, "Mediaprep", 1));
    testfiles::ScratchDir logs;
    ASSERT_TRUE(DbgLogger::Initialize(logs.path().c_str(), 0, 0));
    {
        static std::atomic<int> seen{0};
        struct Counting {
            static void Callback(DWORD error, DWORD bytes, ULONG_PTR key, OVERLAPPED* overlapped)
            {
                ++seen;
                ThrowingCallback(error, bytes, key, overlapped);
            }
        };
        CompletionPortThread thread(&Counting::Callback);
        ASSERT_TRUE(thread.Start());
        ::PostQueuedCompletionStatus(thread.Port(), 13, 1, nullptr);
        ::PostQueuedCompletionStatus(thread.Port(), 14, 1, nullptr);
        for (int i = 0; i < 500 && seen < 2; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_EQ(2, seen.load());
    }
    DbgLogger::Shutdown();
    const std::string trace = testfiles::ReadAll(logs / "MediaprepTrace.log");
    EXPECT_NE(std::string::npos, trace.find("] callback failed on purpose\r\n")) << trace;
}
