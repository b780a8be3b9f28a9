// The platform seam: everything the data source needs from the operating
// system goes through here (own file name, the companion's loader, the
// clock, folders). Everything above it is plain C++.
#ifndef TRACELET_PLATFORM_H
#define TRACELET_PLATFORM_H

#include <stddef.h>
#include <time.h>

namespace tracelet {
namespace platform {

// File name (no folder) of the shared object that holds `addressInside`,
// into `out`; false when it cannot be found or does not fit.
bool ModuleFileName(const void* addressInside, char* out, size_t size);

// The companion: opened by path, searched by symbol name, closed.
void* OpenLibrary(const char* path);
void* FindSymbol(void* library, const char* name);
void CloseLibrary(void* library);

// True when something (file or folder) exists at `path`.
bool PathExists(const char* path);
// Creates one folder; 0 on success, else the errno value.
int MakeFolder(const char* path);

// The clock: calendar time in whole seconds, and the microseconds part of
// the time of day. They are two separate readings, as the log file name and
// the message stamps take them.
time_t CalendarSeconds();
long MicrosecondsOfSecond();
// Tests replace the two readings; null restores the system clock.
void SetClockForTesting(time_t (*seconds)(), long (*micros)());

}  // namespace platform
}  // namespace tracelet

#endif  // TRACELET_PLATFORM_H
