// The source's own calls through the manager entry point it is handed with
// DAT_ENTRYPOINT/MSG_SET: traced as [DS] blocks numbered with the
// application's, moving the state when they are sent, passed on unchanged,
// and written whole when several threads trace at once.
#include <gtest/gtest.h>

#include <string.h>

#include <functional>
#include <map>
#include <thread>
#include <vector>

#include "DataSourceHarness.h"

namespace {

// The manager stand-in: records what the source sent, runs the
// application's callback (once), answers `rc`.
struct Manager {
    TW_UINT16 rc = TWRC_SUCCESS;
    int calls = 0;
    pTW_IDENTITY origin = nullptr, dest = nullptr;
    TW_UINT32 DG = 0;
    TW_UINT16 DAT = 0, MSG = 0;
    TW_MEMREF data = nullptr;
    std::function<void()> callback;
} g_manager;

TW_UINT16 ManagerStandIn(pTW_IDENTITY pOrigin, pTW_IDENTITY pDest, TW_UINT32 DG, TW_UINT16 DAT,
                         TW_UINT16 MSG, TW_MEMREF pData) {
    Manager& m = g_manager;
    if (m.callback) {
        const std::function<void()> callback = std::move(m.callback);
        m.callback = nullptr;
        callback();
    }
    ++m.calls;
    m.origin = pOrigin, m.dest = pDest, m.DG = DG, m.DAT = DAT, m.MSG = MSG, m.data = pData;
    return m.rc;
}
TW_HANDLE Alloc(TW_UINT32) { return nullptr; }
void Free(TW_HANDLE) {}
TW_MEMREF Lock(TW_HANDLE) { return nullptr; }
void Unlock(TW_HANDLE) {}

TW_ENTRYPOINT ManagerEntryPoint() {
    TW_ENTRYPOINT e{};
    e.Size = sizeof e;
    e.DSM_Entry = ManagerStandIn;
    e.DSM_MemAllocate = Alloc;
    e.DSM_MemFree = Free;
    e.DSM_MemLock = Lock;
    e.DSM_MemUnlock = Unlock;
    return e;
}

// The source side, played through the scripted companion: it keeps the
// manager entry it was handed and signals from inside MSG_ENABLEDS.
struct Source {
    LoadedDataSource* ds = nullptr;
    TW_IDENTITY identity{};
    TW_ENTRYPOINT handed{};  // what the companion was given
    std::vector<TW_UINT16> signalsOnEnable;

    TW_UINT16 Signal(TW_UINT16 MSG) {
        return handed.DSM_Entry(&identity, &ds->app, DG_CONTROL, DAT_NULL, MSG, nullptr);
    }
};

void SourceFill(void* context, TW_UINT32, TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF pData) {
    Source& s = *static_cast<Source*>(context);
    if (DAT == DAT_ENTRYPOINT && MSG == MSG_SET && pData) memcpy(&s.handed, pData, sizeof s.handed);
    if (DAT == DAT_USERINTERFACE && MSG == MSG_ENABLEDS)
        for (TW_UINT16 signal : s.signalsOnEnable) s.Signal(signal);
}

template <class F>
unsigned Low(F* f) {
    return static_cast<unsigned>(reinterpret_cast<uintptr_t>(f));
}

std::string EntryPointBlock(const TW_ENTRYPOINT& e) {
    return Format("  TW_ENTRYPOINT = {\r\n    Size            = [%u]\r\n    DSM_Entry       = <0x%08x>\r\n"
                  "    DSM_MemAllocate = <0x%08x>\r\n    DSM_MemFree     = <0x%08x>\r\n"
                  "    DSM_MemLock     = <0x%08x>\r\n    DSM_MemUnlock   = <0x%08x>\r\n  }\r\n",
                  e.Size, Low(e.DSM_Entry), Low(e.DSM_MemAllocate), Low(e.DSM_MemFree), Low(e.DSM_MemLock),
                  Low(e.DSM_MemUnlock));
}

std::string Block(int n, const char* tag, const char* triplet, const char* during, const char* rc,
                  const void* pData, const std::string& dump, int state) {
    std::string text = Format("[%05d] [%s] %s\r\n", n, tag, triplet);
    if (during) text += Format("        During      = [%s]\r\n", during);
    return text + ResultLines(rc, pData) + dump + (state ? StateLine(state) : MarkerBlock());
}
std::string App(int n, const char* triplet, int state, const void* pData = nullptr, const std::string& dump = "") {
    return Block(n, "APP", triplet, nullptr, "TWRC_SUCCESS", pData, dump, state);
}
const char kEnable[] = "DG_CONTROL/DAT_USERINTERFACE/MSG_ENABLEDS";
const char kReady[] = "DG_CONTROL/DAT_NULL/MSG_XFERREADY";

// A loaded data source with the manager stand-in and the source wired up,
// its manager entry point set (block 1) and the source opened (block 2).
class SourceSession : public ::testing::Test {
protected:
    void SetUp() override {
        g_manager = Manager{};
        ASSERT_NE(ds.control, nullptr);
        source.ds = &ds;
        ds.control->fill = SourceFill;
        ds.control->context = &source;
        ASSERT_EQ(ds.Call(DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, &callerEntry), TWRC_SUCCESS);
        ASSERT_NE(source.handed.DSM_Entry, nullptr);
        ASSERT_EQ(ds.Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, nullptr), TWRC_SUCCESS);
    }

