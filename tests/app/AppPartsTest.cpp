#include "app/CommandLineInfo.h"
#include "app/FileRunLog.h"
#include "app/MediaprepDlg.h"
#include "app/Resource.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(CommandLine, Switches)
{
    // One row per command line, without the program name: a switch counts
    // in any letter case after / or -, anywhere; nothing else does.
    const struct {
        std::vector<const char*> args;
        bool clean;
        bool report;
    } cases[] = {
        {{"/clean"}, true, false},
        {{"-CLEAN"}, true, false},
        {{"/cLeAn", "last"}, true, false},
        {{"report.txt", "/x", "-Clean", "-verbose"}, true, false},
        {{}, false, false},
        {{"clean"}, false, false},
        {{"/cleanup"}, false, false},
        {{"/clea"}, false, false},
        {{"//clean"}, false, false},
        {{"/ clean"}, false, false},
        {{"\\clean"}, false, false},
        {{"/"}, false, false},
        {{""}, false, false},
        {{"/report"}, false, true},
        {{"-REPORT"}, false, true},
        {{"/Report", "-clean"}, true, true},
        {{"/CLEAN", "x", "-rePort"}, true, true},
        {{"report"}, false, false},
        {{"/reports"}, false, false},
        {{"/report:E"}, false, false},
        {{"//report", "/clean"}, true, false},
    };
    for (const auto& c : cases) {
        std::vector<const char*> argv{"Mediaprep.exe"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        CMediaprepCommandLineInfo info;
        ParseArguments(info, static_cast<int>(argv.size()), argv.data());
        std::string line;
        for (const char* arg : c.args)
            line += std::string(" ") + arg;
        EXPECT_EQ(c.clean, info.m_bClean) << line;
        EXPECT_EQ(c.report, info.m_bReport) << line;
    }
}

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

// The GUI test opens the About box through this entry; here, what it adds.
TEST(SystemMenu, TheAboutEntryFollowsASeparatorAndOnlyWhenItHasAText)
{
    HMENU menu = ::CreatePopupMenu();
    ::AppendMenuA(menu, MF_STRING, SC_CLOSE, "&Close");
    AppendAboutEntry(nullptr, "&About Mediaprep...");
    AppendAboutEntry(menu, "");
    EXPECT_EQ(1, ::GetMenuItemCount(menu));
    AppendAboutEntry(menu, "&About Mediaprep...");
    ASSERT_EQ(3, ::GetMenuItemCount(menu));
    EXPECT_TRUE(::GetMenuState(menu, 1, MF_BYPOSITION) & MF_SEPARATOR);
    EXPECT_EQ(static_cast<UINT>(IDM_ABOUTBOX), ::GetMenuItemID(menu, 2));
    ::DestroyMenu(menu);
}
