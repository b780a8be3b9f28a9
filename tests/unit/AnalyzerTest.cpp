// The analyzer on its own: triplet lines, result blocks, the tracked TWAIN
// state and the bounded output every rendering goes through.
#include <gtest/gtest.h>

#include <string>

#include "LogText.h"
#include "analyzer/ParaAnalyze.h"
#include "platform/Platform.h"

namespace {

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
};

TEST_F(Analyzer, TripletLinesAreNumberedAndNameTheTripletFromTheStandardOrVendorTables) {
    TW_CAPABILITY cap{};
    const struct {
        TW_UINT32 DG;
        TW_UINT16 DAT, MSG, capId;  // capId: a TW_CAPABILITY behind pData (0: no pData)
        const char* line;           // after the number and the tag; "": no line, no number
    } rows[] = {
        {DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, 0, "DG_CONTROL/DAT_USERINTERFACE/MSG_ENABLEDS"},
        {DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, 0, "DG_IMAGE/DAT_IMAGENATIVEXFER/MSG_GET"},
        {DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, 0, ""},  // the event loop and the transfer-ready notice
        {DG_IMAGE, DAT_IMAGEMEMXFER, MSG_PROCESSEVENT, 0, ""},
        {DG_CONTROL, DAT_NULL, MSG_XFERREADY, 0, ""},
        {DG_CONTROL, DAT_STATUS, MSG_XFERREADY, 0, "DG_CONTROL/DAT_STATUS/MSG_XFERREADY"},
        {DG_CONTROL, 0x8000, MSG_GET, 0, "DG_CONTROL/DAT_CUSTOMBASE/MSG_GET"},
        {DG_CONTROL, 0x8001, 0x8000, 0, "DG_CONTROL/DAT_NV_AUTOEXPOSURE/MSG_CUSTOMBASE"},
        {DG_CONTROL, 0x800C, 0x8003, 0, "DG_CONTROL/ERROR!(32780)/ERROR!(32771)"},
        {8, 0x0010, 0x8002, 0, "ERROR!(8)/DAT_CALLBACK/MSG_NV_XFERREQUEST"},
        {0xFFFFFFFF, 0x0404, MSG_GET, 0, "ERROR!(-1)/ERROR!(1028)/MSG_GET"},
        {DG_CONTROL, DAT_CAPABILITY, MSG_GET, 0x0001, "DG_CONTROL/DAT_CAPABILITY/MSG_GET (CAP_XFERCOUNT)"},
        {DG_CONTROL, DAT_CAPABILITY, MSG_GET, 0x0101, "DG_CONTROL/DAT_CAPABILITY/MSG_GET (ICAP_PIXELTYPE)"},
        {DG_CONTROL, DAT_CAPABILITY, MSG_GET, 0x8001, "DG_CONTROL/DAT_CAPABILITY/MSG_GET (CAP_NV_VERSION)"},
        {DG_CONTROL, DAT_CAPABILITY, MSG_GET, 0x8003, "DG_CONTROL/DAT_CAPABILITY/MSG_GET (ICAP_NV_FILMTYPE)"},
        {DG_CONTROL, DAT_CAPABILITY, MSG_GET, 0x1065, "DG_CONTROL/DAT_CAPABILITY/MSG_GET (ERROR!(4197))"},
        {DG_CONTROL, DAT_CAPABILITY, MSG_SET, 0, "DG_CONTROL/DAT_CAPABILITY/MSG_SET ()"},
    };
    int number = 0;
    for (const auto& r : rows) {
        cap.Cap = r.capId;
        const std::string line = Triplet(r.DG, r.DAT, r.MSG, r.capId ? &cap : nullptr);
        char head[32];
        snprintf(head, sizeof head, "[%05d] [APP] ", *r.line ? ++number : 0);
        EXPECT_EQ(line, *r.line ? head + std::string(r.line) + "\r\n" : "") << r.line;
    }
    EXPECT_EQ(pa.m_lSequence, number);
    pa.m_lSequence = 99999;
    char tag[32] = "TEST";
    pa.Init(tag);
    EXPECT_EQ(Triplet(DG_CONTROL, DAT_STATUS, MSG_GET), "[100000] [TEST] DG_CONTROL/DAT_STATUS/MSG_GET\r\n");
    pa.Init(nullptr);  // keeps the tag
    memset(tag, 'T', sizeof tag);  // no NUL in the 32 bytes: cut to the buffer
    EXPECT_EQ(Triplet(DG_CONTROL, DAT_STATUS, MSG_GET), "[100001] [TEST] DG_CONTROL/DAT_STATUS/MSG_GET\r\n");
    pa.Init(tag);
    EXPECT_EQ(Triplet(DG_CONTROL, DAT_STATUS, MSG_GET),
              "[100002] [" + std::string(31, 'T') + "] DG_CONTROL/DAT_STATUS/MSG_GET\r\n");
}

