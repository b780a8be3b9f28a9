#include "log/TwainLogFile.h"

#include <string.h>
#include <time.h>

#include "analyzer/ParaAnalyze.h"
#include "log/TwainLog.h"
#include "platform/Platform.h"
#include "platform/Paths.h"
#include "render/Format.h"

FILE* g_pLogFile = nullptr;
CTwainLog* g_pcTwainLog = nullptr;

namespace {
constexpr size_t kPathSize = 256;

// The log stream's buffer. The C library would otherwise take one from the
// heap at the first write, which is inside a traced call; this one holds
// any text a call writes (5120 bytes and the overflow note) in one piece,
// and every write is flushed at once all the same.
char s_logStreamBuffer[8192];

// The open log's file name, without its folder: the flight record is named
// after it.
char s_logName[kPathSize] = "";
}  // namespace

const char* LogFileName() { return g_pLogFile ? s_logName : ""; }

int RoundedMilliseconds(long micros) { return static_cast<int>(static_cast<double>(micros) / 1000.0 + 0.5); }

void MakeLogFileName(time_t seconds, long micros, char* out, size_t size) {
    struct tm local;
    memset(&local, 0, sizeof local);
    tracelet::platform::LocalTime(seconds, &local);
    const int millis = RoundedMilliseconds(micros);
    TRACE_FORMAT_TO(out, size, "Twainlog_%04d%02d%02d_%02d%02d%02d_%04d.txt", local.tm_year + 1900,
                    local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, millis);
}

void setupTwainLog() {
    char folder[kPathSize] = {};
    TRACE_FORMAT_TO(folder, sizeof folder, "%s", g_szLogFolder);
    if (!tracelet::platform::PathExists(folder)) return;

    TraceLock lock;
    if (g_pcTwainLog) {
        delete g_pcTwainLog;
        g_pcTwainLog = nullptr;
    }
    g_pcTwainLog = new CTwainLog;

    if (!g_pLogFile) {
        // Seconds and milliseconds come from two separate clock readings.
        const time_t seconds = tracelet::platform::CalendarSeconds();
        const long micros = tracelet::platform::MicrosecondsOfSecond();
        char name[kPathSize];
        MakeLogFileName(seconds, micros, name, sizeof name);
        char path[kPathSize];
        const size_t n = TRACE_FORMAT_TO(path, sizeof path, "%s/%s", folder, name);
        // A path that does not fit would name another file: no log then.
        if (n == strlen(folder) + 1 + strlen(name))
            g_pLogFile = tracelet::platform::OpenAppend(path, s_logStreamBuffer, sizeof s_logStreamBuffer);
        if (g_pLogFile) memcpy(s_logName, name, sizeof s_logName);
    }

    g_cParaAnalyze.SetTwainStatus(tracelet::logmodel::kStateAtLoad);
}

void cleanupTwainLog() {
    TraceLock lock;
    if (g_pcTwainLog) {
        delete g_pcTwainLog;
        g_pcTwainLog = nullptr;
    }
    if (g_pLogFile) {
        fwrite("Close Log File.\n", 1, 16, stderr);
        tracelet::platform::CloseFile(g_pLogFile);
        g_pLogFile = nullptr;
    }
}

void WriteLogFile(const unsigned char* bytes, unsigned long length) {
    TraceLock lock;
    WriteLogFileLocked(bytes, length);
}

void WriteLogFileLocked(const unsigned char* bytes, unsigned long length) {
    tracelet::platform::WriteFlushed(g_pLogFile, bytes, length);
}

namespace {
// Classic file-system result codes, as callers of this function expect them.
constexpr int kParamErr = -50;
constexpr int kMemFullErr = -108;
constexpr int kFileNotFoundErr = -43;
constexpr int kDuplicateNameErr = -48;
constexpr int kPermissionErr = -54;
constexpr int kIoErr = -36;
}  // namespace

int CreateVLTempDirectory(char* parentPath) {
    if (!parentPath) return kParamErr;
    char parent[kPathSize] = {};
    const size_t n = strnlen(parentPath, kPathSize);
    if (n >= kPathSize) return kParamErr;  // would not fit the parent buffer
    memcpy(parent, parentPath, n);

    if (!tracelet::platform::IsFolder(parent)) {
        fprintf(stderr, "Output debug image data file is put in: %s ", parentPath);
        return kFileNotFoundErr;
    }
    char path[kPathSize + 32];
    TRACE_FORMAT_TO(path, sizeof path, "%s/%s", parent, "NUVEXScanTwainLog");
    const int err = tracelet::platform::MakeFolder(path);
    if (err == 0) return 0;
    switch (tracelet::platform::ClassifyFolderError(err)) {
        case tracelet::platform::kExists: return kDuplicateNameErr;
        case tracelet::platform::kNoPermission: return kPermissionErr;
        case tracelet::platform::kNoMemory: return kMemFullErr;
        case tracelet::platform::kOther: break;
    }
    return kIoErr;
}
