// Capability container bytes as a source hands them over: the fields before
// the item list, then the items, in a handle of the layout being built.
#ifndef TRACELET_TEST_CONTAINERBYTES_H
#define TRACELET_TEST_CONTAINERBYTES_H

#include <string.h>

#include <vector>

#include "tracelet/twain.h"
#include "tracelet/twain_memory.h"

// Appends the bytes of `x`.
template <class T>
void Put(std::vector<unsigned char>& v, const T& x) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(&x);
    v.insert(v.end(), p, p + sizeof x);
}

// The first `headBytes` bytes of a container: its fields before the item list.
template <class Container>
std::vector<unsigned char> Head(const Container& c, size_t headBytes) {
    std::vector<unsigned char> v(headBytes);
    memcpy(v.data(), &c, headBytes);
    return v;
}

// A new handle holding `bytes`; the caller disposes of it.
inline TW_HANDLE HandleOf(const std::vector<unsigned char>& bytes) {
    TW_HANDLE h = TwainNewHandle(static_cast<TW_UINT32>(bytes.size()));
    if (!bytes.empty()) memcpy(TwainLockHandle(h), bytes.data(), bytes.size());
    TwainUnlockHandle(h);
    return h;
}

#endif  // TRACELET_TEST_CONTAINERBYTES_H
