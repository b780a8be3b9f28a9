// The source's own calls through the manager entry point it is handed with
// DAT_ENTRYPOINT/MSG_SET: traced as [DS] blocks numbered with the
// application's, moving the state when they are sent, passed on unchanged,
// and written whole when several threads trace at once.
#include <gtest/gtest.h>

#include <string.h>

#include <functional>
#include <map>
#include <sstream>
#include <thread>
#include <vector>

#include "DataSourceHarness.h"
#include "analyzer/ParaAnalyze.h"

namespace {

// The manager stand-in: records what the source sent, runs the
// application's callback (once), answers `rc`.
struct Manager {
    TW_UINT16 rc = TWRC_SUCCESS;
    int calls = 0;
    pTW_IDENTITY origin = nullptr;
    pTW_IDENTITY dest = nullptr;
    TW_UINT32 DG = 0;
    TW_UINT16 DAT = 0;
    TW_UINT16 MSG = 0;
    TW_MEMREF data = nullptr;
    std::function<void()> callback;
};
Manager* g_manager = nullptr;

TW_UINT16 ManagerStandIn(pTW_IDENTITY pOrigin, pTW_IDENTITY pDest, TW_UINT32 DG, TW_UINT16 DAT,
                         TW_UINT16 MSG, TW_MEMREF pData) {
    Manager& m = *g_manager;
    if (m.callback) {
        const std::function<void()> callback = std::move(m.callback);
        m.callback = nullptr;
        callback();
    }
    ++m.calls;
    m.origin = pOrigin;
    m.dest = pDest;
    m.DG = DG;
    m.DAT = DAT;
    m.MSG = MSG;
    m.data = pData;
    return m.rc;
}
TW_HANDLE Alloc(TW_UINT32) { return nullptr; }
void Free(TW_HANDLE) {}
TW_MEMREF Lock(TW_HANDLE) { return nullptr; }
void Unlock(TW_HANDLE) {}

// The source side, played through the scripted companion: it keeps the
// manager entry it was handed and signals from inside MSG_ENABLEDS.
struct Source {
    LoadedDataSource* ds = nullptr;
    TW_IDENTITY identity{};
    DSMENTRYPROC entry = nullptr;
    TW_ENTRYPOINT handed{};  // what the companion was given, as it was given
    std::vector<TW_UINT16> signalsOnEnable;

    TW_UINT16 Signal(TW_UINT16 MSG) {
        return entry(&identity, &ds->app, DG_CONTROL, DAT_NULL, MSG, nullptr);
    }
};

void SourceFill(void* context, TW_UINT32, TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF pData) {
    Source& s = *static_cast<Source*>(context);
    if (DAT == DAT_ENTRYPOINT && MSG == MSG_SET && pData) {
        memcpy(&s.handed, pData, sizeof s.handed);
        s.entry = s.handed.DSM_Entry;
    }
    if (DAT == DAT_USERINTERFACE && MSG == MSG_ENABLEDS)
        for (TW_UINT16 signal : s.signalsOnEnable) s.Signal(signal);
}

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

// A member of a packed structure, read where it lies.
template <class T>
T Value(T v) {
    return v;
}

unsigned Low(uintptr_t v) { return static_cast<unsigned>(v & 0xFFFFFFFFu); }
template <class F>
unsigned LowFn(F* f) {
    return Low(reinterpret_cast<uintptr_t>(f));
}

std::string EntryPointBlock(const TW_ENTRYPOINT& e) {
    return Format("  TW_ENTRYPOINT = {\r\n    Size            = [%u]\r\n    DSM_Entry       = <0x%08x>\r\n"
                  "    DSM_MemAllocate = <0x%08x>\r\n    DSM_MemFree     = <0x%08x>\r\n"
                  "    DSM_MemLock     = <0x%08x>\r\n    DSM_MemUnlock   = <0x%08x>\r\n  }\r\n",
                  e.Size, LowFn(e.DSM_Entry), LowFn(e.DSM_MemAllocate), LowFn(e.DSM_MemFree),
                  LowFn(e.DSM_MemLock), LowFn(e.DSM_MemUnlock));
}

// A loaded data source with the manager stand-in and the source wired up,
// its manager entry point set (block 1) and the source opened (block 2,
// state 4).
class SourceSession : public ::testing::Test {
protected:
    void SetUp() override {
        g_manager = &manager;
        ASSERT_NE(ds.control, nullptr);
        source.ds = &ds;
        ds.control->fill = SourceFill;
        ds.control->context = &source;
        ASSERT_EQ(ds.Call(DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, &callerEntry), TWRC_SUCCESS);
        ASSERT_NE(source.entry, nullptr);
        ASSERT_EQ(ds.Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, nullptr), TWRC_SUCCESS);
    }
    void TearDown() override { g_manager = nullptr; }

