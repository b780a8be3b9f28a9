// The platform layer: every call the data source makes to the operating
// system goes through here (its own file name, the companion's loader, the
// clock, folders and files, the trace lock, the readable-memory probe).
// Memory handles are in CDSMInterface.h, reads of memory the trace does not
// own in ForeignReader.h, both in this folder. Nothing above this folder
// includes a system header.
#ifndef TRACELET_PLATFORM_H
#define TRACELET_PLATFORM_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <time.h>

// Symbol visibility of the data source's own names.
#define TRACELET_EXPORT __attribute__((visibility("default")))

namespace tracelet {
namespace platform {

// File name (no folder) of the shared object that holds `addressInside`,
// into `out`; false when it cannot be found or does not fit.
bool ModuleFileName(const void* addressInside, char* out, size_t size);
// The same shared object's path as the loader knows it.
bool ModulePath(const void* addressInside, char* out, size_t size);

// The companion: opened by path, searched by symbol name, closed.
void* OpenLibrary(const char* path);
void* FindSymbol(void* library, const char* name);
void CloseLibrary(void* library);

// True when something (file or folder) exists at `path`.
bool PathExists(const char* path);
// True when `path` names a folder.
bool IsFolder(const char* path);
// Creates one folder; 0 on success, else the errno value.
int MakeFolder(const char* path);
// The errno values MakeFolder's callers tell apart.
enum FolderError : int { kExists, kNoPermission, kNoMemory, kOther };
FolderError ClassifyFolderError(int err);

// A file opened for appending, its stream buffered in `buffer` (of `size`
// bytes, which must outlive the stream); null when it cannot be opened.
FILE* OpenAppend(const char* path, char* buffer, size_t size);
// Writes `length` bytes and flushes them: one write when they fit the
// stream's buffer.
void WriteFlushed(FILE* file, const void* bytes, size_t length);
void CloseFile(FILE* file);

// The clock: calendar time in whole seconds, and the microseconds part of
// the time of day. They are two separate readings, as the log file name and
// the message stamps take them.
time_t CalendarSeconds();
long MicrosecondsOfSecond();
// Tests replace the two readings; null restores the system clock.
void SetClockForTesting(time_t (*seconds)(), long (*micros)());
// The local time of `seconds`; false when it cannot be had.
bool LocalTime(time_t seconds, struct tm* out);

// The trace lock: one process-wide mutex, statically initialised.
void LockTrace();
void UnlockTrace();

// The readable-memory probe: the size of a page, and how many of `count`
// pages (at most kPagesPerProbe) from `page` on can be read, in order;
// -1 when the system refuses the probe (a seccomp sandbox).
constexpr size_t kPagesPerProbe = 16;
uintptr_t PageSize();
long ReadablePages(uintptr_t page, size_t count, uintptr_t pageSize);

}  // namespace platform
}  // namespace tracelet

#endif  // TRACELET_PLATFORM_H
