// Nothing on the trace path takes memory from the heap. This executable runs
// every end-to-end test with each DS_Entry call counted (the harness expects
// none), and a session of its own: every data argument type with zero,
// all-ones and text-like bytes, every item type in every container, with
// the log on and then off, and the flight record grown. The plain builds interpose the C allocation
// functions (the executable comes first in symbol lookup: the data source,
// the C library and operator new call these); the sanitizer build counts
// through its runtime's allocation hook. Only the counting thread counts.
#include <gtest/gtest.h>

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <vector>

#include "ContainerBytes.h"
#include "DataSourceHarness.h"
#include "RecordFile.h"

namespace {
thread_local int t_depth = 0;
thread_local size_t t_count = 0;
void Count() {
    if (t_depth) ++t_count;
}
}  // namespace

extern "C" void TraceletAllocationsBegin() {
    if (t_depth++ == 0) t_count = 0;
}
extern "C" size_t TraceletAllocationsEnd() { return --t_depth == 0 ? t_count : 0; }

#if defined(TRACELET_COUNT_WITH_SANITIZER_HOOK)
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void*, size_t),
                                                          void (*)(const volatile void*));
static const bool g_installed = __sanitizer_install_malloc_and_free_hooks(
    [](const volatile void*, size_t) { Count(); }, [](const volatile void*) {});
#else
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
void* malloc(size_t n) { return Count(), __libc_malloc(n); }
void* calloc(size_t n, size_t size) { return Count(), __libc_calloc(n, size); }
void* realloc(void* p, size_t n) { return Count(), __libc_realloc(p, n); }
void* memalign(size_t alignment, size_t n) { return Count(), __libc_memalign(alignment, n); }
void* aligned_alloc(size_t alignment, size_t n) { return Count(), __libc_memalign(alignment, n); }
int posix_memalign(void** out, size_t alignment, size_t n) {
    Count();
    return (*out = __libc_memalign(alignment, n)) ? 0 : ENOMEM;
}
}
static const bool g_installed = true;
#endif

