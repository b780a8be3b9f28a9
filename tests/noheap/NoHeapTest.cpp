// Nothing on the trace path takes memory from the heap. The data source is
// loaded with its log on (loading may allocate: the companion, the log
// file, the levelled logger), then a session that reaches every data
// argument type of the dispatch, every container type, the overflow note,
// the marker block, the claimed-event path and the source's notifications
// through the manager entry point is driven through DS_Entry, counting every
// allocation the process makes inside each call.
//
// Everything the application and the companion own (structures, container
// handles) is made before the calls; the test companion answers without
// allocating, so what is counted is the data source's own work.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "AllocationCounter.h"
#include "ContainerBytes.h"
#include "DsLibrary.h"
#include "ScriptControl.h"
#include "tracelet/twain.h"
#include "tracelet/twain_memory.h"
#include "tracelet/twain_nv.h"

namespace {

const std::string kRoot = TRACELET_NOHEAP_ROOT;
const std::string kLogFolder = kRoot + "/LOG/TWAIN";
const std::string kCompanion = kRoot + "/Core/TwainWrapper.bundle";

std::string ReadLog() {
    const std::vector<std::string> names = FolderFiles(kLogFolder);
    return names.size() == 1 ? ReadFile(kLogFolder + "/" + names[0]) : "";
}

// One triplet of the session, with everything it points to made in advance.
struct Call {
    TW_UINT32 dg;
    TW_UINT16 dat;
    TW_UINT16 msg;
    TW_UINT16 rc;
    void* data;
    pTW_IDENTITY origin;
};

class Session {
public:
    // A structure's bytes, `fill` in every byte (0xFF and '1' leave texts
    // without a NUL and numbers at their widest), made now and kept.
    void* Bytes(unsigned char fill, size_t size = 2048) {
        blocks_.emplace_back(new unsigned char[size]);
        memset(blocks_.back().get(), fill, size);
        return blocks_.back().get();
    }
    template <class T>
    T* Struct(const T& value) {
        void* p = Bytes(0, sizeof(T));
        memcpy(p, &value, sizeof(T));
        return static_cast<T*>(p);
    }
    // A capability whose container handle holds `bytes`.
    TW_CAPABILITY* Capability(TW_UINT16 cap, TW_UINT16 conType, const std::vector<unsigned char>& bytes) {
        TW_HANDLE h = nullptr;
        if (!bytes.empty()) handles_.push_back(h = HandleOf(bytes));
        TW_CAPABILITY c{};
        c.Cap = cap;
        c.ConType = conType;
        c.hContainer = h;
        return Struct(c);
    }
    ~Session() {
        for (TW_HANDLE h : handles_) TwainDisposeHandle(h);
    }

