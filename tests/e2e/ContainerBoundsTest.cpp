// Containers a source allocates with the memory functions of its entry
// point: the functions reach the manager's unchanged, a container is read
// no further than its block, and one that claims more than its block holds
// gets its note. Every block the manager hands out is a heap block of the
// exact size asked for, made before the call (nothing is allocated inside
// DS_Entry), so that a read past one shows under the sanitizers.
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>
#include <sys/wait.h>

#include <string>
#include <thread>
#include <vector>

#include "ContainerBytes.h"
#include "DataSourceHarness.h"

namespace {

using Bytes = std::vector<unsigned char>;

TW_UINT16 ManagerEntry(pTW_IDENTITY, pTW_IDENTITY, TW_UINT32, TW_UINT16, TW_UINT16, TW_MEMREF) { return TWRC_SUCCESS; }

// The manager's memory functions: each call is recorded in a fixed array,
// an allocation gets the next prepared handle.
struct MemoryCall {
    char fn;  // 'a'llocate, 'f'ree, 'l'ock, 'u'nlock
    TW_UINT32 size;
    TW_HANDLE handle;  // the handle given, or the one allocated
};
struct MemoryManager {
    TW_HANDLE prepared[8] = {};
    size_t next = 0;
    MemoryCall calls[16] = {};
    size_t count = 0;
    void Seen(char fn, TW_UINT32 size, TW_HANDLE h) {
        if (count < 16) calls[count++] = MemoryCall{fn, size, h};
    }
} g_memory;

TW_HANDLE Allocate(TW_UINT32 size) {
    TW_HANDLE h = g_memory.next < 8 ? g_memory.prepared[g_memory.next++] : nullptr;
    g_memory.Seen('a', size, h);
    return h;
}
void Free(TW_HANDLE h) { g_memory.Seen('f', 0, h); }
TW_MEMREF Lock(TW_HANDLE h) {
    g_memory.Seen('l', 0, h);
    return TwainLockHandle(h);
}
void Unlock(TW_HANDLE h) {
    g_memory.Seen('u', 0, h);
    TwainUnlockHandle(h);
}

// A function pointer as an address (taken by value: the layout packs them).
template <class F>
void* P(F f) {
    return reinterpret_cast<void*>(f);
}

TW_ENTRYPOINT ManagerEntryPoint() {
    TW_ENTRYPOINT e{};
    e.Size = sizeof e;
    e.DSM_Entry = ManagerEntry;
    e.DSM_MemAllocate = Allocate;
    e.DSM_MemFree = Free;
    e.DSM_MemLock = Lock;
    e.DSM_MemUnlock = Unlock;
    return e;
}

// The source: keeps the entry point it is handed, and answers
// DAT_CAPABILITY with `container` in a block from its entry point's
// allocator, or in `own` (its own allocator) when that is set.
struct Source {
    TW_ENTRYPOINT handed{};
    Bytes container;
    TW_HANDLE own = nullptr;
    bool allocateAndFreeFirst = false;  // allocate a block, free it through the entry point, then answer
};

void SourceFill(void* context, TW_UINT32, TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF pData) {
    Source& s = *static_cast<Source*>(context);
    if (DAT == DAT_ENTRYPOINT && MSG == MSG_SET && pData) memcpy(&s.handed, pData, sizeof s.handed);
    if (DAT != DAT_CAPABILITY || !pData) return;
    TW_CAPABILITY cap;
    memcpy(&cap, pData, sizeof cap);
    if (s.allocateAndFreeFirst) s.handed.DSM_MemFree(s.handed.DSM_MemAllocate(8));
    if (s.own) {
        cap.hContainer = s.own;
    } else {
        cap.hContainer = s.handed.DSM_MemAllocate(static_cast<TW_UINT32>(s.container.size()));
        if (!s.container.empty())
            memcpy(s.handed.DSM_MemLock(cap.hContainer), s.container.data(), s.container.size());
        s.handed.DSM_MemUnlock(cap.hContainer);
    }
    memcpy(pData, &cap, sizeof cap);
}

class ContainerBounds : public ::testing::Test {
protected:
    void SetUp() override {
        g_memory = MemoryManager{};
        ASSERT_NE(ds.control, nullptr);
        ds.control->fill = SourceFill;
        ds.control->context = &source;
        ASSERT_EQ(ds.Call(DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, &managerEntry), TWRC_SUCCESS);
    }
    void TearDown() override {
        for (TW_HANDLE h : g_memory.prepared)
            if (h) TwainDisposeHandle(h);
    }
    // The capability block of one DAT_CAPABILITY/MSG_GET whose source
    // answers `bytes` in a block of exactly their size from the manager,
    // from its TW_ONEVALUE/... line on.
    std::string Traced(const Bytes& bytes, TW_UINT16 conType) {
        g_memory.next = 0;
        g_memory.prepared[0] = TwainNewHandle(static_cast<TW_UINT32>(bytes.size()));
        source.container = bytes;
        const std::string text = ContainerText(conType);
        TwainDisposeHandle(g_memory.prepared[0]);
        g_memory.prepared[0] = nullptr;
        return text;
    }
    // The same from the source's own allocator (the manager never sees it).
    std::string TracedOwn(TW_HANDLE own, TW_UINT16 conType) {
        source.own = own;
        const std::string text = ContainerText(conType);
        source.own = nullptr;
        return text;
    }
    std::string ContainerText(TW_UINT16 conType) {
        TW_CAPABILITY cap{ICAP_PIXELTYPE, conType, nullptr};
        EXPECT_EQ(ds.Call(DG_CONTROL, DAT_CAPABILITY, MSG_GET, &cap), TWRC_SUCCESS);
        const std::string log = LoadedDataSource::Log();
        const size_t call = log.rfind("] [APP] DG_CONTROL/DAT_CAPABILITY/MSG_GET");
        const size_t from = log.find("hContainer", call);
        const size_t begin = log.find("\r\n", from) + 2;
        return log.substr(begin, log.find("  }\r\n\r\nTWAIN Status", begin) - begin);
    }

