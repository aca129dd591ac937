// The message file found through the recorder's event-log registration: in a directory without
// ResErrorMsg.dll the search rules find nothing and the registry decides.
#include "fileio/WorkerThread.h"
#include "recorderlibs/DbgLogger.h"
#include "tests/fileio/FileIoTest.h"
#include "tests/support/TestRegistry.h"

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

// Debugger output is an exception that a vectored handler sees first, debugger or not.
std::vector<std::string> g_debugOutput;

LONG CALLBACK CatchDebugOutput(EXCEPTION_POINTERS* info)
{
    const EXCEPTION_RECORD& record = *info->ExceptionRecord;
    if (record.ExceptionCode != DBG_PRINTEXCEPTION_C || record.NumberParameters < 2)
        return EXCEPTION_CONTINUE_SEARCH;
    g_debugOutput.emplace_back(reinterpret_cast<const char*>(record.ExceptionInformation[1]));
    return EXCEPTION_CONTINUE_EXECUTION;
}

// Whether the text of `code` was found, and what went to the debugger.
std::pair<bool, std::vector<std::string>> LookUp(std::uint32_t code)
{
    g_debugOutput.clear();
    void* handler = ::AddVectoredExceptionHandler(1, &CatchDebugOutput);
    std::string text;
    const bool found = GetAppErrorText(code, text);
    ::RemoveVectoredExceptionHandler(handler);
    EXPECT_EQ(found ? "Data could not be read from the image database file. " : kTextNotFound, text);
    return {found, g_debugOutput};
}

// Our message file, copied somewhere no search rule looks.
struct RegisteredMessageFile : ::testing::Test {
    void SetUp() override
    {
        const std::string here = testfiles::ModuleDirectory();
        ::SetCurrentDirectoryA(here.c_str());
        ASSERT_FALSE(testfiles::Exists(here + "\\" + kMessageFileName)) << "the search rules must find nothing";
        ::CreateDirectoryA((dir / "Kestrix Messages").c_str(), nullptr);
        ASSERT_TRUE(::CopyFileA((here + "\\..\\ResErrorMsg.dll").c_str(), installed.c_str(), FALSE));
    }

    testfiles::ScratchDir dir;
    testreg::ScopedKey key{kMessageFileKey};
    const std::string installed = dir / "Kestrix Messages\\ResErrorMsg.dll";
};

}  // namespace

TEST_F(RegisteredMessageFile, TheRegistrationLeadsToTheTextsAndEachFailedStepIsReported)
{
    ASSERT_EQ(0, testreg::SetString(kMessageFileKey, kMessageFileValue, installed));
    EXPECT_EQ(std::make_pair(true, std::vector<std::string>{}), LookUp(kAppErrorRead));
    // Looked up afresh every time; each failing step says so: no key, no value, over the 256 bytes read, no file.
    const std::pair<std::string, std::string> steps[] = {
        {"", "Failed finding error message file in registry\n"},
        {"TypesSupported", "Failed finding error message location in registry\n"},
        {std::string(300, 'x'), "Failed finding error message location in registry\n"},
        {installed + ".gone", "Failed opening error message file\n"}};
    for (const auto& [value, said] : steps) {
        testreg::DeleteKeyTree(kMessageFileKey);
        const bool other = value == "TypesSupported";
        if (!value.empty()) {
            ASSERT_EQ(0, testreg::SetRaw(kMessageFileKey, other ? "TypesSupported" : kMessageFileValue, REG_EXPAND_SZ,
                                         other ? "7" : value.c_str(), static_cast<DWORD>(other ? 2 : value.size() + 1)));
        }
        EXPECT_EQ(std::make_pair(false, std::vector<std::string>{said}), LookUp(kAppErrorRead)) << value;
    }
}

// Both builds see the native System32 (the 32-bit one under WOW64, as on a 64-bit recorder): by the search
// rules, and through a registration that names a folder there.
TEST_F(RegisteredMessageFile, TheNativeSystemDirectoryIsSeenByBothBuilds)
{
    BOOL wow64 = FALSE;
    ASSERT_TRUE(::IsWow64Process(::GetCurrentProcess(), &wow64) && (sizeof(void*) == 4) == (wow64 != FALSE));
    char system[MAX_PATH] = {};
    const std::string named(system, ::GetSystemDirectoryA(system, MAX_PATH));
    const std::string native = wow64 ? named.substr(0, named.rfind('\\')) + "\\Sysnative" : named;
    for (const std::string folder : {"\\Kestrix", ""}) {
        ::CreateDirectoryA((native + folder).c_str(), nullptr);
        ASSERT_TRUE(::CopyFileA(installed.c_str(), (native + folder + "\\ResErrorMsg.dll").c_str(), FALSE));
        testreg::DeleteKeyTree(kMessageFileKey);
        if (!folder.empty())
            testreg::SetString(kMessageFileKey, kMessageFileValue, named + folder + "\\ResErrorMsg.dll");
        EXPECT_EQ(std::make_pair(true, std::vector<std::string>{}), LookUp(kAppErrorRead)) << folder;
        ::DeleteFileA((native + folder + "\\ResErrorMsg.dll").c_str());
    }
    ::RemoveDirectoryA((native + "\\Kestrix").c_str());
}

// A callback that throws is traced while the loop goes on.
TEST(CompletionPortThread, HandsEveryPacketOnAndTracesAFailingCallback)
{
    testreg::ScopedKey level(kDbgLoggerKey);
    ASSERT_EQ(0, testreg::SetDword(kDbgLoggerKey, "Mediaprep", 1));
    testfiles::ScratchDir logs;
    ASSERT_TRUE(DbgLogger::Initialize(logs.path().c_str(), 0, 0));
    static std::atomic<int> seen{0};
    struct Counting {
        static void Callback(DWORD error, DWORD bytes, ULONG_PTR key, OVERLAPPED*)
        {
            if (bytes == 13)
                throw std::runtime_error("callback failed on purpose");
            seen += error == 0 && bytes == 14 && key == 6;
        }
    };
    {
        CompletionPortThread thread(&Counting::Callback);
        ASSERT_TRUE(thread.Start());
        ::PostQueuedCompletionStatus(thread.Port(), 13, 1, nullptr);
        ::PostQueuedCompletionStatus(thread.Port(), 14, 6, nullptr);
        for (int i = 0; i < 500 && seen < 1; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_EQ(1, seen.load());
    }
    DbgLogger::Shutdown();
    const std::string trace = testfiles::ReadAll(logs / "MediaprepTrace.log");
    EXPECT_NE(std::string::npos, trace.find("] callback failed on purpose\r\n")) << trace;
}