    // The text after the first two blocks.
    std::string SessionLog() {
        const std::string log = LoadedDataSource::Log();
        const size_t at = log.find("[00003]");
        return at == std::string::npos ? "" : log.substr(at);
    }

    Manager manager;
    LoadedDataSource ds;
    Source source;
    TW_ENTRYPOINT callerEntry = ManagerEntryPoint();
};

std::string Block(int n, const char* tag, const char* triplet, const char* during, const char* rc,
                  const void* pData, const std::string& dump, int state) {
    std::string text = Format("[%05d] [%s] %s\r\n", n, tag, triplet);
    if (during) text += Format("        During      = [%s]\r\n", during);
    return text + ResultLines(rc, pData) + dump + (state ? StateLine(state) : "");
}

// ---------------------------------------------------------------------------
// The entry point itself

TEST_F(SourceSession, TheCompanionGetsTraceletsCopyAndTheCallersStructureStaysAsItCame) {
    const TW_ENTRYPOINT original = ManagerEntryPoint();
    EXPECT_EQ(memcmp(&callerEntry, &original, sizeof original), 0) << "caller's bytes changed";
    EXPECT_NE(ds.control->lastData, static_cast<TW_MEMREF>(&callerEntry));
    // Every member but DSM_Entry as the caller gave it (the structure is
    // packed: its members are compared as values).
    const TW_ENTRYPOINT& h = source.handed;
    const TW_ENTRYPOINT& c = callerEntry;
    EXPECT_NE(Value(h.DSM_Entry), Value(c.DSM_Entry));
    EXPECT_EQ(Value(h.Size), Value(c.Size));
    EXPECT_EQ(Value(h.DSM_MemAllocate), Value(c.DSM_MemAllocate));
    EXPECT_EQ(Value(h.DSM_MemFree), Value(c.DSM_MemFree));
    EXPECT_EQ(Value(h.DSM_MemLock), Value(c.DSM_MemLock));
    EXPECT_EQ(Value(h.DSM_MemUnlock), Value(c.DSM_MemUnlock));

    // The block shows the caller's five pointers.
    const std::string log = LoadedDataSource::Log();
    EXPECT_EQ(log.substr(0, log.find("[00002]")),
              Block(1, "APP", "DG_CONTROL/DAT_ENTRYPOINT/MSG_SET", nullptr, "TWRC_SUCCESS",
                    &callerEntry, EntryPointBlock(callerEntry), 3));
}

TEST_F(SourceSession, TheManagerGetsTheSourcesArgumentsAndTheSourceTheManagersAnswer) {
    TW_STATUS status{};
    status.ConditionCode = TWCC_BUMMER;  // what the manager leaves there comes back unchanged
    const TW_UINT16 answers[] = {TWRC_SUCCESS, TWRC_FAILURE, TWRC_CHECKSTATUS, 0x8001};
    for (TW_UINT16 rc : answers) {
        manager.rc = rc;
        EXPECT_EQ(source.entry(&source.identity, &ds.app, 0x12345678, DAT_STATUS, MSG_GET, &status), rc);
        EXPECT_EQ(manager.origin, &source.identity);
        EXPECT_EQ(manager.dest, &ds.app);
        EXPECT_EQ(manager.DG, 0x12345678u);
        EXPECT_EQ(manager.DAT, DAT_STATUS);
        EXPECT_EQ(manager.MSG, MSG_GET);
        EXPECT_EQ(manager.data, static_cast<TW_MEMREF>(&status));
        EXPECT_EQ(status.ConditionCode, TWCC_BUMMER);
    }
    EXPECT_EQ(manager.calls, 4);
    // A failed answer gets its marker block, as an application's call does.
    EXPECT_NE(SessionLog().find(ResultLines("TWRC_FAILURE", &status) + "  TW_STATUS = {\r\n"
                                "    ConditionCode = [TWCC_BUMMER]\r\n  }\r\n" + MarkerBlock()),
              std::string::npos);
}

