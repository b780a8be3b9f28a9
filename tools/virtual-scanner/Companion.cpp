// The virtual scanner as a companion of the trace data source.
#include "VirtualScanner.h"

extern "C" __attribute__((visibility("default"))) void CreateTwainWrapper(const char* /*executableFileName*/,
                                                                         TripletOperator** slot) {
    if (!slot) return;
    try {
        *slot = CreateVirtualScanner();
    } catch (...) {
        *slot = nullptr;
    }
}
