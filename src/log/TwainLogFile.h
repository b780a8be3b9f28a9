// The trace log file: one file per load of the data source, in the log
// folder, only while that folder exists.
#ifndef TRACELET_TWAINLOGFILE_H
#define TRACELET_TWAINLOGFILE_H

#include <stdio.h>
#include <time.h>

#include "analyzer/ParaAnalyze.h"

class CTwainLog;

extern "C" {
extern TRACELET_EXPORT FILE* g_pLogFile;
extern TRACELET_EXPORT CTwainLog* g_pcTwainLog;

TRACELET_EXPORT void setupTwainLog();
TRACELET_EXPORT void cleanupTwainLog();
TRACELET_EXPORT void WriteLogFile(const unsigned char* bytes, unsigned long length);
TRACELET_EXPORT int CreateVLTempDirectory(char* parentPath);
}

// The trace lock: one process-wide mutex, statically initialised, that
// guards the analyzer (numbering, state, scratch), the log file and the
// logger instance. DS_Entry holds it only while it renders and writes a
// call's text, never while the companion or the manager runs; set-up and
// clean-up hold it too, so that a call in flight on another thread never
// meets a half-opened or closed file.
class TraceLock {
public:
    TraceLock();
    ~TraceLock();
    TraceLock(const TraceLock&) = delete;
    TraceLock& operator=(const TraceLock&) = delete;
};

// The open log's file name (no folder), "" when no log is open.
const char* LogFileName();

// WriteLogFile for a caller that already holds the trace lock.
void WriteLogFileLocked(const unsigned char* bytes, unsigned long length);

// The log file's name for a load at `seconds` (local time) with `micros`
// microseconds into the second: "Twainlog_YYYYMMDD_HHMMSS_mmmm.txt", the
// milliseconds rounded to the nearest, halves up (0 to 1000).
void MakeLogFileName(time_t seconds, long micros, char* out, size_t size);

#endif  // TRACELET_TWAINLOGFILE_H
