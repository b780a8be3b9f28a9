// The pass-through companion's only export: the factory the trace data
// source calls once per load.
#include <new>

#include "PassThroughOperator.h"
#include "PassThroughPlatform.h"
#include "tracelet/TripletOperator.h"

extern "C" __attribute__((visibility("default"))) void CreateTwainWrapper(const char* executableFileName,
                                                                           TripletOperator** slot) {
    (void)executableFileName;  // the target is chosen by configuration, not by the host's name
    if (!slot) return;
    using namespace tracelet::passthrough;
    try {
        // The slot lives inside the data source that loads this companion.
        *slot = NewPassThrough(platform::ModulePath(reinterpret_cast<const void*>(&CreateTwainWrapper)), slot);
    } catch (const std::bad_alloc&) {
        platform::ReportLine("Tracelet pass-through companion: out of memory; every call fails with TWRC_FAILURE");
    } catch (...) {
        platform::ReportLine(
            "Tracelet pass-through companion: unexpected error while choosing the target data source; every call "
            "fails with TWRC_FAILURE");
    }
}
