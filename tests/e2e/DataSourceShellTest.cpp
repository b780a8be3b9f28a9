// The data source as a manager sees it: load, calls, unload; with and
// without its companion and its log folder.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <unistd.h>

#include <string>

#include "DataSourceHarness.h"
#include "analyzer/ParaAnalyze.h"

namespace {

CParaAnalyze& AnalyzerOf(const LoadedDataSource& ds) {
    return *static_cast<CParaAnalyze*>(ds.Symbol("g_cParaAnalyze"));
}

std::string Triplet(long seq, const char* names) { return Format("[%05ld] [APP] %s\r\n", seq, names); }

void FillXferReady(void*, TW_UINT32, TW_UINT16, TW_UINT16, TW_MEMREF pData) {
    if (pData) static_cast<TW_EVENT*>(pData)->TWMessage = MSG_XFERREADY;
}

TEST(DataSourceShell, TheFactoryGetsTheDataSourcesOwnFileName) {
    LoadedDataSource ds;
    ASSERT_NE(ds.control, nullptr);
    EXPECT_EQ(ds.control->factoryCalls, 1);
    EXPECT_EQ(std::string(ds.control->factoryName), LoadedDataSource::DataSourceFileName());
    EXPECT_EQ(std::string(ds.control->factoryName).find('/'), std::string::npos);
    EXPECT_NE(ds.Symbol("g_fnDsCreate"), nullptr);
    EXPECT_NE(*static_cast<void**>(ds.Symbol("g_fnDsCreate")), nullptr);
}

TEST(DataSourceShell, AFullSessionIsTracedLineForLine) {
    LoadedDataSource ds;
    TW_IDENTITY identity{};
    TW_USERINTERFACE ui{};
    TW_EVENT event{};
    TW_PENDINGXFERS pending{};
    TW_UINT32 image = 0;

    EXPECT_EQ(ds.Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &identity), TWRC_SUCCESS);
    EXPECT_EQ(ds.Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui), TWRC_SUCCESS);
    ds.control->rc = TWRC_NOTDSEVENT;
    EXPECT_EQ(ds.Call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event), TWRC_NOTDSEVENT);
    ds.control->rc = TWRC_DSEVENT;
    ds.control->fill = FillXferReady;
    EXPECT_EQ(ds.Call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event), TWRC_DSEVENT);
    ds.control->fill = nullptr;
    ds.control->rc = TWRC_XFERDONE;
    EXPECT_EQ(ds.Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &image), TWRC_XFERDONE);
    ds.control->rc = TWRC_SUCCESS;
    EXPECT_EQ(ds.Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending), TWRC_SUCCESS);
    EXPECT_EQ(ds.Call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui), TWRC_SUCCESS);
    EXPECT_EQ(ds.Call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &identity), TWRC_SUCCESS);
    ds.Unload();

    const std::string log = LoadedDataSource::Log();
    // Structure dumps sit between the pData line and the state line; check
    // the frame of every call in order.
    const std::string frames[] = {
        Triplet(1, "DG_CONTROL/DAT_IDENTITY/MSG_OPENDS") + ResultLines("TWRC_SUCCESS", &identity),
        StateLine(4),
        Triplet(2, "DG_CONTROL/DAT_USERINTERFACE/MSG_ENABLEDS") + ResultLines("TWRC_SUCCESS", &ui),
        StateLine(5),
        // The claimed event stands without a triplet line.
        ResultLines("TWRC_DSEVENT", &event),
        StateLine(6),
        Triplet(3, "DG_IMAGE/DAT_IMAGENATIVEXFER/MSG_GET") + ResultLines("TWRC_XFERDONE", &image),
        StateLine(7),
        Triplet(4, "DG_CONTROL/DAT_PENDINGXFERS/MSG_ENDXFER") + ResultLines("TWRC_SUCCESS", &pending),
        StateLine(5),
        Triplet(5, "DG_CONTROL/DAT_USERINTERFACE/MSG_DISABLEDS") + ResultLines("TWRC_SUCCESS", &ui),
        StateLine(4),
        Triplet(6, "DG_CONTROL/DAT_IDENTITY/MSG_CLOSEDS") + ResultLines("TWRC_SUCCESS", &identity),
        StateLine(3),
    };
    size_t at = 0;
    for (const std::string& frame : frames) {
        size_t found = log.find(frame, at);
        ASSERT_NE(found, std::string::npos) << "missing after offset " << at << ":\n" << frame << "\nin\n" << log;
        at = found + frame.size();
    }
    EXPECT_EQ(at, log.size());
    EXPECT_EQ(log.find("MSG_PROCESSEVENT"), std::string::npos);
    EXPECT_EQ(log.find("TWRC_NOTDSEVENT"), std::string::npos);
}

