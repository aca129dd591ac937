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
    } cases[] = {
        {{"/clean"}, true},
        {{"-CLEAN"}, true},
        {{"/cLeAn", "last"}, true},
        {{"report.txt", "/x", "-Clean", "-verbose"}, true},
        {{}, false},
        {{"clean"}, false},
        {{"/cleanup"}, false},
        {{"/clea"}, false},
        {{"//clean"}, false},
        {{"/ clean"}, false},
        {{"\\clean"}, false},
        {{"/"}, false},
        {{""}, false},
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
    }
}
