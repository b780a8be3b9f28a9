// What the conformance run and the replay share: each runs its session in a
// child process through the build tree's trace data source, watches it with
// a timeout, and then takes the trace the child wrote into its own folder.
#ifndef TRACELET_SESSION_DRIVER_CHILD_RUN_H
#define TRACELET_SESSION_DRIVER_CHILD_RUN_H

#include <sys/types.h>

#include <string>
#include <vector>

namespace session {

// Local time, formatted with strftime's `format` (a default folder name).
std::string Stamp(const char* format);

// The regular files in `dir`, by name, sorted.
std::vector<std::string> FilesIn(const std::string& dir);

// How a child ended.
struct Ending {
    enum Kind { Exited, Crashed, Hung } kind = Exited;
    int code = 0;  // exit status (-1 when it could not be learned) or signal
};

// Waits for `child`; one still running after `timeoutSeconds` is killed.
Ending WatchChild(pid_t child, int timeoutSeconds);

// Moves the files that appeared in `logDir` since `before` (FilesIn of it)
// into `outDir`, flight records along with their logs; the moved trace
// logs, in order.
std::vector<std::string> TakeNewTrace(const std::string& logDir, const std::vector<std::string>& before,
                                      const std::string& outDir);

// A sequence number as the log writes it: "[00042]".
std::string SeqText(long long seq);

}  // namespace session

#endif
