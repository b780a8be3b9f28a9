// The source's own calls through the manager entry point it is handed with
// DAT_ENTRYPOINT/MSG_SET: traced as [DS] blocks numbered with the
// application's, moving the state when they are sent, passed on unchanged,
// and written whole when several threads trace at once.
#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <functional>
#include <map>
#include <thread>
#include <tuple>
#include <vector>

#include "DataSourceHarness.h"

namespace {

// The manager stand-in: records what the source sent, runs the
// application's callback (once), answers `rc`.
struct Manager {
    TW_UINT16 rc = TWRC_SUCCESS;
    std::tuple<pTW_IDENTITY, pTW_IDENTITY, TW_UINT32, TW_UINT16, TW_UINT16, TW_MEMREF> last;
    std::function<void()> callback;
} g_manager;

TW_UINT16 ManagerStandIn(pTW_IDENTITY pOrigin, pTW_IDENTITY pDest, TW_UINT32 DG, TW_UINT16 DAT,
                         TW_UINT16 MSG, TW_MEMREF pData) {
    if (g_manager.callback) {
        const std::function<void()> callback = std::move(g_manager.callback);
        g_manager.callback = nullptr;
        callback();
    }
    g_manager.last = std::make_tuple(pOrigin, pDest, DG, DAT, MSG, pData);
    return g_manager.rc;
}
// The memory functions are only shown, never called.
TW_ENTRYPOINT ManagerEntryPoint() {
    TW_ENTRYPOINT e{};
    e.Size = sizeof e;
    e.DSM_Entry = ManagerStandIn;
    e.DSM_MemAllocate = reinterpret_cast<DSM_MEMALLOCATE>(0x5566aa20);
    e.DSM_MemFree = reinterpret_cast<DSM_MEMFREE>(0x5566aa30);
    e.DSM_MemLock = reinterpret_cast<DSM_MEMLOCK>(0x5566aa40);
    e.DSM_MemUnlock = reinterpret_cast<DSM_MEMUNLOCK>(0x5566aa50);
    return e;
}

// The source side, played through the scripted companion: it keeps the
// manager entry it was handed and signals from inside MSG_ENABLEDS.
struct Source {
    LoadedDataSource* ds = nullptr;
    TW_IDENTITY identity{};
    TW_ENTRYPOINT handed{};  // what the companion was given
    std::vector<TW_UINT16> signalsOnEnable;

