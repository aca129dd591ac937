#include "app/CommandLineInfo.h"
#include "app/FileRunLog.h"
#include "app/MediaprepDlg.h"
#include "app/Resource.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
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
        {{"report.txt", "/x", "-Clean", "-verbose"}, true, false},
        {{}, false, false},
        {{"clean"}, false, false},
        {{"/cleanup"}, false, false},
        {{"//clean"}, false, false},
        {{"\\clean"}, false, false},
        {{""}, false, false},
        {{"/report"}, false, true},
        {{"/CLEAN", "x", "-rePort"}, true, true},
        {{"/report:E"}, false, false},
    };
    for (const auto& c : cases) {
        std::vector<const char*> argv{"Mediaprep.exe"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        CMediaprepCommandLineInfo info;
        ParseArguments(info, static_cast<int>(argv.size()), argv.data());
        EXPECT_EQ(std::make_pair(c.clean, c.report), std::make_pair(info.m_bClean, info.m_bReport)) << &c - cases;
    }
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
    EXPECT_EQ("Configuring Kestrix Drives\r\n", testfiles::ReadAll(locked));
}

// The GUI test opens the About box through this entry.
TEST(SystemMenu, NoAboutEntryWithoutAText)
{
    HMENU menu = ::CreatePopupMenu();
    AppendAboutEntry(nullptr, "&About Mediaprep...");
    AppendAboutEntry(menu, "");
    EXPECT_EQ(0, ::GetMenuItemCount(menu));
    ::DestroyMenu(menu);
}
