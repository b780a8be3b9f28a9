// Linux side of the flight record's file, clock and identity calls.
#include "platform/FlightFile.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif

namespace tracelet {
namespace platform {

int CreateFileExclusive(const char* path) {
    const int fd = open(path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    return fd >= 0 ? fd : -errno;
}

void CloseFile(int fd) {
    if (fd >= 0) close(fd);
}

void RemoveFile(const char* path) { unlink(path); }

size_t WriteFile(int fd, const void* from, size_t n) {
    size_t done = 0;
    while (done < n) {
        const ssize_t w = write(fd, static_cast<const char*>(from) + done, n - done);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) break;
        done += static_cast<size_t>(w);
    }
    return done;
}

bool IsDirectory(const char* path) {
    struct stat st;
    return path && stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

int ReserveFileSpace(int fd, uint64_t offset, uint64_t length) {
    int err;
    do {
        err = posix_fallocate(fd, static_cast<off_t>(offset), static_cast<off_t>(length));
    } while (err == EINTR);
    return err;
}

uint64_t StreamFileSize(FILE* stream) {
    struct stat st;
    if (!stream || fstat(fileno(stream), &st) != 0) return 0;
    return static_cast<uint64_t>(st.st_size);
}

void* ReserveAddressRange(size_t bytes) {
    void* p = mmap(nullptr, bytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

void ReleaseAddressRange(void* base, size_t bytes) {
    if (base) munmap(base, bytes);
}

int MapFileInto(void* base, int fd, uint64_t offset, uint64_t length) {
    const uint64_t page = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
    const uint64_t from = offset / page * page;
    void* at = static_cast<char*>(base) + from;
    const size_t bytes = static_cast<size_t>(length + (offset - from));
    void* p = mmap(at, bytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, fd, static_cast<off_t>(from));
    if (p == MAP_FAILED) return errno;
    // Fault the pages in, writable, now rather than at each page's first
    // record: a write fault on a shared file mapping costs microseconds
    // (the file system's page_mkwrite). Kernels before 5.14 do not know the
    // advice; their calls fault the pages in as they go.
    madvise(p, bytes, MADV_POPULATE_WRITE);
    return 0;
}

int64_t MonotonicNanoseconds() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

int64_t WallNanoseconds() {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

int32_t UtcOffsetSeconds(int64_t wallSeconds) {
    const time_t t = static_cast<time_t>(wallSeconds);
    struct tm local;
    memset(&local, 0, sizeof local);
    if (!localtime_r(&t, &local)) return 0;
    return static_cast<int32_t>(local.tm_gmtoff);
}

uint32_t CurrentThreadId() { return static_cast<uint32_t>(syscall(SYS_gettid)); }
uint32_t CurrentProcessId() { return static_cast<uint32_t>(getpid()); }

void OnForkChild(void (*handler)()) { pthread_atfork(nullptr, nullptr, handler); }

bool ProcessStart(uint64_t* ticks, uint32_t* ticksPerSecond) {
    char stat[1024];
    const int fd = open("/proc/self/stat", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const ssize_t n = read(fd, stat, sizeof stat - 1);
    close(fd);
    if (n <= 0) return false;
    stat[n] = '\0';
    // The name (field 2) may hold spaces and parentheses: count fields from
    // its closing parenthesis, the last one in the line. Field 3 follows it.
    const char* p = strrchr(stat, ')');
    if (!p) return false;
    for (int field = 2; field < 22; ++field) {
        p = strchr(p + 1, ' ');
        if (!p) return false;
    }
    char* end = nullptr;
    const unsigned long long value = strtoull(p + 1, &end, 10);
    if (end == p + 1) return false;
    *ticks = value;
    const long hz = sysconf(_SC_CLK_TCK);
    *ticksPerSecond = hz > 0 ? static_cast<uint32_t>(hz) : 0;
    return true;
}

bool ReadFirstLine(const char* path, char* out, size_t size) {
    if (!size) return false;
    out[0] = '\0';
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const ssize_t n = read(fd, out, size - 1);
    close(fd);
    if (n <= 0) return false;
    out[n] = '\0';
    out[strcspn(out, "\n")] = '\0';
    return true;
}

}  // namespace platform
}  // namespace tracelet
