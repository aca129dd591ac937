// The recorder's diagnostic trace library (DbgLogger.dll interface), our own.
//
// Files: Initialize(directory, maxFileBytes, keptBytes) creates the directory
// (with its parents) and keeps one file per log name in it, "<name>Trace.log"
// ("MediaprepTrace.log" for the program's log; the run log "Mediaprep.log" in
// the same directory is a different file).
//
// Size: a trace file never grows past maxFileBytes. When the next line would
// take it past, the oldest lines are dropped so that at most keptBytes of the
// newest whole lines remain, and the line is appended. The program passes
// 1000000 and 900000: a file of at most ~1 MB that sheds ~100 KB at a time.
// A maxFileBytes of 0 or less means no limit.
//
// Levels: GetDebugLevel(name) reads the REG_DWORD value <name> under
// HKEY_LOCAL_MACHINE\Software\Corvane-VG\Kestrix\DbgLogger; 0 when it is
// missing. It is read on every call, so a level set while the program runs
// takes effect at once.
//
// Lines: the stream from GetLog collects text and writes each complete line
// when it is flushed (std::endl) or destroyed, as one write under the
// library's lock: "YYYY-MM-DD hh:mm:ss.mmm [thread id] text" and CR LF, local
// time. Lines from several threads never interleave. Before Initialize and
// after Shutdown the streams discard their text.
#pragma once

#include <memory>
#include <ostream>
#include <string>

class DbgLogger {
public:
    static bool Initialize(const char* directory, long long maxFileBytes, long long keptBytes);
    static int GetDebugLevel(const char* logName);
    static std::unique_ptr<std::ostream> GetLog(const char* logName);
    static bool Shutdown();

    // Where the file of a log name lies (empty before Initialize).
    static std::string GetLogFilePath(const char* logName);
};

// The registry key (under HKEY_LOCAL_MACHINE) that holds the trace levels.
inline constexpr const char* kDbgLoggerKey = "Software\\Corvane-VG\\Kestrix\\DbgLogger";
