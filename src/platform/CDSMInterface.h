// Memory handle services: how the trace reaches the block behind a
// TW_HANDLE in the TWAIN layout being built (see tracelet/twain_memory.h).
#ifndef TRACELET_CDSMINTERFACE_H
#define TRACELET_CDSMINTERFACE_H

#include <stddef.h>
#include <stdint.h>

#include "tracelet/twain.h"

class CDSMInterface {
public:
    // A new zero-filled block of `size` bytes; null on failure.
    static TW_HANDLE AllocMemory(unsigned int size);
    static void FreeMemory(TW_HANDLE handle);
    // Address of the block; the handle must not be null.
    static char* LockMemory(TW_HANDLE handle);
    static void UnlockMemory(TW_HANDLE handle);
    static TW_UINT16 NotifyRequest(TW_UINT16 message, TW_IDENTITY origin, TW_IDENTITY dest);
    // Bytes a reader may take from the locked block: the block's size where
    // the layout's handles know it, SIZE_MAX where they do not (native).
    static size_t BlockSize(TW_HANDLE handle);
    // Address of the block without locking it (the handle's own state, a
    // lock count, is left as it is); the handle must not be null, and under
    // a layout whose handles know their size BlockSize must have known it.
    static const char* PeekMemory(TW_HANDLE handle);
};

#endif  // TRACELET_CDSMINTERFACE_H
