// What the loaded data source writes for input a buggy application or
// source can hand it: null pointers wherever a structure is expected,
// structures that are not what their data argument type says, texts too
// long for the log text buffer, numbers no table names, a companion that
// throws. None of it may reach the host as anything but the documented
// text and the companion's own return code.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "DataSourceHarness.h"
#include "analyzer/ParaAnalyze.h"
#include "tracelet/twain_memory.h"

namespace {

CParaAnalyze& AnalyzerOf(const LoadedDataSource& ds) {
    return *static_cast<CParaAnalyze*>(ds.Symbol("g_cParaAnalyze"));
}

std::string Triplet(long seq, const std::string& names) {
    return Format("[%05ld] [APP] %s\r\n", seq, names.c_str());
}

// Every data argument type the dispatch has a row for, with its name.
struct DatName {
    TW_UINT16 dat;
    const char* name;
};
const DatName kDispatched[] = {
    {DAT_NULL, "DAT_NULL"},
    {DAT_CAPABILITY, "DAT_CAPABILITY"},
    {DAT_EVENT, "DAT_EVENT"},
    {DAT_IDENTITY, "DAT_IDENTITY"},
    {DAT_PARENT, "DAT_PARENT"},
    {DAT_PENDINGXFERS, "DAT_PENDINGXFERS"},
    {DAT_SETUPMEMXFER, "DAT_SETUPMEMXFER"},
    {DAT_SETUPFILEXFER, "DAT_SETUPFILEXFER"},
    {DAT_STATUS, "DAT_STATUS"},
    {DAT_USERINTERFACE, "DAT_USERINTERFACE"},
    {DAT_XFERGROUP, "DAT_XFERGROUP"},
    {DAT_TWUNKIDENTITY, "DAT_TWUNKIDENTITY"},
    {DAT_CUSTOMDSDATA, "DAT_CUSTOMDSDATA"},
    {DAT_IMAGEINFO, "DAT_IMAGEINFO"},
    {DAT_IMAGELAYOUT, "DAT_IMAGELAYOUT"},
    {DAT_IMAGEMEMXFER, "DAT_IMAGEMEMXFER"},
    {DAT_IMAGENATIVEXFER, "DAT_IMAGENATIVEXFER"},
    {DAT_IMAGEFILEXFER, "DAT_IMAGEFILEXFER"},
    {DAT_CIECOLOR, "DAT_CIECOLOR"},
    {DAT_GRAYRESPONSE, "DAT_GRAYRESPONSE"},
    {DAT_RGBRESPONSE, "DAT_RGBRESPONSE"},
    {DAT_JPEGCOMPRESSION, "DAT_JPEGCOMPRESSION"},
    {DAT_PALETTE8, "DAT_PALETTE8"},
    {DAT_EXTIMAGEINFO, "DAT_EXTIMAGEINFO"},
    {DAT_NV_AUTOEXPOSURE, "DAT_NV_AUTOEXPOSURE"},
    {DAT_NV_RGBMATRIX, "DAT_NV_RGBMATRIX"},
    {DAT_NV_COLORSMOOTHING, "DAT_NV_COLORSMOOTHING"},
    {DAT_NV_EVENT, "DAT_NV_EVENT"},
    {DAT_NV_HARDWAREINFO, "DAT_NV_HARDWAREINFO"},
    {DAT_NV_SKEWINFO, "DAT_NV_SKEWINFO"},
    {DAT_NV_UNSHARPMASKPARAM, "DAT_NV_UNSHARPMASKPARAM"},
    {DAT_NV_REDCORRECTIONMATRIX, "DAT_NV_REDCORRECTIONMATRIX"},
    {DAT_NV_TWAINCALLBACKMSG, "DAT_NV_TWAINCALLBACKMSG"},
    {DAT_NV_SETTINGFRAME, "DAT_NV_SETTINGFRAME"},
    {DAT_NV_USMINFO, "DAT_NV_USMINFO"},
};

void XferReady(void*, TW_UINT32, TW_UINT16, TW_UINT16, TW_MEMREF pData) {
    if (pData) static_cast<TW_EVENT*>(pData)->TWMessage = MSG_XFERREADY;
}

// Opens the source and enables it, then lets it claim a transfer-ready
// event: state 6, with three numbered lines written.
void ToStateSix(LoadedDataSource& ds) {
    TW_IDENTITY identity{};
    TW_USERINTERFACE ui{};
    TW_EVENT event{};
    ds.Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &identity);
    ds.Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui);
    ds.control->rc = TWRC_DSEVENT;
    ds.control->fill = XferReady;
    ds.Call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event);
    ds.control->fill = nullptr;
    ds.control->rc = TWRC_SUCCESS;
    ASSERT_EQ(AnalyzerOf(ds).m_nTwainStatus, 6);
}