    std::vector<Call> calls;

private:
    std::vector<std::unique_ptr<unsigned char[]>> blocks_;
    std::vector<TW_HANDLE> handles_;
};

const TW_UINT16 kEveryDat[] = {
    DAT_NULL, DAT_CAPABILITY, DAT_EVENT, DAT_IDENTITY, DAT_PARENT, DAT_PENDINGXFERS, DAT_SETUPMEMXFER,
    DAT_SETUPFILEXFER, DAT_STATUS, DAT_USERINTERFACE, DAT_XFERGROUP, DAT_TWUNKIDENTITY,
    DAT_CUSTOMDSDATA, DAT_IMAGEINFO, DAT_IMAGELAYOUT, DAT_IMAGEMEMXFER, DAT_IMAGENATIVEXFER,
    DAT_IMAGEFILEXFER, DAT_CIECOLOR, DAT_GRAYRESPONSE, DAT_RGBRESPONSE, DAT_JPEGCOMPRESSION,
    DAT_PALETTE8, DAT_EXTIMAGEINFO, DAT_NV_AUTOEXPOSURE, DAT_NV_RGBMATRIX, DAT_NV_COLORSMOOTHING,
    DAT_NV_EVENT, DAT_NV_HARDWAREINFO, DAT_NV_SKEWINFO, DAT_NV_UNSHARPMASKPARAM,
    DAT_NV_REDCORRECTIONMATRIX, DAT_NV_TWAINCALLBACKMSG, DAT_NV_SETTINGFRAME, DAT_NV_USMINFO,
    DAT_DEVICEEVENT, DAT_ENTRYPOINT, 0x8015,
};

// The manager and the source's side of its notifications: the source keeps
// the manager entry it is handed and signals "transfer ready" from inside
// MSG_ENABLEDS, as a Linux source does.
TW_UINT16 ManagerStandIn(pTW_IDENTITY, pTW_IDENTITY, TW_UINT32, TW_UINT16, TW_UINT16, TW_MEMREF) {
    return TWRC_SUCCESS;
}
DSMENTRYPROC g_sourcesManagerEntry = nullptr;
TW_IDENTITY g_sourceIdentity{};

void SignalInsideEnable(void* app, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF pData) {
    // The session's first DG_CONTROL/DAT_ENTRYPOINT/MSG_SET is the manager's;
    // the later calls of that data argument type carry filler bytes.
    if (DG == DG_CONTROL && DAT == DAT_ENTRYPOINT && MSG == MSG_SET && pData && !g_sourcesManagerEntry)
        g_sourcesManagerEntry = static_cast<TW_ENTRYPOINT*>(pData)->DSM_Entry;
    if (DAT == DAT_USERINTERFACE && MSG == MSG_ENABLEDS && g_sourcesManagerEntry)
        g_sourcesManagerEntry(&g_sourceIdentity, static_cast<pTW_IDENTITY>(app), DG_CONTROL, DAT_NULL,
                              MSG_XFERREADY, nullptr);
}

// A session from opening the manager to closing it, then every data
// argument type with zero bytes, all-ones bytes and text-like bytes, and
// every container type, each with assorted item types.
void BuildSession(Session& s, pTW_IDENTITY app) {
    auto add = [&](TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data, TW_UINT16 rc = TWRC_SUCCESS) {
        s.calls.push_back(Call{dg, dat, msg, rc, data, app});
    };
    TW_EVENT ready{};
    ready.TWMessage = MSG_XFERREADY;
    TW_PENDINGXFERS none{};
    TW_ENTRYPOINT entry{};
    entry.Size = sizeof entry;
    entry.DSM_Entry = ManagerStandIn;

    add(DG_CONTROL, DAT_PARENT, MSG_OPENDSM, s.Bytes(0));
    add(DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, s.Struct(entry));
    add(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, s.Bytes('1'));
    add(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, s.Bytes(0));
    add(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, s.Bytes(0), TWRC_NOTDSEVENT);
    add(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, s.Struct(ready), TWRC_DSEVENT);
    add(DG_CONTROL, DAT_NULL, MSG_XFERREADY, nullptr);
    add(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, s.Bytes(0xFF));
    add(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, s.Bytes('1'), TWRC_XFERDONE);
    add(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, s.Struct(none));
    add(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, s.Bytes(0));
    add(DG_CONTROL, DAT_STATUS, MSG_GET, s.Bytes(0), TWRC_FAILURE);  // the marker block

    for (const unsigned char fill : {0x00, 0xFF, 0x31}) {
        for (TW_UINT16 dat : kEveryDat) {
            if (dat == DAT_CAPABILITY) continue;  // below, with real containers
            add(DG_CONTROL, dat, MSG_GET, s.Bytes(fill));
            add(DG_IMAGE, dat, MSG_SET, s.Bytes(fill), TWRC_FAILURE);
        }
    }

    // Containers.
    TW_ONEVALUE one{};
    one.ItemType = TWTY_UINT16;
    one.Item = 2;
    add(DG_CONTROL, DAT_CAPABILITY, MSG_GET, s.Capability(CAP_NV_UIMODE, TWON_ONEVALUE, Head(one, sizeof one)));
    one.ItemType = TWTY_STR255;
    std::vector<unsigned char> text = Head(one, offsetof(TW_ONEVALUE, Item));
    text.resize(text.size() + sizeof(TW_STR255), 'x');  // no NUL
    add(DG_CONTROL, DAT_CAPABILITY, MSG_GET, s.Capability(0x1000, TWON_ONEVALUE, text));
    one.ItemType = TWTY_FRAME;
    std::vector<unsigned char> frame = Head(one, offsetof(TW_ONEVALUE, Item));
    frame.resize(frame.size() + sizeof(TW_FRAME), 0x80);
    add(DG_CONTROL, DAT_CAPABILITY, MSG_GETCURRENT, s.Capability(ICAP_FRAMES, TWON_ONEVALUE, frame));

    TW_ENUMERATION e{};
    e.ItemType = TWTY_UINT16;
    e.NumItems = 10;
    std::vector<unsigned char> pixel = Head(e, offsetof(TW_ENUMERATION, ItemList));
    for (TW_UINT16 i = 0; i < 10; ++i) Put(pixel, i);
    add(DG_CONTROL, DAT_CAPABILITY, MSG_GET, s.Capability(ICAP_PIXELTYPE, TWON_ENUMERATION, pixel));
    for (TW_UINT16 type = TWTY_INT8; type <= TWTY_STR255 + 1; ++type) {
        e.ItemType = type;
        e.NumItems = 3;
        std::vector<unsigned char> items = Head(e, offsetof(TW_ENUMERATION, ItemList));
        items.resize(items.size() + 3 * sizeof(TW_STR255), 0xC1);
        add(DG_CONTROL, DAT_CAPABILITY, MSG_GETDEFAULT, s.Capability(ICAP_XRESOLUTION, TWON_ENUMERATION, items));
    }

    TW_ARRAY a{};
    a.ItemType = TWTY_UINT16;
    a.NumItems = 600;  // far past the log text buffer: the overflow note
    std::vector<unsigned char> caps = Head(a, offsetof(TW_ARRAY, ItemList));
    for (int i = 0; i < 600; ++i) Put(caps, static_cast<TW_UINT16>(0x1000 + i % 64));
    add(DG_CONTROL, DAT_CAPABILITY, MSG_GET, s.Capability(CAP_SUPPORTEDCAPS, TWON_ARRAY, caps));
    a.NumItems = 0xFFFFFFFF;  // a count that lies
    std::vector<unsigned char> lying = Head(a, offsetof(TW_ARRAY, ItemList));
    // More items than a full log text buffer shows, so that no layout reads
    // past the block (a native handle's size is unknown to the trace).
    for (int i = 0; i < 400; ++i) Put(lying, static_cast<TW_UINT16>(0x0100 + i));
    add(DG_CONTROL, DAT_CAPABILITY, MSG_GET, s.Capability(CAP_NV_VERSION, TWON_ARRAY, lying));

    TW_RANGE r{};
    r.ItemType = TWTY_FIX32;
    r.MinValue = 0x0000FC18;
    r.MaxValue = 0x80002580;
    add(DG_CONTROL, DAT_CAPABILITY, MSG_GET, s.Capability(ICAP_YRESOLUTION, TWON_RANGE, Head(r, sizeof r)));
    add(DG_CONTROL, DAT_CAPABILITY, MSG_GET, s.Capability(ICAP_YRESOLUTION, TWON_RANGE, Head(r, sizeof r)),
        TWRC_FAILURE);
    add(DG_CONTROL, DAT_CAPABILITY, MSG_RESET, s.Capability(0x8123, TWON_DONTCARE16, {}));
    add(DG_CONTROL, DAT_CAPABILITY, MSG_GET, nullptr);

    add(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, s.Bytes(0));
    add(DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, s.Bytes(0));
}

class NoHeap : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(allocations::Install()) << "this build cannot count allocations";
        MakeFolders(kRoot + "/Core");
        ResetFolder(kLogFolder, true);
        unlink(kCompanion.c_str());
        ASSERT_EQ(symlink(TRACELET_NOHEAP_COMPANION, kCompanion.c_str()), 0);
        ds_.reset(new DsLibrary(TRACELET_NOHEAP_DS));
        entry_ = ds_->entry();
        ASSERT_NE(entry_, nullptr) << dlerror();
        void* companion = dlopen(kCompanion.c_str(), RTLD_NOW | RTLD_NOLOAD);
        ASSERT_NE(companion, nullptr);
        auto get = reinterpret_cast<ScriptControl* (*)()>(dlsym(companion, "ScriptedCompanionControl"));
        ASSERT_NE(get, nullptr);
        control_ = get();
        dlclose(companion);
        ASSERT_NE(*static_cast<FILE**>(ds_->Symbol("g_pLogFile")), nullptr) << "the log must be on";
    }

    std::unique_ptr<DsLibrary> ds_;
    DSENTRYPROC entry_ = nullptr;
    ScriptControl* control_ = nullptr;
};

