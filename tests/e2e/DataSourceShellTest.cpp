// The data source as a manager sees it: load, calls, unload; with and
// without its companion and its log folder; the event loop; an exception
// from the companion never reaches the host.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <string.h>

#include <string>
#include <vector>

#include "DataSourceHarness.h"

namespace {

std::string Triplet(int seq, const char* names) { return Format("[%05d] [APP] %s\r\n", seq, names); }

// The event loop: only a claimed event that moves the session is shown,
// without a triplet line; an event is read only through DAT_EVENT's pData.
TEST(DataSourceShell, TheEventLoopShowsOnlyClaimedEventsThatMoveTheSession) {
    LoadedDataSource ds;
    TW_EVENT event{};
    TW_PENDINGXFERS done{};
    // A status whose bytes past its end would read as a transfer-ready event.
    std::vector<unsigned char> status(sizeof(TW_EVENT) + 8, 0);
    event.TWMessage = MSG_XFERREADY;
    memcpy(status.data(), &event, sizeof event);
    const TW_UINT16 seqError = TWCC_SEQERROR;
    memcpy(status.data(), &seqError, sizeof seqError);
    auto call = [&](TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* p, TW_UINT16 rc, TW_UINT16 message = 0) {
        ds.control->rc = rc;
        event.TWMessage = message;
        EXPECT_EQ(ds.Call(dg, dat, msg, p), rc) << dat << " " << msg;
    };
    call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, nullptr, TWRC_SUCCESS);
    call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, nullptr, TWRC_SUCCESS);
    for (TW_UINT16 m : {MSG_NULL, MSG_XFERREADY, MSG_CLOSEDSREQ})
        call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event, TWRC_NOTDSEVENT, m);
    for (TW_UINT16 m : {MSG_NULL, MSG_CLOSEDSOK, MSG_DEVICEEVENT})
        call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event, TWRC_DSEVENT, m);
    call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, nullptr, TWRC_DSEVENT);  // claimed, nothing to read
    call(DG_CONTROL, DAT_STATUS, MSG_PROCESSEVENT, status.data(), TWRC_DSEVENT);
    call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event, TWRC_DSEVENT, MSG_XFERREADY);
    call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, nullptr, TWRC_XFERDONE);
    call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &done, TWRC_SUCCESS);
    call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event, TWRC_DSEVENT, MSG_CLOSEDSREQ);
    ds.control->throwNext = true;  // fails the call, the state stays
    call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, nullptr, TWRC_FAILURE);
    call(DG_CONTROL, DAT_NULL, MSG_XFERREADY, nullptr, TWRC_SUCCESS);  // the application's: no text
    call(DG_CONTROL, DAT_NULL, MSG_CLOSEDSREQ, nullptr, TWRC_SUCCESS);
    ds.Unload();
    auto claimed = [&](const char* message, int state) {
        return ResultLines("TWRC_DSEVENT", &event) + Format("  TW_EVENT = {\r\n    pEvent    = <0x00000000>\r\n") +
               Format("    TWMessage = [%s]\r\n  }\r\n", message) + StateLine(state);
    };
    EXPECT_EQ(LoadedDataSource::Log(),
              Triplet(1, "DG_CONTROL/DAT_IDENTITY/MSG_OPENDS") + ResultLines("TWRC_SUCCESS", nullptr) + StateLine(4) +
                  Triplet(2, "DG_CONTROL/DAT_USERINTERFACE/MSG_ENABLEDS") + ResultLines("TWRC_SUCCESS", nullptr) +
                  StateLine(5) + "  TW_STATUS = {\r\n    ConditionCode = [TWCC_SEQERROR]\r\n  }\r\n" +
                  claimed("MSG_XFERREADY", 6) + Triplet(3, "DG_IMAGE/DAT_IMAGENATIVEXFER/MSG_GET") +
                  ResultLines("TWRC_XFERDONE", nullptr) + StateLine(7) +
                  Triplet(4, "DG_CONTROL/DAT_PENDINGXFERS/MSG_ENDXFER") + ResultLines("TWRC_SUCCESS", &done) +
                  "  TW_PENDINGXFERS = {\r\n    Count = [0]\r\n    EOJ   = [0]\r\n  }\r\n" + StateLine(5) +
                  claimed("MSG_CLOSEDSREQ", 4) + Triplet(5, "DG_CONTROL/DAT_USERINTERFACE/MSG_ENABLEDS") +
                  ResultLines("TWRC_FAILURE", nullptr) + MarkerBlock() + Triplet(6, "DG_CONTROL/DAT_NULL/MSG_CLOSEDSREQ") +
                  ResultLines("TWRC_SUCCESS", nullptr) + StateLine(4));
}

TEST(DataSourceShell, LoadingNamesTheSourceAndUnloadingTwiceClosesOnce) {
    testing::internal::CaptureStderr();
    {
        LoadedDataSource ds;
        ScriptControl* control = ds.control;
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(control->factoryCalls, 1);
        EXPECT_EQ(std::string(control->factoryName), LoadedDataSource::DataSourceFileName());  // no folder
        // Hold the companion so its counters outlive the data source's close of it.
        void* companion = dlopen(LoadedDataSource::CompanionPath().c_str(), RTLD_NOW | RTLD_NOLOAD);
        ASSERT_NE(companion, nullptr);
        reinterpret_cast<void (*)()>(ds.Symbol("MachO_Termination"))();
        EXPECT_EQ(control->destroyed, 1);
        // With the companion gone the data source answers on its own.
        EXPECT_EQ(ds.Call(DG_CONTROL, DAT_STATUS, MSG_GET, nullptr), TWRC_FAILURE);
        EXPECT_EQ(control->calls, 0);
        dlclose(companion);
    }  // dlclose runs the clean-up a second time
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Close Log File.\n");
}

TEST(DataSourceShell, WithoutTheLogFolderCallsPassAndNothingIsWritten) {
    testing::internal::CaptureStderr();
    {
        LoadedDataSource ds(Companion::Scripted, /*logFolder=*/false);
        EXPECT_EQ(ds.Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, nullptr), TWRC_SUCCESS);
        ds.control->rc = TWRC_FAILURE;
        EXPECT_EQ(ds.Call(DG_CONTROL, DAT_STATUS, MSG_GET, nullptr), TWRC_FAILURE);
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_TRUE(LoadedDataSource::LogFiles().empty());
}

class MissingOperator : public ::testing::TestWithParam<Companion> {};

TEST_P(MissingOperator, CallsFailAndTheLogShowsThatNothingAnswered) {
    LoadedDataSource ds(GetParam());
    EXPECT_EQ(ds.control, nullptr);
    TW_STATUS status{};
    EXPECT_EQ(ds.Call(DG_CONTROL, DAT_DEVICEEVENT, MSG_OPENDS, &status), TWRC_FAILURE);
    ds.Unload();
    EXPECT_EQ(LoadedDataSource::Log(), Triplet(1, "DG_CONTROL/DAT_DEVICEEVENT/MSG_OPENDS") +
                                           ResultLines("TWRC_FAILURE", &status) + MarkerBlock());
}

INSTANTIATE_TEST_SUITE_P(DataSourceShell, MissingOperator,
                         ::testing::Values(Companion::Absent, Companion::NoFactory, Companion::NullSlot,
                                           Companion::Throwing));

}  // namespace
