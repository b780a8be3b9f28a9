// The chain trace data source -> pass-through companion -> probe data
// source: every triplet reaches the target as the host sent it, and what
// the target answers comes back as it answered.
#include <gtest/gtest.h>
#include <string.h>

#include "ChainHarness.h"

using namespace chain;

namespace {

class Forwarding : public ::testing::Test {
protected:
    void SetUp() override {
        unsetenv("TRACELET_TARGET_DS");
        WriteConfig(std::string("target = ") + PROBE_SOURCE_DS + "\n");
    }
    void TearDown() override { RemoveConfig(); }

    ProbeControl* Probe() {
        ProbeControl* probe = LoadedProbe(PROBE_SOURCE_DS);
        if (!probe) ADD_FAILURE() << "the probe is not loaded";
        return probe;
    }
};

}  // namespace

TEST_F(Forwarding, EveryTripletReachesTheTargetAsSent) {
    TracedSource source;
    ProbeControl* probe = Probe();
    ASSERT_TRUE(probe);
    struct Triplet {
        TW_UINT32 DG;
        TW_UINT16 DAT;
        TW_UINT16 MSG;
        bool withData;
    } triplets[] = {
        {DG_CONTROL, DAT_CAPABILITY, MSG_GET, true},
        {DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, true},
        {DG_CONTROL | DF_APP2, DAT_EVENT, MSG_PROCESSEVENT, true},
        {DG_AUDIO, 0x0202, 0x0701, true},
        {DG_CONTROL, DAT_NV_HARDWAREINFO, MSG_NV_XFERREQUEST, true},
        {0x0000ff00, 0xfffe, 0xfffd, true},
        {DG_CONTROL, DAT_NULL, MSG_XFERREADY, false},
    };
    int index = probe->calls;
    for (const Triplet& t : triplets) {
        // The trace data source dumps what the operation implies: room for
        // the largest structure.
        alignas(8) unsigned char data[4096] = {};
        data[0] = 0x42;
        void* sent = t.withData ? data : nullptr;
        source.Call(t.DG, t.DAT, t.MSG, sent);
        ASSERT_EQ(index + 1, probe->calls) << "one host call, one target call";
        const ProbeCall& call = probe->call[index++];
        EXPECT_EQ(&source.app, call.origin);
        EXPECT_EQ(t.DG, call.DG);
        EXPECT_EQ(t.DAT, call.DAT);
        EXPECT_EQ(t.MSG, call.MSG);
        EXPECT_EQ(sent, call.data);
        EXPECT_EQ(0x42, data[0]) << "the data is not rewritten on the way";
    }
}

TEST_F(Forwarding, TheTargetsReturnCodeComesBackUnchanged) {
    TracedSource source;
    ProbeControl* probe = Probe();
    ASSERT_TRUE(probe);
    for (TW_UINT16 rc : {TWRC_SUCCESS, TWRC_FAILURE, TWRC_CHECKSTATUS, TWRC_CANCEL, TWRC_DSEVENT,
                         TWRC_NOTDSEVENT, TWRC_XFERDONE, TWRC_ENDOFLIST, TWRC_DATANOTAVAILABLE, 0x1234, 0xffff}) {
        probe->rc = rc;
        TW_STATUS status = {};
        EXPECT_EQ(rc, source.Call(DG_CONTROL, DAT_STATUS, MSG_GET, &status)) << "rc " << rc;
    }
}

TEST_F(Forwarding, WhatTheTargetWritesIntoTheDataIsWhatTheHostReads) {
    TracedSource source;
    ProbeControl* probe = Probe();
    ASSERT_TRUE(probe);
    probe->rc = TWRC_SUCCESS;
    TW_UINT32 answer[1024] = {};
    ASSERT_EQ(TWRC_SUCCESS, source.Call(DG_CONTROL, PROBE_DAT_WRITES_ANSWER, MSG_GET, answer));
    EXPECT_EQ(kProbeAnswer, answer[0]);
}

namespace {

struct Nested {
    TracedSource* source;
    TW_UINT16 rc = 0xeeee;
    TW_STATUS status{};
};

void CallBackIntoTheSource(void* context) {
    Nested* nested = static_cast<Nested*>(context);
    // The host answers the target's call by calling the source again,
    // while the outer call is still in progress.
    nested->rc = nested->source->Call(DG_CONTROL, DAT_STATUS, MSG_GET, &nested->status);
}

}  // namespace

TEST_F(Forwarding, ACallMadeFromInsideACallReachesTheTargetToo) {
    TracedSource source;
    ProbeControl* probe = Probe();
    ASSERT_TRUE(probe);
    Nested nested;
    nested.source = &source;
    probe->hook = CallBackIntoTheSource;
    probe->context = &nested;
    probe->rc = TWRC_CHECKSTATUS;

    const int before = probe->calls;
    const TW_UINT16 outer = source.Call(DG_CONTROL, PROBE_DAT_CALLS_HOOK, MSG_GET, nullptr);
    probe->hook = nullptr;

    EXPECT_EQ(TWRC_CHECKSTATUS, outer);
    EXPECT_EQ(TWRC_CHECKSTATUS, nested.rc);
    ASSERT_EQ(before + 2, probe->calls);
    EXPECT_EQ(PROBE_DAT_CALLS_HOOK, probe->call[before].DAT);
    EXPECT_EQ(0, probe->call[before].depth);
    EXPECT_EQ(DAT_STATUS, probe->call[before + 1].DAT);
    EXPECT_EQ(1, probe->call[before + 1].depth) << "the inner call arrived while the outer one ran";
    EXPECT_EQ(static_cast<void*>(&nested.status), probe->call[before + 1].data);
}

