// Linux side of the platform seam.
#include "shell/Platform.h"

#include <dlfcn.h>
#include <errno.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

namespace tracelet {
namespace platform {

bool ModuleFileName(const void* addressInside, char* out, size_t size) {
    Dl_info info;
    if (!out || !size || !dladdr(addressInside, &info) || !info.dli_fname || !*info.dli_fname)
        return false;
    const char* slash = strrchr(info.dli_fname, '/');
    const char* name = slash ? slash + 1 : info.dli_fname;
    size_t n = strlen(name);
    if (n == 0 || n >= size) return false;
    memcpy(out, name, n + 1);
    return true;
}

void* OpenLibrary(const char* path) { return path ? dlopen(path, RTLD_NOW | RTLD_LOCAL) : nullptr; }

void* FindSymbol(void* library, const char* name) { return library ? dlsym(library, name) : nullptr; }

void CloseLibrary(void* library) {
    if (library) dlclose(library);
}

bool PathExists(const char* path) { return path && access(path, F_OK) == 0; }

int MakeFolder(const char* path) { return mkdir(path, 0777) == 0 ? 0 : errno; }

namespace {
time_t SystemSeconds() { return time(nullptr); }
long SystemMicros() {
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    return static_cast<long>(tv.tv_usec);
}
time_t (*g_fnSeconds)() = SystemSeconds;
long (*g_fnMicros)() = SystemMicros;
}  // namespace

time_t CalendarSeconds() { return g_fnSeconds(); }
long MicrosecondsOfSecond() { return g_fnMicros(); }

void SetClockForTesting(time_t (*seconds)(), long (*micros)()) {
    g_fnSeconds = seconds ? seconds : SystemSeconds;
    g_fnMicros = micros ? micros : SystemMicros;
}

}  // namespace platform
}  // namespace tracelet
