// Where the preview's report goes: its file, and the console that started
// the program, if any (a redirected standard output counts as one).
#pragma once

#include <string>
#include <vector>

// Replaces the file with the lines and writes them to the console; false
// when the file could not be written (one line goes to the debugger then).
bool WriteReport(const std::string& path, const std::vector<std::string>& lines);

// The lines on the console that started the program, or on a redirected
// standard output; nowhere when there is neither.
void WriteToConsole(const std::vector<std::string>& lines);
