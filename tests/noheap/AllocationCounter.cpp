// Every way the process can take memory from the heap, counted while the
// window is open. The plain builds interpose the C allocation functions and
// operator new in the executable (which comes first in symbol lookup, so the
// loaded data source and the C library call these); the sanitizer build
// cannot replace what AddressSanitizer owns and counts through its
// allocation hook instead.
#include "AllocationCounter.h"

#include <errno.h>
#include <stdlib.h>

#include <atomic>
#include <new>

namespace {
std::atomic<bool> g_open{false};
std::atomic<size_t> g_count{0};

inline void Count() {
    if (g_open.load(std::memory_order_relaxed)) g_count.fetch_add(1, std::memory_order_relaxed);
}
}  // namespace

namespace allocations {
void Begin() {
    g_count.store(0);
    g_open.store(true);
}
size_t End() {
    g_open.store(false);
    return g_count.load();
}
}  // namespace allocations

#if defined(TRACELET_COUNT_WITH_SANITIZER_HOOK)

extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*, size_t),
                                                          void (*free_hook)(const volatile void*));

namespace {
void OnMalloc(const volatile void*, size_t) { Count(); }
void OnFree(const volatile void*) {}
}  // namespace

bool allocations::Install() { return __sanitizer_install_malloc_and_free_hooks(OnMalloc, OnFree) != 0; }

#else

bool allocations::Install() { return true; }

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
void __libc_free(void*);

void* malloc(size_t n) {
    Count();
    return __libc_malloc(n);
}
void* calloc(size_t n, size_t size) {
    Count();
    return __libc_calloc(n, size);
}
void* realloc(void* p, size_t n) {
    Count();
    return __libc_realloc(p, n);
}
void free(void* p) { __libc_free(p); }
void* memalign(size_t alignment, size_t n) {
    Count();
    return __libc_memalign(alignment, n);
}
void* aligned_alloc(size_t alignment, size_t n) {
    Count();
    return __libc_memalign(alignment, n);
}
int posix_memalign(void** out, size_t alignment, size_t n) {
    Count();
    void* p = __libc_memalign(alignment, n);
    if (!p) return ENOMEM;
    *out = p;
    return 0;
}
}

namespace {
void* NewBlock(size_t n) {
    Count();
    if (void* p = __libc_malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void* NewAligned(size_t n, std::align_val_t a) {
    Count();
    if (void* p = __libc_memalign(static_cast<size_t>(a), n ? n : 1)) return p;
    throw std::bad_alloc();
}
}  // namespace

void* operator new(size_t n) { return NewBlock(n); }
void* operator new[](size_t n) { return NewBlock(n); }
void* operator new(size_t n, const std::nothrow_t&) noexcept {
    Count();
    return __libc_malloc(n ? n : 1);
}
void* operator new[](size_t n, const std::nothrow_t&) noexcept {
    Count();
    return __libc_malloc(n ? n : 1);
}
void* operator new(size_t n, std::align_val_t a) { return NewAligned(n, a); }
void* operator new[](size_t n, std::align_val_t a) { return NewAligned(n, a); }
void operator delete(void* p) noexcept { __libc_free(p); }
void operator delete[](void* p) noexcept { __libc_free(p); }
void operator delete(void* p, size_t) noexcept { __libc_free(p); }
void operator delete[](void* p, size_t) noexcept { __libc_free(p); }
void operator delete(void* p, std::align_val_t) noexcept { __libc_free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { __libc_free(p); }
void operator delete(void* p, size_t, std::align_val_t) noexcept { __libc_free(p); }
void operator delete[](void* p, size_t, std::align_val_t) noexcept { __libc_free(p); }

#endif