namespace {

int g_managerCalls = 0;
TW_UINT16 g_managerMsg = 0;
pTW_IDENTITY g_managerDest = nullptr;

TW_UINT16 Manager(pTW_IDENTITY, pTW_IDENTITY pDest, TW_UINT32, TW_UINT16, TW_UINT16 MSG, TW_MEMREF) {
    ++g_managerCalls;
    g_managerMsg = MSG;
    g_managerDest = pDest;
    return TWRC_SUCCESS;
}

}  // namespace

TEST_F(Forwarding, TheTargetGetsTheManagersEntryPointsThroughTheTraceAndReachesTheManager) {
    TracedSource source;
    ProbeControl* probe = Probe();
    ASSERT_TRUE(probe);
    TW_ENTRYPOINT entry;
    memset(&entry, 0, sizeof entry);
    entry.Size = sizeof entry;
    entry.DSM_Entry = Manager;
    ASSERT_EQ(TWRC_SUCCESS, source.Call(DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, &entry));
    // The trace hands on its own copy, whose DSM_Entry traces each call and
    // passes it to the manager.
    EXPECT_NE(static_cast<void*>(&entry), probe->call[probe->calls - 1].data);
    EXPECT_NE(reinterpret_cast<void*>(Manager), reinterpret_cast<void*>(probe->dsmEntry));

    g_managerCalls = 0;
    TW_USERINTERFACE ui = {};
    probe->rc = TWRC_SUCCESS;
    ASSERT_EQ(TWRC_SUCCESS, source.Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui));
    EXPECT_EQ(1, g_managerCalls);
    EXPECT_EQ(MSG_XFERREADY, g_managerMsg);
    EXPECT_EQ(&source.app, g_managerDest) << "the target's callback names the application the host named";
}

TEST_F(Forwarding, EachLoadOpensTheTargetAfreshAndUnloadingReleasesIt) {
    ASSERT_FALSE(IsLoaded(PROBE_SOURCE_DS));
    {
        TracedSource source;
        ProbeControl* probe = Probe();
        ASSERT_TRUE(probe);
        probe->rc = TWRC_CANCEL;
        EXPECT_EQ(TWRC_CANCEL, source.Call(DG_CONTROL, DAT_STATUS, MSG_GET, nullptr));
    }
    EXPECT_FALSE(IsLoaded(PROBE_SOURCE_DS));
    TracedSource again;
    ProbeControl* probe = Probe();
    ASSERT_TRUE(probe);
    EXPECT_EQ(0, probe->calls);
    EXPECT_EQ(TWRC_SUCCESS, again.Call(DG_CONTROL, DAT_STATUS, MSG_GET, nullptr));
}

// --- Choosing the target -----------------------------------------------------

TEST_F(Forwarding, EachLoadReadsTheConfigurationFileAgain) {
    WriteConfig(std::string("target = ") + PROBE_SOURCE_DS + "\n");
    {
        TracedSource source;
        EXPECT_EQ(PROBE_NAME_SOURCE, ProductName(source));
    }
    WriteConfig(std::string("# switched\ntarget = ") + PROBE_OTHER_DS + "\n");
    TracedSource source;
    EXPECT_EQ(PROBE_NAME_OTHER, ProductName(source));
}

TEST_F(Forwarding, ARelativeTargetIsFoundFromTheConfigurationFilesFolder) {
    // The probes sit in <root>/targets, the configuration file in <root>/Core;
    // the tests run in another folder.
    WriteConfig("target = ../targets/" + std::string(PROBE_OTHER_FILE) + "\n");
    TracedSource source;
    EXPECT_EQ(PROBE_NAME_OTHER, ProductName(source));
}

TEST_F(Forwarding, TheVariableOverridesTheConfigurationFileForThisProcess) {
    TargetVariable variable(PROBE_OTHER_DS);
    TracedSource source;
    EXPECT_EQ(PROBE_NAME_OTHER, ProductName(source));
    EXPECT_FALSE(IsLoaded(PROBE_SOURCE_DS)) << "the file's target is not loaded as well";
}

TEST_F(Forwarding, TheVariableAloneIsEnoughAndAWorkingChainIsSilent) {
    RemoveConfig();
    TargetVariable variable(PROBE_OTHER_DS);
    StderrCapture err;
    {
        TracedSource source;
        EXPECT_EQ(PROBE_NAME_OTHER, ProductName(source));
    }
    EXPECT_EQ("", err.Finish());
}