// --- Null pointers ---------------------------------------------------------------------

TEST(HostileInput, ANullPDataForEveryDispatchedTypePrintsItsFrameAndNoBlock) {
    LoadedDataSource ds;
    std::string expected;
    long seq = 0;
    for (const DatName& d : kDispatched) {
        EXPECT_EQ(ds.Call(DG_CONTROL, d.dat, MSG_GET, nullptr), TWRC_SUCCESS) << d.name;
        // A capability call names its capability from pData: nothing to name.
        const std::string names =
            std::string("DG_CONTROL/") + d.name + "/MSG_GET" + (d.dat == DAT_CAPABILITY ? " ()" : "");
        expected += Triplet(++seq, names) + ResultLines("TWRC_SUCCESS", nullptr) + StateLine(3);
    }
    ds.Unload();
    EXPECT_EQ(LoadedDataSource::Log(), expected);
}

TEST(HostileInput, ANullPDataInAFailedCallStillGetsTheMarkerBlockAndNoBlock) {
    LoadedDataSource ds;
    ds.control->rc = TWRC_FAILURE;
    std::string expected;
    long seq = 0;
    for (const DatName& d : kDispatched) {
        if (d.dat == DAT_CAPABILITY) continue;  // named above
        EXPECT_EQ(ds.Call(DG_IMAGE, d.dat, MSG_SET, nullptr), TWRC_FAILURE) << d.name;
        expected += Triplet(++seq, std::string("DG_IMAGE/") + d.name + "/MSG_SET") +
                    ResultLines("TWRC_FAILURE", nullptr) + MarkerBlock();
    }
    EXPECT_EQ(AnalyzerOf(ds).m_nTwainStatus, 3);
    ds.Unload();
    EXPECT_EQ(LoadedDataSource::Log(), expected);
}

TEST(HostileInput, ANullOriginWhenTheManagerIsOpenedPrintsNoIdentity) {
    LoadedDataSource ds;
    EXPECT_EQ(ds.CallFrom(nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, nullptr), TWRC_SUCCESS);
    ds.Unload();
    EXPECT_EQ(LoadedDataSource::Log(), Triplet(1, "DG_CONTROL/DAT_PARENT/MSG_OPENDSM") +
                                           ResultLines("TWRC_SUCCESS", nullptr) + StateLine(3));
}

TEST(HostileInput, ANullPDataWhereTheStateReadsTheCountLeavesTheStateWhereItWas) {
    LoadedDataSource ds;
    ToStateSix(ds);
    EXPECT_EQ(ds.Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, nullptr), TWRC_SUCCESS);
    EXPECT_EQ(AnalyzerOf(ds).m_nTwainStatus, 6);
    ds.Unload();
    const std::string tail = Triplet(3, "DG_CONTROL/DAT_PENDINGXFERS/MSG_ENDXFER") +
                             ResultLines("TWRC_SUCCESS", nullptr) + StateLine(6);
    const std::string log = LoadedDataSource::Log();
    ASSERT_GE(log.size(), tail.size());
    EXPECT_EQ(log.substr(log.size() - tail.size()), tail);
}

