// The playback companion's only export: the factory the trace data source
// calls once per load.
#include <new>

#include "NewPlayback.h"
#include "PassThroughPlatform.h"
#include "tracelet/TripletOperator.h"

extern "C" __attribute__((visibility("default"))) void CreateTwainWrapper(const char* executableFileName,
                                                                           TripletOperator** slot) {
    (void)executableFileName;  // the recording is chosen by configuration, not by the host's name
    if (!slot) return;
    using namespace tracelet;
    try {
        *slot = playback::NewPlayback(
            passthrough::platform::ModulePath(reinterpret_cast<const void*>(&CreateTwainWrapper)));
    } catch (const std::bad_alloc&) {
        passthrough::platform::ReportLine(std::string(playback::kReportPrefix) +
                                          "out of memory; every call fails with TWRC_FAILURE");
    } catch (...) {
        passthrough::platform::ReportLine(std::string(playback::kReportPrefix) +
                                          "unexpected error while reading the recording; every call fails with "
                                          "TWRC_FAILURE");
    }
}
