// Command-line parsing in the manner of the Windows application framework:
// each argument is handed to ParseParam with the flag set when it begins with
// "/" or "-" (the text then comes without that character) and the last flag
// set for the final argument.
#pragma once

class CCommandLineInfo {
public:
    virtual ~CCommandLineInfo() = default;
    virtual void ParseParam(const char* param, bool flag, bool last) = 0;
};

// Hands argv[1] .. argv[argc - 1] to info.ParseParam.
void ParseArguments(CCommandLineInfo& info, int argc, const char* const* argv);

// The process's own command line, split as the C runtime splits it.
void ParseCommandLine(CCommandLineInfo& info);

class CMediaprepCommandLineInfo : public CCommandLineInfo {
public:
    // Sets m_bClean for the switch "clean", m_bReport for "report" and
    // m_bHelp for "?" and "help", in any letter case; everything else is
    // ignored without a message. With "report" anywhere, m_bClean stays
    // false; help wins over both.
    void ParseParam(const char* param, bool flag, bool last) override;

    bool m_bClean = false;
    bool m_bReport = false;  // nothing is prepared
    bool m_bHelp = false;    // nothing is examined or changed
};
