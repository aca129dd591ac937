#include "app/CommandLineInfo.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

bool CleanFor(std::vector<const char*> args)
{
    args.insert(args.begin(), "Mediaprep.exe");
    CMediaprepCommandLineInfo info;
    ParseArguments(info, static_cast<int>(args.size()), args.data());
    return info.m_bClean;
}

CMediaprepCommandLineInfo Parse(std::vector<const char*> args)
{
    args.insert(args.begin(), "Mediaprep.exe");
    CMediaprepCommandLineInfo info;
    ParseArguments(info, static_cast<int>(args.size()), args.data());
    return info;
}

struct Recorder : CCommandLineInfo {
    void ParseParam(const char* param, bool flag, bool last) override
    {
        seen.push_back(std::string(param) + (flag ? " flag" : "") + (last ? " last" : ""));
    }
    std::vector<std::string> seen;
};

}  // namespace

TEST(CommandLine, TheCleanSwitchInAnyCaseAfterSlashOrHyphenSelectsSilentMode)
{
    EXPECT_TRUE(CleanFor({"/clean"}));
    EXPECT_TRUE(CleanFor({"-CLEAN"}));
    EXPECT_TRUE(CleanFor({"/Clean"}));
    EXPECT_TRUE(CleanFor({"-cLeAn"}));
    EXPECT_TRUE(CleanFor({"report.txt", "/x", "/Clean", "-verbose"}));
    EXPECT_TRUE(CleanFor({"/clean", "last"}));
}

TEST(CommandLine, AnythingElseLeavesInteractiveMode)
{
    EXPECT_FALSE(CleanFor({}));
    EXPECT_FALSE(CleanFor({"clean"}));
    EXPECT_FALSE(CleanFor({"/cleanup"}));
    EXPECT_FALSE(CleanFor({"/clea"}));
    EXPECT_FALSE(CleanFor({"//clean"}));
    EXPECT_FALSE(CleanFor({"/ clean"}));
    EXPECT_FALSE(CleanFor({"\\clean"}));
    EXPECT_FALSE(CleanFor({"/"}));
    EXPECT_FALSE(CleanFor({""}));
}

TEST(CommandLine, TheReportSwitchIsRecognisedLikeCleanAndBothCanBeSet)
{
    struct Row {
        std::vector<const char*> args;
        bool report;
        bool clean;
    };
    const Row rows[] = {
        {{"/report"}, true, false},
        {{"-REPORT"}, true, false},
        {{"/Report", "-clean"}, true, true},
        {{"/CLEAN", "x", "-rePort"}, true, true},
        {{"report"}, false, false},
        {{"/reports"}, false, false},
        {{"/report:E"}, false, false},
        {{"//report", "/clean"}, false, true},
    };
    for (const Row& row : rows) {
        const CMediaprepCommandLineInfo info = Parse(row.args);
        EXPECT_EQ(row.report, info.m_bReport) << row.args[0];
        EXPECT_EQ(row.clean, info.m_bClean) << row.args[0];
    }
}

TEST(CommandLine, EachArgumentIsPassedWithItsFlagsAsTheFrameworkDoes)
{
    const char* args[] = {"Mediaprep.exe", "/clean", "-x", "plain", "/"};
    Recorder recorder;
    ParseArguments(recorder, 5, args);
    EXPECT_EQ((std::vector<std::string>{"clean flag", "x flag", "plain", " flag last"}), recorder.seen);
}