TEST(SourceEntryPoint, AMalformedEntryPointIsForwardedAsItCame) {
    LoadedDataSource ds;
    ASSERT_NE(ds.control, nullptr);
    struct Case {
        const char* what;
        TW_UINT32 size;
        bool nullEntry;
    } cases[] = {{"short Size", sizeof(TW_ENTRYPOINT) - 1, false},
                 {"Size larger than the structure", sizeof(TW_ENTRYPOINT) + 4, false},
                 {"null DSM_Entry", sizeof(TW_ENTRYPOINT), true}};
    for (const Case& c : cases) {
        TW_ENTRYPOINT e = ManagerEntryPoint();
        e.Size = c.size;
        if (c.nullEntry) e.DSM_Entry = nullptr;
        const TW_ENTRYPOINT before = e;
        ds.Call(DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, &e);
        EXPECT_EQ(ds.control->lastData, static_cast<TW_MEMREF>(&e)) << c.what;
        EXPECT_EQ(memcmp(&e, &before, sizeof e), 0) << c.what;
    }
    ds.Call(DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, nullptr);
    EXPECT_EQ(ds.control->lastData, nullptr);
    // A null pData prints no block.
    EXPECT_NE(LoadedDataSource::Log().find("[00004] [APP] DG_CONTROL/DAT_ENTRYPOINT/MSG_SET\r\n" +
                                           ResultLines("TWRC_SUCCESS", nullptr) + StateLine(3)),
              std::string::npos);
}

// ---------------------------------------------------------------------------
// Notifications and the state

TEST_F(SourceSession, ANotificationInsideEnableIsWrittenFirstAndTheSessionReadsSixAndSeven) {
    source.signalsOnEnable = {MSG_XFERREADY};
    TW_PENDINGXFERS more{};
    more.Count = 0xFFFF;
    TW_PENDINGXFERS done{};
    struct Step {
        TW_UINT32 DG;
        TW_UINT16 DAT, MSG;
        void* pData;
    } steps[] = {
        {DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, nullptr},
        {DG_IMAGE, DAT_IMAGEINFO, MSG_GET, nullptr},
        {DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, nullptr},
        {DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, nullptr},
        {DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &more},
        {DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, nullptr},
        {DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &done},
        {DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, nullptr},
    };
    for (const Step& s : steps) ds.Call(s.DG, s.DAT, s.MSG, s.pData);

    const std::string pending = "  TW_PENDINGXFERS = {\r\n    Count = [%d]\r\n    EOJ   = [0]\r\n  }\r\n";
    const std::string expected =
        Block(3, "DS", "DG_CONTROL/DAT_NULL/MSG_XFERREADY", "DG_CONTROL/DAT_USERINTERFACE/MSG_ENABLEDS",
              "TWRC_SUCCESS", nullptr, "", 6) +
        Block(4, "APP", "DG_CONTROL/DAT_USERINTERFACE/MSG_ENABLEDS", nullptr, "TWRC_SUCCESS", nullptr, "", 6) +
        Block(5, "APP", "DG_IMAGE/DAT_IMAGEINFO/MSG_GET", nullptr, "TWRC_SUCCESS", nullptr, "", 6) +
        Block(6, "APP", "DG_IMAGE/DAT_IMAGEMEMXFER/MSG_GET", nullptr, "TWRC_SUCCESS", nullptr, "", 7) +
        Block(7, "APP", "DG_IMAGE/DAT_IMAGEMEMXFER/MSG_GET", nullptr, "TWRC_SUCCESS", nullptr, "", 7) +
        Block(8, "APP", "DG_CONTROL/DAT_PENDINGXFERS/MSG_ENDXFER", nullptr, "TWRC_SUCCESS", &more,
              Format(pending.c_str(), -1), 6) +
        Block(9, "APP", "DG_IMAGE/DAT_IMAGEMEMXFER/MSG_GET", nullptr, "TWRC_SUCCESS", nullptr, "", 7) +
        Block(10, "APP", "DG_CONTROL/DAT_PENDINGXFERS/MSG_ENDXFER", nullptr, "TWRC_SUCCESS", &done,
              Format(pending.c_str(), 0), 5) +
        Block(11, "APP", "DG_CONTROL/DAT_USERINTERFACE/MSG_DISABLEDS", nullptr, "TWRC_SUCCESS", nullptr, "", 4);
    EXPECT_EQ(SessionLog(), expected);
}

