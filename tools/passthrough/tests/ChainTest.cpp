// The chain trace data source -> pass-through companion -> target: every
// triplet reaches the target as the host sent it and its answer comes back
// as given; without a usable target every call fails, the data untouched,
// and one line of the standard error stream says which path and why.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <vector>

#include "DataSourceHarness.h"  // its "scripted" companion is the pass-through here
#include "ProbeControl.h"
#include "TwainValues.h"

namespace {

const std::string kConfig = std::string(TRACELET_TEST_ROOT) + "/Core/TwainWrapper.conf";
const std::string kTargets = std::string(TRACELET_TEST_ROOT) + "/targets";

void WriteConfig(const char* text) {
    unlink(kConfig.c_str());
    if (text) std::ofstream(kConfig, std::ios::binary) << text;
}

// The handle of `path` when it is loaded already, else null.
void* Loaded(const std::string& path) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle) dlclose(handle);  // whoever loaded it keeps it loaded
    return handle;
}

ProbeControl* Probe(const char* path = PROBE_SOURCE_DS) {
    void* handle = Loaded(path);
    auto block = handle ? reinterpret_cast<ProbeControl* (*)()>(dlsym(handle, "ProbeControlBlock")) : nullptr;
    return block ? block() : nullptr;
}

class Chain : public ::testing::Test {
protected:
    void SetUp() override {
        unsetenv("TRACELET_TARGET_DS");
        WriteConfig((std::string("target = ") + PROBE_SOURCE_DS + "\n").c_str());
    }
    void TearDown() override {
        unsetenv("TRACELET_TARGET_DS");
        WriteConfig(nullptr);
    }
};

TEST_F(Chain, EveryTripletAndItsAnswerPassUnchanged) {
    LoadedDataSource source(Companion::Scripted, false);
    ProbeControl* probe = Probe();
    ASSERT_TRUE(probe);
    const struct {
        TW_UINT32 DG;
        TW_UINT16 DAT, MSG;
        bool withData;
        TW_UINT16 rc;
    } rows[] = {
        {DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, true, TWRC_XFERDONE},
        {DG_CONTROL | DF_APP2, DAT_EVENT, MSG_PROCESSEVENT, true, TWRC_NOTDSEVENT},
        {DG_AUDIO, 0x0202, 0x0701, true, TWRC_CHECKSTATUS},
        {DG_CONTROL, DAT_NV_HARDWAREINFO, MSG_NV_XFERREQUEST, true, TWRC_CANCEL},
        {0x0000ff00, 0xfffe, 0xfffd, true, 0x1234},  // unknown to the trace
        {DG_CONTROL, DAT_NULL, MSG_XFERREADY, false, TWRC_FAILURE},
    };
    int index = probe->calls;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.DAT);
        alignas(8) unsigned char data[4096] = {0x42};  // room for any structure the trace reads
        void* sent = row.withData ? data : nullptr;
        probe->rc = row.rc;
        EXPECT_EQ(row.rc, source.Call(row.DG, row.DAT, row.MSG, sent));
        ASSERT_EQ(index + 1, probe->calls) << "one host call, one target call";
        const ProbeCall& call = probe->call[index++];
        EXPECT_EQ(&source.app, call.origin);
        EXPECT_EQ(row.DG, call.DG);
        EXPECT_EQ(row.DAT, call.DAT);
        EXPECT_EQ(row.MSG, call.MSG);
        EXPECT_EQ(sent, call.data);
        EXPECT_EQ(0x42, data[0]) << "the data is not rewritten on the way";
    }
    TW_UINT32 answer[1024] = {};
    probe->rc = TWRC_SUCCESS;
    ASSERT_EQ(TWRC_SUCCESS, source.Call(DG_CONTROL, PROBE_DAT_WRITES_ANSWER, MSG_GET, answer));
    EXPECT_EQ(kProbeAnswer, answer[0]) << "what the target writes is what the host reads";
}

