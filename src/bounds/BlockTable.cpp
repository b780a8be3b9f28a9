#include "bounds/BlockTable.h"

#include <thread>

#include "platform/CDSMInterface.h"

namespace tracelet {
namespace bounds {

namespace {

// Call tokens: one per application call, never reused within a load.
std::atomic<uint64_t> s_nextToken{1};
// The innermost call in flight on this thread. Initial-exec TLS, so that
// no thread's first use allocates.
__thread uint64_t t_call __attribute__((tls_model("initial-exec"))) = 0;

BlockTable s_blocks;

// The manager's own memory functions, from the last DAT_ENTRYPOINT/MSG_SET.
std::atomic<DSM_MEMALLOCATE> s_fnAllocate{nullptr};
std::atomic<DSM_MEMFREE> s_fnFree{nullptr};
std::atomic<DSM_MEMLOCK> s_fnLock{nullptr};
std::atomic<DSM_MEMUNLOCK> s_fnUnlock{nullptr};

// A lock is only handed out while the manager gave one, so the one known
// is never null when these run; should it be, the call fails as the
// manager's own would on no memory.
TW_HANDLE MemAllocate(TW_UINT32 size) {
    const DSM_MEMALLOCATE manager = s_fnAllocate.load(std::memory_order_acquire);
    TW_HANDLE handle = manager ? manager(size) : nullptr;
    if (handle) s_blocks.Add(reinterpret_cast<const void*>(handle), size, t_call);
    return handle;
}

void MemFree(TW_HANDLE handle) {
    // Out of the table before the manager can hand the address out again.
    if (handle) s_blocks.Remove(reinterpret_cast<const void*>(handle));
    const DSM_MEMFREE manager = s_fnFree.load(std::memory_order_acquire);
    if (manager) manager(handle);
}

TW_MEMREF MemLock(TW_HANDLE handle) {
    const DSM_MEMLOCK manager = s_fnLock.load(std::memory_order_acquire);
    return manager ? manager(handle) : nullptr;
}

void MemUnlock(TW_HANDLE handle) {
    const DSM_MEMUNLOCK manager = s_fnUnlock.load(std::memory_order_acquire);
    if (manager) manager(handle);
}

// One member of the copy: Tracelet's function where the manager gave one.
// Taken and given back by value: the layout packs the members.
template <class Fn>
Fn Wrapped(Fn given, std::atomic<Fn>& known, Fn own) {
    if (!given) return given;
    if (given != own) known.store(given, std::memory_order_release);
    return own;
}

}  // namespace

BlockTable& Blocks() { return s_blocks; }

uint64_t CurrentCall() { return t_call; }

CallScope::CallScope() : m_token(s_nextToken.fetch_add(1, std::memory_order_relaxed)), m_outer(t_call) {
    t_call = m_token;
}

CallScope::~CallScope() {
    s_blocks.EndCall(m_token);
    t_call = m_outer;
}

size_t ContainerBytes(TW_HANDLE handle) {
    if (!handle) return 0;
    size_t size = 0;
    if (t_call && s_blocks.Find(reinterpret_cast<const void*>(handle), t_call, &size)) return size;
    return CDSMInterface::BlockSize(handle);
}

void WrapMemory(TW_ENTRYPOINT& entry) {
    entry.DSM_MemAllocate = Wrapped<DSM_MEMALLOCATE>(entry.DSM_MemAllocate, s_fnAllocate, &MemAllocate);
    entry.DSM_MemFree = Wrapped<DSM_MEMFREE>(entry.DSM_MemFree, s_fnFree, &MemFree);
    entry.DSM_MemLock = Wrapped<DSM_MEMLOCK>(entry.DSM_MemLock, s_fnLock, &MemLock);
    entry.DSM_MemUnlock = Wrapped<DSM_MEMUNLOCK>(entry.DSM_MemUnlock, s_fnUnlock, &MemUnlock);
}

// --- The table ---------------------------------------------------------------

void BlockTable::Lock() const {
    // Held for a scan of kCapacity keys at most: spin, and give way to the
    // holder when it was preempted.
    while (m_busy.exchange(true, std::memory_order_acquire)) {
        while (m_busy.load(std::memory_order_relaxed)) std::this_thread::yield();
    }
}

void BlockTable::Unlock() const { m_busy.store(false, std::memory_order_release); }

size_t BlockTable::Slot(uintptr_t key) const {
    for (size_t i = 0; i < m_used; ++i)
        if (m_keys[i] == key) return i;
    return kCapacity;
}

size_t BlockTable::FreeSlot() const {
    for (size_t i = 0; i < m_used; ++i)
        if (!m_keys[i]) return i;
    return m_used;  // kCapacity when full
}

void BlockTable::Erase(size_t slot) {
    m_keys[slot] = 0;
    while (m_used && !m_keys[m_used - 1]) --m_used;
    m_count.fetch_sub(1, std::memory_order_release);
}

void BlockTable::Add(const void* block, size_t size, uint64_t call) {
    const uintptr_t key = reinterpret_cast<uintptr_t>(block);
    if (!key || !call) return;
    Lock();
    size_t slot = Slot(key);
    if (slot == kCapacity) {
        slot = FreeSlot();
        if (slot == kCapacity) {
            // Full: the oldest entry leaves.
            slot = 0;
            for (size_t i = 1; i < kCapacity; ++i)
                if (m_entries[i].stamp < m_entries[slot].stamp) slot = i;
        } else {
            m_count.fetch_add(1, std::memory_order_release);
        }
    }
    m_keys[slot] = key;
    if (slot >= m_used) m_used = slot + 1;
    m_entries[slot] = Entry{size, call, m_nextStamp++};
    Unlock();
}

void BlockTable::Remove(const void* block) {
    const uintptr_t key = reinterpret_cast<uintptr_t>(block);
    if (!key || Count() == 0) return;
    Lock();
    const size_t slot = Slot(key);
    if (slot != kCapacity) Erase(slot);
    Unlock();
}

void BlockTable::EndCall(uint64_t call) {
    if (Count() == 0) return;
    Lock();
    for (size_t i = m_used; i-- > 0;)
        if (m_keys[i] && m_entries[i].call == call) Erase(i);
    Unlock();
}

bool BlockTable::Find(const void* block, uint64_t call, size_t* size) const {
    const uintptr_t key = reinterpret_cast<uintptr_t>(block);
    if (!key || Count() == 0) return false;
    Lock();
    const size_t slot = Slot(key);
    const bool found = slot != kCapacity && m_entries[slot].call == call;
    if (found) *size = m_entries[slot].size;
    Unlock();
    return found;
}

void BlockTable::Clear() {
    Lock();
    for (size_t i = m_used; i-- > 0;)
        if (m_keys[i]) Erase(i);
    Unlock();
}

}  // namespace bounds
}  // namespace tracelet
