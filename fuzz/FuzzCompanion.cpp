// The fuzzing companion: a TripletOperator that answers whatever the fuzz
// input says. It writes the input's bytes behind pData (the application
// allocated exactly the structure's size), allocates capability containers
// the way a source does, returns the input's return code or throws.
#include <stdexcept>
#include <string.h>

#include "FuzzControl.h"
#include "tracelet/TripletOperator.h"
#include "tracelet/twain_memory.h"

#define EXPORT __attribute__((visibility("default")))

namespace {

FuzzControl g_control;

#if !defined(TRACELET_TWAIN_ABI_MACOS)
// Container head, then at most one item per 14 bytes of a 5120-byte text,
// plus the item being read when the text fills up, each 256 bytes wide.
constexpr size_t kNativeReadBound = sizeof(TW_ENUMERATION) + (5120 / 14 + 1) * sizeof(TW_STR255);
#endif

TW_HANDLE NewContainer(const unsigned char* bytes, size_t size) {
#if defined(TRACELET_TWAIN_ABI_MACOS)
    char** h = NewHandleClear(size);
    if (h && size) memcpy(*h, bytes, size);
    return h;
#else
    // A native handle is a bare block whose size the trace cannot know: an
    // item list is read as far as a full log text buffer goes, and no
    // further. The block is followed by zero bytes for exactly that bound
    // (every item a TW_STR255 slot, every line the shortest a list can
    // print), so that a read past the bound is still seen.
    void* block = calloc(1, size + kNativeReadBound);
    if (block && size) memcpy(block, bytes, size);
    return block;
#endif
}

class FuzzOperator : public TripletOperator {
public:
    TW_UINT16 TripletEntry(pTW_IDENTITY pOrigin, TW_UINT32, TW_UINT16 DAT, TW_UINT16 MSG,
                           TW_MEMREF pData) override {
        FuzzControl& c = g_control;
        ++c.calls;
        c.container = nullptr;
        c.writtenSize = 0;
        // The application hands over a whole TW_ENTRYPOINT (the target sees to it).
        if (DAT == DAT_ENTRYPOINT && MSG == MSG_SET && pData) {
            TW_ENTRYPOINT entry;
            memcpy(&entry, pData, sizeof entry);
            c.managerEntry = entry.DSM_Entry;
        }
        if (c.notice && c.managerEntry) {
            static TW_IDENTITY source;
            c.noticeRc = c.managerEntry(&source, pOrigin, DG_CONTROL, DAT_NULL, c.notice, nullptr);
            ++c.notices;
        }
        if (c.throwNext) {
            c.throwNext = false;
            throw std::runtime_error("fuzzing companion throws");
        }
        if (pData && c.size) {
            memcpy(pData, c.bytes, c.size);
            if (DAT == DAT_CAPABILITY && c.size >= sizeof(TW_CAPABILITY)) {
                TW_CAPABILITY cap;
                memcpy(&cap, pData, sizeof cap);
                if (c.overrideConType) cap.ConType = c.conType;
                cap.hContainer = c.giveContainer ? NewContainer(c.block, c.blockSize) : nullptr;
                c.container = cap.hContainer;
                memcpy(pData, &cap, sizeof cap);
            }
            c.writtenSize = c.size < sizeof c.written ? c.size : sizeof c.written;
            memcpy(c.written, pData, c.writtenSize);
        }
        return c.rc;
    }
};

}  // namespace

extern "C" EXPORT FuzzControl* FuzzCompanionControl() { return &g_control; }

extern "C" EXPORT void CreateTwainWrapper(const char*, TripletOperator** slot) {
    if (slot) *slot = new FuzzOperator;
}
