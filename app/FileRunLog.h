// The run log of a silent run: "Configuring Kestrix Drives", then one line
// per report. Texts are written unchanged, so a text that ends in a line
// feed leaves an empty line behind it. Each report reaches the file at once,
// whichever thread makes it: a run ended from outside keeps what it said.
#pragma once

#include "app/RunLog.h"
#include "recorderlibs/CriticalSection.h"

#include <fstream>

// The log of the silent run, and the directory of the program's trace files.
inline constexpr const char* kLogDirectory = "C:\\Windows\\Kestrix\\MediaprepLogs";
inline constexpr const char* kRunLogPath = "C:\\Windows\\Kestrix\\MediaprepLogs\\Mediaprep.log";

class FileRunLog : public RunLog {
public:
    // Truncates the file. When it cannot be opened, one line goes to the
    // debugger and every report is dropped; the run itself goes on.
    explicit FileRunLog(const std::string& path);
    FileRunLog(const FileRunLog&) = delete;
    FileRunLog& operator=(const FileRunLog&) = delete;

    void Error(const std::string& text) override;
    void Message(const std::string& text) override;

private:
    void Write(const char* head, const std::string& text);

    CriticalSection m_lock;
    std::ofstream m_file;
};
