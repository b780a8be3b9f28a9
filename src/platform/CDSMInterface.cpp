#include "platform/CDSMInterface.h"

#include "tracelet/twain_memory.h"

TW_HANDLE CDSMInterface::AllocMemory(unsigned int size) {
#if defined(TRACELET_TWAIN_ABI_MACOS)
    return NewHandleClear(size);
#else
    return calloc(1, size);
#endif
}

void CDSMInterface::FreeMemory(TW_HANDLE handle) { TwainDisposeHandle(handle); }

char* CDSMInterface::LockMemory(TW_HANDLE handle) {
    return static_cast<char*>(TwainLockHandle(handle));
}

void CDSMInterface::UnlockMemory(TW_HANDLE handle) { TwainUnlockHandle(handle); }

TW_UINT16 CDSMInterface::NotifyRequest(TW_UINT16, TW_IDENTITY, TW_IDENTITY) { return 0; }

size_t CDSMInterface::BlockSize(TW_HANDLE handle) {
#if defined(TRACELET_TWAIN_ABI_MACOS)
    return GetHandleSize(handle);
#else
    (void)handle;
    return SIZE_MAX;
#endif
}

const char* CDSMInterface::PeekMemory(TW_HANDLE handle) {
#if defined(TRACELET_TWAIN_ABI_MACOS)
    return *handle;
#else
    return static_cast<const char*>(handle);
#endif
}