int g_managerCalls = 0;
TW_UINT16 g_managerMsg = 0;
pTW_IDENTITY g_managerDest = nullptr;
LoadedDataSource* g_source;
TW_STATUS g_innerStatus;
TW_UINT16 g_innerRc;

// The target calls back: into the host while it is being called, and into
// the manager through the entry points it got through the trace.
TEST_F(Chain, TheTargetsCallsBackReachTheHostAndTheManager) {
    LoadedDataSource source(Companion::Scripted, false);
    ProbeControl* probe = Probe();
    ASSERT_TRUE(probe);
    g_source = &source;
    probe->hook = [](void*) { g_innerRc = g_source->Call(DG_CONTROL, DAT_STATUS, MSG_GET, &g_innerStatus); };
    probe->rc = TWRC_CHECKSTATUS;
    const int before = probe->calls;
    EXPECT_EQ(TWRC_CHECKSTATUS, source.Call(DG_CONTROL, PROBE_DAT_CALLS_HOOK, MSG_GET, nullptr));
    probe->hook = nullptr;
    EXPECT_EQ(TWRC_CHECKSTATUS, g_innerRc);
    ASSERT_EQ(before + 2, probe->calls);
    EXPECT_EQ(1, probe->call[before + 1].depth) << "the inner call arrived while the outer one ran";
    EXPECT_EQ(static_cast<void*>(&g_innerStatus), probe->call[before + 1].data);

    TW_ENTRYPOINT entry{};
    entry.Size = sizeof entry;
    entry.DSM_Entry = [](pTW_IDENTITY, pTW_IDENTITY dest, TW_UINT32, TW_UINT16, TW_UINT16 msg, TW_MEMREF) {
        ++g_managerCalls;
        g_managerMsg = msg;
        g_managerDest = dest;
        return TW_UINT16(TWRC_SUCCESS);
    };
    ASSERT_EQ(TWRC_SUCCESS, source.Call(DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, &entry));
    EXPECT_NE(reinterpret_cast<void*>(entry.DSM_Entry), reinterpret_cast<void*>(probe->dsmEntry))
        << "the trace hands on its own entry, which traces each call";
    TW_USERINTERFACE ui{};
    probe->rc = TWRC_SUCCESS;
    ASSERT_EQ(TWRC_SUCCESS, source.Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui));
    EXPECT_EQ(1, g_managerCalls);
    EXPECT_EQ(MSG_XFERREADY, g_managerMsg);
    EXPECT_EQ(&source.app, g_managerDest) << "the target's callback names the application the host named";
}

// Calls of a whole session, each with a data block of its structure's size.
const struct {
    TW_UINT32 DG;
    TW_UINT16 DAT, MSG;
    size_t size;
} kSession[] = {
    {DG_CONTROL, DAT_IDENTITY, MSG_GET, sizeof(TW_IDENTITY)},
    {DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, sizeof(TW_IDENTITY)},
    {DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, sizeof(TW_ENTRYPOINT)},
    {DG_CONTROL, DAT_CAPABILITY, MSG_SET, sizeof(TW_CAPABILITY)},
    {DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, sizeof(TW_USERINTERFACE)},
    {DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, sizeof(TW_EVENT)},
    {DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, sizeof(TW_IMAGEMEMXFER)},
    {DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, sizeof(TW_HANDLE)},
    {DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, sizeof(TW_IDENTITY)},
};