namespace {

TW_UINT16 ManagerStandIn(pTW_IDENTITY, pTW_IDENTITY, TW_UINT32, TW_UINT16, TW_UINT16, TW_MEMREF) {
    return TWRC_SUCCESS;
}
void KeepEntryPoint(void* handed, TW_UINT32, TW_UINT16 DAT, TW_UINT16, TW_MEMREF pData) {
    if (DAT == DAT_ENTRYPOINT && pData) memcpy(handed, pData, sizeof(TW_ENTRYPOINT));
}

TEST(NoHeap, EveryTypeAndItemTypeAllocatesNothingWithTheLogOnOrOff) {
    // The counter sees every kind of allocation.
    ASSERT_TRUE(g_installed) << "this build cannot count allocations";
    TraceletAllocationsBegin();
    void* volatile blocks[] = {malloc(16), calloc(2, 8), realloc(nullptr, 8), aligned_alloc(64, 64), new int(1)};
    ASSERT_EQ(TraceletAllocationsEnd(), 5u);
    for (int i = 0; i < 4; ++i) free(blocks[i]);
    delete static_cast<int*>(blocks[4]);

    LoadedDataSource ds;
    ASSERT_NE(ds.control, nullptr);
    FILE** logFile = static_cast<FILE**>(ds.Symbol("g_pLogFile"));
    FILE* const open = *logFile;
    ASSERT_NE(open, nullptr) << "the log must be on";
    TW_ENTRYPOINT entry{sizeof entry, ManagerStandIn, nullptr, nullptr, nullptr, nullptr}, handed{};
    ds.control->fill = KeepEntryPoint;
    ds.control->context = &handed;
    ds.Call(DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, &entry);
    ds.control->fill = nullptr;
    ASSERT_NE(DSMENTRYPROC(handed.DSM_Entry), nullptr);

    // Containers of every item type (and one past them), the items 0xC1 bytes.
    std::vector<std::unique_ptr<Handle>> handles;
    for (TW_UINT16 type = TWTY_INT8; type <= TWTY_STR255 + 1; ++type) {
        TW_ONEVALUE one{};
        one.ItemType = type;
        for (std::vector<unsigned char> bytes : {Head(one, offsetof(TW_ONEVALUE, Item)), EnumerationHead(type, 3, 0, 1),
                                                 ArrayHead(type, 3), Range(type, 0, 0, 0, 0, 0)}) {
            bytes.resize(bytes.size() + 3 * sizeof(TW_STR255), 0xC1);
            handles.emplace_back(new Handle(bytes));
        }
    }
    const TW_UINT16 conTypes[] = {TWON_ONEVALUE, TWON_ENUMERATION, TWON_ARRAY, TWON_RANGE};
    std::vector<unsigned char> data(2048);
    for (FILE* log : {open, static_cast<FILE*>(nullptr)}) {
        *logFile = log;
        // Every data argument type named, and a few no table names on each side.
        for (const unsigned char fill : {0x00, 0xFF, 0x31})
            for (TW_UINT16 dat = 0; dat <= 0x8010; ++dat) {
                const bool near = dat <= 0x0014 || (dat >= 0x0100 && dat <= 0x010C) || dat >= 0x8000;
                if (dat == DAT_CAPABILITY || !(near || dat == DAT_SETUPFILEXFER2 || dat == DAT_ENTRYPOINT)) continue;
                std::fill(data.begin(), data.end(), fill);
                ds.control->rc = TWRC_SUCCESS;
                ds.Call(DG_CONTROL, dat, MSG_GET, data.data());
                ds.control->rc = TWRC_FAILURE;
                ds.Call(DG_IMAGE, dat, MSG_SET, data.data());
            }
        ds.control->rc = TWRC_SUCCESS;
        for (size_t i = 0; i < handles.size(); ++i) {
            TW_CAPABILITY cap{};
            cap.Cap = i % 2 ? ICAP_PIXELTYPE : CAP_SUPPORTEDCAPS;
            cap.ConType = conTypes[i % 4];
            cap.hContainer = handles[i]->get();
            ds.Call(DG_CONTROL, DAT_CAPABILITY, MSG_GET, &cap);
        }
        // A notice from the source's own thread, with no call in flight.
        TraceletAllocationsBegin();
        handed.DSM_Entry(&ds.app, &ds.app, DG_CONTROL, DAT_NULL, MSG_DEVICEEVENT, nullptr);
        EXPECT_EQ(TraceletAllocationsEnd(), 0u) << "a notice from the source's thread";
    }
    *logFile = open;
    // The flight record is on, and growing it past its first step (reserve
    // and map) takes nothing from the heap either.
    ASSERT_EQ(RecordFiles(LoadedDataSource::LogFolder()).size(), 1u) << "the flight record must be on";
    TW_EVENT event{};
    ds.control->rc = TWRC_NOTDSEVENT;
    for (uint64_t i = 0; i < fr::kGrowStep / fr::kSlotSize; ++i) ds.Call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event);
    ds.Unload();
    const RecordFile record = RecordFile::OnlyIn(LoadedDataSource::LogFolder());
    EXPECT_GT(record.fileSize, fr::kHeaderSize + fr::kGrowStep);
    EXPECT_EQ(record.header.flags, uint32_t(fr::kFlagClosed));
    // The session went the whole way to the log.
    const std::string log = LoadedDataSource::Log();
    for (const char* text : {"TW_CIECOLOR = {", "TWNV_HARDWAREINFO = {", "TW_FRAME = {", "TW_RANGE = {",
                             "[DS] DG_CONTROL/DAT_NULL/MSG_DEVICEEVENT"})
        EXPECT_NE(log.find(text), std::string::npos) << "the log lacks " << text;
}

}  // namespace
