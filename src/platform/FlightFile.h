// What the flight record needs from the operating system: an exclusively
// created file, disk space reserved ahead, an address range reserved once
// and the file mapped into it in steps, the clocks, thread and process
// identities, and the few /proc files the record's header quotes.
#ifndef TRACELET_PLATFORM_FLIGHTFILE_H
#define TRACELET_PLATFORM_FLIGHTFILE_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

namespace tracelet {
namespace platform {

// Creates `path` for reading and writing, failing if it exists; the file
// descriptor, or -errno.
int CreateFileExclusive(const char* path);
void CloseFile(int fd);
void RemoveFile(const char* path);
// Writes `n` bytes from `from` (memory a write may find unreadable: the
// kernel then reports it instead of faulting); the bytes written, fewer
// when the disk or the memory stopped it.
size_t WriteFile(int fd, const void* from, size_t n);
bool IsDirectory(const char* path);
// Reserves [offset, offset + length) of the file on disk (posix_fallocate):
// 0, or the errno value (ENOSPC on a full disk).
int ReserveFileSpace(int fd, uint64_t offset, uint64_t length);
// The size of an open stream's file, 0 when it cannot be read.
uint64_t StreamFileSize(FILE* stream);

// An address range of `bytes` that nothing else will be placed in, not
// accessible until mapped; null on failure.
void* ReserveAddressRange(size_t bytes);
void ReleaseAddressRange(void* base, size_t bytes);
// Maps [offset, offset + length) of the file, shared and writable, at
// `base + offset` inside a reserved range; `offset` is rounded down to a
// page, so a step may map a page that is mapped already (the same file
// page: nothing written to it is lost). The pages are faulted in writable
// before it returns. 0, or the errno value.
int MapFileInto(void* base, int fd, uint64_t offset, uint64_t length);

// The clocks, in nanoseconds.
int64_t MonotonicNanoseconds();
int64_t WallNanoseconds();
// Local time minus UTC at `wallSeconds`, in seconds.
int32_t UtcOffsetSeconds(int64_t wallSeconds);

// The calling thread's kernel id (a system call: callers cache it).
uint32_t CurrentThreadId();
uint32_t CurrentProcessId();
// Runs `handler` in the child after a fork, for as long as this object is
// loaded.
void OnForkChild(void (*handler)());

// Field 22 of /proc/self/stat (the process's start, in clock ticks after
// boot), and the ticks per second; false when unreadable.
bool ProcessStart(uint64_t* ticks, uint32_t* ticksPerSecond);
// The first line of a small text file (/proc/self/comm, the boot id), NUL
// terminated and cut to `size`; false when it cannot be read.
bool ReadFirstLine(const char* path, char* out, size_t size);

}  // namespace platform
}  // namespace tracelet

#endif  // TRACELET_PLATFORM_FLIGHTFILE_H
