// Tracelet: TWAIN memory handles for both binary layouts.
//
// `native`: a TW_HANDLE is the address of a zero-filled block from calloc;
// locking it returns that address and unlocking does nothing. This is what
// Linux data source managers, applications and sources use.
//
// `macos`: a TW_HANDLE is the address of a master pointer through which the
// block is reached, as with the Memory Manager of the classic Mac OS
// toolbox. The small stand-in below keeps, next to each master pointer, the
// block's size and lock state, so that a reader can bound what it reads.
// Handles must come from NewHandleClear; the record is self-describing, so
// every module that includes this header can lock and size the handles of
// every other.
//
// Companion authors allocate the containers they hand back through
// TwainNewHandle / TwainLockHandle / TwainUnlockHandle / TwainDisposeHandle,
// which map to the representation of the profile being built.
#ifndef TRACELET_TWAIN_MEMORY_H
#define TRACELET_TWAIN_MEMORY_H

#include <stdlib.h>

#include "tracelet/twain.h"

#if defined(TRACELET_TWAIN_ABI_MACOS)

// Master-pointer record: the handle is the address of `master`.
struct TwMasterPointerRecord {
    char* master;
    unsigned long long magic;
    size_t size;
    unsigned lockCount;
};
static const unsigned long long kTwMasterPointerMagic = 0x54524345484e444cull;  // "TRCEHNDL"

inline TwMasterPointerRecord* TwRecordOf(char** h) {
    return reinterpret_cast<TwMasterPointerRecord*>(h);
}

// A new block of `size` zero bytes behind a new master pointer; null when
// memory is short. A size of 0 gives a handle whose master pointer is null.
inline char** NewHandleClear(size_t size) {
    TwMasterPointerRecord* r = static_cast<TwMasterPointerRecord*>(calloc(1, sizeof(TwMasterPointerRecord)));
    if (!r) return nullptr;
    if (size) {
        r->master = static_cast<char*>(calloc(1, size));
        if (!r->master) {
            free(r);
            return nullptr;
        }
    }
    r->magic = kTwMasterPointerMagic;
    r->size = size;
    return &r->master;
}

inline void DisposeHandle(char** h) {
    if (!h) return;
    TwMasterPointerRecord* r = TwRecordOf(h);
    free(r->master);
    r->magic = 0;
    free(r);
}

inline void HLock(char** h) {
    if (h) ++TwRecordOf(h)->lockCount;
}

inline void HUnlock(char** h) {
    if (h) TwRecordOf(h)->lockCount = 0;  // the lock is not counted: one unlock ends it
}

// Size of the block behind the handle, 0 for a handle this manager does not know.
inline size_t GetHandleSize(char** h) {
    if (!h) return 0;
    const TwMasterPointerRecord* r = TwRecordOf(h);
    return r->magic == kTwMasterPointerMagic ? r->size : 0;
}

inline TW_HANDLE TwainNewHandle(TW_UINT32 size) { return NewHandleClear(size); }
inline void TwainDisposeHandle(TW_HANDLE h) { DisposeHandle(h); }
inline void* TwainLockHandle(TW_HANDLE h) {
    if (!h) return nullptr;
    HLock(h);
    return *h;
}
inline void TwainUnlockHandle(TW_HANDLE h) { HUnlock(h); }

#else  // native

inline TW_HANDLE TwainNewHandle(TW_UINT32 size) { return calloc(1, size ? size : 1); }
inline void TwainDisposeHandle(TW_HANDLE h) { free(h); }
inline void* TwainLockHandle(TW_HANDLE h) { return h; }
inline void TwainUnlockHandle(TW_HANDLE) {}

#endif

#endif  // TRACELET_TWAIN_MEMORY_H
