// A whole scan session through the chain trace data source -> pass-through
// companion -> standalone virtual scanner gives the same return codes,
// condition codes, structures, notifications and pages as the same session
// with the virtual scanner loaded directly.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <string.h>

#include "ChainHarness.h"
#include "SessionRecorder.h"

using namespace chain;

namespace {

SessionRecord Direct(Mechanism mechanism) {
    DsLibrary source(VIRTUAL_SCANNER_DS);  // the standalone scanner, loaded directly
    if (!source.entry()) {
        ADD_FAILURE() << "cannot load " << VIRTUAL_SCANNER_DS << ": " << dlerror();
        return {};
    }
    return RecordSession(source.entry(), mechanism);
}

SessionRecord Traced(Mechanism mechanism) {
    TracedSource source;
    return RecordSession(source.entry(), mechanism);
}

class ChainSession : public ::testing::TestWithParam<Mechanism> {
protected:
    void SetUp() override {
        unsetenv("TRACELET_TARGET_DS");
        WriteConfig(std::string("target = ") + VIRTUAL_SCANNER_DS + "\n");
        ResetLogFolder(true);
    }
    void TearDown() override {
        RemoveConfig();
        ResetLogFolder(false);
    }
};

bool SomeStepHasAConditionCode(const SessionRecord& record) {
    for (const std::string& step : record.steps)
        if (step.find(" cc ") != std::string::npos && step.find(" cc 0") == std::string::npos) return true;
    return false;
}

}  // namespace

TEST_P(ChainSession, GivesTheSameAnswersAndPagesAsTheScannerDrivenDirectly) {
    const SessionRecord direct = Direct(GetParam());
    const SessionRecord traced = Traced(GetParam());

    // The session reached every part worth comparing.
    ASSERT_EQ(2u, direct.pages.size()) << ToText(direct);
    for (const auto& page : direct.pages) ASSERT_GT(page.size(), 1000u) << ToText(direct);
    ASSERT_TRUE(direct.pages[0] != direct.pages[1]) << "two different pages";
    ASSERT_TRUE(SomeStepHasAConditionCode(direct)) << ToText(direct);
    ASSERT_FALSE(direct.notifications.empty()) << ToText(direct);

    EXPECT_EQ(ToText(direct), ToText(traced));
    EXPECT_TRUE(direct.pages == traced.pages) << "the pages differ";
}

TEST_P(ChainSession, LeavesOneTraceLogShowingTheScannersAnswers) {
    Traced(GetParam());
    const std::vector<std::string> files = LogFiles();
    ASSERT_EQ(1u, files.size()) << "one log file per load";
    const std::string log = ReadFile(std::string(PASSTHROUGH_TEST_ROOT) + "/LOG/" + files[0]);
    EXPECT_NE(std::string::npos, log.find("Tracelet Virtual Scanner")) << "the identity the scanner gave";
    EXPECT_NE(std::string::npos, log.find("TWRC_XFERDONE"));
    EXPECT_NE(std::string::npos, log.find("TWRC_CHECKSTATUS")) << "the clipped scan area";
}

INSTANTIATE_TEST_SUITE_P(BothMechanisms, ChainSession, ::testing::Values(Mechanism::Native, Mechanism::Memory),
                         [](const ::testing::TestParamInfo<Mechanism>& info) {
                             return ::testing::PrintToString(info.param);
                         });

// --- The standalone scanner as a data source manager sees it --------------------

TEST(StandaloneScanner, AnswersAnIdentityADataSourceManagerAccepts) {
    DsLibrary source(VIRTUAL_SCANNER_DS);
    ASSERT_TRUE(source.entry()) << dlerror();
    TW_IDENTITY app;
    memset(&app, 0, sizeof app);
    app.ProtocolMajor = 2;
    app.SupportedGroups = DG_CONTROL | DG_IMAGE | DF_APP2;
    TW_IDENTITY id;
    memset(&id, 0, sizeof id);
    ASSERT_EQ(TWRC_SUCCESS, source.entry()(&app, DG_CONTROL, DAT_IDENTITY, MSG_GET, &id));
    EXPECT_EQ(static_cast<TW_UINT32>(DG_CONTROL | DG_IMAGE), id.SupportedGroups & (DG_CONTROL | DG_IMAGE));
    EXPECT_EQ(2, id.ProtocolMajor);
    EXPECT_TRUE(id.SupportedGroups & DF_DS2);
    EXPECT_STRNE("", id.ProductName);

    // DF_DS2 promises DAT_ENTRYPOINT.
    TW_IDENTITY opened = id;
    opened.Id = 5;
    ASSERT_EQ(TWRC_SUCCESS, source.entry()(&app, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &opened));
    TW_ENTRYPOINT entry;
    memset(&entry, 0, sizeof entry);
    entry.Size = sizeof entry;
    EXPECT_EQ(TWRC_SUCCESS, source.entry()(&app, DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, &entry));
    EXPECT_EQ(TWRC_SUCCESS, source.entry()(&app, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &opened));
}

TEST(StandaloneScanner, EachLoadStartsWithANewScanner) {
    TW_IDENTITY app;
    memset(&app, 0, sizeof app);
    TW_IDENTITY id;
    memset(&id, 0, sizeof id);
    {
        DsLibrary source(VIRTUAL_SCANNER_DS);
        ASSERT_TRUE(source.entry());
        ASSERT_EQ(TWRC_SUCCESS, source.entry()(&app, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &id));
        // A second open of the same scanner is out of sequence...
        ASSERT_EQ(TWRC_FAILURE, source.entry()(&app, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &id));
        // ...and it is unloaded while open.
    }
    EXPECT_FALSE(IsLoaded(VIRTUAL_SCANNER_DS));
    DsLibrary again(VIRTUAL_SCANNER_DS);
    ASSERT_TRUE(again.entry());
    EXPECT_EQ(TWRC_SUCCESS, again.entry()(&app, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &id));
    EXPECT_EQ(TWRC_SUCCESS, again.entry()(&app, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &id));
}
