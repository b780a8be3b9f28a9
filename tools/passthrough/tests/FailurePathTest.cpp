// Without a usable target the chain still loads, answers every call with
// TWRC_FAILURE without touching the data, and says once, on one line of
// the standard error stream, which path is at fault and why.
#include <gtest/gtest.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include "ChainHarness.h"

using namespace chain;

namespace {

// The calls of a whole session, each with a data block of its structure's size.
struct SessionCall {
    TW_UINT32 DG;
    TW_UINT16 DAT;
    TW_UINT16 MSG;
    size_t size;
};

const SessionCall kSession[] = {
    {DG_CONTROL, DAT_IDENTITY, MSG_GET, sizeof(TW_IDENTITY)},
    {DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, sizeof(TW_IDENTITY)},
    {DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, sizeof(TW_ENTRYPOINT)},
    {DG_CONTROL, DAT_CAPABILITY, MSG_GET, sizeof(TW_CAPABILITY)},
    {DG_CONTROL, DAT_CAPABILITY, MSG_SET, sizeof(TW_CAPABILITY)},
    {DG_CONTROL, DAT_STATUS, MSG_GET, sizeof(TW_STATUS)},
    {DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, sizeof(TW_USERINTERFACE)},
    {DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, sizeof(TW_EVENT)},
    {DG_IMAGE, DAT_IMAGEINFO, MSG_GET, sizeof(TW_IMAGEINFO)},
    {DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, sizeof(TW_SETUPMEMXFER)},
    {DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, sizeof(TW_IMAGEMEMXFER)},
    {DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, sizeof(TW_HANDLE)},
    {DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, sizeof(TW_PENDINGXFERS)},
    {DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, sizeof(TW_USERINTERFACE)},
    {DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, sizeof(TW_IDENTITY)},
};

size_t CountLines(const std::string& text) { return static_cast<size_t>(std::count(text.begin(), text.end(), '\n')); }

class FailurePath : public ::testing::Test {
protected:
    void SetUp() override {
        unsetenv("TRACELET_TARGET_DS");
        RemoveConfig();
    }
    void TearDown() override { RemoveConfig(); }

    // Loads the chain, makes every call of a session, unloads it; returns
    // what went to the standard error stream.
    std::string RunFailingSession() {
        StderrCapture err;
        {
            TracedSource source;
            for (const SessionCall& call : kSession) {
                std::vector<unsigned char> data(call.size, 0xa5);
                const std::vector<unsigned char> sent = data;
                EXPECT_EQ(TWRC_FAILURE, source.Call(call.DG, call.DAT, call.MSG, data.data()))
                    << "DAT " << call.DAT << " MSG " << call.MSG;
                EXPECT_EQ(sent, data) << "the data of DAT " << call.DAT << " MSG " << call.MSG << " was changed";
            }
            EXPECT_EQ(TWRC_FAILURE, source.Call(DG_CONTROL, DAT_STATUS, MSG_GET, nullptr));
        }
        return err.Finish();
    }

    static void ExpectOneLineNaming(const std::string& err, const std::string& path, const std::string& reason) {
        EXPECT_EQ(1u, CountLines(err)) << err;
        EXPECT_EQ('\n', err.empty() ? 0 : err.back()) << err;
        EXPECT_NE(std::string::npos, err.find("\"" + path + "\"")) << err;
        EXPECT_NE(std::string::npos, err.find(reason)) << err;
    }
};

}  // namespace

TEST_F(FailurePath, AMissingTargetFailsEveryCallAndSaysItDoesNotExist) {
    const std::string missing = std::string(PASSTHROUGH_TEST_ROOT) + "/targets/Missing.ds";
    WriteConfig("target = " + missing + "\n");
    const std::string err = RunFailingSession();
    ExpectOneLineNaming(err, missing, "does not exist");
    EXPECT_NE(std::string::npos, err.find(ConfigPath())) << "says where the path came from: " << err;
}

TEST_F(FailurePath, ATargetWithoutDSEntryFailsEveryCallAndIsReleased) {
    TargetVariable variable(NO_ENTRY_DS);
    const std::string err = RunFailingSession();
    ExpectOneLineNaming(err, NO_ENTRY_DS, "exports no DS_Entry");
    EXPECT_NE(std::string::npos, err.find("TRACELET_TARGET_DS")) << "says where the path came from: " << err;
    EXPECT_FALSE(IsLoaded(NO_ENTRY_DS));
}

TEST_F(FailurePath, AFileTheLoaderCannotLoadFailsEveryCallWithTheLoadersReason) {
    TargetVariable variable(UNLOADABLE_DS);
    const std::string err = RunFailingSession();
    ExpectOneLineNaming(err, UNLOADABLE_DS, "cannot be loaded: ");
    // The loader's own words follow, without the path said twice.
    EXPECT_EQ(err.find(UNLOADABLE_DS), err.rfind(UNLOADABLE_DS)) << err;
    EXPECT_EQ(std::string::npos, err.find("cannot be loaded: ;")) << err;
}

TEST_F(FailurePath, AFolderAsTargetFailsEveryCall) {
    const std::string folder = std::string(PASSTHROUGH_TEST_ROOT) + "/targets";
    TargetVariable variable(folder);
    ExpectOneLineNaming(RunFailingSession(), folder, "is a folder");
}

TEST_F(FailurePath, NoConfigurationFileAndNoVariableFailsEveryCallNamingTheFile) {
    const std::string err = RunFailingSession();
    ExpectOneLineNaming(err, ConfigPath(), "No such file or directory");
    EXPECT_NE(std::string::npos, err.find("TRACELET_TARGET_DS")) << err;
}

TEST_F(FailurePath, ABrokenConfigurationFileFailsEveryCallNamingFileAndLine) {
    WriteConfig(std::string("# target below\ntraget = ") + PROBE_SOURCE_DS + "\n");
    const std::string err = RunFailingSession();
    ExpectOneLineNaming(err, ConfigPath(), "line 2: unknown setting \"traget\"");
    EXPECT_FALSE(IsLoaded(PROBE_SOURCE_DS));
}

TEST_F(FailurePath, TheTraceSourceItselfAsTargetIsRefusedInsteadOfCallingItselfForever) {
    TargetVariable variable(PASSTHROUGH_TEST_DS);
    ExpectOneLineNaming(RunFailingSession(), PASSTHROUGH_TEST_DS, "is the data source that loads this companion");
}

TEST_F(FailurePath, EveryLoadSaysItOnceAgain) {
    TargetVariable variable(NO_ENTRY_DS);
    StderrCapture err;
    for (int load = 0; load < 3; ++load) {
        TracedSource source;
        EXPECT_EQ(TWRC_FAILURE, source.Call(DG_CONTROL, DAT_IDENTITY, MSG_GET, nullptr));
        EXPECT_EQ(TWRC_FAILURE, source.Call(DG_CONTROL, DAT_STATUS, MSG_GET, nullptr));
    }
    EXPECT_EQ(3u, CountLines(err.Finish()));
}
