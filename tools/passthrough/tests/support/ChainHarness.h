// Loads the test build of the trace data source, whose companion path holds
// a copy of the pass-through companion, the way a data source manager does
// (dlopen, DS_Entry, dlclose), and controls what the companion is told to
// forward to: its configuration file and the TRACELET_TARGET_DS variable.
#ifndef TRACELET_PASSTHROUGH_TEST_CHAINHARNESS_H
#define TRACELET_PASSTHROUGH_TEST_CHAINHARNESS_H

#include <string>
#include <vector>

#include "DsLibrary.h"
#include "ProbeControl.h"
#include "tracelet/twain.h"

namespace chain {

// The companion copy's configuration file.
std::string ConfigPath();
void WriteConfig(const std::string& text);
void RemoveConfig();

// Sets TRACELET_TARGET_DS for the life of the object, then unsets it.
class TargetVariable {
public:
    explicit TargetVariable(const std::string& value);
    ~TargetVariable();
    TargetVariable(const TargetVariable&) = delete;
    TargetVariable& operator=(const TargetVariable&) = delete;
};

// Everything written to the standard error stream (file descriptor 2)
// between construction and Finish().
class StderrCapture {
public:
    StderrCapture();
    ~StderrCapture();
    std::string Finish();
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;

private:
    int saved_ = -1;
    int file_ = -1;
};

// The trace data source, loaded for the life of the object (or Unload()).
class TracedSource : public DsLibrary {
public:
    TracedSource();
    TW_UINT16 Call(TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF pData) {
        return entry()(&app, DG, DAT, MSG, pData);
    }
    TW_IDENTITY app{};
};

// The trace data source's log folder: made empty and present, or removed.
inline void ResetLogFolder(bool present) { ResetFolder(std::string(PASSTHROUGH_TEST_ROOT) + "/LOG", present); }
// Names of the files in it, sorted.
inline std::vector<std::string> LogFiles() { return FolderFiles(std::string(PASSTHROUGH_TEST_ROOT) + "/LOG"); }

// True while the loader has the shared object at `path` loaded.
bool IsLoaded(const std::string& path);

// The control block of the probe at `path` as loaded now; null when it is
// not loaded. Valid until the probe is unloaded.
ProbeControl* LoadedProbe(const std::string& path);

// The product name that the source answers DAT_IDENTITY/MSG_GET with.
std::string ProductName(TracedSource& source);

}  // namespace chain

#endif  // TRACELET_PASSTHROUGH_TEST_CHAINHARNESS_H