TEST(DataSourceShell, OnlyAFailureGetsTheMarkerBlockRightAfterItsResult) {
    LoadedDataSource ds;
    TW_STATUS status{};
    const TW_UINT16 codes[] = {TWRC_FAILURE, TWRC_SUCCESS, TWRC_CHECKSTATUS, TWRC_CANCEL, 0x8001};
    for (TW_UINT16 rc : codes) {
        ds.control->rc = rc;
        ds.Call(DG_CONTROL, DAT_DEVICEEVENT, MSG_GET, &status);
    }
    ds.Unload();
    const std::string log = LoadedDataSource::Log();
    const std::string first = Triplet(1, "DG_CONTROL/DAT_DEVICEEVENT/MSG_GET") +
                              ResultLines("TWRC_FAILURE", &status) + MarkerBlock() +
                              Triplet(2, "DG_CONTROL/DAT_DEVICEEVENT/MSG_GET");
    EXPECT_EQ(log.substr(0, first.size()), first);
    EXPECT_EQ(log.find(MarkerBlock()), log.rfind(MarkerBlock()));
    EXPECT_NE(log.find("Return Code = [ERROR!(32769)]"), std::string::npos);
    EXPECT_NE(log.find("Return Code = [TWRC_CHECKSTATUS]"), std::string::npos);
}

TEST(DataSourceShell, TheTransferReadyNoticeAndEventLoopCallsTakeNoNumber) {
    LoadedDataSource ds;
    TW_EVENT event{};
    ds.control->rc = TWRC_NOTDSEVENT;
    ds.Call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event);
    ds.control->rc = TWRC_SUCCESS;
    ds.Call(DG_CONTROL, DAT_NULL, MSG_XFERREADY, nullptr);
    ds.Call(DG_CONTROL, DAT_NULL, MSG_CLOSEDSREQ, nullptr);
    ds.Unload();
    EXPECT_EQ(LoadedDataSource::Log(), Triplet(1, "DG_CONTROL/DAT_NULL/MSG_CLOSEDSREQ") +
                                           ResultLines("TWRC_SUCCESS", nullptr) + StateLine(3));
}

TEST(DataSourceShell, ClaimedEventsAreShownOnlyForTransferReadyAndCloseRequest) {
    LoadedDataSource ds;
    TW_IDENTITY identity{};
    TW_USERINTERFACE ui{};
    ds.Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &identity);
    ds.Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui);
    TW_EVENT event{};
    ds.control->rc = TWRC_DSEVENT;
    const TW_UINT16 ignored[] = {MSG_NULL, MSG_CLOSEDSOK, MSG_DEVICEEVENT};
    for (TW_UINT16 msg : ignored) {
        event.TWMessage = msg;
        ds.Call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event);
    }
    ds.Call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, nullptr);  // claimed, but nothing to read
    ds.control->rc = TWRC_SUCCESS;
    event.TWMessage = MSG_CLOSEDSREQ;
    ds.Call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event);  // not claimed
    ds.control->rc = TWRC_DSEVENT;
    ds.Call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event);  // claimed close request
    EXPECT_EQ(AnalyzerOf(ds).m_nTwainStatus, 4);
    EXPECT_EQ(AnalyzerOf(ds).m_lSequence, 2);
    ds.Unload();
    const std::string log = LoadedDataSource::Log();
    const std::string tail = ResultLines("TWRC_DSEVENT", &event);
    size_t at = log.find(tail);
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(log.find("Return Code", at + tail.size()), std::string::npos);  // the only claimed block
    EXPECT_EQ(log.find("TWRC_DSEVENT"), at + 23);
    EXPECT_EQ(log.substr(log.size() - 22), StateLine(4));
}

