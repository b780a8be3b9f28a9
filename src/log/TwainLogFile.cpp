#include "log/TwainLogFile.h"

#include <errno.h>
#include <pthread.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>

#include "log/TwainLog.h"
#include "shell/Paths.h"
#include "shell/Platform.h"

FILE* g_pLogFile = nullptr;
CTwainLog* g_pcTwainLog = nullptr;

namespace {
constexpr size_t kPathSize = 256;

// The log stream's buffer. The C library would otherwise take one from the
// heap at the first write, which is inside a traced call; this one holds
// any text a call writes (5120 bytes and the overflow note) in one piece,
// and every write is flushed at once all the same.
char s_logStreamBuffer[8192];

pthread_mutex_t s_traceLock = PTHREAD_MUTEX_INITIALIZER;

char s_logName[kPathSize] = "";
}

const char* LogFileName() { return g_pLogFile ? s_logName : ""; }

TraceLock::TraceLock() { pthread_mutex_lock(&s_traceLock); }
TraceLock::~TraceLock() { pthread_mutex_unlock(&s_traceLock); }

void MakeLogFileName(time_t seconds, long micros, char* out, size_t size) {
    struct tm local;
    memset(&local, 0, sizeof local);
    localtime_r(&seconds, &local);
    const int millis = static_cast<int>(static_cast<double>(micros) / 1000.0 + 0.5);
    char stamp[kPathSize];
    snprintf(stamp, sizeof stamp, "%04d%02d%02d_%02d%02d%02d_%04d", local.tm_year + 1900,
             local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, millis);
    snprintf(out, size, "Twainlog_%s.txt", stamp);
}

void setupTwainLog() {
    char folder[kPathSize] = {};
    snprintf(folder, sizeof folder, "%s", g_szLogFolder);
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
        const int n = snprintf(path, sizeof path, "%s/%s", folder, name);
        // A path that does not fit would name another file: no log then.
        if (n > 0 && static_cast<size_t>(n) < sizeof path) g_pLogFile = fopen(path, "a");
        if (g_pLogFile) setvbuf(g_pLogFile, s_logStreamBuffer, _IOFBF, sizeof s_logStreamBuffer);
        if (g_pLogFile) memcpy(s_logName, name, sizeof s_logName);
    }

    g_cParaAnalyze.SetTwainStatus(3);
}

void cleanupTwainLog() {
    TraceLock lock;
    if (g_pcTwainLog) {
        delete g_pcTwainLog;
        g_pcTwainLog = nullptr;
    }
    if (g_pLogFile) {
        fwrite("Close Log File.\n", 1, 16, stderr);
        fclose(g_pLogFile);
        g_pLogFile = nullptr;
    }
}

void WriteLogFile(const unsigned char* bytes, unsigned long length) {
    TraceLock lock;
    WriteLogFileLocked(bytes, length);
}

void WriteLogFileLocked(const unsigned char* bytes, unsigned long length) {
    if (!g_pLogFile || !bytes) return;
    fwrite(bytes, 1, length, g_pLogFile);
    fflush(g_pLogFile);
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

    struct stat st;
    if (stat(parent, &st) != 0 || !S_ISDIR(st.st_mode)) {
        fprintf(stderr, "Output debug image data file is put in: %s ", parentPath);
        return kFileNotFoundErr;
    }
    char path[kPathSize + 32];
    snprintf(path, sizeof path, "%s/%s", parent, "NUVEXScanTwainLog");
    const int err = tracelet::platform::MakeFolder(path);
    if (err == 0) return 0;
    if (err == EEXIST) return kDuplicateNameErr;
    if (err == EACCES || err == EPERM || err == EROFS) return kPermissionErr;
    if (err == ENOMEM) return kMemFullErr;
    return kIoErr;
}
