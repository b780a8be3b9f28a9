// The analyzer on its own: triplet lines, result blocks, the tracked TWAIN
// state and the bounded output every rendering goes through.
#include <gtest/gtest.h>

#include <stdarg.h>
#include <stdio.h>

#include <string>

#include "analyzer/ParaAnalyze.h"

namespace {

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

std::string Pointer(const void* p) { return Format("0x%08x", Low32(p)); }

struct Analyzer : ::testing::Test {
    CParaAnalyze pa;
    char buf[kLogTextSize + 1] = {};
    TW_IDENTITY app{};

    std::string Triplet(TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG, void* pData = nullptr) {
        memset(buf, 0, sizeof buf);
        pa.TripletAnalyze(&app, nullptr, DG, DAT, MSG, static_cast<char*>(pData), buf);
        return buf;
    }
    std::string Result(TW_UINT16 DAT, TW_UINT16 MSG, TW_UINT16 rc, void* pData = nullptr) {
        memset(buf, 0, sizeof buf);
        pa.ParaAnalyze(&app, nullptr, DG_CONTROL, DAT, MSG, static_cast<char*>(pData), rc, buf);
        return buf;
    }
    int State(TW_UINT16 DAT, TW_UINT16 MSG, void* pData = nullptr) {
        return pa.UpDateTwainStatus(DG_CONTROL, DAT, MSG, static_cast<char*>(pData));
    }
};

TEST_F(Analyzer, TripletLinesAreNumberedFromOneAndNameTheTriplet) {
    EXPECT_EQ(Triplet(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS),
              "[00001] [APP] DG_CONTROL/DAT_USERINTERFACE/MSG_ENABLEDS\r\n");
    EXPECT_EQ(Triplet(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET),
              "[00002] [APP] DG_IMAGE/DAT_IMAGENATIVEXFER/MSG_GET\r\n");
    pa.m_lSequence = 99999;
    EXPECT_EQ(Triplet(DG_CONTROL, DAT_NULL, MSG_CLOSEDSREQ),
              "[100000] [APP] DG_CONTROL/DAT_NULL/MSG_CLOSEDSREQ\r\n");
}

TEST_F(Analyzer, EventLoopCallsAndTheTransferReadyNoticeGetNoLineAndNoNumber) {
    EXPECT_EQ(Triplet(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT), "");
    EXPECT_EQ(Triplet(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_PROCESSEVENT), "");
    EXPECT_EQ(Triplet(DG_CONTROL, DAT_NULL, MSG_XFERREADY), "");
    EXPECT_EQ(pa.m_lSequence, 0);
    EXPECT_EQ(Triplet(DG_CONTROL, DAT_STATUS, MSG_XFERREADY).substr(0, 8), "[00001] ");
}

TEST_F(Analyzer, NamesComeFromTheStandardOrTheVendorTablesByRange) {
    EXPECT_EQ(Triplet(DG_CONTROL, 0x8000, MSG_GET), "[00001] [APP] DG_CONTROL/DAT_CUSTOMBASE/MSG_GET\r\n");
    EXPECT_EQ(Triplet(DG_CONTROL, 0x8001, 0x8000), "[00002] [APP] DG_CONTROL/DAT_NV_AUTOEXPOSURE/MSG_CUSTOMBASE\r\n");
    EXPECT_EQ(Triplet(DG_CONTROL, 0x800C, 0x8003), "[00003] [APP] DG_CONTROL/ERROR!(32780)/ERROR!(32771)\r\n");
    EXPECT_EQ(Triplet(8, 0x0010, 0x8002), "[00004] [APP] ERROR!(8)/DAT_CALLBACK/MSG_NV_XFERREQUEST\r\n");
    EXPECT_EQ(Triplet(0xFFFFFFFF, 0x0404, MSG_GET), "[00005] [APP] ERROR!(-1)/ERROR!(1028)/MSG_GET\r\n");
}

TEST_F(Analyzer, CapabilityOperationsNameTheCapabilityInParentheses) {
    TW_CAPABILITY cap{};
    const std::pair<TW_UINT16, const char*> cases[] = {
        {0x0001, "CAP_XFERCOUNT"}, {0x0101, "ICAP_PIXELTYPE"}, {0x8001, "CAP_NV_VERSION"},
        {0x8003, "ICAP_NV_FILMTYPE"}, {0x8043, "ICAP_NV_ADE"}, {0x1065, "ERROR!(4197)"}};
    for (auto& c : cases) {
        cap.Cap = c.first;
        std::string line = Triplet(DG_CONTROL, DAT_CAPABILITY, MSG_GET, &cap);
        EXPECT_EQ(line.substr(line.find(']', 8) + 2),
                  std::string("DG_CONTROL/DAT_CAPABILITY/MSG_GET (") + c.second + ")\r\n");
    }
    EXPECT_EQ(Triplet(DG_CONTROL, DAT_CAPABILITY, MSG_SET, nullptr),
              "[00007] [APP] DG_CONTROL/DAT_CAPABILITY/MSG_SET ()\r\n");
}

TEST_F(Analyzer, CapabilityNamesRefuseABufferTheyDoNotFit) {
    TW_CAPABILITY cap{};
    cap.Cap = CAP_XFERCOUNT;
    char out[16] = "untouched";
    EXPECT_FALSE(pa.GetStringOfCapability(&cap, out, 5));
    EXPECT_STREQ(out, "untouched");
    EXPECT_TRUE(pa.GetStringOfCapability(&cap, out, 14));
    EXPECT_STREQ(out, "CAP_XFERCOUNT");
    cap.Cap = 0x1065;  // in neither table: "ERROR!(4197)" and its NUL take 13 bytes
    EXPECT_TRUE(pa.GetStringOfCapability(&cap, out, 13));
    EXPECT_STREQ(out, "ERROR!(4197)");
    EXPECT_TRUE(pa.GetStringOfCapability(nullptr, out, 13));
}

TEST_F(Analyzer, ATagReplacesAppInLaterLines) {
    char tag[32] = "TEST";
    pa.Init(tag);
    EXPECT_EQ(Triplet(DG_CONTROL, DAT_STATUS, MSG_GET), "[00001] [TEST] DG_CONTROL/DAT_STATUS/MSG_GET\r\n");
    pa.Init(nullptr);
    EXPECT_EQ(Triplet(DG_CONTROL, DAT_STATUS, MSG_GET), "[00002] [TEST] DG_CONTROL/DAT_STATUS/MSG_GET\r\n");
}

TEST_F(Analyzer, ResultBlocksShowCodePointerAndStateButNoStateAfterAFailure) {
    pa.SetTwainStatus(4);
    TW_USERINTERFACE ui{};
    const std::string pointer = Pointer(&ui);
    EXPECT_EQ(Result(DAT_DEVICEEVENT, MSG_GET, TWRC_SUCCESS, &ui),
              "        Return Code = [TWRC_SUCCESS]\r\npData   = <" + pointer + ">\r\n\r\nTWAIN Status = [4]\r\n");
    EXPECT_EQ(Result(DAT_DEVICEEVENT, MSG_ENABLEDS, TWRC_FAILURE, &ui),
              "        Return Code = [TWRC_FAILURE]\r\npData   = <" + pointer + ">\r\n");
    EXPECT_EQ(pa.GetTwainStatus(), 4);
    EXPECT_EQ(Result(DAT_STATUS, MSG_GET, 0x8001, nullptr),
              "        Return Code = [ERROR!(32769)]\r\npData   = <0x00000000>\r\n\r\nTWAIN Status = [4]\r\n");
    EXPECT_EQ(Result(DAT_STATUS, MSG_GET, 0x8000, nullptr).substr(0, 41),
              "        Return Code = [TWRC_CUSTOMBASE]\r\n");
}

TEST_F(Analyzer, OnlyClaimedEventsThatMoveTheSessionGetAResultBlock) {
    pa.SetTwainStatus(5);
    TW_EVENT event{};
    event.TWMessage = MSG_CLOSEDSOK;
    EXPECT_EQ(Result(DAT_EVENT, MSG_PROCESSEVENT, TWRC_DSEVENT, &event), "");
    event.TWMessage = MSG_XFERREADY;
    EXPECT_EQ(Result(DAT_EVENT, MSG_PROCESSEVENT, TWRC_NOTDSEVENT, &event), "");
    EXPECT_EQ(Result(DAT_EVENT, MSG_PROCESSEVENT, TWRC_DSEVENT, nullptr), "");
    EXPECT_EQ(Result(DAT_NULL, MSG_XFERREADY, TWRC_SUCCESS, nullptr), "");
    EXPECT_EQ(pa.GetTwainStatus(), 5);
    std::string block = Result(DAT_EVENT, MSG_PROCESSEVENT, TWRC_DSEVENT, &event);
    EXPECT_EQ(block.substr(0, 38), "        Return Code = [TWRC_DSEVENT]\r\n");
    EXPECT_EQ(block.substr(block.size() - 22), "\r\nTWAIN Status = [6]\r\n");
}

TEST_F(Analyzer, StateFollowsTheSessionFromSuccessfulTriplets) {
    pa.SetTwainStatus(3);
    EXPECT_EQ(State(DAT_IDENTITY, MSG_OPENDS), 4);
    EXPECT_EQ(State(DAT_IDENTITY, MSG_OPENDS), 4);
    EXPECT_EQ(State(DAT_NULL, MSG_ENABLEDS), 5);  // whatever the data argument type
    TW_EVENT event{};
    event.TWMessage = MSG_XFERREADY;
    EXPECT_EQ(State(DAT_EVENT, MSG_PROCESSEVENT, &event), 6);
    EXPECT_EQ(State(DAT_IMAGEINFO, MSG_GET), 6);
    EXPECT_EQ(State(DAT_IMAGEMEMXFER, MSG_GET), 7);
    EXPECT_EQ(State(DAT_IMAGEMEMXFER, MSG_GET), 7);
    TW_PENDINGXFERS pending{};
    pending.Count = 2;
    EXPECT_EQ(State(DAT_PENDINGXFERS, MSG_ENDXFER, &pending), 6);
    EXPECT_EQ(State(DAT_IMAGENATIVEXFER, MSG_PROCESSEVENT), 7);
    pending.Count = 0xFFFF;
    EXPECT_EQ(State(DAT_PENDINGXFERS, MSG_ENDXFER, &pending), 6);
    pending.Count = 0;
    EXPECT_EQ(State(DAT_PENDINGXFERS, MSG_ENDXFER, &pending), 5);
    EXPECT_EQ(State(DAT_PENDINGXFERS, MSG_ENDXFER, &pending), 5);
    EXPECT_EQ(State(DAT_USERINTERFACE, MSG_ENABLEDSUIONLY), 5);
    EXPECT_EQ(State(DAT_NULL, MSG_DISABLEDS), 5);
    EXPECT_EQ(State(DAT_USERINTERFACE, MSG_DISABLEDS), 4);
    EXPECT_EQ(State(DAT_IDENTITY, MSG_CLOSEDS), 3);
    EXPECT_EQ(State(DAT_PARENT, MSG_CLOSEDSM), 2);
    EXPECT_EQ(State(DAT_PARENT, MSG_OPENDSM), 3);
}

TEST_F(Analyzer, ResetAndCloseRequestsMoveOnlyFromTheirOwnState) {
    pa.SetTwainStatus(7);
    EXPECT_EQ(State(DAT_PENDINGXFERS, MSG_RESET), 7);
    pa.SetTwainStatus(6);
    EXPECT_EQ(State(DAT_PENDINGXFERS, MSG_RESET), 5);
    TW_EVENT event{};
    event.TWMessage = MSG_CLOSEDSOK;
    EXPECT_EQ(State(DAT_EVENT, MSG_PROCESSEVENT, &event), 5);
    event.TWMessage = MSG_CLOSEDSREQ;
    EXPECT_EQ(State(DAT_EVENT, MSG_PROCESSEVENT, &event), 4);
    EXPECT_EQ(State(DAT_EVENT, 0x8001), 4);
    pa.SetTwainStatus(3);
    EXPECT_EQ(State(DAT_USERINTERFACE, MSG_ENABLEDS), 3);
}

TEST_F(Analyzer, ASourcesNotificationMovesTheStateOnlyByItsOwnRules) {
    const struct {
        int from;
        TW_UINT16 DAT, MSG;
        bool enabling;
        int to;
    } cases[] = {
        {5, DAT_NULL, MSG_XFERREADY, false, 6},  {4, DAT_NULL, MSG_XFERREADY, true, 6},
        {4, DAT_NULL, MSG_XFERREADY, false, 4},  {3, DAT_NULL, MSG_XFERREADY, true, 3},
        {6, DAT_NULL, MSG_XFERREADY, false, 6},  {5, DAT_NULL, MSG_CLOSEDSREQ, false, 4},
        {4, DAT_NULL, MSG_CLOSEDSREQ, true, 4},  {5, DAT_NULL, MSG_CLOSEDSOK, false, 5},
        {5, DAT_NULL, MSG_DEVICEEVENT, false, 5}, {5, DAT_STATUS, MSG_XFERREADY, false, 5},
    };
    for (const auto& c : cases) {
        pa.SetTwainStatus(c.from);
        EXPECT_EQ(pa.UpDateTwainStatusOnNotify(c.DAT, c.MSG, c.enabling), c.to)
            << c.from << " " << c.MSG << " " << c.enabling;
    }
}

TEST_F(Analyzer, ANullPointerWhereTheStateReadsAFieldLeavesTheStateAsItIs) {
    pa.SetTwainStatus(5);
    EXPECT_EQ(State(DAT_EVENT, MSG_PROCESSEVENT, nullptr), 5);
    pa.SetTwainStatus(7);
    EXPECT_EQ(State(DAT_PENDINGXFERS, MSG_ENDXFER, nullptr), 7);
}

TEST_F(Analyzer, TheBannerHasFourLines) {
    pa.HeaderMake(buf);
    std::string banner = buf;
    const std::string slashes(48, '/');
    EXPECT_EQ(banner.substr(0, 50), slashes + "\r\n");
    EXPECT_EQ(banner.substr(50, 35), "           TWAIN Tracelet Ver1.10\r\n");
    EXPECT_EQ(banner.substr(85, 50), slashes + "\r\n");
    EXPECT_EQ(banner.substr(135, 20), "  << Current time = ");
    EXPECT_EQ(banner.substr(banner.size() - 5), " >>\r\n");
    EXPECT_EQ(banner.find('\n', 135), banner.size() - 1);  // asctime's newline is gone
}

// --- Bounded output ---------------------------------------------------------

TEST(BoundedOutput, TextStopsAtTheBufferEndAndRemembersTheCut) {
    CParaAnalyze pa;
    char small[11] = {};
    pa.SetOutput(small, 10);
    pa.Append("12345");
    pa.AppendF("%s", "678");
    EXPECT_FALSE(pa.OutputCut());
    pa.AppendF("%d", 90);  // exactly fills the ten bytes
    EXPECT_STREQ(small, "1234567890");
    EXPECT_TRUE(pa.OutputFull());
    EXPECT_FALSE(pa.OutputCut());
    pa.Append("");
    EXPECT_FALSE(pa.OutputCut());
    pa.Append("x");
    EXPECT_TRUE(pa.OutputCut());
    EXPECT_STREQ(small, "1234567890");
}

TEST(BoundedOutput, AFormattedLineThatDoesNotFitKeepsItsFirstBytes) {
    CParaAnalyze pa;
    char buf[kLogTextSize + 1];
    memset(buf, 0, sizeof buf);
    pa.SetOutput(buf, kLogTextSize);
    std::string expected;
    for (int i = 0; i < 1000; ++i) {
        pa.AppendF("line %04d of text%s", i, CRLF);
        expected += Format("line %04d of text\r\n", i);
    }
    EXPECT_TRUE(pa.OutputCut());
    EXPECT_EQ(strlen(buf), kLogTextSize);
    EXPECT_EQ(std::string(buf), expected.substr(0, kLogTextSize));
    // A text longer than the whole buffer in one append.
    pa.SetOutput(buf, kLogTextSize);
    buf[0] = '\0';
    pa.SetOutput(buf, kLogTextSize);
    std::string huge(3 * kLogTextSize, 'y');
    pa.Append(huge.c_str());
    EXPECT_TRUE(pa.OutputCut());
    EXPECT_EQ(std::string(buf), huge.substr(0, kLogTextSize));
}

TEST(BoundedOutput, NamesAndTagsNeverOverrunTheirBuffers) {
    CParaAnalyze pa;
    char tag[32];
    memset(tag, 'T', sizeof tag);  // no NUL in the 32 bytes
    pa.Init(tag);
    char buf[kLogTextSize + 1] = {};
    pa.TripletAnalyze(nullptr, nullptr, DG_CONTROL, DAT_STATUS, MSG_GET, nullptr, buf);
    EXPECT_EQ(std::string(buf), "[00001] [" + std::string(31, 'T') + "] DG_CONTROL/DAT_STATUS/MSG_GET\r\n");
}

}  // namespace
