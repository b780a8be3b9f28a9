#include <cstring>

#include "tracelet/TripletOperator.h"
#include "tracelet/twain_memory.h"
#include "tracelet/twain_nv.h"

// Fails to build unless the package's compile definition selected the layout
// the package reports.
static_assert(sizeof(TRACELET_TWAIN_ABI_NAME) == sizeof(EXPECTED_ABI), "TWAIN layout of the package");

namespace {
class Nothing : public TripletOperator {
public:
    TW_UINT16 TripletEntry(pTW_IDENTITY, TW_UINT32, TW_UINT16, TW_UINT16, TW_MEMREF) override { return TWRC_FAILURE; }
};
}  // namespace

extern "C" __attribute__((visibility("default"))) void CreateTwainWrapper(const char*, TripletOperator** slot) {
    if (std::strcmp(TRACELET_TWAIN_ABI_NAME, EXPECTED_ABI) == 0) *slot = new Nothing;
}