TEST(HostileInput, ANullPDataWhereTheResultReadsTheEventMessageIsAnUnclaimedEvent) {
    LoadedDataSource ds;
    ToStateSix(ds);
    const std::string before = LoadedDataSource::Log();
    ds.control->rc = TWRC_DSEVENT;
    EXPECT_EQ(ds.Call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, nullptr), TWRC_DSEVENT);
    EXPECT_EQ(AnalyzerOf(ds).m_nTwainStatus, 6);
    EXPECT_EQ(AnalyzerOf(ds).m_lSequence, 2);
    ds.Unload();
    EXPECT_EQ(LoadedDataSource::Log(), before);
}

// --- Structures that are not what the data argument type says ------------------------------

// Found by fuzzing: the result block read a TW_EVENT through the pData of
// any data argument type sent with MSG_PROCESSEVENT, past the end of a
// smaller structure (a TW_STATUS is 4 bytes, a TW_EVENT 10 or 16).
TEST(HostileInput, AnEventLoopCallOfAnotherTypeIsNotReadAsAnEvent) {
    LoadedDataSource ds;
    ToStateSix(ds);
    const std::string before = LoadedDataSource::Log();
    // A status whose bytes past its end would read as a transfer-ready event.
    std::vector<unsigned char> bytes(sizeof(TW_EVENT) + 8, 0);
    TW_EVENT looksLikeAnEvent{};
    looksLikeAnEvent.TWMessage = MSG_XFERREADY;
    memcpy(bytes.data(), &looksLikeAnEvent, sizeof looksLikeAnEvent);
    TW_STATUS status{};
    status.ConditionCode = TWCC_SEQERROR;
    memcpy(bytes.data(), &status, sizeof status);
    ds.control->rc = TWRC_DSEVENT;
    EXPECT_EQ(ds.Call(DG_CONTROL, DAT_STATUS, MSG_PROCESSEVENT, bytes.data()), TWRC_DSEVENT);
    // The same with a status of exactly its own size (the sanitizer build
    // sees any read past it).
    TW_STATUS* exact = static_cast<TW_STATUS*>(malloc(sizeof(TW_STATUS)));
    memcpy(exact, &status, sizeof status);
    EXPECT_EQ(ds.Call(DG_CONTROL, DAT_STATUS, MSG_PROCESSEVENT, exact), TWRC_DSEVENT);
    free(exact);
    EXPECT_EQ(AnalyzerOf(ds).m_nTwainStatus, 6);
    EXPECT_EQ(AnalyzerOf(ds).m_lSequence, 2);
    ds.Unload();
    // No triplet line, no result lines, no state line: only the structure's
    // own dump, as for any event the source did not claim.
    const std::string block =
        "  TW_STATUS = {\r\n    ConditionCode = [TWCC_SEQERROR]\r\n  }\r\n";
    EXPECT_EQ(LoadedDataSource::Log(), before + block + block);
}

TEST(HostileInput, NumbersNoTableNamesPrintTheirErrorTexts) {
    LoadedDataSource ds;
    ds.control->rc = 0x7777;
    EXPECT_EQ(ds.Call(0x00400000, 0x0777, 0x7FFF, nullptr), 0x7777);
    ds.Unload();
    EXPECT_EQ(LoadedDataSource::Log(), Triplet(1, "ERROR!(4194304)/ERROR!(1911)/ERROR!(32767)") +
                                           ResultLines("ERROR!(30583)", nullptr) + StateLine(3));
}

// --- Text past the log text buffer --------------------------------------------------------

