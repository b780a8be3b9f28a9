// Structure dumps as the loaded data source writes them: the companion fills
// pData, DS_Entry picks the structure by the data argument type, and the log
// holds the triplet line, the result lines, the block and the state line.
#include <gtest/gtest.h>

#include <string.h>

#include <initializer_list>
#include <string>

#include "DataSourceHarness.h"
#include "LogText.h"

namespace {

template <class T>
TW_UINT16 CallAnswering(LoadedDataSource& ds, TW_UINT32 dg, TW_UINT16 dat, const T& value, T* pData,
                        TW_UINT16 rc = TWRC_SUCCESS) {
    ds.AnswerWith(&value, sizeof value);
    ds.control->rc = rc;
    const TW_UINT16 result = ds.Call(dg, dat, MSG_GET, pData);
    ds.StopAnswering();
    return result;
}

std::string TheLog(LoadedDataSource& ds) {
    ds.Unload();
    return LoadedDataSource::Log();
}

TEST(StructureTrace, OpeningTheManagerDumpsTheOriginIdentityNotPData) {
    LoadedDataSource ds;
    ASSERT_NE(ds.control, nullptr);
    ds.app.Id = 12;
    ds.app.Version.MajorNum = 2;
    ds.app.Version.MinorNum = 5;
    ds.app.Version.Language = 0;  // TWLG_DAN, the first row holding 0
    ds.app.Version.Country = 27;  // TWCY_ANDORRA, before TWCY_SOUTHAFRICA
    memset(ds.app.Version.Info, 'v', sizeof ds.app.Version.Info);  // no NUL
    TW_IDENTITY other{};
    strcpy(other.ProductName, "never shown");
    ds.Call(DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &other);
    ds.Call(DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &other);  // no identity when closing
    EXPECT_EQ(TheLog(ds), "[00001] [APP] DG_CONTROL/DAT_PARENT/MSG_OPENDSM\r\n" + ResultLines("TWRC_SUCCESS", &other) +
                              Lines({
                                  "  pOrigin:TW_IDENTITY = {",
                                  "    Id              = [12]",
                                  "    Version         =",
                                  "    TW_VERSION = {",
                                  "      MajorNum = [2]",
                                  "      MinorNum = [5]",
                                  "      Language = [TWLG_DAN]",
                                  "      Country  = [TWCY_ANDORRA]",
                                  "      Info     = [" + std::string(34, 'v') + "]",
                                  "    }",
                                  "    ProtocolMajor   = [2]",
                                  "    ProtocolMinor   = [4]",
                                  "    SupportedGroups = [536870915]",
                                  "    Manufacturer    = [Tracelet tests]",
                                  "    ProductFamily   = [Harness]",
                                  "    ProductName     = [Test application]",
                                  "  }",
                              }) +
                              StateLine(3) + "[00002] [APP] DG_CONTROL/DAT_PARENT/MSG_CLOSEDSM\r\n" +
                              ResultLines("TWRC_SUCCESS", &other) + StateLine(2));
}

TEST(StructureTrace, TheTransferGroupAndANativeTransferPrintTheirItemAsAHandle) {
    LoadedDataSource ds;
    ASSERT_NE(ds.control, nullptr);
    TW_UINT32 group = 0;
    CallAnswering(ds, DG_CONTROL, DAT_XFERGROUP, static_cast<TW_UINT32>(DG_IMAGE), &group);
    TW_HANDLE image = nullptr;
    const TW_HANDLE returned = reinterpret_cast<TW_HANDLE>(static_cast<uintptr_t>(0x00007f12a5b6c7d8ull));
    CallAnswering(ds, DG_IMAGE, DAT_IMAGENATIVEXFER, returned, &image, TWRC_XFERDONE);
    EXPECT_EQ(TheLog(ds), "[00001] [APP] DG_CONTROL/DAT_XFERGROUP/MSG_GET\r\n" + ResultLines("TWRC_SUCCESS", &group) +
                              Lines({"  TW_UINT32 = {", "    Item = <0x00000002>", "  }"}) + StateLine(3) +
                              "[00002] [APP] DG_IMAGE/DAT_IMAGENATIVEXFER/MSG_GET\r\n" +
                              ResultLines("TWRC_XFERDONE", &image) +
                              Lines({"  TW_UINT32 = {", "    Item = <0xa5b6c7d8>", "  }"}) + StateLine(3));
}

TEST(StructureTrace, AFailedCallStillDumpsItsStructureThenTheMarkerBlock) {
    LoadedDataSource ds;
    ASSERT_NE(ds.control, nullptr);
    TW_STATUS status{};
    status.ConditionCode = TWCC_SEQERROR;
    TW_STATUS returned{};
    CallAnswering(ds, DG_CONTROL, DAT_STATUS, status, &returned, TWRC_FAILURE);
    EXPECT_EQ(TheLog(ds), "[00001] [APP] DG_CONTROL/DAT_STATUS/MSG_GET\r\n" + ResultLines("TWRC_FAILURE", &returned) +
                              Lines({"  TW_STATUS = {", "    ConditionCode = [TWCC_SEQERROR]", "  }"}) +
                              MarkerBlock());
}

TEST(StructureTrace, EachDataArgumentTypeDumpsItsOwnStructure) {
    const struct {
        TW_UINT32 dg;
        TW_UINT16 dat;
        const char* header;  // null: no block
    } cases[] = {
        {DG_CONTROL, DAT_EVENT, nullptr},  // TWMessage 0
        {DG_CONTROL, DAT_IDENTITY, "  TW_IDENTITY = {"},
        {DG_CONTROL, DAT_PENDINGXFERS, "  TW_PENDINGXFERS = {"},
        {DG_CONTROL, DAT_SETUPMEMXFER, "  TW_SETUPMEMXFER = {"},
        {DG_CONTROL, DAT_SETUPFILEXFER, "  TW_SETUPFILEXFER = {"},
        {DG_CONTROL, DAT_STATUS, "  TW_STATUS = {"},
        {DG_CONTROL, DAT_USERINTERFACE, "  TW_USERINTERFACE = {"},
        {DG_CONTROL, DAT_XFERGROUP, "  TW_UINT32 = {"},
        {DG_CONTROL, DAT_TWUNKIDENTITY, nullptr},
        {DG_CONTROL, DAT_CUSTOMDSDATA, "  TW_CUSTOMDSDATA = {"},
        {DG_IMAGE, DAT_IMAGEINFO, "  TW_IMAGEINFO = {"},
        {DG_IMAGE, DAT_IMAGELAYOUT, "  TW_IMAGELAYOUT = {"},
        {DG_IMAGE, DAT_IMAGEMEMXFER, "  TW_IMAGEMEMXFER = {"},
        {DG_IMAGE, DAT_IMAGENATIVEXFER, "  TW_UINT32 = {"},
        {DG_IMAGE, DAT_IMAGEFILEXFER, nullptr},
        {DG_IMAGE, DAT_CIECOLOR, "  TW_CIECOLOR = {"},
        {DG_IMAGE, DAT_GRAYRESPONSE, "  TW_GRAYRESPONSE = {"},
        {DG_IMAGE, DAT_RGBRESPONSE, "  TW_RGBRESPONSE = {"},
        {DG_IMAGE, DAT_JPEGCOMPRESSION, "  TW_JPEGCOMPRESSION = {"},
        {DG_IMAGE, DAT_PALETTE8, "  TW_PALETTE8 = { it does not display. }"},
        {DG_IMAGE, DAT_EXTIMAGEINFO, "  TW_EXTIMAGEINFO = {"},
        {DG_CONTROL, DAT_NV_AUTOEXPOSURE, "  TWNV_AUTOEXPOSURE = {"},
        {DG_CONTROL, DAT_NV_RGBMATRIX, "  TWNV_RGBMATRIX = {"},
        {DG_CONTROL, DAT_NV_COLORSMOOTHING, "  TWNV_COLORSMOOTHING = {"},
        {DG_CONTROL, DAT_NV_HARDWAREINFO, "  TWNV_HARDWAREINFO = {"},
        {DG_CONTROL, DAT_NV_SKEWINFO, "  TWNV_LOCATIONDATA = {"},
        {DG_CONTROL, DAT_NV_UNSHARPMASKPARAM, "    TWNV_USMPARAM = {"},  // four blanks also on top
        {DG_CONTROL, DAT_NV_SETTINGFRAME, "  TWNV_SETTINGFRAME = {"},
        {DG_CONTROL, DAT_NV_USMINFO, "  TWNV_USMINFO = {"},
        {DG_CONTROL, DAT_NV_EVENT, nullptr},
        {DG_CONTROL, DAT_NV_REDCORRECTIONMATRIX, nullptr},
        {DG_CONTROL, DAT_NV_TWAINCALLBACKMSG, nullptr},
        {DG_CONTROL, 0x8015, nullptr},  // DAT_NV_EDGEFILLAREA: named, no formatter
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dat);
        LoadedDataSource ds;
        ASSERT_NE(ds.control, nullptr);
        alignas(16) unsigned char data[2048] = {};  // room for the largest (a palette), zeroed
        ds.Call(c.dg, c.dat, MSG_GET, data);
        const std::string log = TheLog(ds);
        const std::string result = ResultLines("TWRC_SUCCESS", data);
        const size_t at = log.find(result);
        ASSERT_NE(at, std::string::npos);
        const std::string after = log.substr(at + result.size());
        if (c.header)
            EXPECT_EQ(after.substr(0, after.find("\r\n")), c.header);
        else
            EXPECT_EQ(after, StateLine(3));
    }
}

