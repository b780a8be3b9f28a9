// Capability container bytes as a source hands them over: the fields before
// the item list, then the items, in a handle of the layout being built.
#ifndef TRACELET_TEST_CONTAINERBYTES_H
#define TRACELET_TEST_CONTAINERBYTES_H

#include <stddef.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tracelet/twain.h"
#include "tracelet/twain_memory.h"

// Appends the bytes of `x`.
template <class T>
void Put(std::vector<unsigned char>& v, const T& x) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(&x);
    v.insert(v.end(), p, p + sizeof x);
}

// Appends `text` in a zeroed slot of `width` bytes (no NUL when it fills it).
inline void PutText(std::vector<unsigned char>& v, const std::string& text, size_t width) {
    const size_t at = v.size();
    v.resize(at + width, 0);
    memcpy(v.data() + at, text.data(), std::min(text.size(), width));
}

// The first `headBytes` bytes of a container: its fields before the item list.
template <class Container>
std::vector<unsigned char> Head(const Container& c, size_t headBytes) {
    std::vector<unsigned char> v(headBytes);
    memcpy(v.data(), &c, headBytes);
    return v;
}

inline std::vector<unsigned char> EnumerationHead(TW_UINT16 type, TW_UINT32 count, TW_UINT32 current, TW_UINT32 deflt) {
    TW_ENUMERATION e{};
    e.ItemType = type;
    e.NumItems = count;
    e.CurrentIndex = current;
    e.DefaultIndex = deflt;
    return Head(e, offsetof(TW_ENUMERATION, ItemList));
}

inline std::vector<unsigned char> ArrayHead(TW_UINT16 type, TW_UINT32 count) {
    TW_ARRAY a{};
    a.ItemType = type;
    a.NumItems = count;
    return Head(a, offsetof(TW_ARRAY, ItemList));
}

// A TW_ONEVALUE whose item bytes start at Item (and may run past the structure).
inline std::vector<unsigned char> OneValue(TW_UINT16 type, const void* item, size_t bytes) {
    TW_ONEVALUE o{};
    o.ItemType = type;
    std::vector<unsigned char> v(std::max(sizeof o, offsetof(TW_ONEVALUE, Item) + bytes), 0);
    memcpy(v.data(), &o, sizeof o);
    memcpy(v.data() + offsetof(TW_ONEVALUE, Item), item, bytes);
    return v;
}
template <class T>
std::vector<unsigned char> OneValueOf(TW_UINT16 type, T item) {
    return OneValue(type, &item, sizeof item);
}

inline std::vector<unsigned char> Range(TW_UINT16 type, TW_UINT32 min, TW_UINT32 max, TW_UINT32 step, TW_UINT32 deflt,
                   TW_UINT32 current) {
    TW_RANGE r{};
    r.ItemType = type;
    r.MinValue = min;
    r.MaxValue = max;
    r.StepSize = step;
    r.DefaultValue = deflt;
    r.CurrentValue = current;
    return Head(r, sizeof r);
}

// A new handle holding `bytes`; the caller disposes of it.
inline TW_HANDLE HandleOf(const std::vector<unsigned char>& bytes) {
    TW_HANDLE h = TwainNewHandle(static_cast<TW_UINT32>(bytes.size()));
    if (!bytes.empty()) memcpy(TwainLockHandle(h), bytes.data(), bytes.size());
    TwainUnlockHandle(h);
    return h;
}

// A handle holding a copy of `bytes`, disposed of with the object.
class Handle {
public:
    explicit Handle(const std::vector<unsigned char>& bytes) : h_(HandleOf(bytes)) {}
    ~Handle() { TwainDisposeHandle(h_); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    TW_HANDLE get() const { return h_; }

private:
    TW_HANDLE h_;
};

#endif  // TRACELET_TEST_CONTAINERBYTES_H