    TW_UINT16 Send(TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF pData = nullptr) {
        return handed.DSM_Entry(&identity, &ds->app, DG, DAT, MSG, pData);
    }
};

void SourceFill(void* context, TW_UINT32, TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF pData) {
    Source& s = *static_cast<Source*>(context);
    if (DAT == DAT_ENTRYPOINT && MSG == MSG_SET && pData) memcpy(&s.handed, pData, sizeof s.handed);
    if (DAT == DAT_USERINTERFACE && MSG == MSG_ENABLEDS)
        for (TW_UINT16 signal : s.signalsOnEnable) s.Send(DG_CONTROL, DAT_NULL, signal);
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

// A block; state 0 for a failed call's marker block instead of the state line.
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
        ASSERT_NE(DSMENTRYPROC(source.handed.DSM_Entry), nullptr);
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

// A triplet no table names, both ways, answered with every kind of return
// code: passed exactly, the caller's bytes untouched, only a failure marked.
TEST_F(SourceSession, TripletsAndAnswersPassExactlyBothWays) {
    // The companion got a copy with Tracelet's own DSM_Entry in it; the
    // caller's structure stays as it came.
    const TW_ENTRYPOINT original = ManagerEntryPoint();
    EXPECT_EQ(memcmp(&callerEntry, &original, sizeof original), 0);
    const TW_ENTRYPOINT& h = source.handed;  // packed: its members are compared as values
    EXPECT_NE(Low(h.DSM_Entry), Low(&ManagerStandIn));
    EXPECT_EQ(TW_UINT32(h.Size), TW_UINT32(sizeof h));

    ds.control->fill = nullptr;
    TW_STATUS status{};
    status.ConditionCode = TWCC_BUMMER;
    const struct {
        TW_UINT16 rc;
        const char* name;
    } codes[] = {{TWRC_SUCCESS, "TWRC_SUCCESS"}, {TWRC_FAILURE, "TWRC_FAILURE"}, {TWRC_CHECKSTATUS, "TWRC_CHECKSTATUS"},
                 {TWRC_CANCEL, "TWRC_CANCEL"},   {TWRC_DSEVENT, "TWRC_DSEVENT"}, {TWRC_NOTDSEVENT, "TWRC_NOTDSEVENT"},
                 {TWRC_XFERDONE, "TWRC_XFERDONE"}, {0x8001, "ERROR!(32769)"}};
    const char* unnamed = "ERROR!(4194304)/ERROR!(1911)/ERROR!(32767)";
    std::string expected;
    int seq = 2;
    for (const auto& c : codes) {
        ds.control->rc = g_manager.rc = c.rc;
        EXPECT_EQ(ds.Call(0x00400000, 0x0777, 0x7FFF, &status), c.rc);
        const ScriptControl& got = *ds.control;
        EXPECT_EQ(std::make_tuple(got.lastOrigin, got.lastDG, got.lastDAT, got.lastMSG, got.lastData),
                  std::make_tuple(&ds.app, 0x00400000u, TW_UINT16(0x0777), TW_UINT16(0x7FFF), TW_MEMREF(&status)));
        EXPECT_EQ(source.Send(0x00400000, 0x0777, 0x7FFF, &status), c.rc);
        EXPECT_EQ(g_manager.last, std::make_tuple(&source.identity, &ds.app, 0x00400000u, TW_UINT16(0x0777),
                                                  TW_UINT16(0x7FFF), TW_MEMREF(&status)));
        EXPECT_EQ(status.ConditionCode, TWCC_BUMMER);
        const int state = c.rc == TWRC_FAILURE ? 0 : 4;
        expected += Block(seq + 1, "APP", unnamed, nullptr, c.name, &status, "", state) +
                    Block(seq + 2, "DS", unnamed, nullptr, c.name, &status, "", state);
        seq += 2;
    }
    EXPECT_EQ(SessionLog(), expected);
}

TEST_F(SourceSession, AMalformedEntryPointIsForwardedAsItCame) {
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
    EXPECT_NE(SessionLog().find(App(6, "DG_CONTROL/DAT_ENTRYPOINT/MSG_SET", 4)), std::string::npos);
}

// The whole log of a session whose source signals "transfer ready" from
// inside MSG_ENABLEDS: the notification is written first and moves 4 -> 6.
// Run again with the log off until its last four calls: numbers and states
// move as if every block had been written.
TEST_F(SourceSession, ASessionIsTracedWithItsNotificationsAndStatesWithTheLogOnOrOff) {
    TW_PENDINGXFERS more{}, done{};
    more.Count = 0xFFFF;
    TW_EVENT event{};
    const struct {
        TW_UINT32 DG;  // 0: the source signals MSG from the test's thread
        TW_UINT16 DAT, MSG;
        void* pData;
        TW_UINT16 rc;
    } steps[] = {
        {DG_CONTROL, DAT_NULL, MSG_XFERREADY, nullptr, TWRC_SUCCESS},  // the application's: no text
        {DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event, TWRC_NOTDSEVENT},  // no text
        {0, 0, MSG_CLOSEDSOK, nullptr, TWRC_SUCCESS},  // no call in flight: no During, no change
        {DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, nullptr, TWRC_SUCCESS},
        {DG_IMAGE, DAT_IMAGEINFO, MSG_GET, nullptr, TWRC_SUCCESS},
        {DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, nullptr, TWRC_SUCCESS},
        {DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &more, TWRC_SUCCESS},
        {DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, nullptr, TWRC_SUCCESS},  // no count to read: no change
        {DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, nullptr, TWRC_SUCCESS},
        {DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &done, TWRC_FAILURE},
        {DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &done, TWRC_SUCCESS},
        {DG_CONTROL, DAT_STATUS, MSG_DISABLEDS, nullptr, TWRC_SUCCESS},  // not the user interface: no change
        {DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, nullptr, TWRC_SUCCESS},
        {DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, nullptr, TWRC_SUCCESS},
    };
    source.signalsOnEnable = {MSG_XFERREADY};
    FILE** logFile = static_cast<FILE**>(ds.Symbol("g_pLogFile"));
    FILE* const open = *logFile;
    for (int run = 0; run < 2; ++run) {
        if (run) *logFile = nullptr, ds.Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, nullptr);
        for (const auto& s : steps) {
            if (&s == &steps[10]) *logFile = open;
            ds.control->rc = s.rc;
            s.DG ? ds.Call(s.DG, s.DAT, s.MSG, s.pData) : source.Send(DG_CONTROL, DAT_NULL, s.MSG);
        }
    }
    const std::string pending = "  TW_PENDINGXFERS = {\r\n    Count = [%d]\r\n    EOJ   = [0]\r\n  }\r\n";
    auto tail = [&](int n) {
        return App(n, "DG_CONTROL/DAT_PENDINGXFERS/MSG_ENDXFER", 5, &done, Format(pending.c_str(), 0)) +
               App(n + 1, "DG_CONTROL/DAT_STATUS/MSG_DISABLEDS", 5) +
               App(n + 2, "DG_CONTROL/DAT_USERINTERFACE/MSG_DISABLEDS", 4) +
               App(n + 3, "DG_CONTROL/DAT_IDENTITY/MSG_CLOSEDS", 3);
    };
    EXPECT_EQ(LoadedDataSource::Log(),
              Opening() + Block(3, "DS", "DG_CONTROL/DAT_NULL/MSG_CLOSEDSOK", nullptr, "TWRC_SUCCESS", nullptr, "", 4) +
                  Block(4, "DS", kReady, kEnable, "TWRC_SUCCESS", nullptr, "", 6) + App(5, kEnable, 6) +
                  App(6, "DG_IMAGE/DAT_IMAGEINFO/MSG_GET", 6) + App(7, "DG_IMAGE/DAT_IMAGEMEMXFER/MSG_GET", 7) +
                  App(8, "DG_CONTROL/DAT_PENDINGXFERS/MSG_ENDXFER", 6, &more, Format(pending.c_str(), -1)) +
                  App(9, "DG_CONTROL/DAT_PENDINGXFERS/MSG_ENDXFER", 6) +
                  App(10, "DG_IMAGE/DAT_IMAGEMEMXFER/MSG_GET", 7) +
                  Block(11, "APP", "DG_CONTROL/DAT_PENDINGXFERS/MSG_ENDXFER", nullptr, "TWRC_FAILURE", &done,
                        Format(pending.c_str(), 0), 0) +
                  tail(12) + tail(26));
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
        for (int i = 0; i < kCalls; ++i) source.Send(DG_CONTROL, DAT_NULL, MSG_DEVICEEVENT);
    });
    first.join();
    second.join();
    notifier.join();

    // Each block, numbered in order, is one of three texts.
    const std::string rest = ResultLines("TWRC_SUCCESS", nullptr) + StateLine(4);
    std::map<std::string, int> seen = {{"[APP] DG_CONTROL/DAT_DEVICEEVENT/MSG_GET\r\n" + rest, 0},
                                       {"[APP] DG_CONTROL/DAT_FILESYSTEM/MSG_GET\r\n" + rest, 0},
                                       {"[DS] DG_CONTROL/DAT_NULL/MSG_DEVICEEVENT\r\n" + rest, 0}};
    const std::string log = SessionLog();
    for (size_t at = 0, number = 3; at < log.size(); ++number) {
        ASSERT_EQ(log.substr(at, 8), Format("[%05zu] ", number));
        const auto kind = std::find_if(seen.begin(), seen.end(),
                                       [&](auto& k) { return !log.compare(at + 8, k.first.size(), k.first); });
        ASSERT_NE(kind, seen.end()) << "torn or unknown block at " << log.substr(at, 200);
        ++kind->second;
        at += 8 + kind->first.size();
    }
    for (const auto& kind : seen) EXPECT_EQ(kind.second, kCalls) << kind.first;
}

}  // namespace
