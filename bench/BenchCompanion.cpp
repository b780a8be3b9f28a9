// The benchmarks' companion: answers TWRC_SUCCESS at once and leaves pData
// as the benchmark prepared it, so that what is measured is the trace.
#include "tracelet/TripletOperator.h"

#define EXPORT __attribute__((visibility("default")))

namespace {
class QuietOperator : public TripletOperator {
public:
    TW_UINT16 TripletEntry(pTW_IDENTITY, TW_UINT32, TW_UINT16, TW_UINT16, TW_MEMREF) override {
        return TWRC_SUCCESS;
    }
};
}  // namespace

extern "C" EXPORT void CreateTwainWrapper(const char*, TripletOperator** slot) {
    if (slot) *slot = new QuietOperator;
}