    LoadedDataSource ds;
    Source source;
    TW_ENTRYPOINT managerEntry = ManagerEntryPoint();
};

TEST_F(ContainerBounds, MemoryFunctionsReachTheManagerUnchangedBothWays) {
    const TW_ENTRYPOINT& h = source.handed;  // packed: members are compared as values
    ASSERT_TRUE(h.DSM_MemAllocate && h.DSM_MemFree && h.DSM_MemLock && h.DSM_MemUnlock);
    EXPECT_NE(P(h.DSM_MemAllocate), P(&Allocate));
    EXPECT_NE(P(h.DSM_MemFree), P(&Free));
    // Handed Tracelet's own functions back, the manager's stay the ones called.
    TW_ENTRYPOINT back = h;
    ASSERT_EQ(ds.Call(DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, &back), TWRC_SUCCESS);

    g_memory.prepared[0] = TwainNewHandle(40);
    const TW_HANDLE got = source.handed.DSM_MemAllocate(40);
    const TW_MEMREF locked = source.handed.DSM_MemLock(got);
    source.handed.DSM_MemUnlock(got);
    source.handed.DSM_MemFree(got);
    const TW_HANDLE none = source.handed.DSM_MemAllocate(0xFFFFFFF0u);  // the manager has none: null
    EXPECT_EQ(got, g_memory.prepared[0]);
    EXPECT_EQ(locked, TwainLockHandle(got));
    EXPECT_EQ(none, nullptr);
    ASSERT_EQ(g_memory.count, 5u);
    const MemoryCall expected[] = {{'a', 40, got}, {'l', 0, got}, {'u', 0, got}, {'f', 0, got}, {'a', 0xFFFFFFF0u, nullptr}};
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(g_memory.calls[i].fn, expected[i].fn) << i;
        EXPECT_EQ(g_memory.calls[i].size, expected[i].size) << i;
        EXPECT_EQ(g_memory.calls[i].handle, expected[i].handle) << i;
    }