TEST_F(NoHeap, TheCounterSeesEveryKindOfAllocation) {
    allocations::Begin();
    void* volatile a = malloc(16);
    void* volatile b = calloc(2, 8);
    void* volatile c = realloc(nullptr, 8);
    int* volatile d = new int(1);
    const size_t counted = allocations::End();
    free(a);
    free(b);
    free(c);
    delete d;
    EXPECT_EQ(counted, 4u);
}

TEST_F(NoHeap, AWholeSessionWithTheLogOnAllocatesNothing) {
    TW_IDENTITY app{};
    app.Id = 1;
    strcpy(app.Manufacturer, "Tracelet tests");
    strcpy(app.ProductName, "No-heap session");
    Session session;
    BuildSession(session, &app);
    control_->fill = SignalInsideEnable;
    control_->context = &app;

    size_t total = 0;
    std::vector<std::string> culprits;
    for (const Call& call : session.calls) {
        control_->rc = call.rc;
        allocations::Begin();
        const TW_UINT16 rc = entry_(call.origin, call.dg, call.dat, call.msg, call.data);
        const size_t n = allocations::End();
        EXPECT_EQ(rc, call.rc);
        if (n) {
            total += n;
            char what[96];
            snprintf(what, sizeof what, "DAT 0x%04x MSG 0x%04x: %zu", call.dat, call.msg, n);
            culprits.push_back(what);
        }
    }
    // A notice from the source's own thread, with no call in flight.
    ASSERT_NE(g_sourcesManagerEntry, nullptr);
    allocations::Begin();
    g_sourcesManagerEntry(&g_sourceIdentity, &app, DG_CONTROL, DAT_NULL, MSG_DEVICEEVENT, nullptr);
    if (const size_t n = allocations::End()) {
        total += n;
        culprits.push_back("a notice from the source's thread: " + std::to_string(n));
    }
    control_->fill = nullptr;

    std::string list;
    for (const std::string& c : culprits) list += "\n  " + c;
    EXPECT_EQ(total, 0u) << "allocations inside DS_Entry:" << list;
    EXPECT_EQ(control_->calls, static_cast<int>(session.calls.size()));

    // The session went the whole way to the log.
    const std::string log = ReadLog();
    for (const char* text : {"pOrigin:TW_IDENTITY = {", "TW_ONEVALUE = {", "TW_ENUMERATION = {", "TW_ARRAY = {",
                             "TW_RANGE = {", "TW_CIECOLOR = {", "TW_JPEGCOMPRESSION = {", "TWNV_HARDWAREINFO = {",
                             "TWNV_USMINFO = {", "TW_EVENT = {", "Size of CAP_xxx too long",
                             "*** Inspect Error Status Start ***", "TWAIN Status = [7]", "TW_ENTRYPOINT = {",
                             "[DS] DG_CONTROL/DAT_NULL/MSG_XFERREADY", "[DS] DG_CONTROL/DAT_NULL/MSG_DEVICEEVENT",
                             "During      = [DG_CONTROL/DAT_USERINTERFACE/MSG_ENABLEDS]"}) {
        EXPECT_NE(log.find(text), std::string::npos) << "the log lacks " << text;
    }
}

}  // namespace
