// Handles are reached the way the peers of the layout being built make them.
#include <gtest/gtest.h>

#include "shell/CDSMInterface.h"
#include "tracelet/twain_memory.h"

namespace {

TEST(MemoryHandles, AllocatedBlocksAreZeroedAndLockToTheirAddress) {
    TW_HANDLE h = CDSMInterface::AllocMemory(64);
    ASSERT_NE(h, nullptr);
    char* p = CDSMInterface::LockMemory(h);
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(p[i], 0);
#if defined(TRACELET_TWAIN_ABI_MACOS)
    EXPECT_EQ(p, *h);  // the master pointer's value
    EXPECT_EQ(CDSMInterface::BlockSize(h), 64u);
#else
    EXPECT_EQ(static_cast<void*>(p), h);  // the block itself
    EXPECT_EQ(CDSMInterface::BlockSize(h), SIZE_MAX);
#endif
    EXPECT_EQ(CDSMInterface::LockMemory(h), p);
    CDSMInterface::UnlockMemory(h);
    CDSMInterface::FreeMemory(h);
}

TEST(MemoryHandles, AnEmptyBlock) {
    TW_HANDLE h = CDSMInterface::AllocMemory(0);
#if defined(TRACELET_TWAIN_ABI_MACOS)
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(CDSMInterface::LockMemory(h), nullptr);  // no block behind the master pointer
    EXPECT_EQ(CDSMInterface::BlockSize(h), 0u);
#endif
    CDSMInterface::FreeMemory(h);
}

}  // namespace
