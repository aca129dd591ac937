#include "app/CommandLineInfo.h"
#include "app/FileRunLog.h"
#include "app/MediaprepDlg.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <tuple>

TEST(CommandLine, NothingButASwitchAfterASlashOrADashCountsAndReportWins)
{
    const struct {
        const char *first, *second;
        bool clean, report, help;
    } cases[] = {
        {"//clean", "", false, false, false},      {"/report:E", "", false, false, false},
        {"/cleanup", "clean", false, false, false}, {"-cLean", "", true, false, false},
        {"/report", "", false, true, false},        {"-rePort", "", false, true, false},
        {"/Report", "-clean", false, true, false},  {"-clean", "/report", false, true, false},
        {"-clean", "/?", true, false, true},        {"-HELP", "", false, false, true},
        {"?", "/??", false, false, false},
    };
    for (const auto& c : cases) {
        const char* argv[] = {"Mediaprep.exe", c.first, c.second};
        CMediaprepCommandLineInfo info;
        ParseArguments(info, 3, argv);
        EXPECT_EQ(std::make_tuple(c.clean, c.report, c.help), std::make_tuple(info.m_bClean, info.m_bReport, info.m_bHelp))
            << c.first << ' ' << c.second;
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
