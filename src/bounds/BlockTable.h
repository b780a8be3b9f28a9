// What bounds a container behind a handle.
//
// A source allocates the containers it hands back with the manager's memory
// functions, which it receives in DG_CONTROL/DAT_ENTRYPOINT/MSG_SET. The
// companion gets Tracelet's four functions in their place (WrapMemory): each
// hands the call to the manager's own function unchanged, and an allocation
// made while an application call is in flight on that thread is remembered
// in a fixed table with its size and that call. The entry bounds only a
// container that the same call hands back; it leaves the table when the
// source frees the block through the entry point, or when its call has been
// traced (CallScope), since the application frees the containers it gets
// with the manager's function, which Tracelet never sees. A call token is
// never reused, so an entry left by an earlier call cannot bound a new
// block at the same address.
//
// The table holds kCapacity entries and takes no heap memory. While it has
// room it never loses a live entry; when it is full, the oldest entry leaves
// for the new one, and a container in that block is bounded as if it had
// not come through the entry point (by the layout's handles, else by the
// readable pages). All of it is safe across threads: one short lock guards
// the table, and a lookup with an empty table takes no lock at all.
#ifndef TRACELET_BOUNDS_BLOCKTABLE_H
#define TRACELET_BOUNDS_BLOCKTABLE_H

#include <stddef.h>
#include <stdint.h>

#include <atomic>

#include "tracelet/twain.h"

namespace tracelet {
namespace bounds {

// The bytes a reader may take from the block behind `handle`, for the call
// being traced on this thread: the size recorded when the source allocated
// it during this call through the entry point, else the block's size where
// the layout's handles know it (macos; 0 for a handle the stand-in memory
// manager does not know), else SIZE_MAX (native: not known, the readable
// pages bound the reads). 0 for a null handle. Allocates nothing, takes no
// lock but the table's own; valid on the thread of a DS_Entry call until
// that call returns.
size_t ContainerBytes(TW_HANDLE handle);

// One application call in flight on this thread, from before the companion
// gets it until its trace and record are done: allocations made meanwhile
// on this thread belong to it, and its entries leave the table at its end.
// Nests (an application callback that re-enters DS_Entry).
class CallScope {
public:
    CallScope();
    ~CallScope();
    CallScope(const CallScope&) = delete;
    CallScope& operator=(const CallScope&) = delete;
    // This call's token (never 0).
    uint64_t Token() const { return m_token; }

private:
    uint64_t m_token;
    uint64_t m_outer;
};

// The token of the innermost call in flight on this thread, 0 for none.
uint64_t CurrentCall();

// Puts Tracelet's memory functions in `entry` in place of the manager's,
// which are remembered for them to call; a null member stays null. Handed
// Tracelet's own functions back, the manager's stay the ones known.
void WrapMemory(TW_ENTRYPOINT& entry);

// The fixed-size table of blocks allocated during calls in flight.
class BlockTable {
public:
    static constexpr size_t kCapacity = 64;

    // Remembers `block` of `size` bytes, allocated during `call`; a block
    // already in the table at that address is replaced. When the table is
    // full the oldest entry leaves. Nothing is kept for call 0 or a null
    // block.
    void Add(const void* block, size_t size, uint64_t call);
    // The block was freed.
    void Remove(const void* block);
    // Call `call` has been traced: its blocks leave.
    void EndCall(uint64_t call);
    // The size of `block` when it was allocated during `call`.
    bool Find(const void* block, uint64_t call, size_t* size) const;
    // Entries held (for tests).
    size_t Count() const { return m_count.load(std::memory_order_acquire); }
    // Forgets every entry (for tests).
    void Clear();

private:
    struct Entry {
        size_t size;
        uint64_t call;
        uint64_t stamp;  // order of insertion: the lowest is the oldest
    };
    void Lock() const;
    void Unlock() const;
    size_t Slot(uintptr_t key) const;
    size_t FreeSlot() const;
    void Erase(size_t slot);

    // The blocks' addresses apart from the rest, so that a lookup scans
    // one small array, filled from the front; 0 marks a free slot.
    uintptr_t m_keys[kCapacity] = {};
    size_t m_used = 0;  // slots from here on are free: a scan stops here
    Entry m_entries[kCapacity] = {};
    uint64_t m_nextStamp = 1;
    std::atomic<size_t> m_count{0};
    mutable std::atomic<bool> m_busy{false};
};

// The table the entry point's functions fill.
BlockTable& Blocks();

}  // namespace bounds
}  // namespace tracelet

#endif  // TRACELET_BOUNDS_BLOCKTABLE_H
