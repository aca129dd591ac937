#include "app/CommandLineInfo.h"
#include "app/MediaprepDlg.h"

#include <gtest/gtest.h>

TEST(CommandLine, NothingButASwitchAfterASlashOrADashCountsAndReportWins)
{
    const struct {
        const char *first, *second;
        bool clean, report;
    } cases[] = {
        {"//clean", "", false, false},       {"/report:E", "", false, false}, {"/cleanup", "clean", false, false},
        {"-cLean", "", true, false},         {"/report", "", false, true},    {"-rePort", "", false, true},
        {"/Report", "-clean", false, true}, {"-clean", "/report", false, true},
    };
    for (const auto& c : cases) {
        const char* argv[] = {"Mediaprep.exe", c.first, c.second};
        CMediaprepCommandLineInfo info;
        ParseArguments(info, 3, argv);
        EXPECT_EQ(std::make_pair(c.clean, c.report), std::make_pair(info.m_bClean, info.m_bReport))
            << c.first << ' ' << c.second;
    }
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