    // The text after the first two blocks, and what they say.
    static std::string SessionLog() {
        const std::string log = LoadedDataSource::Log();
        return log.substr(std::min(log.find("[00003]"), log.size()));
    }
    std::string Opening() {
        return App(1, "DG_CONTROL/DAT_ENTRYPOINT/MSG_SET", 3, &callerEntry, EntryPointBlock(callerEntry)) +
               App(2, "DG_CONTROL/DAT_IDENTITY/MSG_OPENDS", 4);
    }

    LoadedDataSource ds;
    Source source;
    TW_ENTRYPOINT callerEntry = ManagerEntryPoint();
};

TEST_F(SourceSession, ArgumentsAnswersAndTheCallersBytesPassUnchanged) {
    // The companion gets a copy with Tracelet's DSM_Entry; the caller's
    // structure stays as it came.
    const TW_ENTRYPOINT original = ManagerEntryPoint();
    EXPECT_EQ(memcmp(&callerEntry, &original, sizeof original), 0);
    EXPECT_NE(ds.control->lastData, static_cast<TW_MEMREF>(&callerEntry));
    TW_ENTRYPOINT expectHanded = original;
    expectHanded.DSM_Entry = source.handed.DSM_Entry;
    EXPECT_NE(Low(source.handed.DSM_Entry), Low(original.DSM_Entry));
    EXPECT_EQ(memcmp(&source.handed, &expectHanded, sizeof expectHanded), 0);

    TW_STATUS status{};
    status.ConditionCode = TWCC_BUMMER;  // what the manager leaves there comes back unchanged
    for (TW_UINT16 rc : {TWRC_SUCCESS, TWRC_FAILURE, TWRC_CHECKSTATUS, 0x8001}) {
        g_manager.rc = rc;
        EXPECT_EQ(source.handed.DSM_Entry(&source.identity, &ds.app, 0x12345678, DAT_STATUS, MSG_GET, &status), rc);
        EXPECT_EQ(g_manager.origin, &source.identity);
        EXPECT_EQ(g_manager.dest, &ds.app);
        EXPECT_EQ(g_manager.DG, 0x12345678u);
        EXPECT_EQ(g_manager.DAT, DAT_STATUS);
        EXPECT_EQ(g_manager.MSG, MSG_GET);
        EXPECT_EQ(g_manager.data, static_cast<TW_MEMREF>(&status));
        EXPECT_EQ(status.ConditionCode, TWCC_BUMMER);
    }
    EXPECT_EQ(g_manager.calls, 4);
    // A failed answer gets its marker block, as an application's call does.
    EXPECT_NE(SessionLog().find(ResultLines("TWRC_FAILURE", &status) + "  TW_STATUS = {\r\n" +
                                "    ConditionCode = [TWCC_BUMMER]\r\n  }\r\n" + MarkerBlock()),
              std::string::npos);
}