TEST_F(Analyzer, ResultBlocksShowCodePointerAndStateButNoStateAfterAFailureOrAnUnclaimedEvent) {
    pa.SetTwainStatus(4);
    TW_USERINTERFACE ui{};
    char pointer[32];
    snprintf(pointer, sizeof pointer, "pData   = <0x%08x>", Handle(&ui));
    EXPECT_EQ(Result(DAT_DEVICEEVENT, MSG_GET, TWRC_SUCCESS, &ui),
              Lines({"        Return Code = [TWRC_SUCCESS]", pointer, "", "TWAIN Status = [4]"}));
    EXPECT_EQ(Result(DAT_DEVICEEVENT, MSG_ENABLEDS, TWRC_FAILURE, &ui),
              Lines({"        Return Code = [TWRC_FAILURE]", pointer}));
    EXPECT_EQ(Result(DAT_STATUS, MSG_GET, 0x8001, nullptr),
              Lines({"        Return Code = [ERROR!(32769)]", "pData   = <0x00000000>", "", "TWAIN Status = [4]"}));
    EXPECT_EQ(LineOf(Result(DAT_STATUS, MSG_GET, 0x8000), "        Return"), "        Return Code = [TWRC_CUSTOMBASE]");
    // A claimed event with no TW_EVENT to read is one nobody claimed: nothing.
    EXPECT_EQ(Result(DAT_EVENT, MSG_PROCESSEVENT, TWRC_DSEVENT, nullptr), "");
    EXPECT_EQ(pa.GetTwainStatus(), 4);
}