// Each load reads the configuration again, loads its own target and releases
// it when unloaded, and says nothing. Without a usable target every call
// fails with the data untouched, and one line says which path and why.
TEST_F(Chain, EachLoadFindsItsTargetAfreshOrSaysOnceWhyItHasNone) {
    const std::string relative = std::string("target = ../targets/") + PROBE_OTHER_FILE + "\n",
                      other = std::string("# switched\ntarget = ") + PROBE_OTHER_DS + "\n",
                      missing = kTargets + "/Missing.ds", missingConfig = "target = " + missing + "\n";
    const struct {
        const char* config;  // null: as it is; "": none
        const char* variable;
        const char* loaded;  // the probe that answers; null: none
        std::string path, reason, origin;
    } rows[] = {
        {nullptr, nullptr, PROBE_SOURCE_DS, "", "", ""},  // the file SetUp wrote
        {other.c_str(), nullptr, PROBE_OTHER_DS, "", "", ""},
        {relative.c_str(), nullptr, PROBE_OTHER_DS, "", "", ""},  // from the file's folder
        {nullptr, PROBE_SOURCE_DS, PROBE_SOURCE_DS, "", "", ""},  // the variable overrides the file
        {"", PROBE_OTHER_DS, PROBE_OTHER_DS, "", "", ""},         // and needs none
        {missingConfig.c_str(), "", nullptr, missing, "does not exist", kConfig},
        {nullptr, NO_ENTRY_DS, nullptr, NO_ENTRY_DS, "exports no DS_Entry", "TRACELET_TARGET_DS"},
        {nullptr, UNLOADABLE_DS, nullptr, UNLOADABLE_DS, "cannot be loaded: ", ""},
        {nullptr, kTargets.c_str(), nullptr, kTargets, "is a folder", ""},
        {"", "", nullptr, kConfig, "No such file or directory", "TRACELET_TARGET_DS"},
        {"# target below\ntraget = /a.ds\n", "", nullptr, kConfig, "line 2: unknown setting \"traget\"", ""},
        {nullptr, TRACELET_TEST_DS, nullptr, TRACELET_TEST_DS, "is the data source that loads this companion", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.loaded ? row.loaded : row.reason.c_str());
        if (row.config) WriteConfig(*row.config ? row.config : nullptr);
        if (row.variable) setenv("TRACELET_TARGET_DS", row.variable, 1);  // "": unset
        testing::internal::CaptureStderr();
        {
            LoadedDataSource source(Companion::Scripted, false);
            if (row.loaded) {
                TW_IDENTITY id{};
                ASSERT_EQ(TWRC_SUCCESS, source.Call(DG_CONTROL, DAT_IDENTITY, MSG_GET, &id));
                EXPECT_EQ(row.loaded == std::string(PROBE_OTHER_DS) ? "Probe Other" : "Probe Source",
                          tracelet::values::FieldText(id.ProductName));
                ProbeControl* probe = Probe(row.loaded);
                ASSERT_TRUE(probe);
                EXPECT_EQ(1, probe->calls) << "a new target for each load";
            }
            for (const auto& call : kSession) {
                if (row.loaded) break;
                std::vector<unsigned char> data(call.size, 0xa5);
                EXPECT_EQ(TWRC_FAILURE, source.Call(call.DG, call.DAT, call.MSG, data.data())) << call.DAT;
                EXPECT_EQ(std::vector<unsigned char>(call.size, 0xa5), data) << "DAT " << call.DAT << " changed";
            }
            const int loaded = (Loaded(PROBE_SOURCE_DS) != nullptr) + (Loaded(PROBE_OTHER_DS) != nullptr);
            EXPECT_EQ(row.loaded ? 1 : 0, loaded) << "one target at most";
        }
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(nullptr, Loaded(PROBE_SOURCE_DS));
        EXPECT_EQ(nullptr, Loaded(PROBE_OTHER_DS)) << "unloading releases the target";
        EXPECT_EQ(nullptr, Loaded(NO_ENTRY_DS));
        EXPECT_EQ(row.loaded ? 0 : 1, std::count(err.begin(), err.end(), '\n')) << "once per load: " << err;
        if (row.loaded) continue;
        EXPECT_EQ('\n', err.empty() ? 0 : err.back()) << err;
        EXPECT_NE(std::string::npos, err.find("\"" + row.path + "\"")) << err;
        EXPECT_EQ(err.find(row.path), err.rfind(row.path)) << "the path said once: " << err;
        EXPECT_NE(std::string::npos, err.find(row.reason)) << err;
        EXPECT_NE(std::string::npos, err.find(row.origin)) << "says where the path came from: " << err;
    }
}

}  // namespace