TEST(DataSourceShell, WithoutTheLogFolderNothingIsWrittenButNumberingGoesOn) {
    testing::internal::CaptureStderr();
    {
        LoadedDataSource ds(Companion::Scripted, /*logFolder=*/false);
        TW_IDENTITY identity{};
        EXPECT_EQ(ds.Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &identity), TWRC_SUCCESS);
        ds.control->rc = TWRC_FAILURE;
        EXPECT_EQ(ds.Call(DG_CONTROL, DAT_STATUS, MSG_GET, nullptr), TWRC_FAILURE);
        EXPECT_EQ(AnalyzerOf(ds).m_lSequence, 2);
        EXPECT_EQ(AnalyzerOf(ds).m_nTwainStatus, 0);  // never given its start value
        EXPECT_EQ(*static_cast<FILE**>(ds.Symbol("g_pLogFile")), nullptr);
        EXPECT_EQ(*static_cast<void**>(ds.Symbol("g_pcTwainLog")), nullptr);
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_TRUE(LoadedDataSource::LogFiles().empty());
}

TEST(DataSourceShell, UnloadClosesTheLogOnceEvenWhenCalledTwice) {
    testing::internal::CaptureStderr();
    {
        LoadedDataSource ds;
        EXPECT_EQ(ds.control->destroyed, 0);
        ScriptControl* control = ds.control;
        // Hold the companion so its counters outlive the data source's close of it.
        void* companion = dlopen(LoadedDataSource::CompanionPath().c_str(), RTLD_NOW | RTLD_NOLOAD);
        ASSERT_NE(companion, nullptr);
        auto terminate = reinterpret_cast<void (*)()>(ds.Symbol("MachO_Termination"));
        terminate();
        EXPECT_EQ(control->destroyed, 1);
        EXPECT_EQ(*static_cast<void**>(ds.Symbol("g_pcTripletOperator")), nullptr);
        EXPECT_EQ(*static_cast<void**>(ds.Symbol("g_TwainWrapperBundleRef")), nullptr);
        // With the companion gone the data source answers on its own.
        EXPECT_EQ(ds.Call(DG_CONTROL, DAT_STATUS, MSG_GET, nullptr), TWRC_FAILURE);
        EXPECT_EQ(control->calls, 0);
        dlclose(companion);
    }  // dlclose runs the clean-up a second time
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Close Log File.\n");
}

TEST(DataSourceShell, EachLoadWritesItsOwnFile) {
    LoadedDataSource::ResetLogFolder(true);
    for (int load = 0; load < 2; ++load) {
        // The harness empties the folder per load; keep the first file aside.
        void* handle = dlopen(TRACELET_TEST_DS, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle, nullptr);
        dlclose(handle);
        usleep(2000);  // a later stamp
    }
    EXPECT_EQ(LoadedDataSource::LogFiles().size(), 2u);
}

class MissingOperator : public ::testing::TestWithParam<Companion> {};

TEST_P(MissingOperator, CallsFailAndTheLogShowsThatNothingAnswered) {
    LoadedDataSource ds(GetParam());
    EXPECT_EQ(ds.control, nullptr);
    EXPECT_EQ(*static_cast<void**>(ds.Symbol("g_pcTripletOperator")), nullptr);
    TW_STATUS status{};
    EXPECT_EQ(ds.Call(DG_CONTROL, DAT_DEVICEEVENT, MSG_OPENDS, &status), TWRC_FAILURE);
    EXPECT_EQ(AnalyzerOf(ds).m_nTwainStatus, 3);  // the state does not move
    ds.Unload();
    EXPECT_EQ(LoadedDataSource::Log(), Triplet(1, "DG_CONTROL/DAT_DEVICEEVENT/MSG_OPENDS") +
                                           ResultLines("TWRC_FAILURE", &status) + MarkerBlock());
}

INSTANTIATE_TEST_SUITE_P(DataSourceShell, MissingOperator,
                         ::testing::Values(Companion::Absent, Companion::NoFactory, Companion::NullSlot,
                                           Companion::Throwing));

TEST(DataSourceShell, AnExceptionFromTheCompanionNeverReachesTheHost) {
    LoadedDataSource ds;
    TW_STATUS status{};
    ds.control->throwNext = true;
    EXPECT_EQ(ds.Call(DG_CONTROL, DAT_DEVICEEVENT, MSG_GET, &status), TWRC_FAILURE);
    EXPECT_EQ(ds.Call(DG_CONTROL, DAT_DEVICEEVENT, MSG_GET, &status), TWRC_SUCCESS);
    ds.Unload();
    const std::string log = LoadedDataSource::Log();
    const std::string failed = Triplet(1, "DG_CONTROL/DAT_DEVICEEVENT/MSG_GET") +
                               ResultLines("TWRC_FAILURE", &status) + MarkerBlock();
    EXPECT_EQ(log.substr(0, failed.size()), failed);
}

}  // namespace