TEST(SourceEntryPoint, AMalformedEntryPointIsForwardedAsItCame) {
    LoadedDataSource ds;
    ASSERT_NE(ds.control, nullptr);
    const struct {
        TW_UINT32 size;
        bool nullEntry;
    } cases[] = {{sizeof(TW_ENTRYPOINT) - 1, false}, {sizeof(TW_ENTRYPOINT) + 4, false}, {sizeof(TW_ENTRYPOINT), true}};
    for (const auto& c : cases) {
        TW_ENTRYPOINT e = ManagerEntryPoint();
        e.Size = c.size;
        if (c.nullEntry) e.DSM_Entry = nullptr;
        const TW_ENTRYPOINT before = e;
        ds.Call(DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, &e);
        EXPECT_EQ(ds.control->lastData, static_cast<TW_MEMREF>(&e)) << c.size;
        EXPECT_EQ(memcmp(&e, &before, sizeof e), 0) << c.size;
    }
    ds.Call(DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, nullptr);
    EXPECT_EQ(ds.control->lastData, nullptr);
    // A null pData prints no block.
    EXPECT_NE(LoadedDataSource::Log().find("[00004] [APP] DG_CONTROL/DAT_ENTRYPOINT/MSG_SET\r\n" +
                                           ResultLines("TWRC_SUCCESS", nullptr) + StateLine(3)),
              std::string::npos);
}

// The whole log of a session whose source signals "transfer ready" from
// inside MSG_ENABLEDS: the notification is written first and moves 4 -> 6.
TEST_F(SourceSession, ASessionIsTracedWithItsNotificationsAndStates) {
    TW_PENDINGXFERS more{}, done{};
    more.Count = 0xFFFF;
    const struct {
        TW_UINT32 DG;  // 0: the source signals MSG from the test's thread
        TW_UINT16 DAT, MSG;
        void* pData;
    } steps[] = {
        {DG_CONTROL, DAT_NULL, MSG_XFERREADY, nullptr},  // the application's: no text
        {0, 0, MSG_CLOSEDSOK, nullptr},                   // no call in flight: no During, no change
        {DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, nullptr},
        {DG_IMAGE, DAT_IMAGEINFO, MSG_GET, nullptr},
        {DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, nullptr},
        {DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &more},
        {DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, nullptr},  // no count to read: no change
        {DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, nullptr},
        {DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &done},
        {DG_CONTROL, DAT_STATUS, MSG_DISABLEDS, nullptr},  // not the user interface: no change
        {DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, nullptr},
        {DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, nullptr},
    };
    source.signalsOnEnable = {MSG_XFERREADY};
    for (const auto& s : steps) s.DG ? ds.Call(s.DG, s.DAT, s.MSG, s.pData) : source.Signal(s.MSG);

    const std::string pending = "  TW_PENDINGXFERS = {\r\n    Count = [%d]\r\n    EOJ   = [0]\r\n  }\r\n";
    EXPECT_EQ(LoadedDataSource::Log(),
              Opening() + Block(3, "DS", "DG_CONTROL/DAT_NULL/MSG_CLOSEDSOK", nullptr, "TWRC_SUCCESS", nullptr, "", 4) +
                  Block(4, "DS", kReady, kEnable, "TWRC_SUCCESS", nullptr, "", 6) + App(5, kEnable, 6) +
                  App(6, "DG_IMAGE/DAT_IMAGEINFO/MSG_GET", 6) + App(7, "DG_IMAGE/DAT_IMAGEMEMXFER/MSG_GET", 7) +
                  App(8, "DG_CONTROL/DAT_PENDINGXFERS/MSG_ENDXFER", 6, &more, Format(pending.c_str(), -1)) +
                  App(9, "DG_CONTROL/DAT_PENDINGXFERS/MSG_ENDXFER", 6) +
                  App(10, "DG_IMAGE/DAT_IMAGEMEMXFER/MSG_GET", 7) +
                  App(11, "DG_CONTROL/DAT_PENDINGXFERS/MSG_ENDXFER", 5, &done, Format(pending.c_str(), 0)) +
                  App(12, "DG_CONTROL/DAT_STATUS/MSG_DISABLEDS", 5) +
                  App(13, "DG_CONTROL/DAT_USERINTERFACE/MSG_DISABLEDS", 4) +
                  App(14, "DG_CONTROL/DAT_IDENTITY/MSG_CLOSEDS", 3));
}

