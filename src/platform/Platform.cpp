// Linux side of the platform layer.
#include "platform/Platform.h"

#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/uio.h>
#include <unistd.h>

namespace tracelet {
namespace platform {

namespace {
// The path dladdr gives for the shared object holding `addressInside`.
const char* ModuleFile(const void* addressInside) {
    Dl_info info;
    if (!dladdr(addressInside, &info) || !info.dli_fname || !*info.dli_fname) return nullptr;
    return info.dli_fname;
}

bool CopyWhole(const char* text, char* out, size_t size) {
    const size_t n = strlen(text);
    if (n == 0 || n >= size) return false;
    memcpy(out, text, n + 1);
    return true;
}
}  // namespace

bool ModulePath(const void* addressInside, char* out, size_t size) {
    const char* path = out && size ? ModuleFile(addressInside) : nullptr;
    return path && CopyWhole(path, out, size);
}

bool ModuleFileName(const void* addressInside, char* out, size_t size) {
    const char* path = out && size ? ModuleFile(addressInside) : nullptr;
    if (!path) return false;
    const char* slash = strrchr(path, '/');
    return CopyWhole(slash ? slash + 1 : path, out, size);
}

void* OpenLibrary(const char* path) { return path ? dlopen(path, RTLD_NOW | RTLD_LOCAL) : nullptr; }

void* FindSymbol(void* library, const char* name) { return library ? dlsym(library, name) : nullptr; }

void CloseLibrary(void* library) {
    if (library) dlclose(library);
}

bool PathExists(const char* path) { return path && access(path, F_OK) == 0; }

bool IsFolder(const char* path) {
    struct stat st;
    return path && stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

int MakeFolder(const char* path) { return mkdir(path, 0777) == 0 ? 0 : errno; }

FolderError ClassifyFolderError(int err) {
    if (err == EEXIST) return kExists;
    if (err == EACCES || err == EPERM || err == EROFS) return kNoPermission;
    if (err == ENOMEM) return kNoMemory;
    return kOther;
}

FILE* OpenAppend(const char* path, char* buffer, size_t size) {
    FILE* file = path ? fopen(path, "a") : nullptr;
    if (file && buffer) setvbuf(file, buffer, _IOFBF, size);
    return file;
}

void WriteFlushed(FILE* file, const void* bytes, size_t length) {
    if (!file || !bytes) return;
    fwrite(bytes, 1, length, file);
    fflush(file);
}

void CloseFile(FILE* file) {
    if (file) fclose(file);
}

namespace {
time_t SystemSeconds() { return time(nullptr); }
long SystemMicros() {
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    return static_cast<long>(tv.tv_usec);
}
time_t (*g_fnSeconds)() = SystemSeconds;
long (*g_fnMicros)() = SystemMicros;

pthread_mutex_t g_traceLock = PTHREAD_MUTEX_INITIALIZER;
}  // namespace

time_t CalendarSeconds() { return g_fnSeconds(); }
long MicrosecondsOfSecond() { return g_fnMicros(); }

void SetClockForTesting(time_t (*seconds)(), long (*micros)()) {
    g_fnSeconds = seconds ? seconds : SystemSeconds;
    g_fnMicros = micros ? micros : SystemMicros;
}

bool LocalTime(time_t seconds, struct tm* out) { return out && localtime_r(&seconds, out) != nullptr; }

void LockTrace() { pthread_mutex_lock(&g_traceLock); }
void UnlockTrace() { pthread_mutex_unlock(&g_traceLock); }

uintptr_t PageSize() {
    static const uintptr_t size = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    return size;
}

long ReadablePages(uintptr_t page, size_t count, uintptr_t pageSize) {
    // One byte of each page copied through the kernel, which reports a page
    // that cannot be read instead of faulting.
    if (count > kPagesPerProbe) count = kPagesPerProbe;
    iovec remote[kPagesPerProbe];
    unsigned char bytes[kPagesPerProbe];
    for (size_t i = 0; i < count; ++i) {
        remote[i].iov_base = reinterpret_cast<void*>(page + i * pageSize);
        remote[i].iov_len = 1;
    }
    iovec local{bytes, count};
    const ssize_t n = process_vm_readv(getpid(), &local, 1, remote, count, 0);
    if (n >= 0) return static_cast<long>(n);
    if (errno == EFAULT || errno == ENOMEM) return 0;
    return -1;  // EPERM, ENOSYS, EACCES ...: not allowed here
}

}  // namespace platform
}  // namespace tracelet
