#include "app/CommandLineInfo.h"
#include "app/MediaprepDlg.h"
#include "app/ConsoleProgress.h"
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

// The GUI test opens the About box through this entry.
TEST(SystemMenu, NoAboutEntryWithoutAText)
{
    HMENU menu = ::CreatePopupMenu();
    AppendAboutEntry(nullptr, "&About Mediaprep...");
    AppendAboutEntry(menu, "");
    EXPECT_EQ(0, ::GetMenuItemCount(menu));
    ::DestroyMenu(menu);
}

// The bar goes over the files of all the drives to wipe, the figures over
// the current drive's.
TEST(RunProgress, TheBarGoesOverAllDrivesTheFiguresOverTheCurrentOne)
{
    RunProgressState progress;
    EXPECT_EQ("", StepText(progress.Snapshot()));
    progress.WipePlanned(3000);
    const struct {
        const char* where;
        int counted, deleted;
        const char* figures;
        int position;
    } cases[] = {
        {"E:", -1, 0, "Counting the files", 0},
        {"E:", 1000, 500, "500 of 1,000 files deleted", 166},
        {"F:\\Sub", 1234567, 2000, "2,000 of 1,234,567 files deleted", 833},
        {"F:\\Sub", 1234567, 9000, "9,000 of 1,234,567 files deleted", 1000},
    };
    for (const auto& c : cases) {
        if (progress.Snapshot().where != c.where)
            progress.StepBegun(RunStep::Wiping, c.where);
        if (c.counted >= 0)
            progress.FilesCounted(c.counted);
        progress.FilesDeleted(c.deleted);
        const ProgressSnapshot now = progress.Snapshot();
        EXPECT_EQ(std::make_tuple("Wiping drive " + std::string(c.where), std::string(c.figures), c.position),
                  std::make_tuple(StepText(now), FiguresText(now), WipePosition(now, 1000)));
    }
    progress.StepBegun(RunStep::EmptyingDirectories, "C:\\Kestrix\\PreAlarm\\");
    const ProgressSnapshot now = progress.Snapshot();
    EXPECT_EQ(std::make_tuple(std::string("Emptying C:\\Kestrix\\PreAlarm\\"), std::string(), 1000),
              std::make_tuple(StepText(now), FiguresText(now), WipePosition(now, 1000)));
    EXPECT_FALSE(progress.StopRequested());
    progress.RequestStop();
    EXPECT_TRUE(progress.StopRequested());
}

// A silent run's console: a line per step, and a wipe's figures at most once per interval.
TEST(ConsoleProgress, ALinePerStepAndAWipesFiguresAtMostOncePerInterval)
{
    const std::string head = "Examining the drives\r\nWiping drive E:\r\nWiping drive E: 0 of 3 files deleted\r\n";
    const std::pair<std::uint64_t, std::string> cases[] = {
        {0, head + "Wiping drive E: 1 of 3 files deleted\r\nWiping drive E: 2 of 3 files deleted\r\nEmptying C:\\\r\n"},
        {3600000, head + "Emptying C:\\\r\n"},
    };
    for (const auto& [interval, expected] : cases) {
        char temp[MAX_PATH] = "";
        const std::string path = std::string(temp, ::GetTempPathA(MAX_PATH, temp)) + "console-progress.txt";
        {
            const win32::UniqueFileHandle file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                                             FILE_ATTRIBUTE_NORMAL, nullptr));
            ConsoleProgress progress(file.get(), interval);
            progress.StepBegun(RunStep::Examining, "");
            progress.StepBegun(RunStep::Wiping, "E:");
            progress.FilesCounted(3);
            progress.FilesDeleted(1);
            progress.FilesDeleted(2);
            progress.StepBegun(RunStep::EmptyingDirectories, "C:\\");
        }
        EXPECT_EQ(expected, testfiles::ReadAll(path)) << interval;
        ::DeleteFileA(path.c_str());
    }
}
