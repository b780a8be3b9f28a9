// The fuzzing companion's control block. The fuzz target reaches it with
// dlsym and tells the TripletOperator, call by call, what to answer and what
// to leave behind pData; the operator keeps a copy of what it wrote so that
// the target can check the trace left every byte as the companion left it.
#ifndef TRACELET_FUZZ_CONTROL_H
#define TRACELET_FUZZ_CONTROL_H

#include <stddef.h>

#include "tracelet/twain.h"

struct FuzzControl {
    // What TripletEntry returns, unless it throws.
    TW_UINT16 rc = TWRC_SUCCESS;
    bool throwNext = false;
    // Bytes the operator copies into pData (at most `size` of them).
    const unsigned char* bytes = nullptr;
    size_t size = 0;
    // For DAT_CAPABILITY: a container the operator hands back through
    // hContainer, allocated with exactly `blockSize` bytes the way a source
    // allocates one (TwainNewHandle; NewHandleClear under macos).
    bool giveContainer = false;
    bool overrideConType = false;
    TW_UINT16 conType = 0;
    const unsigned char* block = nullptr;
    size_t blockSize = 0;
    // Allocate it with the memory functions of the entry point the
    // operator was last handed, when it has them, instead of in the
    // guarded mapping (the target sets this only while that entry point is
    // the data source's own).
    bool throughEntryPoint = false;
    DSM_MEMALLOCATE memAllocate = nullptr;
    DSM_MEMLOCK memLock = nullptr;
    DSM_MEMUNLOCK memUnlock = nullptr;

    // A source's notice: when `notice` is not 0 the operator sends DAT_NULL
    // with that message through the manager entry it was last handed
    // (DAT_ENTRYPOINT/MSG_SET) before it answers, and keeps what came back.
    TW_UINT16 notice = 0;
    DSMENTRYPROC managerEntry = nullptr;
    TW_UINT16 noticeRc = 0;
    int notices = 0;

    // What the operator did: the container it allocated (the caller frees
    // it, as an application does) and the bytes it left behind pData.
    TW_HANDLE container = nullptr;
    bool guarded = false;  // it lies in the companion's guarded mapping: not freed
    bool allocated = false;  // it came from the entry point's allocator
    unsigned char written[2048] = {};
    size_t writtenSize = 0;
    int calls = 0;
};

extern "C" FuzzControl* FuzzCompanionControl();

#endif  // TRACELET_FUZZ_CONTROL_H
