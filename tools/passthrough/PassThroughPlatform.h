// The pass-through companion's seam to the operating system: its own
// location, the environment, reading the configuration file, loading the
// target data source, and the standard error stream.
#ifndef TRACELET_PASSTHROUGH_PLATFORM_H
#define TRACELET_PASSTHROUGH_PLATFORM_H

#include <string>

#include "tracelet/twain.h"

namespace tracelet {
namespace passthrough {
namespace platform {

// Path, as the loader knows it, of the shared object that holds
// `addressInside`; "" when the loader cannot tell.
std::string ModulePath(const void* addressInside);

// The value of an environment variable, null when it is not set.
const char* Variable(const char* name);

// Reads a whole file into `text`; on failure `error` says why.
bool ReadTextFile(const std::string& path, std::string* text, std::string* error);

// A target data source opened by the loader.
struct OpenedSource {
    void* library = nullptr;
    DSENTRYPROC entry = nullptr;
    // Why there is no entry point, as a predicate of the path ("does not
    // exist", "cannot be loaded: ..."); empty on success.
    std::string problem;
};

// Opens the data source at `path` and finds its DS_Entry. `hostAddress` is
// an address inside the data source that loaded this companion: a target
// that turns out to be that very object is refused, as it would forward
// every call to itself.
OpenedSource OpenDataSource(const std::string& path, const void* hostAddress);
void CloseDataSource(void* library);

// Writes `line` and a line end to the standard error stream in one write;
// line ends inside `line` become blanks, so it stays one line.
void ReportLine(const std::string& line);

}  // namespace platform
}  // namespace passthrough
}  // namespace tracelet

#endif  // TRACELET_PASSTHROUGH_PLATFORM_H
