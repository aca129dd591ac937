// Where the preview's report goes: its file, and the console that started
// the program, if any (a redirected standard output counts as one).
#pragma once

#include <string>
#include <vector>

// Replaces the file with the lines. A file that cannot be opened leaves one
// line for the debugger; the console still gets the report.
void WriteReport(const std::string& path, const std::vector<std::string>& lines);
