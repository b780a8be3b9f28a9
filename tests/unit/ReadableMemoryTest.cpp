// The readable-memory probe under a reader of foreign memory: a block whose
// items run over several readable pages into an unreadable one is read up
// to the last readable byte, by one probe where the reads to come are
// expected, and never further.
#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include "platform/ForeignReader.h"
#include "platform/Platform.h"

namespace {

// `readable` pages, then one that cannot be read (PROT_NONE or unmapped).
struct Pages {
    size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    size_t readable;
    unsigned char* base;
    Pages(size_t readablePages, bool unmapped) : readable(readablePages) {
        void* p = mmap(nullptr, (readable + 1) * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        base = static_cast<unsigned char*>(p);
        if (unmapped)
            munmap(base + readable * page, page);
        else
            mprotect(base + readable * page, page, PROT_NONE);
    }
    ~Pages() { munmap(base, (readable + 1) * page); }
    unsigned char* end() const { return base + readable * page; }
};

TEST(ReadableMemory, ReadsOverSeveralPagesStopAtTheFirstUnreadableOne) {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    // Pages readable after the block's own: within one probe, at its limit,
    // and past it (a second probe).
    for (size_t more : {1u, 2u, 3u, 7u, 15u, 16u, 17u, 40u})
        for (size_t offset : {size_t{0}, size_t{100}, page - 8})
            for (bool unmapped : {false, true})
                for (bool expected : {true, false}) {
                    SCOPED_TRACE(testing::Message() << more << " more pages, block at +" << offset
                                                    << (unmapped ? ", unmapped" : ", PROT_NONE")
                                                    << (expected ? ", reads expected" : ""));
                    Pages pages(1 + more, unmapped);
                    const unsigned char* block = pages.base + offset;
                    const size_t readable = static_cast<size_t>(pages.end() - block);
                    ForeignReader reader(block, SIZE_MAX);
                    // The caller expects to read past the readable pages.
                    if (expected) reader.Expect(block, readable + 4 * page);
                    EXPECT_EQ(reader.Readable(block, readable + 64), readable);
                    EXPECT_TRUE(reader.HitUnreadable());
                    // What was found readable stays so, what was not stays not.
                    EXPECT_EQ(reader.Readable(pages.end() - 4, 4), 4u);
                    EXPECT_EQ(reader.Readable(pages.end() - 4, 5), 4u);
                    EXPECT_EQ(reader.Readable(pages.end(), 1), 0u);
                }
}

// Within readable pages: reads item by item up to the very last readable
// byte, whole; a block of known size read to its end and no further,
// unprobed; and the probe's page count up to the first unreadable page.
TEST(ReadableMemory, ReadsWithinReadablePagesAreWholeAndNotCut) {
    Pages pages(5, false);
    const size_t page = pages.page;
    ForeignReader reader(pages.base + 12, SIZE_MAX);
    reader.Expect(pages.base + 12, 5 * page);
    for (const unsigned char* at = pages.base + 12; at + 4 <= pages.end(); at += 4)
        ASSERT_EQ(reader.Readable(at, 4), 4u) << at - pages.base;
    EXPECT_FALSE(reader.HitUnreadable());
    EXPECT_EQ(reader.Readable(pages.end(), 4), 0u);
    EXPECT_TRUE(reader.HitUnreadable());
    ForeignReader sized(pages.base, 3 * page + 1);
    EXPECT_EQ(sized.Readable(pages.base + page, 8 * page), 2 * page + 1);
    EXPECT_FALSE(sized.HitUnreadable());
    ASSERT_EQ(tracelet::platform::PageSize(), page);
    for (size_t readable : {0u, 1u, 2u, 9u, 15u}) {
        Pages more(readable, false);
        const uintptr_t first = reinterpret_cast<uintptr_t>(more.base);
        EXPECT_EQ(tracelet::platform::ReadablePages(first, readable + 1, page), static_cast<long>(readable));
        EXPECT_EQ(tracelet::platform::ReadablePages(first, readable, page), static_cast<long>(readable));
    }
}

}  // namespace