    // A member the manager leaves null stays null; the others are wrapped.
    TW_ENTRYPOINT partial = ManagerEntryPoint();
    partial.DSM_MemFree = nullptr;
    partial.DSM_MemUnlock = nullptr;
    ASSERT_EQ(ds.Call(DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, &partial), TWRC_SUCCESS);
    EXPECT_EQ(P(source.handed.DSM_MemFree), nullptr);
    EXPECT_EQ(P(source.handed.DSM_MemUnlock), nullptr);
    EXPECT_NE(P(source.handed.DSM_MemAllocate), nullptr);
    EXPECT_NE(P(source.handed.DSM_MemLock), P(&Lock));
    // The caller's own structure is untouched.
    EXPECT_EQ(P(partial.DSM_MemAllocate), P(&Allocate));
}

// One container of each kind and item type, honest about its size: from the
// entry point's allocator it prints exactly as from the source's own.
TEST_F(ContainerBounds, HonestContainersPrintAsFromAnyOtherAllocator) {
    struct Row {
        TW_UINT16 conType;
        Bytes bytes;
    };
    std::vector<Row> rows;
    for (TW_UINT16 type = TWTY_INT8; type <= TWTY_STR255; ++type) {
        const size_t width = TwainItemSize(type);
        Bytes items;
        for (int i = 0; i < 3; ++i) {
            if (type >= TWTY_STR32) {
                PutText(items, "item " + std::to_string(i), width);
            } else {
                for (size_t b = 0; b < width; ++b) items.push_back(static_cast<unsigned char>(0x11 * (i + 1) + b));
            }
        }
        Bytes e = EnumerationHead(type, 3, 1, 2), a = ArrayHead(type, 3);
        e.insert(e.end(), items.begin(), items.end());
        a.insert(a.end(), items.begin(), items.end());
        rows.push_back({TWON_ENUMERATION, e});
        rows.push_back({TWON_ARRAY, a});
        rows.push_back({TWON_ONEVALUE, OneValue(type, items.data(), width)});
        if (type < TWTY_FRAME) rows.push_back({TWON_RANGE, Range(type, 1, 0x10000, 3, 0x11, 0xFFFFFFFF)});
    }
    rows.push_back({TWON_ARRAY, ArrayHead(TWTY_UINT16, 0)});  // no items at all
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << "container " << r.conType << " of " << r.bytes.size() << " bytes");
        const std::string traced = Traced(r.bytes, r.conType);
        Handle own(r.bytes);
        EXPECT_EQ(traced, TracedOwn(own.get(), r.conType));
        EXPECT_EQ(traced.find("        !!! "), std::string::npos);  // no note
    }
}

template <class T>
Bytes Items(std::initializer_list<T> items) {
    Bytes v;
    for (T x : items) Put(v, x);
    return v;
}
Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Containers that claim more than their block holds, as sources get them
// wrong: what the block holds, then the note.
struct LyingRow {
    const char* name;
    TW_UINT16 conType;
    Bytes bytes;
    std::string text;  // from the container's line on
};