TEST_F(SourceSession, CallsFromTheCallbackSeeTheNewStateAndTheNotificationKeepsItsOwn) {
    source.signalsOnEnable = {MSG_XFERREADY};
    g_manager.callback = [this] {
        ds.Call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, nullptr);
        ds.Call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, nullptr);
    };
    ds.Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, nullptr);
    EXPECT_EQ(SessionLog(), App(3, "DG_IMAGE/DAT_IMAGEINFO/MSG_GET", 6) +
                                App(4, "DG_IMAGE/DAT_IMAGEMEMXFER/MSG_GET", 7) +
                                Block(5, "DS", kReady, kEnable, "TWRC_SUCCESS", nullptr, "", 6) + App(6, kEnable, 7));
}

// With the log off the numbering and the state move as with it on.
TEST_F(SourceSession, WithTheLogOffNumbersAndStatesMoveAsIfEveryBlockWereWritten) {
    FILE** logFile = static_cast<FILE**>(ds.Symbol("g_pLogFile"));
    FILE* const open = *logFile;
    *logFile = nullptr;
    TW_EVENT event{};
    TW_PENDINGXFERS done{};
    ds.Call(DG_CONTROL, DAT_NULL, MSG_XFERREADY, nullptr);  // filtered: no number
    ds.control->rc = TWRC_NOTDSEVENT;
    ds.Call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event);  // filtered: no number
    ds.control->rc = TWRC_SUCCESS;
    source.signalsOnEnable = {MSG_XFERREADY, MSG_DEVICEEVENT};
    ds.Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, nullptr);  // 3, 4, 5: 4 -> 6
    ds.Call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, nullptr);          // 6: 7
    ds.control->rc = TWRC_FAILURE;
    ds.Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &done);  // 7, failed: stays 7
    ds.control->rc = TWRC_SUCCESS;
    *logFile = open;
    ds.Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &done);
    EXPECT_EQ(LoadedDataSource::Log(), Opening() + App(8, "DG_CONTROL/DAT_PENDINGXFERS/MSG_ENDXFER", 5, &done,
                                                       "  TW_PENDINGXFERS = {\r\n    Count = [0]\r\n    EOJ   = [0]\r\n  }\r\n"));
}

TEST_F(SourceSession, BlocksStayWholeAndInOrderWhileThreadsCallAndTheSourceSignals) {
    ds.control->fill = nullptr;
    constexpr int kCalls = 200;
    std::thread first([&] {
        for (int i = 0; i < kCalls; ++i) ds.Call(DG_CONTROL, DAT_DEVICEEVENT, MSG_GET, nullptr);
    });
    std::thread second([&] {
        for (int i = 0; i < kCalls; ++i) ds.Call(DG_CONTROL, DAT_FILESYSTEM, MSG_GET, nullptr);
    });
    std::thread notifier([&] {
        for (int i = 0; i < kCalls; ++i) source.Signal(MSG_DEVICEEVENT);
    });
    first.join();
    second.join();
    notifier.join();

    // Each block, its number cut off, is one of three texts.
    const std::string rest = ResultLines("TWRC_SUCCESS", nullptr) + StateLine(4);
    std::map<std::string, int> seen = {{"[APP] DG_CONTROL/DAT_DEVICEEVENT/MSG_GET\r\n" + rest, 0},
                                       {"[APP] DG_CONTROL/DAT_FILESYSTEM/MSG_GET\r\n" + rest, 0},
                                       {"[DS] DG_CONTROL/DAT_NULL/MSG_DEVICEEVENT\r\n" + rest, 0}};
    const std::string log = SessionLog();
    int number = 3;
    for (size_t at = 0; at < log.size(); ++number) {
        const size_t next = std::min(log.find("\r\n[", at), log.size() - 2) + 2;
        const std::string block = log.substr(at, next - at);
        ASSERT_EQ(block.substr(0, 8), Format("[%05d] ", number)) << block;
        ASSERT_TRUE(seen.count(block.substr(8))) << "torn or unknown block:\n" << block;
        ++seen[block.substr(8)];
        at = next;
    }
    for (const auto& kind : seen) EXPECT_EQ(kind.second, kCalls) << kind.first;
}

}  // namespace
