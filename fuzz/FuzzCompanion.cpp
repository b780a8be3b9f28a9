// The fuzzing companion: a TripletOperator that answers whatever the fuzz
// input says. It writes the input's bytes behind pData (the application
// allocated exactly the structure's size), allocates capability containers
// the way a source does, returns the input's return code or throws.
#include <stdexcept>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include "FuzzControl.h"
#include "tracelet/TripletOperator.h"
#include "tracelet/twain_memory.h"

#define EXPORT __attribute__((visibility("default")))

namespace {

FuzzControl g_control;

#if !defined(TRACELET_TWAIN_ABI_MACOS)
// Room for the largest container the target gives.
constexpr size_t kArenaBytes = 16384;

// The end of a mapping followed by a PROT_NONE page: a container placed so
// that it ends here is followed by memory that faults when read.
unsigned char* GuardedEnd() {
    static unsigned char* const end = [] {
        const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        const size_t room = (kArenaBytes + page - 1) / page * page;
        void* m = mmap(nullptr, room + page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (m == MAP_FAILED || mprotect(static_cast<unsigned char*>(m) + room, page, PROT_NONE) != 0) abort();
        return static_cast<unsigned char*>(m) + room;
    }();
    return end;
}
#endif

TW_HANDLE NewContainer(const unsigned char* bytes, size_t size) {
    FuzzControl& c = g_control;
    if (c.throughEntryPoint && c.memAllocate && c.memLock && c.memUnlock) {
        // As a source does: from the manager's allocator, of exactly its size.
        TW_HANDLE h = c.memAllocate(static_cast<TW_UINT32>(size));
        if (h && size) memcpy(c.memLock(h), bytes, size);
        if (h) c.memUnlock(h);
        c.allocated = h != nullptr;
        return h;
    }
#if defined(TRACELET_TWAIN_ABI_MACOS)
    char** h = NewHandleClear(size);
    if (h && size) memcpy(*h, bytes, size);
    return h;
#else
    // A native handle is a bare block whose size the trace cannot know. The
    // block ends where a mapping ends, before a page that cannot be read,
    // so that any read past it faults, whatever its counts say. (An empty
    // block gets one byte: the trace takes a block's first byte as readable.)
    const size_t n = size ? (size < kArenaBytes ? size : kArenaBytes) : 1;
    unsigned char* block = GuardedEnd() - n;
    memset(block, 0, n);
    if (size) memcpy(block, bytes, n);
    g_control.guarded = true;
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
        c.guarded = false;
        c.allocated = false;
        c.writtenSize = 0;
        // The application hands over a whole TW_ENTRYPOINT (the target sees to it).
        if (DAT == DAT_ENTRYPOINT && MSG == MSG_SET && pData) {
            TW_ENTRYPOINT entry;
            memcpy(&entry, pData, sizeof entry);
            c.managerEntry = entry.DSM_Entry;
            c.memAllocate = entry.DSM_MemAllocate;
            c.memLock = entry.DSM_MemLock;
            c.memUnlock = entry.DSM_MemUnlock;
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