TEST(StructureTrace, TheWidestCieColorIsWrittenWholeWithoutTheOverflowNote) {
    LoadedDataSource ds;
    ASSERT_NE(ds.control, nullptr);
    TW_CIECOLOR widest{};
    widest.ColorSpace = 0xFFFF;
    widest.LowEndian = widest.DeviceDependent = -32768;
    widest.VersionNumber = -1;
    TW_FIX32 f;
    f.Whole = -32768;
    f.Frac = 0;
    for (TW_TRANSFORMSTAGE* s : {&widest.StageABC, &widest.StageLMN})
        for (int i = 0; i < 3; ++i) {
            TW_DECODEFUNCTION& d = s->Decode[i];
            d.StartIn = d.BreakIn = d.EndIn = d.StartOut = d.BreakOut = d.EndOut = d.Gamma = d.SampleCount = f;
            for (int j = 0; j < 3; ++j) s->Mix[i][j] = f;
        }
    for (TW_CIEPOINT* p : {&widest.WhitePoint, &widest.BlackPoint, &widest.WhitePaper, &widest.BlackInk})
        p->X = p->Y = p->Z = f;
    widest.Samples[0] = f;
    TW_CIECOLOR returned{};
    CallAnswering(ds, DG_IMAGE, DAT_CIECOLOR, widest, &returned);
    const std::string log = TheLog(ds);
    EXPECT_EQ(log.find("Size of CAP_xxx too long"), std::string::npos);
    size_t values = 0;
    for (size_t at = log.find("= [-32768.000]\r\n"); at != std::string::npos; at = log.find("= [-32768.000]\r\n", at + 1))
        ++values;
    EXPECT_EQ(values, 2u * (3 * 8 + 9) + 4 * 3 + 1);  // stages, points, the sample
    const std::string tail = Lines({"    Samples[]       = [-32768.000]", "  }"}) + StateLine(3);
    ASSERT_GE(log.size(), tail.size());
    EXPECT_EQ(log.substr(log.size() - tail.size()), tail);
}

}  // namespace
