#include "app/CommandLineInfo.h"
#include "app/MediaprepDlg.h"
#include "app/ConsoleProgress.h"
#include "app/RunGuards.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <thread>
#include <tuple>
#include <utility>
#include <vector>

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
}

// What a silent run's console gets when: each line said, else a wipe's figures at most once per interval.
TEST(ConsoleProgress, ALinePerStepAndAWipesFiguresAtMostOncePerInterval)
{
    ConsoleLines lines(3000);
    RunProgressState progress;
    progress.StepBegun(RunStep::Wiping, "E:");
    progress.FilesCounted(3);
    const struct { std::uint64_t now; std::int32_t deleted; const char* said; std::vector<std::string> due; } cases[] = {
        {1000, 0, "Wiping drive E: 0 of 3 files deleted", {"Wiping drive E: 0 of 3 files deleted"}},
        {3999, 1, nullptr, {}},
        {4000, 1, nullptr, {"Wiping drive E: 1 of 3 files deleted"}},
        {5000, 2, "Stopping.", {"Stopping."}},
        {8000, 3, nullptr, {"Wiping drive E: 3 of 3 files deleted"}},
    };
    for (const auto& c : cases) {
        progress.FilesDeleted(c.deleted);
        if (c.said)
            lines.Add(c.said);
        EXPECT_EQ(c.due, lines.Due(progress.Snapshot(), c.now)) << c.now;
    }
}

namespace {

std::vector<std::wstring> g_reasons;  // what the fakes below were given; L"-" for each destroy
BOOL WINAPI FakeCreateReason(HWND, LPCWSTR reason)
{
    g_reasons.push_back(reason);
    return TRUE;
}
BOOL WINAPI FakeDestroyReason(HWND)
{
    g_reasons.push_back(L"-");
    return TRUE;
}

}  // namespace

// What Wine cannot do faked: the block reason (a stub there), Ctrl+Break and a closed console (the handler
// is called here). A drive under way holds the session off, Ctrl+C waits for it, a closed console a while.
TEST(RunGuards, ADriveUnderWayHoldsOffTheSessionAndEveryStop)
{
    const auto create = std::exchange(SessionEndGuard::CreateReason, FakeCreateReason);
    const auto destroy = std::exchange(SessionEndGuard::DestroyReason, FakeDestroyReason);
    testfiles::ScratchDir dir;
    const std::string path = dir.path() + "\\console.txt";
    std::vector<std::string> ended;
    {
        const win32::UniqueFileHandle file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        ConsoleProgress run(file.get(), 3600000);
        const auto report = [&](const std::string& text) { ended.push_back(text); };
        SessionEndGuard guard(run, report);
        ConsoleInterrupts interrupts(run, report);
        ASSERT_TRUE(run.DriveBegins("E:"));
        run.StepBegun(RunStep::Wiping, "E:");
        run.FilesCounted(20000);
        run.FilesDeleted(1234);
        EXPECT_EQ(FALSE, guard.Query(nullptr));
        guard.Refresh(nullptr);  // nothing new to say
        EXPECT_FALSE(run.StopRequested());
        for (const DWORD event : {CTRL_C_EVENT, CTRL_BREAK_EVENT, CTRL_LOGOFF_EVENT})
            EXPECT_EQ(event != CTRL_LOGOFF_EVENT, ConsoleInterrupts::Handler(event) != FALSE) << event;
        std::thread drive([&] {
            ::Sleep(300);
            run.DriveEnded();
        });
        const ULONGLONG start = ::GetTickCount64();
        EXPECT_EQ(TRUE, ConsoleInterrupts::Handler(CTRL_CLOSE_EVENT));
        EXPECT_LT(::GetTickCount64() - start, 2000u);
        drive.join();
        guard.Refresh(nullptr);
        EXPECT_EQ(TRUE, guard.Query(nullptr));
        EXPECT_FALSE(run.DriveBegins("F:"));
        guard.Ended(nullptr, true);
        run.Finish(5000);
    }
    EXPECT_EQ("Wiping drive E:\r\nWiping drive E: 0 of 20,000 files deleted\r\n"
              "Stopping after drive E:, which is finished first (Ctrl+C again shows how far it is).\r\n"
              "Wiping drive E: 1,234 of 20,000 files deleted; stopping when drive E: is done.\r\n",
              testfiles::ReadAll(path));
    EXPECT_EQ((std::vector<std::wstring>{L"Wiping drive E: 1,234 of 20,000 files deleted. Ending Mediaprep now would "
                                         L"leave this drive half prepared.", L"-"}), g_reasons);
    EXPECT_EQ((std::vector<std::string>{"Mediaprep was ended when its console was closed after drive E:.",
                                        "Mediaprep was ended by the system after drive E:."}), ended);
    EXPECT_EQ(TRUE, ConsoleInterrupts::Handler(CTRL_C_EVENT));  // after the run: ignored, not the end of the process
    SessionEndGuard::CreateReason = create;
    SessionEndGuard::DestroyReason = destroy;
}