TEST(HostileInput, AResultTextPastTheBufferIsCutAtItsLimitAndTheNextTextFollowsOnTheSameLine) {
    LoadedDataSource ds;
    // 600 supported capabilities: far more text than 5120 bytes.
    const TW_UINT32 count = 600;
    const size_t head = offsetof(TW_ARRAY, ItemList);
    TW_HANDLE h = TwainNewHandle(static_cast<TW_UINT32>(head + count * sizeof(TW_UINT16)));
    ASSERT_NE(h, nullptr);
    unsigned char* block = static_cast<unsigned char*>(TwainLockHandle(h));
    TW_ARRAY array{};
    array.ItemType = TWTY_UINT16;
    array.NumItems = count;
    memcpy(block, &array, head);
    for (TW_UINT32 i = 0; i < count; ++i) {
        const TW_UINT16 cap = CAP_XFERCOUNT;
        memcpy(block + head + i * sizeof cap, &cap, sizeof cap);
    }
    TwainUnlockHandle(h);
    TW_CAPABILITY cap{};
    cap.Cap = CAP_SUPPORTEDCAPS;
    cap.ConType = TWON_ARRAY;
    cap.hContainer = h;
    ds.AnswerWith(&cap, sizeof cap);
    TW_CAPABILITY in{};
    EXPECT_EQ(ds.Call(DG_CONTROL, DAT_CAPABILITY, MSG_GET, &in), TWRC_SUCCESS);
    ds.StopAnswering();
    TW_STATUS status{};
    ds.Call(DG_CONTROL, DAT_STATUS, MSG_GET, &status);
    EXPECT_EQ(AnalyzerOf(ds).m_nTwainStatus, 3);
    ds.Unload();
    TwainDisposeHandle(h);

    const std::string log = LoadedDataSource::Log();
    const std::string line = Triplet(1, "DG_CONTROL/DAT_CAPABILITY/MSG_GET (CAP_SUPPORTEDCAPS)");
    ASSERT_EQ(log.substr(0, line.size()), line);
    const std::string result = log.substr(line.size(), kLogTextSize);
    EXPECT_EQ(result.substr(0, 60), ResultLines("TWRC_SUCCESS", &in).substr(0, 60));
    EXPECT_NE(result.find("          0:CAP_XFERCOUNT,\r\n"), std::string::npos);
    EXPECT_EQ(result.find("TWAIN Status"), std::string::npos);  // cut before the state line
    const std::string rest = log.substr(line.size() + kLogTextSize);
    EXPECT_EQ(rest.substr(0, 24), "Size of CAP_xxx too long");
    EXPECT_EQ(rest.substr(24, 45), Triplet(2, "DG_CONTROL/DAT_STATUS/MSG_GET"));
}

// --- A companion that throws ----------------------------------------------------------------

TEST(HostileInput, ACompanionThatThrowsFailsTheCallWithItsMarkerBlockAndLeavesTheStateAlone) {
    LoadedDataSource ds;
    TW_IDENTITY identity{};
    TW_USERINTERFACE ui{};
    ds.Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &identity);
    ds.control->throwNext = true;
    EXPECT_EQ(ds.Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui), TWRC_FAILURE);
    EXPECT_EQ(AnalyzerOf(ds).m_nTwainStatus, 4);
    EXPECT_EQ(ds.Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui), TWRC_SUCCESS);
    EXPECT_EQ(AnalyzerOf(ds).m_nTwainStatus, 5);
    EXPECT_EQ(ds.control->calls, 3);
    ds.Unload();
    const std::string block = "  TW_USERINTERFACE = {\r\n    ShowUI  = [false]\r\n    ModalUI = [false]\r\n" +
                              Format("    hParent = <0x00000000>\r\n  }\r\n");
    const std::string failed = Triplet(2, "DG_CONTROL/DAT_USERINTERFACE/MSG_ENABLEDS") +
                               ResultLines("TWRC_FAILURE", &ui) + block + MarkerBlock() +
                               Triplet(3, "DG_CONTROL/DAT_USERINTERFACE/MSG_ENABLEDS");
    EXPECT_NE(LoadedDataSource::Log().find(failed), std::string::npos) << LoadedDataSource::Log();
}

}  // namespace