std::vector<LyingRow> LyingRows() {
    Bytes text;
    PutText(text, "first", 34);
    PutText(text, "sec", 3);
    Bytes oneText = OneValue(TWTY_STR255, "0123456789", 10);
    oneText.resize(offsetof(TW_ONEVALUE, Item) + 10);
    const Bytes range = Range(TWTY_UINT32, 1, 2, 3, 4, 5);
    return {
        {"a count past its items", TWON_ENUMERATION, EnumerationHead(TWTY_UINT16, 5, 0, 1) + Items<TW_UINT16>({0, 2}),
         Lines({"    TW_ENUMERATION = {", "      ItemType     = [TWTY_UINT16]", "      NumItems     = [5]",
                "      CurrentIndex = [0]", "      DefaultIndex = [1]", "      ItemList = {", "          0:TWPT_BW,",
                "          1:TWPT_RGB,", "        !!! NumItems 5 but the container holds 2 items !!!", "      }", "    }"})},
        {"four billion items in a block of one and a half", TWON_ARRAY,
         ArrayHead(TWTY_INT32, 0xFFFFFFFF) + Items<TW_INT32>({-9}) + Bytes(2, 0x7F),
         Lines({"    TW_ARRAY = {", "      ItemType = [TWTY_INT32]", "      NumItems = [4294967295]", "      ItemList = {",
                "          0:-9,", "        !!! NumItems 4294967295 but the container holds 1 items !!!", "      }", "    }"})},
        {"a last text without its end", TWON_ARRAY, ArrayHead(TWTY_STR32, 2) + text,
         Lines({"    TW_ARRAY = {", "      ItemType = [TWTY_STR32]", "      NumItems = [2]", "      ItemList = {",
                "          0:first,", "          1:sec", "        !!! item 1 has no end inside its container !!!",
                "      }", "    }"})},
        {"a single text without its end", TWON_ONEVALUE, oneText,
         Lines({"    TW_ONEVALUE = {", "      ItemType = [TWTY_STR255]", "      Item     = [0123456789]",
                "        !!! item 0 has no end inside its container !!!", "    }"})},
        {"a block shorter than the header", TWON_ENUMERATION, Bytes(3, 0x04),
         Lines({"    TW_ENUMERATION = {", "        !!! the container holds 3 bytes, too few for its header !!!", "    }"})},
        {"a range one byte short", TWON_RANGE, Bytes(range.begin(), range.end() - 1),
         Lines({"    TW_RANGE = {",
                Format("        !!! the container holds %zu bytes, too few for its header !!!", range.size() - 1),
                "    }"})},
    };
}

TEST_F(ContainerBounds, LyingContainersPrintWhatTheirBlockHoldsAndANote) {
    for (const LyingRow& r : LyingRows()) EXPECT_EQ(Traced(r.bytes, r.conType), r.text) << r.name;
}

// The reader's check names each of them.
TEST_F(ContainerBounds, CheckReportsEachLyingCount) {
    if (TraceletAllocationsBegin != nullptr || strlen(TRACELET_LOG_PROGRAM) == 0) GTEST_SKIP() << "no reader here";
    const std::vector<LyingRow> rows = LyingRows();
    for (const LyingRow& r : rows) Traced(r.bytes, r.conType);
    Handle honest(EnumerationHead(TWTY_UINT16, 1, 0, 0) + Items<TW_UINT16>({1}));
    TracedOwn(honest.get(), TWON_ENUMERATION);
    const std::string command =
        std::string(TRACELET_LOG_PROGRAM) + " check '" + LoadedDataSource::LogFolder() + "' 2>&1";
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    ASSERT_NE(p, nullptr);
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    pclose(p);
    size_t findings = 0;
    for (size_t at = 0; (at = out.find("  lying-count  the container of ICAP_PIXELTYPE", at)) != std::string::npos; ++at) ++findings;
    EXPECT_EQ(findings, rows.size()) << out;
    EXPECT_NE(out.find("00002  lying-count"), std::string::npos) << out;  // the first of them, by its number
}

// An address the table once held for a small block, now a larger container
// from the source's own allocator: it prints whole, with no note, whether
// the small block's call has been traced since or the source freed it
// through the entry point in the same call.
TEST_F(ContainerBounds, AnAddressOnceHeldForASmallerBlockBoundsNothingElse) {
    const Bytes big = EnumerationHead(TWTY_UINT16, 3, 0, 0) + Items<TW_UINT16>({0, 1, 2});
    Handle arena(big);
    const std::string whole = Lines({"    TW_ENUMERATION = {", "      ItemType     = [TWTY_UINT16]",
                                     "      NumItems     = [3]", "      CurrentIndex = [0]", "      DefaultIndex = [0]",
                                     "      ItemList = {", "          0:TWPT_BW,", "          1:TWPT_GRAY,",
                                     "          2:TWPT_RGB", "      }", "    }"});
    // Call one: the manager hands the same memory out as an 8-byte block.
    g_memory.prepared[0] = arena.get();
    source.container = Bytes(8, 0);
    ContainerText(TWON_ONEVALUE);
    g_memory.prepared[0] = nullptr;
    g_memory.next = 0;
    memcpy(TwainLockHandle(arena.get()), big.data(), big.size());
    TwainUnlockHandle(arena.get());
    EXPECT_EQ(TracedOwn(arena.get(), TWON_ENUMERATION), whole);

    source.allocateAndFreeFirst = true;
    g_memory.prepared[0] = arena.get();
    EXPECT_EQ(TracedOwn(arena.get(), TWON_ENUMERATION), whole);
    EXPECT_EQ(g_memory.calls[g_memory.count - 1].fn, 'f');
    g_memory.prepared[0] = nullptr;
    g_memory.next = 0;
}

