// The table of blocks a source allocated during a call: what an entry bounds,
// when it leaves, what a full table gives up, and many threads at once.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "bounds/BlockTable.h"
#include "tracelet/twain_memory.h"

namespace {

using tracelet::bounds::BlockTable;
using tracelet::bounds::Blocks;
using tracelet::bounds::CallScope;
using tracelet::bounds::ContainerBytes;

const void* At(uintptr_t address) { return reinterpret_cast<const void*>(address); }

size_t Found(const BlockTable& t, uintptr_t address, uint64_t call) {
    size_t size = 0;
    return t.Find(At(address), call, &size) ? size : SIZE_MAX;
}

TEST(BlockTable, AnEntryBoundsOnlyItsOwnCallUntilFreedOrTraced) {
    constexpr size_t kNone = SIZE_MAX;
    BlockTable t;
    t.Add(At(0x1000), 10, 1);
    t.Add(At(0x2000), 0, 1);  // an empty block is known too
    EXPECT_EQ(Found(t, 0x1000, 1), 10u);
    EXPECT_EQ(Found(t, 0x2000, 1), 0u);
    EXPECT_EQ(Found(t, 0x1000, 2), kNone);  // another call
    EXPECT_EQ(Found(t, 0x1001, 1), kNone);  // inside the block is not the block
    t.Add(At(0x1000), 24, 1);  // the address again (freed where the table did not see it)
    EXPECT_EQ(Found(t, 0x1000, 1), 24u);
    EXPECT_EQ(t.Count(), 2u);
    t.Remove(At(0x1000));
    EXPECT_EQ(Found(t, 0x1000, 1), kNone);
    t.Remove(At(0x1000));  // twice, or never added: nothing happens
    t.Remove(At(0x3000));
    EXPECT_EQ(t.Count(), 1u);
    t.Add(At(0x3000), 5, 2);
    t.EndCall(1);
    EXPECT_EQ(Found(t, 0x2000, 1), kNone);
    EXPECT_EQ(Found(t, 0x3000, 2), 5u);
    // Nothing is kept from outside a call, nor for a null block.
    t.Add(At(0x4000), 5, 0);
    t.Add(nullptr, 5, 2);
    EXPECT_EQ(t.Count(), 1u);
    EXPECT_EQ(Found(t, 0, 2), kNone);
}

TEST(BlockTable, WhenFullTheOldestEntryLeavesFirst) {
    BlockTable t;
    constexpr size_t n = BlockTable::kCapacity;
    for (uintptr_t i = 1; i <= n; ++i) t.Add(At(i * 16), i, 7);
    EXPECT_EQ(t.Count(), n);
    t.Remove(At(5 * 16));  // room again: the next one takes it, nothing is lost
    t.Add(At(0x9000), 1, 7);
    for (uintptr_t i = 1; i <= n; ++i) EXPECT_EQ(Found(t, i * 16, 7), i == 5 ? SIZE_MAX : i) << i;
    // Full: the two oldest go, in order, and only they.
    t.Add(At(0xA000), 2, 7);
    t.Add(At(0xB000), 3, 7);
    EXPECT_EQ(Found(t, 1 * 16, 7), SIZE_MAX);
    EXPECT_EQ(Found(t, 2 * 16, 7), SIZE_MAX);
    for (uintptr_t i = 3; i <= n; ++i) {
        if (i != 5) {
            EXPECT_EQ(Found(t, i * 16, 7), i) << i;
        }
    }
    EXPECT_EQ(Found(t, 0x9000, 7), 1u);
    EXPECT_EQ(Found(t, 0xB000, 7), 3u);
    EXPECT_EQ(t.Count(), n);
}

// The manager's functions for the threads below: real blocks.
TW_HANDLE Allocate(TW_UINT32 size) { return TwainNewHandle(size); }
void Free(TW_HANDLE h) { TwainDisposeHandle(h); }
TW_MEMREF Lock(TW_HANDLE h) { return TwainLockHandle(h); }
void Unlock(TW_HANDLE h) { TwainUnlockHandle(h); }

// Allocating threads each keep up to 8 blocks live in their calls (32 in
// all, half the table), freeing some through the entry point, while other
// threads look blocks up in calls of their own: every live block is found
// with its size in its own call and in no other, and every call leaves
// nothing behind.
TEST(BlockTable, ManyThreadsNeverLoseALiveBlockWhileTheTableHasRoom) {
    Blocks().Clear();
    TW_ENTRYPOINT entry{};
    entry.DSM_MemAllocate = Allocate;
    entry.DSM_MemFree = Free;
    entry.DSM_MemLock = Lock;
    entry.DSM_MemUnlock = Unlock;
    tracelet::bounds::WrapMemory(entry);
    const DSM_MEMALLOCATE allocate = entry.DSM_MemAllocate;
    const DSM_MEMFREE release = entry.DSM_MemFree;
    ASSERT_NE(allocate, &Allocate);

    std::atomic<int> lost{0}, foreign{0};
    std::atomic<bool> done{false};
    std::vector<std::thread> threads;
    for (int w = 0; w < 4; ++w)
        threads.emplace_back([&, w] {
            for (int round = 0; round < 300; ++round) {
                const CallScope call;
                TW_HANDLE live[8];
                for (TW_UINT32 i = 0; i < 8; ++i) live[i] = allocate(16 + 8 * i + w);
                for (TW_UINT32 i = 0; i < 8; i += 2) {
                    release(live[i]);
                    live[i] = allocate(100 + i);
                }
                for (TW_UINT32 i = 0; i < 8; ++i) {
                    const size_t expected = i % 2 ? 16 + 8 * i + w : 100 + i;
                    if (ContainerBytes(live[i]) != expected) ++lost;
                }
                for (TW_HANDLE h : live) release(h);
            }
        });
    for (int r = 0; r < 2; ++r)
        threads.emplace_back([&] {
            TW_HANDLE mine = TwainNewHandle(4);  // never in the table
            while (!done.load()) {
                const CallScope call;
                size_t size;
                if (Blocks().Find(mine, call.Token(), &size)) ++foreign;
                if (Blocks().Find(At(0x10), call.Token(), &size)) ++foreign;
            }
            TwainDisposeHandle(mine);
        });
    for (int w = 0; w < 4; ++w) threads[w].join();
    done = true;
    for (int r = 4; r < 6; ++r) threads[r].join();
    EXPECT_EQ(lost.load(), 0);
    EXPECT_EQ(foreign.load(), 0);
    EXPECT_EQ(Blocks().Count(), 0u);
}

// A block allocated in a call bounds its containers for that call and no
// longer: once the call is over, the same handle is bounded as any other.
TEST(BlockTable, ABlockLeavesWithTheCallThatAllocatedIt) {
    Blocks().Clear();
    TW_HANDLE h = TwainNewHandle(12);
    const size_t otherwise = ContainerBytes(h);  // the layout's size, or SIZE_MAX
    {
        const CallScope outer;
        Blocks().Add(h, 3, outer.Token());
        EXPECT_EQ(ContainerBytes(h), 3u);
        {
            const CallScope inner;  // a callback re-entering: its own call
            EXPECT_EQ(ContainerBytes(h), otherwise);
        }
        EXPECT_EQ(ContainerBytes(h), 3u);
    }
    EXPECT_EQ(ContainerBytes(h), otherwise);
    EXPECT_EQ(Blocks().Count(), 0u);
    EXPECT_EQ(ContainerBytes(nullptr), 0u);
    TwainDisposeHandle(h);
}

}  // namespace
