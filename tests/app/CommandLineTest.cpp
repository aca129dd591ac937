#include "app/CommandLineInfo.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Recorder : CCommandLineInfo {
    void ParseParam(const char* param, bool flag, bool last) override
    {
        seen.push_back(std::string(param) + (flag ? " flag" : "") + (last ? " last" : ""));
    }
    std::vector<std::string> seen;
};

}  // namespace

TEST(CommandLine, SwitchesAndTheArgumentsParseParamGets)
{
    // One row per command line (without the program name); the switch is
    // recognised in any case after / or -, anywhere; nothing else counts.
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

    const char* argv[] = {"Mediaprep.exe", "/clean", "-x", "plain", "/"};
    Recorder recorder;
    ParseArguments(recorder, 5, argv);
    EXPECT_EQ((std::vector<std::string>{"clean flag", "x flag", "plain", " flag last"}), recorder.seen);
}
