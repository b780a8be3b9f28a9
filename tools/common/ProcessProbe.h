// What this process holds, as a stress run compares it between cycles:
// its open file descriptors and its resident memory.
#ifndef TRACELET_COMMON_PROCESSPROBE_H
#define TRACELET_COMMON_PROCESSPROBE_H

namespace tracelet::probe {

// Open file descriptors (the entries of /proc/self/fd); 0 when unknown.
int OpenFiles();
// Resident memory in bytes (/proc/self/statm); 0 when unknown.
long ResidentBytes();

}  // namespace tracelet::probe

#endif  // TRACELET_COMMON_PROCESSPROBE_H
