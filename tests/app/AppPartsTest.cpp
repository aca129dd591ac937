#include "app/CommandLineInfo.h"
#include "app/FileRunLog.h"
#include "app/MediaprepDlg.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

TEST(CommandLine, NothingButASwitchAfterASlashOrADashCounts)
{
    // The GUI test runs the switches themselves, in mixed case and among other arguments.
    for (const char* arg : {"//clean", "", "/report:E", "/cleanup", "clean"}) {
        const char* argv[] = {"Mediaprep.exe", arg};
        CMediaprepCommandLineInfo info;
        ParseArguments(info, 2, argv);
        EXPECT_FALSE(info.m_bClean || info.m_bReport) << arg;
    }
}

TEST(FileRunLog, AFileThatCannotBeOpenedDropsEveryReport)
{
    FileRunLog log("C:\\missing-mediaprep\\Mediaprep.log");
    log.Error("lost");
    log.Message("lost");
    EXPECT_FALSE(testfiles::Exists("C:\\missing-mediaprep"));
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
