#include "app/CommandLineInfo.h"

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
