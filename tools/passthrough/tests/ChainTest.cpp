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

#include "DataSourceHarness.h"
#include "ProbeControl.h"

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

// Each load reads the configuration again, loads its own target and
// releases it when unloaded; a working chain says nothing.
TEST_F(Chain, EachLoadFindsItsTargetAfresh) {
    const std::string relative = std::string("target = ../targets/") + PROBE_OTHER_FILE + "\n";
    const std::string other = std::string("# switched\ntarget = ") + PROBE_OTHER_DS + "\n";
    const struct {
        const char* config;
        const char* variable;
        const char* product;
    } rows[] = {
        {nullptr, nullptr, "Probe Source"},  // the file SetUp wrote
        {other.c_str(), nullptr, "Probe Other"},
        {relative.c_str(), nullptr, "Probe Other"},  // from the file's folder, not the working folder
        {nullptr, PROBE_OTHER_DS, "Probe Other"},    // the variable overrides the file
        {"", PROBE_OTHER_DS, "Probe Other"},         // and needs none
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.product);
        if (row.config) WriteConfig(*row.config ? row.config : nullptr);
        if (row.variable) setenv("TRACELET_TARGET_DS", row.variable, 1);
        testing::internal::CaptureStderr();
        {
            LoadedDataSource source(Companion::Scripted, false);
            TW_IDENTITY id{};
            ASSERT_EQ(TWRC_SUCCESS, source.Call(DG_CONTROL, DAT_IDENTITY, MSG_GET, &id));
            EXPECT_STREQ(row.product, id.ProductName);
            const bool other = row.product == std::string("Probe Other");
            ProbeControl* probe = Probe(other ? PROBE_OTHER_DS : PROBE_SOURCE_DS);
            ASSERT_TRUE(probe);
            EXPECT_EQ(1, probe->calls) << "a new target for each load";
            EXPECT_EQ(nullptr, Loaded(other ? PROBE_SOURCE_DS : PROBE_OTHER_DS)) << "only one target";
        }
        EXPECT_EQ("", testing::internal::GetCapturedStderr());
        EXPECT_EQ(nullptr, Loaded(PROBE_SOURCE_DS));
        EXPECT_EQ(nullptr, Loaded(PROBE_OTHER_DS)) << "unloading releases the target";
    }
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

TEST_F(Chain, WithoutAUsableTargetEveryCallFailsAndOneLineSaysWhy) {
    const std::string missing = kTargets + "/Missing.ds", missingConfig = "target = " + missing + "\n";
    const char* broken = "# target below\ntraget = /a.ds\n";
    const struct {
        const char* config;  // "": none
        const char* variable;
        std::string path, reason, origin;
    } rows[] = {
        {missingConfig.c_str(), nullptr, missing, "does not exist", kConfig},
        {nullptr, NO_ENTRY_DS, NO_ENTRY_DS, "exports no DS_Entry", "TRACELET_TARGET_DS"},
        {nullptr, UNLOADABLE_DS, UNLOADABLE_DS, "cannot be loaded: ", ""},
        {nullptr, kTargets.c_str(), kTargets, "is a folder", ""},
        {"", nullptr, kConfig, "No such file or directory", "TRACELET_TARGET_DS"},
        {broken, nullptr, kConfig, "line 2: unknown setting \"traget\"", ""},
        {nullptr, TRACELET_TEST_DS, TRACELET_TEST_DS, "is the data source that loads this companion", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.reason);
        if (row.config) WriteConfig(*row.config ? row.config : nullptr);
        if (row.variable) setenv("TRACELET_TARGET_DS", row.variable, 1);
        testing::internal::CaptureStderr();
        {
            LoadedDataSource source(Companion::Scripted, false);
            for (const auto& call : kSession) {
                std::vector<unsigned char> data(call.size, 0xa5);
                EXPECT_EQ(TWRC_FAILURE, source.Call(call.DG, call.DAT, call.MSG, data.data())) << call.DAT;
                EXPECT_EQ(std::vector<unsigned char>(call.size, 0xa5), data) << "DAT " << call.DAT << " changed";
            }
            EXPECT_EQ(TWRC_FAILURE, source.Call(DG_CONTROL, DAT_STATUS, MSG_GET, nullptr));
        }
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(1, std::count(err.begin(), err.end(), '\n')) << "once per load: " << err;
        EXPECT_EQ('\n', err.empty() ? 0 : err.back()) << err;
        EXPECT_NE(std::string::npos, err.find("\"" + row.path + "\"")) << err;
        EXPECT_EQ(err.find(row.path), err.rfind(row.path)) << "the path said once: " << err;
        EXPECT_NE(std::string::npos, err.find(row.reason)) << err;
        EXPECT_NE(std::string::npos, err.find(row.origin)) << "says where the path came from: " << err;
        EXPECT_EQ(nullptr, Loaded(NO_ENTRY_DS));
        EXPECT_EQ(nullptr, Loaded(PROBE_SOURCE_DS));
        unsetenv("TRACELET_TARGET_DS");
    }
}

}  // namespace