TEST_F(Analyzer, TheStateFollowsSuccessfulCallsAndTheSourcesNotifications) {
    const int kNone = -1;                          // no pData
    const int kNotice = -2, kNoticeEnabling = -3;  // a source's notification (while MSG_ENABLEDS is in flight)
    const struct {
        int from;
        TW_UINT16 DAT, MSG;
        int data;  // TWMessage of a TW_EVENT, Count of a TW_PENDINGXFERS, kNone, or a notification
        int to;
    } rows[] = {
        {3, DAT_IDENTITY, MSG_OPENDS, kNone, 4},       {4, DAT_IDENTITY, MSG_OPENDS, kNone, 4},
        {4, DAT_NULL, MSG_ENABLEDS, kNone, 5},         {3, DAT_USERINTERFACE, MSG_ENABLEDS, kNone, 3},
        {5, DAT_EVENT, MSG_PROCESSEVENT, MSG_XFERREADY, 6}, {6, DAT_IMAGEINFO, MSG_GET, kNone, 6},
        {6, DAT_IMAGEMEMXFER, MSG_GET, kNone, 7},      {7, DAT_IMAGEMEMXFER, MSG_GET, kNone, 7},
        {7, DAT_PENDINGXFERS, MSG_ENDXFER, 2, 6},      {6, DAT_IMAGENATIVEXFER, MSG_PROCESSEVENT, kNone, 7},
        {7, DAT_PENDINGXFERS, MSG_ENDXFER, 0xFFFF, 6}, {7, DAT_PENDINGXFERS, MSG_ENDXFER, 0, 5},
        {5, DAT_PENDINGXFERS, MSG_ENDXFER, 0, 5},      {7, DAT_PENDINGXFERS, MSG_ENDXFER, kNone, 7},
        {5, DAT_USERINTERFACE, MSG_ENABLEDSUIONLY, kNone, 5}, {5, DAT_NULL, MSG_DISABLEDS, kNone, 5},
        {5, DAT_USERINTERFACE, MSG_DISABLEDS, kNone, 4}, {4, DAT_IDENTITY, MSG_CLOSEDS, kNone, 3},
        {3, DAT_PARENT, MSG_CLOSEDSM, kNone, 2},       {2, DAT_PARENT, MSG_OPENDSM, kNone, 3},
        {7, DAT_PENDINGXFERS, MSG_RESET, kNone, 7},    {6, DAT_PENDINGXFERS, MSG_RESET, kNone, 5},
        {5, DAT_EVENT, MSG_PROCESSEVENT, MSG_CLOSEDSOK, 5}, {5, DAT_EVENT, MSG_PROCESSEVENT, MSG_CLOSEDSREQ, 4},
        {5, DAT_EVENT, MSG_PROCESSEVENT, kNone, 5},    {4, DAT_EVENT, 0x8001, kNone, 4},
        {5, DAT_NULL, MSG_XFERREADY, kNotice, 6},        {4, DAT_NULL, MSG_XFERREADY, kNoticeEnabling, 6},
        {4, DAT_NULL, MSG_XFERREADY, kNotice, 4},        {3, DAT_NULL, MSG_XFERREADY, kNoticeEnabling, 3},
        {6, DAT_NULL, MSG_XFERREADY, kNotice, 6},        {5, DAT_NULL, MSG_CLOSEDSREQ, kNotice, 4},
        {4, DAT_NULL, MSG_CLOSEDSREQ, kNoticeEnabling, 4}, {5, DAT_NULL, MSG_CLOSEDSOK, kNotice, 5},
        {5, DAT_NULL, MSG_DEVICEEVENT, kNotice, 5},      {5, DAT_STATUS, MSG_XFERREADY, kNotice, 5},
    };
    for (const auto& r : rows) {
        TW_EVENT event{};
        TW_PENDINGXFERS pending{};
        event.TWMessage = pending.Count = static_cast<TW_UINT16>(r.data);
        void* data = r.data < 0 ? nullptr : r.DAT == DAT_EVENT ? static_cast<void*>(&event) : &pending;
        pa.SetTwainStatus(r.from);
        EXPECT_EQ(r.data <= kNotice ? pa.UpDateTwainStatusOnNotify(r.DAT, r.MSG, r.data == kNoticeEnabling)
                                    : pa.UpDateTwainStatus(DG_CONTROL, r.DAT, r.MSG, static_cast<char*>(data)),
                  r.to)
            << r.from << " " << r.DAT << " " << r.MSG << " " << r.data;
    }
}

TEST_F(Analyzer, TheBannerHasFourLinesAndTheLocalTime) {
    struct tm t = {2, 45, 9, 31, 0, 124, 0, 0, -1, 0, nullptr};  // 09:45:02 on 31 January 2024
    static time_t s_when = mktime(&t);
    tracelet::platform::SetClockForTesting([] { return s_when; }, [] { return 0L; });
    pa.HeaderMake(buf);
    tracelet::platform::SetClockForTesting(nullptr, nullptr);
    EXPECT_EQ(std::string(buf), Lines({std::string(48, '/'), "           TWAIN Tracelet Ver1.10", std::string(48, '/'),
                                       "  << Current time = Wed Jan 31 09:45:02 2024 >>"}));
}

// --- Bounded output ---------------------------------------------------------

TEST(BoundedOutput, TextStopsAtTheBufferEndAndRemembersTheCut) {
    CParaAnalyze pa;
    char small[11] = {};
    pa.SetOutput(small, 10);
    pa.Append("12345");
    pa.Append("678");
    pa.Append("90", 2);  // exactly fills the ten bytes
    pa.Append("");
    EXPECT_STREQ(small, "1234567890");
    EXPECT_TRUE(pa.OutputFull());
    EXPECT_FALSE(pa.OutputCut());
    pa.Append("x");
    EXPECT_TRUE(pa.OutputCut());
    EXPECT_STREQ(small, "1234567890");

    // A text longer than the whole buffer keeps its first bytes.
    char buf[kLogTextSize + 1] = {};
    pa.SetOutput(buf, kLogTextSize);
    const std::string huge(3 * kLogTextSize, 'y');
    pa.Append(huge.c_str());
    EXPECT_EQ(std::string(buf), huge.substr(0, kLogTextSize));
}

}  // namespace
