// Where the preview's report and a silent run's progress go besides their
// files: the console that started the program, if any (a redirected standard
// output counts as one).
#pragma once

#include "recorderlibs/Win32Handle.h"

#include <windows.h>

#include <string>
#include <vector>

// The console of the program that started this one, or a redirected standard
// output; started from neither, every line is dropped.
class ConsoleOutput {
public:
    ConsoleOutput();
    explicit ConsoleOutput(HANDLE output) : m_hOutput(output) {}  // not owned
    ConsoleOutput(const ConsoleOutput&) = delete;
    ConsoleOutput& operator=(const ConsoleOutput&) = delete;

    bool Available() const { return m_hOutput != INVALID_HANDLE_VALUE; }
    // Writes the line and a line break; false when it could not be written.
    bool WriteLine(const std::string& line);

private:
    HANDLE m_hOutput = INVALID_HANDLE_VALUE;  // not owned, unless it is m_console
    win32::UniqueFileHandle m_console;
};

// Replaces the file with the lines and writes them to the console; false
// when the file could not be written (one line goes to the debugger then).
bool WriteReport(const std::string& path, const std::vector<std::string>& lines);

// The lines on the console that started the program, or on a redirected
// standard output; nowhere when there is neither.
void WriteToConsole(const std::vector<std::string>& lines);