TEST_F(SourceSession, CallsFromTheCallbackSeeTheNewStateAndTheNotificationKeepsItsOwn) {
    source.signalsOnEnable = {MSG_XFERREADY};
    manager.callback = [this] {
        ds.Call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, nullptr);
        ds.Call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, nullptr);
    };
    ds.Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, nullptr);
    const std::string expected =
        Block(3, "APP", "DG_IMAGE/DAT_IMAGEINFO/MSG_GET", nullptr, "TWRC_SUCCESS", nullptr, "", 6) +
        Block(4, "APP", "DG_IMAGE/DAT_IMAGEMEMXFER/MSG_GET", nullptr, "TWRC_SUCCESS", nullptr, "", 7) +
        Block(5, "DS", "DG_CONTROL/DAT_NULL/MSG_XFERREADY", "DG_CONTROL/DAT_USERINTERFACE/MSG_ENABLEDS",
              "TWRC_SUCCESS", nullptr, "", 6) +
        Block(6, "APP", "DG_CONTROL/DAT_USERINTERFACE/MSG_ENABLEDS", nullptr, "TWRC_SUCCESS", nullptr, "", 7);
    EXPECT_EQ(SessionLog(), expected);
}

TEST_F(SourceSession, TheSourcesOwnCallsAreNeverFilteredAndTheApplicationsStillAre) {
    ds.Call(DG_CONTROL, DAT_NULL, MSG_XFERREADY, nullptr);  // the application's: no text
    source.Signal(MSG_CLOSEDSOK);                            // from the source's own thread: no During
    EXPECT_EQ(SessionLog(), Block(3, "DS", "DG_CONTROL/DAT_NULL/MSG_CLOSEDSOK", nullptr, "TWRC_SUCCESS",
                                  nullptr, "", 4));
}

// ---------------------------------------------------------------------------
// With the log off the numbering and the state move as with it on

TEST(SourceCallsLogOff, NumberingAndStateMoveAsIfEveryBlockWereWritten) {
    TW_PENDINGXFERS done{};
    TW_EVENT event{};
    event.TWMessage = MSG_NULL;
    auto run = [&](bool logOffMeanwhile) {
        Manager manager;
        g_manager = &manager;
        LoadedDataSource ds;
        Source source;
        source.ds = &ds;
        ds.control->fill = SourceFill;
        ds.control->context = &source;
        TW_ENTRYPOINT entry = ManagerEntryPoint();
        ds.Call(DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, &entry);

        FILE** logFile = static_cast<FILE**>(ds.Symbol("g_pLogFile"));
        FILE* const open = *logFile;
        if (logOffMeanwhile) *logFile = nullptr;
        ds.Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, nullptr);
        ds.Call(DG_CONTROL, DAT_NULL, MSG_XFERREADY, nullptr);            // filtered: no number
        ds.control->rc = TWRC_NOTDSEVENT;
        ds.Call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event);         // filtered: no number
        ds.control->rc = TWRC_SUCCESS;
        source.signalsOnEnable = {MSG_XFERREADY, MSG_DEVICEEVENT};
        ds.Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, nullptr);    // 4 -> 6
        ds.Call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, nullptr);            // 7
        ds.control->rc = TWRC_FAILURE;
        ds.Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &done);        // failed: stays 7
        ds.control->rc = TWRC_SUCCESS;
        *logFile = open;
        ds.Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &done);        // 5
        const std::string log = LoadedDataSource::Log();
        g_manager = nullptr;
        return log.substr(log.rfind("\r\n[0") + 2);
    };
    const std::string on = run(false);
    const std::string offThenOn = run(true);
    EXPECT_EQ(offThenOn, on);
    EXPECT_EQ(on.substr(0, 8), "[00008] ");
    EXPECT_NE(on.find(StateLine(5)), std::string::npos);
}

// ---------------------------------------------------------------------------
// Threads

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
    const std::map<std::string, int> kinds = {
        {"[APP] DG_CONTROL/DAT_DEVICEEVENT/MSG_GET\r\n" + rest, 0},
        {"[APP] DG_CONTROL/DAT_FILESYSTEM/MSG_GET\r\n" + rest, 1},
        {"[DS] DG_CONTROL/DAT_NULL/MSG_DEVICEEVENT\r\n" + rest, 2}};
    int seen[3] = {};
    const std::string log = SessionLog();
    int expectedNumber = 3;
    for (size_t at = 0; at < log.size();) {
        size_t next = log.find("\r\n[", at);
        next = next == std::string::npos ? log.size() : next + 2;
        const std::string block = log.substr(at, next - at);
        ASSERT_EQ(block.substr(0, 8), Format("[%05d] ", expectedNumber)) << block;
        const auto kind = kinds.find(block.substr(8));
        ASSERT_NE(kind, kinds.end()) << "torn or unknown block:\n" << block;
        ++seen[kind->second];
        ++expectedNumber;
        at = next;
    }
    EXPECT_EQ(seen[0], kCalls);
    EXPECT_EQ(seen[1], kCalls);
    EXPECT_EQ(seen[2], kCalls);
}

}  // namespace