// Threads in calls of their own at once, each source allocating its
// container through the entry point and a scratch block it frees there:
// every lying container gets its note, no honest one gets any, so no
// thread's block bounded another's container and none was lost.
TW_HANDLE AllocateShared(TW_UINT32 size) { return TwainNewHandle(size); }
void FreeShared(TW_HANDLE h) { TwainDisposeHandle(h); }
TW_MEMREF LockShared(TW_HANDLE h) { return TwainLockHandle(h); }
void UnlockShared(TW_HANDLE h) { TwainUnlockHandle(h); }

void ThreadedFill(void* context, TW_UINT32, TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF pData) {
    TW_ENTRYPOINT& handed = *static_cast<TW_ENTRYPOINT*>(context);
    if (DAT == DAT_ENTRYPOINT && MSG == MSG_SET && pData) memcpy(&handed, pData, sizeof handed);
    if (DAT != DAT_CAPABILITY || !pData) return;
    TW_CAPABILITY cap;
    memcpy(&cap, pData, sizeof cap);
    const bool lying = cap.Cap == ICAP_PIXELTYPE;
    TW_HANDLE scratch = handed.DSM_MemAllocate(64);
    Bytes bytes = ArrayHead(TWTY_UINT16, lying ? 5 : 2);
    Put(bytes, TW_UINT16(1));
    Put(bytes, TW_UINT16(2));
    cap.hContainer = handed.DSM_MemAllocate(static_cast<TW_UINT32>(bytes.size()));
    memcpy(handed.DSM_MemLock(cap.hContainer), bytes.data(), bytes.size());
    handed.DSM_MemUnlock(cap.hContainer);
    handed.DSM_MemFree(scratch);
    memcpy(pData, &cap, sizeof cap);
}

TEST(ContainerBoundsThreads, EachCallsBlocksBoundOnlyItsOwnContainer) {
    if (TraceletAllocationsBegin != nullptr) GTEST_SKIP() << "the source allocates from the heap here";
    LoadedDataSource ds;
    ASSERT_NE(ds.control, nullptr);
    TW_ENTRYPOINT handed{};
    ds.control->fill = ThreadedFill;
    ds.control->context = &handed;
    TW_ENTRYPOINT entry{};
    entry.Size = sizeof entry;
    entry.DSM_Entry = ManagerEntry;
    entry.DSM_MemAllocate = AllocateShared;
    entry.DSM_MemFree = FreeShared;
    entry.DSM_MemLock = LockShared;
    entry.DSM_MemUnlock = UnlockShared;
    ASSERT_EQ(ds.Call(DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, &entry), TWRC_SUCCESS);
    constexpr int kThreads = 4, kCalls = 40;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&ds, t] {
            for (int i = 0; i < kCalls; ++i) {
                TW_CAPABILITY cap{static_cast<TW_UINT16>(t % 2 ? ICAP_PIXELTYPE : ICAP_BITDEPTH), TWON_ARRAY, nullptr};
                ds.Call(DG_CONTROL, DAT_CAPABILITY, MSG_GET, &cap);
                TwainDisposeHandle(cap.hContainer);  // the application frees it with the manager's function
            }
        });
    for (std::thread& t : threads) t.join();
    const std::string log = LoadedDataSource::Log();
    size_t notes = 0, lying = 0;
    for (size_t at = 0; (at = log.find("        !!! ", at)) != std::string::npos; ++at) ++notes;
    for (size_t at = 0; (at = log.find("        !!! NumItems 5 but the container holds 2 items !!!\r\n", at)) != std::string::npos; ++at)
        ++lying;
    EXPECT_EQ(lying, static_cast<size_t>(kThreads / 2 * kCalls));
    EXPECT_EQ(notes, lying);
}

}  // namespace
